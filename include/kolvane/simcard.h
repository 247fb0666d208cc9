/* kolvane: a simulated tuner card, so that a host tests its own key handling
 * against the real module with no card in the machine.
 *
 * The card is the host object a host passes to IRemoteModule::Start: it
 * answers the module's set-up of the three registers like the real device
 * (kolvane/device.h) and shows, on the receiver byte the module polls, the
 * keys a test presses by name. The module, its poll thread and its timing
 * are the real ones; only the card is simulated.
 *
 * A single header: declarations always, the implementation in the one
 * source file that defines KOLVANE_SIMCARD_IMPLEMENTATION before including
 * it. Nothing to link and no ABI to match; C89 or C++98 and later, with
 * MSVC (Visual Studio 2010 or later, for <stdint.h>), mingw-w64, GCC or
 * Clang.
 *
 *   #define KOLVANE_SIMCARD_IMPLEMENTATION
 *   #include <kolvane/simcard.h>
 *
 *   KolvaneSimCard *card = kolvane_simcard_new();
 *   IRemoteModule_Start(module, &sink, (IUnknown *)kolvane_simcard_registers(card));
 *   kolvane_simcard_wait_reads(card, 1, 5000);       (the first poll of this Start)
 *   kolvane_simcard_press(card, "ChannelUp", 100);   (0: the module saw it)
 *   kolvane_simcard_press_live(card, "Mute", 100);   (0: seen at a real remote's pace)
 *   IRemoteModule_Stop(module);
 *   kolvane_simcard_free(card);
 *
 * A card may be used from any thread; presses on one card one at a time.
 *
 * Hooks, defined before the implementation, each pair both or neither:
 *   KOLVANE_SIMCARD_SLEEP_MS(card, ms)  how a press or a wait passes time,
 *   KOLVANE_SIMCARD_NOW_MS(card)        and the clock it reads (unsigned
 *                                       long ms, wrapping); by default the
 *                                       thread sleeps and the system's
 *                                       monotonic clock. On a virtual clock
 *                                       the sleep is where the module's polls
 *                                       happen (they read register 0x200).
 *   KOLVANE_SIMCARD_MALLOC(size), KOLVANE_SIMCARD_FREE(pointer)
 *                                       the card's memory; malloc and free */
#ifndef KOLVANE_SIMCARD_H
#define KOLVANE_SIMCARD_H

#include "device.h"
#include "keys.h"
#include "kolvane.h"

/* How a key pressed for hold_ms shows on the receiver, here and in
 * kolvane-host's scripts: the key's code for hold_ms, at most
 * KOLVANE_PRESS_SHOW_MS; for a longer hold the held byte (code |
 * KOLVANE_RECEIVER_HELD_BIT) for the rest; each for at least
 * KOLVANE_MIN_SHOW_MS; then idle for KOLVANE_RELEASE_IDLE_MS. A hold is at
 * most KOLVANE_MAX_HOLD_MS (kolvane/device.h), a script's longest step.
 *
 * When a hold repeats: the module repeats the key at the first poll that
 * reads the held byte more than KOLVANE_REPEAT_DELAY_MS (200) after the
 * last poll that read the key's code. With polls exactly
 * KOLVANE_POLL_PERIOD_MS (20) apart, the first of them reads the code
 * `phase` ms into the press (0 to 19), the last one 80 ms later, and the
 * first poll more than 200 ms after that is the 11th (220 ms; the 10th is
 * 200 ms, not more): a hold repeats when hold_ms > 300 + phase, so always
 * at 320 ms or more and never at 300 ms or less, and again every 220 ms. Real
 * polls come a little over 20 ms apart and the module counts whole
 * milliseconds, so the 10th poll (some 201 ms on) mostly counts already:
 * the threshold is then 281 + phase, and 300 ms mostly repeats; 280 ms or
 * less never does while the polls keep their pace (README.md, "Testing
 * your host without a card"). */
#define KOLVANE_PRESS_SHOW_MS 100
#define KOLVANE_MIN_SHOW_MS 60
#define KOLVANE_RELEASE_IDLE_MS 100

/* Each of those bytes stays on the receiver until the module has read
 * register 0x200 this often since it was shown, as well as for its time:
 * a read under way when the byte changed may have seen the one before. */
#define KOLVANE_SIMCARD_PRESS_READS 2
/* A press gives up when the module has not read the receiver for this long
 * while it shows a byte (it notices within twice that): the module is not
 * started, was stopped, or its sink holds the poll thread up. */
#define KOLVANE_SIMCARD_POLL_TIMEOUT_MS 3000

/* At most this many bytes make one press. */
#define KOLVANE_SIMCARD_MAX_PHASES 3

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KolvaneSimCard KolvaneSimCard;

/* One byte of a press and the least time it shows. */
typedef struct KolvaneSimCardPhase {
  unsigned receiver_byte;
  unsigned ms;
} KolvaneSimCardPhase;

/* A new card: registers at 0, the receiver idle (0xFF), no references. NULL
 * when memory runs out. */
KolvaneSimCard* kolvane_simcard_new(void);

