/* A host written in C: loads the module, queries it, starts it with a sink
 * and a host object built from the C vtable structs, with the trace turned
 * on, waits for one key press and stops it; then finds the log and the trace
 * by the names the public header gives. Exit code 0 when every step
 * behaved. */
#ifndef _WIN32
#define _POSIX_C_SOURCE 200809L /* nanosleep */
#endif
#define KOLVANE_INIT_IIDS
#include <kolvane/kolvane.h>

#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
static void SleepMilliseconds(unsigned ms) { Sleep(ms); }
static int SetVariable(const char* name, const char* value) { return SetEnvironmentVariableA(name, value) ? 0 : -1; }
static GetInterfacePtrFn LoadFactory(void) {
  HMODULE module = LoadLibraryA(KOLVANE_MODULE_FILE);
  return module ? (GetInterfacePtrFn)(void (*)(void))GetProcAddress(module, KOLVANE_FACTORY_EXPORT) : NULL;
}
#else
#include <dlfcn.h>
#include <time.h>
static void SleepMilliseconds(unsigned ms) {
  struct timespec delay = {0, (long)ms * 1000000L};
  nanosleep(&delay, NULL);
}
static int SetVariable(const char* name, const char* value) { return setenv(name, value, 1); }
static GetInterfacePtrFn LoadFactory(void) {
  void* module = dlopen("./" KOLVANE_MODULE_FILE, RTLD_NOW);
  GetInterfacePtrFn factory = NULL;
  /* The POSIX way to turn dlsym's object pointer into a function pointer. */
  if (module) *(void**)(&factory) = dlsym(module, KOLVANE_FACTORY_EXPORT);
  return factory;
}
#endif

#define CHECK(condition)                                                      \
  do {                                                                        \
    if (!(condition)) {                                                       \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
      return 1;                                                               \
    }                                                                         \
  } while (0)

/* True when the file `name` holds `text`. */
static int FileHolds(const char* name, const char* text) {
  char contents[4096];
  size_t length;
  FILE* file = fopen(name, "rb");
  if (file == NULL) return 0;
  length = fread(contents, 1, sizeof contents - 1, file);
  fclose(file);
  contents[length] = '\0';
  return strstr(contents, text) != NULL;
}

/* --- The sink: remembers the last key reported. --- */
typedef struct Sink {
  IRemoteKeySink iface;
  atomic_int references;
  atomic_int keys;
  char name[32];
  char label[32];
} Sink;

static HRESULT STDMETHODCALLTYPE SinkQueryInterface(IRemoteKeySink* self, REFIID iid, void** object) {
  (void)self;
  (void)iid;
  *object = NULL;
  return E_NOINTERFACE;
}
static ULONG STDMETHODCALLTYPE SinkAddRef(IRemoteKeySink* self) { return (ULONG)++((Sink*)self)->references; }
static ULONG STDMETHODCALLTYPE SinkRelease(IRemoteKeySink* self) { return (ULONG)--((Sink*)self)->references; }
static HRESULT STDMETHODCALLTYPE SinkOnKey(IRemoteKeySink* self, const char* name, const char* label) {
  Sink* sink = (Sink*)self;
  if (atomic_load(&sink->keys) == 0) {
    strncpy(sink->name, name, sizeof sink->name - 1);
    strncpy(sink->label, label, sizeof sink->label - 1);
  }
  ++sink->keys;
  return S_OK;
}
static const IRemoteKeySinkVtbl kSinkVtbl = {SinkQueryInterface, SinkAddRef, SinkRelease, SinkOnKey};

/* --- The device: host object and registers in one. The receiver idles at
 * 0xFF for five polls, then shows ChannelUp (0xD8). --- */
typedef struct Device {
  IDeviceRegisters iface;
  atomic_int references;
  atomic_int polls;
} Device;

static HRESULT STDMETHODCALLTYPE DeviceQueryInterface(IDeviceRegisters* self, REFIID iid, void** object) {
  if (IsEqualIID(iid, &IID_IDeviceRegisters) || IsEqualIID(iid, &IID_IUnknown)) {
    *object = self;
    ++((Device*)self)->references;
    return S_OK;
  }
  *object = NULL;
  return E_NOINTERFACE;
}
static ULONG STDMETHODCALLTYPE DeviceAddRef(IDeviceRegisters* self) { return (ULONG)++((Device*)self)->references; }
static ULONG STDMETHODCALLTYPE DeviceRelease(IDeviceRegisters* self) { return (ULONG)--((Device*)self)->references; }
static HRESULT STDMETHODCALLTYPE DeviceReserved(IDeviceRegisters* self) {
  (void)self;
  return S_OK;
}
static HRESULT STDMETHODCALLTYPE DeviceRead(IDeviceRegisters* self, uint32_t offset, uint32_t* value) {
  Device* device = (Device*)self;
  if (offset == 0x200) *value = (++device->polls > 5 ? 0xD8u : 0xFFu) << 16;
  return S_OK;
}
static HRESULT STDMETHODCALLTYPE DeviceWrite(IDeviceRegisters* self, uint32_t offset, uint32_t value) {
  (void)self;
  (void)offset;
  (void)value;
  return S_OK;
}
static const IDeviceRegistersVtbl kDeviceVtbl = {DeviceQueryInterface, DeviceAddRef, DeviceRelease,
                                                 DeviceReserved,       DeviceRead,   DeviceWrite};

#define TRACE_FILE "c_host.trace"

int main(void) {
  static Sink sink;
  static Device device;
  GetInterfacePtrFn factory = LoadFactory();
  IRemoteModule* module;
  IRemoteModule* queried = NULL;
  int waited;

  sink.iface.lpVtbl = &kSinkVtbl;
  device.iface.lpVtbl = &kDeviceVtbl;
  CHECK(factory != NULL);
  module = factory();
  CHECK(module != NULL);
  CHECK(IRemoteModule_QueryInterface(module, &IID_IRemoteModule, (void**)&queried) == S_OK);
  CHECK(queried == module);
  CHECK(IRemoteModule_Release(module) == 1);

  remove(TRACE_FILE);
  CHECK(SetVariable(KOLVANE_TRACE_VARIABLE, TRACE_FILE) == 0);
  CHECK(IRemoteModule_Start(module, &sink.iface, (IUnknown*)&device.iface) == S_OK);
  for (waited = 0; atomic_load(&sink.keys) == 0 && waited < 10000; waited += 10) SleepMilliseconds(10);
  CHECK(IRemoteModule_Stop(module) == S_OK);
  CHECK(atomic_load(&sink.keys) == 1);
  CHECK(strcmp(sink.name, "Kolvane_ChannelUp") == 0);
  CHECK(strcmp(sink.label, "ChannelUp") == 0);
  CHECK(atomic_load(&sink.references) == 0);
  CHECK(atomic_load(&device.references) == 0);
  CHECK(IRemoteModule_Release(module) == 0);
  CHECK(FileHolds(KOLVANE_LOG_FILE, "kolvane: Initializing"));
  CHECK(FileHolds(TRACE_FILE, "Kolvane_ChannelUp fresh"));
  remove(TRACE_FILE);
  printf("C host: %s (%s) reported, every reference given back; the log and the trace written\n", sink.name,
         sink.label);
  return 0;
}
