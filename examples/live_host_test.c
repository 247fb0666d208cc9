/* A TV application's test that its OnKey is quick enough for a real remote.
 *
 * kolvane_simcard_press waits for the module's polls, so a test of what the
 * application does with its keys passes however long OnKey takes. A real
 * remote does not wait: each byte shows for its own time, and a press that
 * comes and goes while OnKey holds the poll thread is lost.
 * kolvane_simcard_press_live presses at that pace. This test types ten
 * digits, one every 200 ms (each held 100 ms, then released for 100 ms), and
 * checks that every one reached the sink. A busy machine may stall the poll
 * thread for a press now and then, so a round that lost one is played
 * again, up to three rounds; an OnKey that is too slow loses presses in
 * every round. Plain C89 against the installed headers; nothing to link but
 * the system's loader (-ldl on Linux).
 *
 *   cc -std=c89 -I<prefix>/include live_host_test.c -o live_host_test -ldl
 *   ./live_host_test [MODULE [ONKEY_MS]]
 *
 * MODULE defaults to the module beside the program; ONKEY_MS is how long
 * this test's OnKey takes over each key (default 0): 300 shows the failure.
 * Exit status 0 when a round lost no press, 1 when every round lost one,
 * 2 when a check failed. */
#define KOLVANE_SIMCARD_IMPLEMENTATION
#include <kolvane/simcard.h>

#include <stdio.h>
#include <stdlib.h>

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
      return 2;                                                                     \
    }                                                                               \
  } while (0)

#define PRESSES 10
#define ROUNDS 3
#define WAIT_MS 10000 /* for the module's first poll: generous, for a busy machine */

/* --- The application's key sink: it counts the keys, taking its time. --- */
typedef struct Sink {
  IRemoteKeySink iface; /* first, so the interface pointer is the sink's */
  long references;
  unsigned on_key_ms; /* how long OnKey takes over each key */
  int count;          /* written on the module's poll thread; read after Stop */
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
  (void)name;
  (void)label;
  if (sink->on_key_ms > 0) SleepMs(sink->on_key_ms); /* drawing, switching channels... */
  ++sink->count;
  return S_OK;
}
static const IRemoteKeySinkVtbl kSinkVtbl = {SinkQueryInterface, SinkAddRef, SinkRelease, SinkOnKey};

/* One round: a Start, ten digits at a remote's pace, a Stop. Sets *lost to
 * the presses that no poll saw as a change; 0, or 2 when a check failed. */
static int TenDigits(IRemoteModule* module, KolvaneSimCard* card, Sink* sink, int* lost) {
  static const char* const digits[PRESSES] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0"};
  int i, arrived = 0;
  sink->count = 0;
  CHECK(IRemoteModule_Start(module, &sink->iface, (IUnknown*)kolvane_simcard_registers(card)) == S_OK);
  CHECK(kolvane_simcard_wait_reads(card, 1, WAIT_MS) == 0); /* the first poll of this Start */
  for (i = 0; i < PRESSES; ++i) {
    const int result = kolvane_simcard_press_live(card, digits[i], 100);
    CHECK(result == 0 || result == 1);
    if (result == 0) ++arrived;
  }
  CHECK(IRemoteModule_Stop(module) == S_OK); /* waits for the last OnKey */
  /* What press_live said the module read is what the sink received. */
  CHECK(sink->count == arrived);
  *lost = PRESSES - arrived;
  return 0;
}

int main(int argc, char** argv) {
  static Sink sink;
  const char* path = argc > 1 ? argv[1] : DEFAULT_MODULE;
  GetInterfacePtrFn factory = LoadFactory(path);
  KolvaneSimCard* card;
  IRemoteModule* module;
  int round, lost = PRESSES;

  CHECK(factory != NULL);
  module = factory();
  CHECK(module != NULL);
  card = kolvane_simcard_new();
  CHECK(card != NULL);
  sink.iface.lpVtbl = &kSinkVtbl;
  sink.on_key_ms = argc > 2 ? (unsigned)atoi(argv[2]) : 0;

  for (round = 1; round <= ROUNDS && lost > 0; ++round) {
    CHECK(TenDigits(module, card, &sink, &lost) == 0);
    printf("live host test: round %d: %d of %d presses lost\n", round, lost, PRESSES);
  }
  CHECK(sink.references == 0);
  CHECK(kolvane_simcard_free(card) == 0);
  CHECK(IRemoteModule_Release(module) == 0);
  if (lost > 0) {
    printf("live host test: FAILED: presses lost in every round behind an OnKey of %u ms: return from OnKey at once\n",
           sink.on_key_ms);
    return 1;
  }
  printf("live host test: passed: no press lost at a real remote's pace (OnKey %u ms)\n", sink.on_key_ms);
  return 0;
}