/* The card's IDeviceRegisters, to pass to IRemoteModule::Start as the host
 * object. It answers QueryInterface for IID_IDeviceRegisters and
 * IID_IUnknown and counts references; this call takes none. */
IDeviceRegisters* kolvane_simcard_registers(KolvaneSimCard* card);

/* Sets the receiver byte (bits 16-23 of 0x200) the module reads next;
 * KOLVANE_RECEIVER_IDLE (0xFF) is no key. Only the low 8 bits count. */
void kolvane_simcard_set_receiver(KolvaneSimCard* card, unsigned receiver_byte);

/* Presses a key, named by its name ("Kolvane_ChannelUp"), its name without
 * the prefix ("ChannelUp") or its label ("Power"), in any case, and holds it
 * down for hold_ms; the bytes and their times are at KOLVANE_PRESS_SHOW_MS,
 * and each stays until the module has read it (KOLVANE_SIMCARD_PRESS_READS).
 * Blocks the calling thread meanwhile, so a test presses from its own thread
 * while the module polls on its own.
 *   0:  the module read every byte of the press, so its sink has had the key
 *       (and the repeats a long hold makes) by the time press returns.
 *   -1: at once, nothing shown, for a key the remote does not have, a hold
 *       over KOLVANE_MAX_HOLD_MS, or a null card or key; or, with the
 *       receiver set back to idle, when the module stopped polling
 *       (KOLVANE_SIMCARD_POLL_TIMEOUT_MS): it never blocks forever. */
int kolvane_simcard_press(KolvaneSimCard* card, const char* key, unsigned hold_ms);

/* Presses a key as a real remote does: the bytes kolvane_simcard_press
 * shows, each for its time only (on the card's clock), whatever the polls
 * do, so a module whose polls an OnKey holds up misses what a real remote
 * would have lost behind it. Blocks for the press's time (hold_ms, at least
 * KOLVANE_MIN_SHOW_MS, plus KOLVANE_RELEASE_IDLE_MS); it needs no poll to
 * end.
 *   0:  a poll read the key's code right after a poll that read another byte
 *       (the module has seen a byte with bit 0 set since its Start): that
 *       poll reports the key, so OnKey has been called with it. It may still
 *       be running; once kolvane_simcard_reads has grown by one more, it has
 *       returned.
 *   1:  no poll read the code as a change: the press was lost, as behind a
 *       slow OnKey (the polls came too late, or the one before it still read
 *       the code of the press before, whose idle byte no poll saw).
 *   -1: at once, nothing shown, as for kolvane_simcard_press: a key the
 *       remote does not have, a hold over KOLVANE_MAX_HOLD_MS, a null card
 *       or key.
 * Use kolvane_simcard_press to test what a host does with its keys (every
 * press arrives, however slow the host); use this to test that a host's
 * OnKey is quick enough to lose no press of a real remote. */
int kolvane_simcard_press_live(KolvaneSimCard* card, const char* key, unsigned hold_ms);

/* What a live press showed and what the polls saw of it. */
typedef struct KolvaneSimCardLivePress {
  int count; /* the bytes shown, 2 or 3; 0 for a press refused (-1) */
  /* Each byte in order and how long it was shown, in ms on the card's clock
   * (at least the time of kolvane_simcard_phases; more where a sleep ran
   * over). */
  KolvaneSimCardPhase shown[KOLVANE_SIMCARD_MAX_PHASES];
  unsigned long polls[KOLVANE_SIMCARD_MAX_PHASES]; /* the polls that read each */
} KolvaneSimCardLivePress;

/* kolvane_simcard_press_live, and it fills *live (when not NULL) with the
 * bytes shown and the polls that read each: polls[0] of 0 with a result of 1
 * is a press no poll saw; polls[0] over 0 with a result of 1, a press whose
 * poll before it read the previous press's code. */
int kolvane_simcard_press_live_polls(KolvaneSimCard* card, const char* key, unsigned hold_ms,
                                     KolvaneSimCardLivePress* live);

/* The bytes a press of the key with this code held hold_ms shows, in
 * order, with the least time of each: their count (2 or 3), or 0 for a hold
 * over KOLVANE_MAX_HOLD_MS. kolvane_simcard_press shows these. */
int kolvane_simcard_phases(unsigned key_code, unsigned hold_ms, KolvaneSimCardPhase phases[KOLVANE_SIMCARD_MAX_PHASES]);

/* The key that kolvane_simcard_press would press for this spelling, or
 * NULL. */
const KolvaneKey* kolvane_simcard_key(const char* key);

/* How often the module has polled the receiver since its latest set-up: the
 * reads of register 0x200 after the set-up wrote it. Every Start counts
 * afresh: it is 0 from the moment the module takes the card (in Start) until
 * that start's first poll. So after each Start a test waits for
 * kolvane_simcard_wait_reads(card, 1, ...) before its first press, since
 * the module reports nothing until it has seen the idle receiver once. */
unsigned long kolvane_simcard_reads(const KolvaneSimCard* card);

/* Waits until kolvane_simcard_reads reaches count: 0, or -1 once timeout_ms
 * have passed on the monotonic clock (or for a null card). */
