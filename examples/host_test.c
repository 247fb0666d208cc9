/* A TV application's own test of its key handling, with no tuner card.
 *
 * It loads the real kolvane module by its file name, starts it on the
 * simulated card of <kolvane/simcard.h> with the application's key sink,
 * presses ChannelUp, VolumeUp and Power on the card's remote, and checks
 * that the sink received Kolvane_ChannelUp, Kolvane_VolumeUp and Kolvane_Exit
 * in that order, with their labels. Then it starts and stops the module five
 * times on the same card with a press each time, and presses four keys to a
 * sink that takes 350 ms over its first: every press arrives. Plain C89
 * against the installed headers; nothing to link but the system's loader
 * (-ldl on Linux).
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
static void SleepMs(unsigned ms) { Sleep(ms); }
static GetInterfacePtrFn LoadFactory(const char* path) {
  HMODULE module = LoadLibraryA(path);
  return module ? (GetInterfacePtrFn)(void (*)(void))GetProcAddress(module, KOLVANE_FACTORY_EXPORT) : NULL;
}
#else
#include <dlfcn.h>
#include <sys/select.h>
#define DEFAULT_MODULE "./" KOLVANE_MODULE_FILE
static void SleepMs(unsigned ms) {
  struct timeval wait;
  wait.tv_sec = (long)(ms / 1000);
  wait.tv_usec = (long)(ms % 1000) * 1000L;
  select(0, NULL, NULL, NULL, &wait);
}
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
#define WAIT_MS 10000 /* for the module's first poll: generous, for a busy machine */

typedef struct Sink {
  IRemoteKeySink iface; /* first, so the interface pointer is the sink's */
  long references;
  unsigned first_key_ms; /* how long OnKey takes over the first key */
  int count;             /* written on the module's poll thread; read after press returns */
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
  if (sink->count == 0 && sink->first_key_ms > 0) SleepMs(sink->first_key_ms);
  if (sink->count < MAX_KEYS) {
    strncpy(sink->names[sink->count], name, KEY_TEXT - 1);
    strncpy(sink->labels[sink->count], label, KEY_TEXT - 1);
  }
  ++sink->count;
  return S_OK;
}
static const IRemoteKeySinkVtbl kSinkVtbl = {SinkQueryInterface, SinkAddRef, SinkRelease, SinkOnKey};

/* --- The test --- */
static int ThreePresses(IRemoteModule* module, KolvaneSimCard* card, Sink* sink) {
  static const char* const pressed[] = {"ChannelUp", "VolumeUp", "Power"};
  static const char* const names[] = {"Kolvane_ChannelUp", "Kolvane_VolumeUp", "Kolvane_Exit"};
  static const char* const labels[] = {"ChannelUp", "VolumeUp", "Power"};
  int i;
  CHECK(IRemoteModule_Start(module, &sink->iface, (IUnknown*)kolvane_simcard_registers(card)) == S_OK);
  CHECK(kolvane_simcard_wait_reads(card, 1, WAIT_MS) == 0); /* the first poll of this Start */
  for (i = 0; i < 3; ++i) CHECK(kolvane_simcard_press(card, pressed[i], 100) == 0);
  CHECK(IRemoteModule_Stop(module) == S_OK);

  CHECK(sink->count == 3);
  for (i = 0; i < 3; ++i) {
    CHECK(strcmp(sink->names[i], names[i]) == 0);
    CHECK(strcmp(sink->labels[i], labels[i]) == 0);
    printf("host test: %s (%s) received\n", sink->names[i], sink->labels[i]);
  }
  /* The module set the card up, and gave every reference back at Stop. */
  CHECK((kolvane_simcard_register(card, KOLVANE_REGISTER_CONTROL) & KOLVANE_CONTROL_SETUP_BITS) ==
        KOLVANE_CONTROL_SETUP_BITS);
  CHECK((kolvane_simcard_register(card, KOLVANE_REGISTER_GPIO) & KOLVANE_GPIO_SETUP_BITS) == KOLVANE_GPIO_SETUP_BITS);
  CHECK((kolvane_simcard_register(card, KOLVANE_REGISTER_RECEIVER) & KOLVANE_RECEIVER_SETUP_BITS) ==
        KOLVANE_RECEIVER_SETUP_BITS);
  CHECK(sink->references == 0);
  CHECK(kolvane_simcard_references(card) == 0);
  return 0;
}

/* Every Start on the same card: wait for its first poll, press, Stop. */
static int FiveRestarts(IRemoteModule* module, KolvaneSimCard* card, Sink* sink) {
  int i;
  for (i = 0; i < 5; ++i) {
    CHECK(IRemoteModule_Start(module, &sink->iface, (IUnknown*)kolvane_simcard_registers(card)) == S_OK);
    CHECK(kolvane_simcard_wait_reads(card, 1, WAIT_MS) == 0);
    CHECK(kolvane_simcard_press(card, "Mute", 100) == 0);
    CHECK(IRemoteModule_Stop(module) == S_OK);
    CHECK(sink->count == i + 1);
    CHECK(strcmp(sink->names[i], "Kolvane_Mute") == 0);
  }
  printf("host test: 5 restarts, 5 keys received\n");
  return 0;
}

/* A sink that takes 350 ms over its first key holds the polls up; press
 * waits for them, so no key is lost. */
static int SlowFirstKey(IRemoteModule* module, KolvaneSimCard* card, Sink* sink) {
  static const char* const pressed[] = {"1", "VolumeUp", "VolumeDown", "Enter"};
  static const char* const names[] = {"Kolvane_1", "Kolvane_VolumeUp", "Kolvane_VolumeDown", "Kolvane_Enter"};
  int i;
  sink->first_key_ms = 350;
  CHECK(IRemoteModule_Start(module, &sink->iface, (IUnknown*)kolvane_simcard_registers(card)) == S_OK);
  CHECK(kolvane_simcard_wait_reads(card, 1, WAIT_MS) == 0);
  for (i = 0; i < 4; ++i) CHECK(kolvane_simcard_press(card, pressed[i], 100) == 0);
  CHECK(sink->count == 4); /* before Stop: a press that returned 0 has arrived */
  CHECK(IRemoteModule_Stop(module) == S_OK);
  for (i = 0; i < 4; ++i) CHECK(strcmp(sink->names[i], names[i]) == 0);
  printf("host test: 4 keys received behind a slow first OnKey\n");
  return 0;
}

int main(int argc, char** argv) {
  static Sink sink;
  const char* path = argc > 1 ? argv[1] : DEFAULT_MODULE;
  GetInterfacePtrFn factory = LoadFactory(path);
  KolvaneSimCard* card;
  IRemoteModule* module;

  CHECK(factory != NULL);
  module = factory();
  CHECK(module != NULL);
  card = kolvane_simcard_new();
  CHECK(card != NULL);

  sink.iface.lpVtbl = &kSinkVtbl;
  CHECK(ThreePresses(module, card, &sink) == 0);
  memset(&sink, 0, sizeof sink);
  sink.iface.lpVtbl = &kSinkVtbl;
  CHECK(FiveRestarts(module, card, &sink) == 0);
  memset(&sink, 0, sizeof sink);
  sink.iface.lpVtbl = &kSinkVtbl;
  CHECK(SlowFirstKey(module, card, &sink) == 0);

  CHECK(kolvane_simcard_free(card) == 0);
  CHECK(IRemoteModule_Release(module) == 0);
  printf("host test: passed with %s\n", path);
  return 0;
}
