/* A TV application's own test of its key handling, with no tuner card.
 *
 * It loads the real kolvane module by its file name, starts it on the
 * simulated card of <kolvane/simcard.h> with the application's key sink,
 * presses ChannelUp, VolumeUp and Power on the card's remote, and checks
 * that the sink received Kolvane_ChannelUp, Kolvane_VolumeUp and Kolvane_Exit
 * in that order, with their labels. Plain C89 against the installed headers;
 * nothing to link but the system's loader (-ldl on Linux).
 *
 *   cc -std=c89 -I<prefix>/include host_test.c -o host_test -ldl
 *   ./host_test [MODULE]     (default: the module beside the program)
 *
 * Exit status 0 when every check passed, 1 otherwise. */
#define KOLVANE_SIMCARD_IMPLEMENTATION
#include <kolvane/simcard.h>

#include <stdio.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#define DEFAULT_MODULE KOLVANE_MODULE_FILE
static GetInterfacePtrFn LoadFactory(const char* path) {
  HMODULE module = LoadLibraryA(path);
  return module ? (GetInterfacePtrFn)(void (*)(void))GetProcAddress(module, KOLVANE_FACTORY_EXPORT) : NULL;
}
#else
#include <dlfcn.h>
#define DEFAULT_MODULE "./" KOLVANE_MODULE_FILE
static GetInterfacePtrFn LoadFactory(const char* path) {
  void* module = dlopen(path, RTLD_NOW);
  GetInterfacePtrFn factory = NULL;
  /* POSIX's way from dlsym's object pointer to a function pointer. */
  if (module) *(void**)(&factory) = dlsym(module, KOLVANE_FACTORY_EXPORT);
  return factory;
}
#endif

#define CHECK(condition)                                                            \
  do {                                                                              \
    if (!(condition)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      return 1;                                                                     \
    }                                                                               \
  } while (0)

/* --- The application's key sink: here it only writes the keys down. --- */
#define MAX_KEYS 16
#define KEY_TEXT 32

typedef struct Sink {
  IRemoteKeySink iface; /* first, so the interface pointer is the sink's */
  long references;
  int count; /* written on the module's poll thread; read after Stop */
  char names[MAX_KEYS][KEY_TEXT];
  char labels[MAX_KEYS][KEY_TEXT];
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
  if (sink->count < MAX_KEYS) {
    strncpy(sink->names[sink->count], name, KEY_TEXT - 1);
    strncpy(sink->labels[sink->count], label, KEY_TEXT - 1);
  }
  ++sink->count;
  return S_OK;
}
static const IRemoteKeySinkVtbl kSinkVtbl = {SinkQueryInterface, SinkAddRef, SinkRelease, SinkOnKey};

/* --- The test --- */
int main(int argc, char** argv) {
  static const char* const pressed[] = {"ChannelUp", "VolumeUp", "Power"};
  static const char* const names[] = {"Kolvane_ChannelUp", "Kolvane_VolumeUp", "Kolvane_Exit"};
  static const char* const labels[] = {"ChannelUp", "VolumeUp", "Power"};
  static Sink sink;
  const char* path = argc > 1 ? argv[1] : DEFAULT_MODULE;
  GetInterfacePtrFn factory = LoadFactory(path);
  KolvaneSimCard* card;
  IRemoteModule* module;
  int i;

  sink.iface.lpVtbl = &kSinkVtbl;
  CHECK(factory != NULL);
  module = factory();
  CHECK(module != NULL);
  card = kolvane_simcard_new();
  CHECK(card != NULL);

  CHECK(IRemoteModule_Start(module, &sink.iface, (IUnknown*)kolvane_simcard_registers(card)) == S_OK);
  CHECK(kolvane_simcard_wait_reads(card, 1, 10000) == 0); /* the module's first poll */
  for (i = 0; i < 3; ++i) CHECK(kolvane_simcard_press(card, pressed[i], 100) == 0);
  CHECK(IRemoteModule_Stop(module) == S_OK);

  CHECK(sink.count == 3);
  for (i = 0; i < 3; ++i) {
    CHECK(strcmp(sink.names[i], names[i]) == 0);
    CHECK(strcmp(sink.labels[i], labels[i]) == 0);
    printf("host test: %s (%s) received\n", sink.names[i], sink.labels[i]);
  }
  /* The module set the card up, and gave every reference back at Stop. */
  CHECK((kolvane_simcard_register(card, KOLVANE_REGISTER_CONTROL) & KOLVANE_CONTROL_SETUP_BITS) ==
        KOLVANE_CONTROL_SETUP_BITS);
  CHECK((kolvane_simcard_register(card, KOLVANE_REGISTER_GPIO) & KOLVANE_GPIO_SETUP_BITS) == KOLVANE_GPIO_SETUP_BITS);
  CHECK((kolvane_simcard_register(card, KOLVANE_REGISTER_RECEIVER) & KOLVANE_RECEIVER_SETUP_BITS) ==
        KOLVANE_RECEIVER_SETUP_BITS);
  CHECK(sink.references == 0);
  CHECK(kolvane_simcard_free(card) == 0);
  CHECK(IRemoteModule_Release(module) == 0);
  printf("host test: passed with %s\n", path);
  return 0;
}