int kolvane_simcard_wait_reads(const KolvaneSimCard* card, unsigned long count, unsigned timeout_ms);

/* A register's value as the module would read it now (0x200 with the
 * receiver byte), so a test can check the module's set-up; 0 for an offset
 * the card does not have. */
uint32_t kolvane_simcard_register(const KolvaneSimCard* card, uint32_t offset);

/* The references others hold on the card: 0 once the module has given back
 * every one it took. */
long kolvane_simcard_references(const KolvaneSimCard* card);

/* Frees the card: 0. When others still hold references (the module was not
 * stopped, or gave back more than it took), -1 and nothing is freed: a host
 * bug the test should see. A null card is 0. */
int kolvane_simcard_free(KolvaneSimCard* card);

#ifdef __cplusplus
}
#endif

#endif /* KOLVANE_SIMCARD_H */

/* ------------------------------------------------------------------------ */

#ifdef KOLVANE_SIMCARD_IMPLEMENTATION
#ifndef KOLVANE_SIMCARD_IMPLEMENTED
#define KOLVANE_SIMCARD_IMPLEMENTED
/* C89 that C++98 compiles too: C casts, NULL, no override; functions defined
 * in a header by design. */
/* NOLINTBEGIN(google-readability-casting,modernize-use-override,modernize-use-nullptr,misc-definitions-in-headers) */

#if defined(KOLVANE_SIMCARD_MALLOC) != defined(KOLVANE_SIMCARD_FREE)
#error "kolvane/simcard.h: define both KOLVANE_SIMCARD_MALLOC and KOLVANE_SIMCARD_FREE, or neither"
#endif
#if defined(KOLVANE_SIMCARD_SLEEP_MS) != defined(KOLVANE_SIMCARD_NOW_MS)
#error "kolvane/simcard.h: define both KOLVANE_SIMCARD_SLEEP_MS and KOLVANE_SIMCARD_NOW_MS, or neither"
#endif

#include <stdlib.h>
#include <string.h>

/* Atomic words: Win32 Interlocked* on LONG, GCC/Clang __atomic elsewhere. */
#ifdef _WIN32
#include <windows.h>
typedef LONG kolvane_simcard_word_;
#define KOLVANE_SIMCARD_LOAD_(p) InterlockedCompareExchange((LONG volatile*)(p), 0, 0)
#define KOLVANE_SIMCARD_STORE_(p, v) ((void)InterlockedExchange((LONG volatile*)(p), (LONG)(v)))
#define KOLVANE_SIMCARD_INCREMENT_(p) InterlockedIncrement((LONG volatile*)(p))
#define KOLVANE_SIMCARD_DECREMENT_(p) InterlockedDecrement((LONG volatile*)(p))
#elif defined(__GNUC__)
typedef long kolvane_simcard_word_;
#define KOLVANE_SIMCARD_LOAD_(p) __atomic_load_n((p), __ATOMIC_SEQ_CST)
#define KOLVANE_SIMCARD_STORE_(p, v) __atomic_store_n((p), (long)(v), __ATOMIC_SEQ_CST)
#define KOLVANE_SIMCARD_INCREMENT_(p) __atomic_add_fetch((p), 1, __ATOMIC_SEQ_CST)
#define KOLVANE_SIMCARD_DECREMENT_(p) __atomic_sub_fetch((p), 1, __ATOMIC_SEQ_CST)
#else
#error "kolvane/simcard.h needs Win32 Interlocked functions or GCC/Clang __atomic builtins"
#endif

#ifndef KOLVANE_SIMCARD_MALLOC
#define KOLVANE_SIMCARD_MALLOC(size) malloc(size)
#define KOLVANE_SIMCARD_FREE(pointer) free(pointer)
#endif

#if defined(__cplusplus) && !defined(CINTERFACE)
#include <new>
#endif

/* A REFIID as the pointer the card's code takes: C++ passes a reference,
 * with CINTERFACE too. */
#ifdef __cplusplus
#define KOLVANE_SIMCARD_IID_(iid) (&(iid))
#else
#define KOLVANE_SIMCARD_IID_(iid) (iid)
#endif

/* The registers by index: set-up values as written; 0x200 without the
 * receiver byte, which is the receiver's own. */
#define KOLVANE_SIMCARD_REGISTERS_ 3
#define KOLVANE_SIMCARD_RECEIVER_BITS_ (KOLVANE_RECEIVER_BYTE_MASK << KOLVANE_RECEIVER_BYTE_SHIFT)
/* How often a press or a wait looks at the reads and the clock. */
#define KOLVANE_SIMCARD_STEP_MS_ 5u
/* The receiver word: the byte in bits 0-7; a live press's bytes also carry
 * their phase (1 to 3) above it and the press's serial number above that, so
 * a poll counts for the byte it read, even one that read it just as it
 * changed. */
#define KOLVANE_SIMCARD_PHASE_SHIFT_ 8
#define KOLVANE_SIMCARD_PHASE_MASK_ 0x3L
#define KOLVANE_SIMCARD_SERIAL_SHIFT_ 10
#define KOLVANE_SIMCARD_SERIAL_MASK_ 0xFFFFFL
/* No byte with bit 0 set read since the set-up: the module reports nothing. */
#define KOLVANE_SIMCARD_NO_BYTE_ (-1L)

static HRESULT kolvane_simcard_query_(KolvaneSimCard* card, const IID* iid, void** object);
static ULONG kolvane_simcard_add_ref_(KolvaneSimCard* card);
static ULONG kolvane_simcard_release_(KolvaneSimCard* card);
static HRESULT kolvane_simcard_read_(KolvaneSimCard* card, uint32_t offset, uint32_t* value);
static HRESULT kolvane_simcard_write_(KolvaneSimCard* card, uint32_t offset, uint32_t value);

#if defined(__cplusplus) && !defined(CINTERFACE)
struct KolvaneSimCardFace_ : public IDeviceRegisters {
  KolvaneSimCard* card;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) {
    return kolvane_simcard_query_(card, KOLVANE_SIMCARD_IID_(iid), object);
  }
  ULONG STDMETHODCALLTYPE AddRef(void) { return kolvane_simcard_add_ref_(card); }
  ULONG STDMETHODCALLTYPE Release(void) { return kolvane_simcard_release_(card); }
  HRESULT STDMETHODCALLTYPE Reserved(void) { return S_OK; }
  HRESULT STDMETHODCALLTYPE ReadRegister(uint32_t offset, uint32_t* value) {
    return kolvane_simcard_read_(card, offset, value);
  }
  HRESULT STDMETHODCALLTYPE WriteRegister(uint32_t offset, uint32_t value) {
    return kolvane_simcard_write_(card, offset, value);
  }
};
#endif

struct KolvaneSimCard {
#if defined(__cplusplus) && !defined(CINTERFACE)
  KolvaneSimCardFace_ face;
#else
  IDeviceRegisters face; /* first: the interface pointer is the card's */
#endif
  kolvane_simcard_word_ references;  /* held by others */
  kolvane_simcard_word_ receiver;    /* the receiver word: byte, and a live press's phase */
  kolvane_simcard_word_ set_up;      /* the latest set-up has written 0x200 */
  kolvane_simcard_word_ reads;       /* polls of 0x200 since that set-up */
  kolvane_simcard_word_ polls;       /* polls of 0x200 ever, for presses */
  kolvane_simcard_word_ last_read;   /* the byte of the latest poll, as the module keeps it */
  kolvane_simcard_word_ live_serial; /* the latest live press */
  kolvane_simcard_word_ live_polls[KOLVANE_SIMCARD_MAX_PHASES]; /* polls of each of its bytes */
  kolvane_simcard_word_ live_reported;                          /* a poll read its code as a change */
  kolvane_simcard_word_ registers[KOLVANE_SIMCARD_REGISTERS_];
};

/* Private copies: a host may define the IIDs in another file or not at all. */
static const IID kolvane_simcard_iid_unknown_ = KOLVANE_IID_VALUE_IUnknown;
static const IID kolvane_simcard_iid_registers_ = KOLVANE_IID_VALUE_IDeviceRegisters;

static const KolvaneKey kolvane_simcard_keys_[KOLVANE_KEY_COUNT] = {KOLVANE_KEYS(KOLVANE_KEY_RECORD)};

static int kolvane_simcard_index_(uint32_t offset) {
  switch (offset) {
    case KOLVANE_REGISTER_CONTROL: return 0;
    case KOLVANE_REGISTER_GPIO: return 1;
    case KOLVANE_REGISTER_RECEIVER: return 2;
    default: return -1;
  }
}

/* A register's value, with `word` the receiver word for 0x200. */
static uint32_t kolvane_simcard_compose_(const KolvaneSimCard* card, int index, long word) {
  uint32_t value = (uint32_t)(unsigned long)KOLVANE_SIMCARD_LOAD_(&card->registers[index]);
  if (index == kolvane_simcard_index_(KOLVANE_REGISTER_RECEIVER)) {
    const uint32_t shown = (uint32_t)((unsigned long)word & KOLVANE_RECEIVER_BYTE_MASK);
    value = (value & ~(uint32_t)KOLVANE_SIMCARD_RECEIVER_BITS_) | (shown << KOLVANE_RECEIVER_BYTE_SHIFT);
  }
  return value;
}

static uint32_t kolvane_simcard_value_(const KolvaneSimCard* card, int index) {
  return kolvane_simcard_compose_(card, index, (long)KOLVANE_SIMCARD_LOAD_(&card->receiver));
}

/* A poll read `word`: counted for the live press's byte it shows, and, for
 * its code, whether the module saw a change there (the byte the module's
 * previous poll read differs, and one with bit 0 set came since the set-up);
 * then kept as the module keeps the latest byte. */
static void kolvane_simcard_polled_(KolvaneSimCard* card, long word) {
  const long shown = word & (long)KOLVANE_RECEIVER_BYTE_MASK;
  const long phase = (word >> KOLVANE_SIMCARD_PHASE_SHIFT_) & KOLVANE_SIMCARD_PHASE_MASK_;
  const long serial = (word >> KOLVANE_SIMCARD_SERIAL_SHIFT_) & KOLVANE_SIMCARD_SERIAL_MASK_;
  const long last = (long)KOLVANE_SIMCARD_LOAD_(&card->last_read);
  if (phase != 0 && serial == (long)KOLVANE_SIMCARD_LOAD_(&card->live_serial)) {
    KOLVANE_SIMCARD_INCREMENT_(&card->live_polls[phase - 1]);
    if (phase == 1 && last != KOLVANE_SIMCARD_NO_BYTE_ && last != shown) {
      KOLVANE_SIMCARD_STORE_(&card->live_reported, 1);
    }
  }
  if ((shown & (long)KOLVANE_RECEIVER_HELD_BIT) != 0 || last != KOLVANE_SIMCARD_NO_BYTE_) {
    KOLVANE_SIMCARD_STORE_(&card->last_read, shown);
  }
}

static HRESULT kolvane_simcard_query_(KolvaneSimCard* card, const IID* iid, void** object) {
  if (object == NULL) return E_POINTER;
  if (memcmp(iid, &kolvane_simcard_iid_unknown_, sizeof(IID)) != 0 &&
      memcmp(iid, &kolvane_simcard_iid_registers_, sizeof(IID)) != 0) {
    *object = NULL;
    return E_NOINTERFACE;
  }
  *object = &card->face;
  kolvane_simcard_add_ref_(card);
  return S_OK;
}

/* The first reference is the module's Start taking the card: a new run, whose
 * reads count only after its own set-up. */
static ULONG kolvane_simcard_add_ref_(KolvaneSimCard* card) {
  const long references = (long)KOLVANE_SIMCARD_INCREMENT_(&card->references);
  if (references == 1) {
    KOLVANE_SIMCARD_STORE_(&card->set_up, 0);
    KOLVANE_SIMCARD_STORE_(&card->reads, 0);
    KOLVANE_SIMCARD_STORE_(&card->last_read, KOLVANE_SIMCARD_NO_BYTE_);
  }
  return (ULONG)references;
}

/* The host frees the card, never the count: at 0 it only tells that the
 * module gave every reference back. */
static ULONG kolvane_simcard_release_(KolvaneSimCard* card) {
  return (ULONG)KOLVANE_SIMCARD_DECREMENT_(&card->references);
}

static HRESULT kolvane_simcard_read_(KolvaneSimCard* card, uint32_t offset, uint32_t* value) {
  const int index = kolvane_simcard_index_(offset);
  if (value == NULL) return E_POINTER;
  if (index < 0) {
    *value = 0;
    return E_UNEXPECTED;
  }
  if (offset != KOLVANE_REGISTER_RECEIVER) {
    *value = kolvane_simcard_value_(card, index);
  } else {
    const long word = (long)KOLVANE_SIMCARD_LOAD_(&card->receiver); /* once: the value and the count agree */
    *value = kolvane_simcard_compose_(card, index, word);
    if (KOLVANE_SIMCARD_LOAD_(&card->set_up) != 0) {
      kolvane_simcard_polled_(card, word);
      KOLVANE_SIMCARD_INCREMENT_(&card->reads);
      KOLVANE_SIMCARD_INCREMENT_(&card->polls);
    }
  }
  return S_OK;
}

/* A set-up begins with 0x10C and ends with 0x200: the reads of 0x200 in
 * between are the set-up's own, not polls. */
static HRESULT kolvane_simcard_write_(KolvaneSimCard* card, uint32_t offset, uint32_t value) {
  const int index = kolvane_simcard_index_(offset);
  if (index < 0) return E_UNEXPECTED;
  if (offset == KOLVANE_REGISTER_CONTROL) KOLVANE_SIMCARD_STORE_(&card->set_up, 0);
  if (offset == KOLVANE_REGISTER_RECEIVER) {
    value &= ~(uint32_t)KOLVANE_SIMCARD_RECEIVER_BITS_;
    KOLVANE_SIMCARD_STORE_(&card->reads, 0);
    KOLVANE_SIMCARD_STORE_(&card->last_read, KOLVANE_SIMCARD_NO_BYTE_);
    KOLVANE_SIMCARD_STORE_(&card->set_up, 1);
  }
  KOLVANE_SIMCARD_STORE_(&card->registers[index], value);
  return S_OK;
}

#if !defined(__cplusplus) || defined(CINTERFACE)
static HRESULT STDMETHODCALLTYPE kolvane_simcard_c_query_(IDeviceRegisters* self, REFIID iid, void** object) {
  return kolvane_simcard_query_((KolvaneSimCard*)self, KOLVANE_SIMCARD_IID_(iid), object);
}
static ULONG STDMETHODCALLTYPE kolvane_simcard_c_add_ref_(IDeviceRegisters* self) {
  return kolvane_simcard_add_ref_((KolvaneSimCard*)self);
}
static ULONG STDMETHODCALLTYPE kolvane_simcard_c_release_(IDeviceRegisters* self) {
  return kolvane_simcard_release_((KolvaneSimCard*)self);
}
static HRESULT STDMETHODCALLTYPE kolvane_simcard_c_reserved_(IDeviceRegisters* self) {
  (void)self;
  return S_OK;
}
static HRESULT STDMETHODCALLTYPE kolvane_simcard_c_read_(IDeviceRegisters* self, uint32_t offset, uint32_t* value) {
  return kolvane_simcard_read_((KolvaneSimCard*)self, offset, value);
}
static HRESULT STDMETHODCALLTYPE kolvane_simcard_c_write_(IDeviceRegisters* self, uint32_t offset, uint32_t value) {
  return kolvane_simcard_write_((KolvaneSimCard*)self, offset, value);
}
static const IDeviceRegistersVtbl kolvane_simcard_vtbl_ = {kolvane_simcard_c_query_,   kolvane_simcard_c_add_ref_,
                                                           kolvane_simcard_c_release_, kolvane_simcard_c_reserved_,
                                                           kolvane_simcard_c_read_,    kolvane_simcard_c_write_};
#endif

/* The default clock and sleep: monotonic milliseconds that wrap, compared by
 * unsigned differences. */
#ifndef KOLVANE_SIMCARD_SLEEP_MS
#define KOLVANE_SIMCARD_SLEEP_MS(card, ms) kolvane_simcard_sleep_(ms)
#define KOLVANE_SIMCARD_NOW_MS(card) kolvane_simcard_now_ms_()
#ifdef _WIN32
static unsigned long kolvane_simcard_now_ms_(void) {
  LARGE_INTEGER count, frequency;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&count);
  return (unsigned long)(count.QuadPart / frequency.QuadPart * 1000 +
                         count.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart);
}
static void kolvane_simcard_sleep_(unsigned ms) { Sleep(ms); }
#else
/* select() rather than nanosleep(): <sys/select.h> declares it in strict
 * C89 and C99 too, where nanosleep needs _POSIX_C_SOURCE set before the
 * source file's first include. */
#include <errno.h>
#include <sys/select.h>
#include <time.h>
/* Strict ISO C on glibc hides the POSIX clock; declare it as glibc does. */
#if defined(__GLIBC__) && !defined(__USE_POSIX199309)
#include <bits/types/clockid_t.h>
#include <bits/types/struct_timespec.h>
extern int clock_gettime(clockid_t, struct timespec*);
#endif
#ifdef CLOCK_MONOTONIC
#define KOLVANE_SIMCARD_CLOCK_ CLOCK_MONOTONIC
#else
#define KOLVANE_SIMCARD_CLOCK_ 1 /* Linux's CLOCK_MONOTONIC */
#endif
static unsigned long kolvane_simcard_now_ms_(void) {
  struct timespec now;
  now.tv_sec = 0;
  now.tv_nsec = 0;
  clock_gettime(KOLVANE_SIMCARD_CLOCK_, &now);
  return (unsigned long)now.tv_sec * 1000UL + (unsigned long)now.tv_nsec / 1000000UL;
}
static void kolvane_simcard_sleep_(unsigned ms) {
  struct timeval left;
  left.tv_sec = (long)(ms / 1000);
  left.tv_usec = (long)(ms % 1000) * 1000L;
  /* Interrupted, Linux leaves the time still to wait in `left`. */
  while (select(0, NULL, NULL, NULL, &left) != 0 && errno == EINTR) {
  }
}
#endif
#endif

/* ASCII case-insensitive equality, so the host's locale plays no part. */
static int kolvane_simcard_same_(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const char x = (char)(*a >= 'A' && *a <= 'Z' ? *a - 'A' + 'a' : *a);
    const char y = (char)(*b >= 'A' && *b <= 'Z' ? *b - 'A' + 'a' : *b);
    if (x != y) return 0;
    if (x == '\0') return 1;
  }
}

const KolvaneKey* kolvane_simcard_key(const char* key) {
  const size_t prefix = sizeof KOLVANE_KEY_PREFIX - 1;
  int i;
  if (key == NULL || key[0] == '\0') return NULL;
  for (i = 0; i < KOLVANE_KEY_COUNT; ++i) {
    const KolvaneKey* candidate = &kolvane_simcard_keys_[i];
    if (kolvane_simcard_same_(key, candidate->name) || kolvane_simcard_same_(key, candidate->name + prefix) ||
        kolvane_simcard_same_(key, candidate->label)) {
      return candidate;
    }
  }
  return NULL;
}

KolvaneSimCard* kolvane_simcard_new(void) {
  KolvaneSimCard* card = (KolvaneSimCard*)KOLVANE_SIMCARD_MALLOC(sizeof(KolvaneSimCard));
  int i;
  if (card == NULL) return NULL;
#if defined(__cplusplus) && !defined(CINTERFACE)
  new (&card->face) KolvaneSimCardFace_();
  card->face.card = card;
#else
  card->face.lpVtbl = &kolvane_simcard_vtbl_;
#endif
  KOLVANE_SIMCARD_STORE_(&card->references, 0);
  KOLVANE_SIMCARD_STORE_(&card->receiver, KOLVANE_RECEIVER_IDLE);
  KOLVANE_SIMCARD_STORE_(&card->set_up, 0);
  KOLVANE_SIMCARD_STORE_(&card->reads, 0);
  KOLVANE_SIMCARD_STORE_(&card->polls, 0);
  KOLVANE_SIMCARD_STORE_(&card->last_read, KOLVANE_SIMCARD_NO_BYTE_);
  KOLVANE_SIMCARD_STORE_(&card->live_serial, 0);
  KOLVANE_SIMCARD_STORE_(&card->live_reported, 0);
  for (i = 0; i < KOLVANE_SIMCARD_MAX_PHASES; ++i) KOLVANE_SIMCARD_STORE_(&card->live_polls[i], 0);
  for (i = 0; i < KOLVANE_SIMCARD_REGISTERS_; ++i) KOLVANE_SIMCARD_STORE_(&card->registers[i], 0);
  return card;
}

IDeviceRegisters* kolvane_simcard_registers(KolvaneSimCard* card) { return card == NULL ? NULL : &card->face; }

void kolvane_simcard_set_receiver(KolvaneSimCard* card, unsigned receiver_byte) {
  if (card != NULL) KOLVANE_SIMCARD_STORE_(&card->receiver, receiver_byte & KOLVANE_RECEIVER_BYTE_MASK);
}

int kolvane_simcard_phases(unsigned key_code, unsigned hold_ms,
                           KolvaneSimCardPhase phases[KOLVANE_SIMCARD_MAX_PHASES]) {
  int count = 0;
  if (hold_ms > KOLVANE_MAX_HOLD_MS) return 0;
  phases[count].receiver_byte = key_code & KOLVANE_RECEIVER_BYTE_MASK;
  phases[count].ms = hold_ms < KOLVANE_PRESS_SHOW_MS ? hold_ms : KOLVANE_PRESS_SHOW_MS;
  if (phases[count].ms < KOLVANE_MIN_SHOW_MS) phases[count].ms = KOLVANE_MIN_SHOW_MS;
  ++count;
  if (hold_ms > KOLVANE_PRESS_SHOW_MS) {
    const unsigned rest = hold_ms - KOLVANE_PRESS_SHOW_MS;
    phases[count].receiver_byte = (key_code | KOLVANE_RECEIVER_HELD_BIT) & KOLVANE_RECEIVER_BYTE_MASK;
    phases[count].ms = rest < KOLVANE_MIN_SHOW_MS ? KOLVANE_MIN_SHOW_MS : rest;
    ++count;
  }
  phases[count].receiver_byte = KOLVANE_RECEIVER_IDLE;
  phases[count].ms = KOLVANE_RELEASE_IDLE_MS;
  return count + 1;
}

/* Shows a byte for at least `ms` and until the module has read it
 * KOLVANE_SIMCARD_PRESS_READS times: 1; or 0 once no read has come for
 * KOLVANE_SIMCARD_POLL_TIMEOUT_MS. The reads are looked at every step while
 * they are owed, and at least once a bound after that, so a module that stops
 * is noticed within twice the bound. */
static int kolvane_simcard_show_(KolvaneSimCard* card, unsigned receiver_byte, unsigned ms) {
  unsigned long start, first, seen, quiet_since;
  kolvane_simcard_set_receiver(card, receiver_byte);
  start = quiet_since = KOLVANE_SIMCARD_NOW_MS(card);
  first = seen = (unsigned long)KOLVANE_SIMCARD_LOAD_(&card->polls);
  for (;;) {
    const unsigned long now = KOLVANE_SIMCARD_NOW_MS(card);
    const unsigned long polls = (unsigned long)KOLVANE_SIMCARD_LOAD_(&card->polls);
    const unsigned long elapsed = now - start;
    const int read = polls - first >= KOLVANE_SIMCARD_PRESS_READS;
    unsigned long wait;
    if (polls != seen) {
      seen = polls;
      quiet_since = now;
    }
    if (read && elapsed >= ms) return 1;
    if (now - quiet_since >= KOLVANE_SIMCARD_POLL_TIMEOUT_MS) return 0;
    wait = KOLVANE_SIMCARD_POLL_TIMEOUT_MS - (now - quiet_since);
    if (!read && wait > KOLVANE_SIMCARD_STEP_MS_) wait = KOLVANE_SIMCARD_STEP_MS_;
    if (elapsed < ms && ms - elapsed < wait) wait = ms - elapsed;
    KOLVANE_SIMCARD_SLEEP_MS(card, (unsigned)wait);
  }
}

int kolvane_simcard_press(KolvaneSimCard* card, const char* key, unsigned hold_ms) {
  const KolvaneKey* found = kolvane_simcard_key(key);
  KolvaneSimCardPhase phases[KOLVANE_SIMCARD_MAX_PHASES];
  int count, i;
  if (card == NULL || found == NULL) return -1;
  count = kolvane_simcard_phases(found->code, hold_ms, phases);
  for (i = 0; i < count; ++i) {
    if (!kolvane_simcard_show_(card, phases[i].receiver_byte, phases[i].ms)) {
      kolvane_simcard_set_receiver(card, KOLVANE_RECEIVER_IDLE);
      return -1;
    }
  }
  return count > 0 ? 0 : -1;
}

/* Shows `word` for `ms` on the card's clock, polls or none: the time it
 * was shown. */
static unsigned kolvane_simcard_show_live_(KolvaneSimCard* card, long word, unsigned ms) {
  unsigned long start, elapsed;
  KOLVANE_SIMCARD_STORE_(&card->receiver, word);
  start = KOLVANE_SIMCARD_NOW_MS(card);
  while ((elapsed = KOLVANE_SIMCARD_NOW_MS(card) - start) < ms)
    KOLVANE_SIMCARD_SLEEP_MS(card, (unsigned)(ms - elapsed));
  return (unsigned)elapsed;
}

int kolvane_simcard_press_live_polls(KolvaneSimCard* card, const char* key, unsigned hold_ms,
                                     KolvaneSimCardLivePress* live) {
  const KolvaneKey* found = kolvane_simcard_key(key);
  KolvaneSimCardPhase phases[KOLVANE_SIMCARD_MAX_PHASES];
  long serial;
  int count = 0, i;
  if (live != NULL) memset(live, 0, sizeof *live);
  if (card != NULL && found != NULL) count = kolvane_simcard_phases(found->code, hold_ms, phases);
  if (count == 0) return -1;
  /* A new serial before the counts start afresh: a poll of the previous
   * press's bytes no longer counts. */
  serial = ((long)KOLVANE_SIMCARD_LOAD_(&card->live_serial) + 1) & KOLVANE_SIMCARD_SERIAL_MASK_;
  KOLVANE_SIMCARD_STORE_(&card->live_serial, serial);
  KOLVANE_SIMCARD_STORE_(&card->live_reported, 0);
  for (i = 0; i < KOLVANE_SIMCARD_MAX_PHASES; ++i) KOLVANE_SIMCARD_STORE_(&card->live_polls[i], 0);
  for (i = 0; i < count; ++i) {
    const long word = (long)phases[i].receiver_byte | (long)(i + 1) << KOLVANE_SIMCARD_PHASE_SHIFT_ |
                      serial << KOLVANE_SIMCARD_SERIAL_SHIFT_;
    phases[i].ms = kolvane_simcard_show_live_(card, word, phases[i].ms);
  }
  kolvane_simcard_set_receiver(card, KOLVANE_RECEIVER_IDLE); /* idle, and no longer this press's */
  if (live != NULL) {
    live->count = count;
    for (i = 0; i < count; ++i) {
      live->shown[i] = phases[i];
      live->polls[i] = (unsigned long)KOLVANE_SIMCARD_LOAD_(&card->live_polls[i]);
    }
  }
  return KOLVANE_SIMCARD_LOAD_(&card->live_reported) != 0 ? 0 : 1;
}

int kolvane_simcard_press_live(KolvaneSimCard* card, const char* key, unsigned hold_ms) {
  return kolvane_simcard_press_live_polls(card, key, hold_ms, NULL);
}

unsigned long kolvane_simcard_reads(const KolvaneSimCard* card) {
  return card == NULL ? 0 : (unsigned long)KOLVANE_SIMCARD_LOAD_(&card->reads);
}

int kolvane_simcard_wait_reads(const KolvaneSimCard* card, unsigned long count, unsigned timeout_ms) {
  unsigned long start;
  if (card == NULL) return -1;
  start = KOLVANE_SIMCARD_NOW_MS(card);
  while (kolvane_simcard_reads(card) < count) {
    const unsigned long elapsed = KOLVANE_SIMCARD_NOW_MS(card) - start;
    if (elapsed >= timeout_ms) return -1;
    KOLVANE_SIMCARD_SLEEP_MS(card, timeout_ms - elapsed < KOLVANE_SIMCARD_STEP_MS_ ? (unsigned)(timeout_ms - elapsed)
                                                                                   : KOLVANE_SIMCARD_STEP_MS_);
  }
  return 0;
}

uint32_t kolvane_simcard_register(const KolvaneSimCard* card, uint32_t offset) {
  const int index = kolvane_simcard_index_(offset);
  return card == NULL || index < 0 ? 0 : kolvane_simcard_value_(card, index);
}

long kolvane_simcard_references(const KolvaneSimCard* card) {
  return card == NULL ? 0 : (long)KOLVANE_SIMCARD_LOAD_(&card->references);
}

int kolvane_simcard_free(KolvaneSimCard* card) {
  if (card == NULL) return 0;
  if (KOLVANE_SIMCARD_LOAD_(&card->references) != 0) return -1;
  KOLVANE_SIMCARD_FREE(card);
  return 0;
}

/* NOLINTEND(google-readability-casting,modernize-use-override,modernize-use-nullptr,misc-definitions-in-headers) */
#endif /* KOLVANE_SIMCARD_IMPLEMENTED */
#endif /* KOLVANE_SIMCARD_IMPLEMENTATION */
