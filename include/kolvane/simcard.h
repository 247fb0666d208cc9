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
 * MSVC, mingw-w64, GCC or Clang.
 *
 *   #define KOLVANE_SIMCARD_IMPLEMENTATION
 *   #include <kolvane/simcard.h>
 *
 *   KolvaneSimCard *card = kolvane_simcard_new();
 *   IRemoteModule_Start(module, &sink, (IUnknown *)kolvane_simcard_registers(card));
 *   kolvane_simcard_wait_reads(card, 1, 5000);       (the module's first poll)
 *   kolvane_simcard_press(card, "ChannelUp", 100);   (OnKey("Kolvane_ChannelUp", "ChannelUp"))
 *   IRemoteModule_Stop(module);
 *   kolvane_simcard_free(card);
 *
 * A card may be used from any thread; presses on one card one at a time.
 *
 * Hooks, defined before the implementation:
 *   KOLVANE_SIMCARD_SLEEP_MS(card, ms)  how a press waits; by default the
 *                                       calling thread sleeps (Sleep, select)
 *   KOLVANE_SIMCARD_MALLOC(size), KOLVANE_SIMCARD_FREE(pointer)
 *                                       the card's memory; malloc and free */
#ifndef KOLVANE_SIMCARD_H
#define KOLVANE_SIMCARD_H

#include "device.h"
#include "keys.h"
#include "kolvane.h"

/* How a key pressed for hold_ms shows on the receiver, here and in
 * kolvane-host's scripts: the press byte for hold_ms, at most
 * KOLVANE_PRESS_SHOW_MS; for a longer hold the held byte (press byte |
 * KOLVANE_RECEIVER_HELD_BIT) for the rest; each for at least
 * KOLVANE_MIN_SHOW_MS, so that at least two polls 20 ms apart see it; then
 * idle for KOLVANE_RELEASE_IDLE_MS. The module repeats a key whose held
 * byte stays more than 200 ms, so a hold of 350 ms or more repeats. */
#define KOLVANE_PRESS_SHOW_MS 100
#define KOLVANE_MIN_SHOW_MS 60
#define KOLVANE_RELEASE_IDLE_MS 100

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KolvaneSimCard KolvaneSimCard;

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
 * down for hold_ms as described at KOLVANE_PRESS_SHOW_MS; then shows idle and
 * returns 0. Blocks the calling thread for that long, so a test presses from
 * its own thread while the module polls on its own. -1 at once, nothing
 * shown, for a key the remote does not have (or a null card or key). */
int kolvane_simcard_press(KolvaneSimCard* card, const char* key, unsigned hold_ms);

/* The key that kolvane_simcard_press would press for this spelling, or
 * NULL. */
const KolvaneKey* kolvane_simcard_key(const char* key);

/* How often the module has polled the receiver: the reads of register 0x200
 * since its set-up wrote it. A test waits for the first one rather than
 * sleeping, so that its first press counts. */
unsigned long kolvane_simcard_reads(const KolvaneSimCard* card);

/* Waits until kolvane_simcard_reads reaches count: 0, or -1 after
 * timeout_ms. */
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
/* select() rather than nanosleep(): <sys/select.h> declares it in strict
 * C89 and C99 too, where nanosleep needs _POSIX_C_SOURCE set before the
 * source file's first include. */
#include <errno.h>
#include <sys/select.h>
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

/* The registers by index: set-up values as written; 0x200 without the
 * receiver byte, which is the receiver's own. */
#define KOLVANE_SIMCARD_REGISTERS_ 3
#define KOLVANE_SIMCARD_RECEIVER_BITS_ (KOLVANE_RECEIVER_BYTE_MASK << KOLVANE_RECEIVER_BYTE_SHIFT)

static HRESULT kolvane_simcard_query_(KolvaneSimCard* card, const IID* iid, void** object);
static ULONG kolvane_simcard_add_ref_(KolvaneSimCard* card);
static ULONG kolvane_simcard_release_(KolvaneSimCard* card);
static HRESULT kolvane_simcard_read_(KolvaneSimCard* card, uint32_t offset, uint32_t* value);
static HRESULT kolvane_simcard_write_(KolvaneSimCard* card, uint32_t offset, uint32_t value);

#if defined(__cplusplus) && !defined(CINTERFACE)
struct KolvaneSimCardFace_ : public IDeviceRegisters {
  KolvaneSimCard* card;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) {
    return kolvane_simcard_query_(card, &iid, object);
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
  kolvane_simcard_word_ references; /* held by others */
  kolvane_simcard_word_ receiver;   /* the receiver byte */
  kolvane_simcard_word_ reads;      /* polls of 0x200 */
  kolvane_simcard_word_ set_up;     /* 0x200 has been written */
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

static uint32_t kolvane_simcard_value_(const KolvaneSimCard* card, int index) {
  uint32_t value = (uint32_t)(unsigned long)KOLVANE_SIMCARD_LOAD_(&card->registers[index]);
  if (index == kolvane_simcard_index_(KOLVANE_REGISTER_RECEIVER)) {
    const uint32_t shown = (uint32_t)(unsigned long)KOLVANE_SIMCARD_LOAD_(&card->receiver);
    value = (value & ~(uint32_t)KOLVANE_SIMCARD_RECEIVER_BITS_) | (shown << KOLVANE_RECEIVER_BYTE_SHIFT);
  }
  return value;
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

static ULONG kolvane_simcard_add_ref_(KolvaneSimCard* card) {
  return (ULONG)KOLVANE_SIMCARD_INCREMENT_(&card->references);
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
  *value = kolvane_simcard_value_(card, index);
  if (offset == KOLVANE_REGISTER_RECEIVER && KOLVANE_SIMCARD_LOAD_(&card->set_up) != 0) {
    KOLVANE_SIMCARD_INCREMENT_(&card->reads);
  }
  return S_OK;
}

static HRESULT kolvane_simcard_write_(KolvaneSimCard* card, uint32_t offset, uint32_t value) {
  const int index = kolvane_simcard_index_(offset);
  if (index < 0) return E_UNEXPECTED;
  if (offset == KOLVANE_REGISTER_RECEIVER) {
    value &= ~(uint32_t)KOLVANE_SIMCARD_RECEIVER_BITS_;
    KOLVANE_SIMCARD_STORE_(&card->set_up, 1);
  }
  KOLVANE_SIMCARD_STORE_(&card->registers[index], value);
  return S_OK;
}

#if !defined(__cplusplus) || defined(CINTERFACE)
static HRESULT STDMETHODCALLTYPE kolvane_simcard_c_query_(IDeviceRegisters* self, REFIID iid, void** object) {
  return kolvane_simcard_query_((KolvaneSimCard*)self, iid, object);
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

#ifndef KOLVANE_SIMCARD_SLEEP_MS
#define KOLVANE_SIMCARD_SLEEP_MS(card, ms) kolvane_simcard_sleep_(ms)
static void kolvane_simcard_sleep_(unsigned ms) {
#ifdef _WIN32
  Sleep(ms);
#else
  struct timeval left;
  left.tv_sec = (long)(ms / 1000);
  left.tv_usec = (long)(ms % 1000) * 1000L;
  /* Interrupted, Linux leaves the time still to wait in `left`. */
  while (select(0, NULL, NULL, NULL, &left) != 0 && errno == EINTR) {
  }
#endif
}
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
  KOLVANE_SIMCARD_STORE_(&card->reads, 0);
  KOLVANE_SIMCARD_STORE_(&card->set_up, 0);
  for (i = 0; i < KOLVANE_SIMCARD_REGISTERS_; ++i) KOLVANE_SIMCARD_STORE_(&card->registers[i], 0);
  return card;
}

IDeviceRegisters* kolvane_simcard_registers(KolvaneSimCard* card) { return card == NULL ? NULL : &card->face; }

void kolvane_simcard_set_receiver(KolvaneSimCard* card, unsigned receiver_byte) {
  if (card != NULL) KOLVANE_SIMCARD_STORE_(&card->receiver, receiver_byte & KOLVANE_RECEIVER_BYTE_MASK);
}

int kolvane_simcard_press(KolvaneSimCard* card, const char* key, unsigned hold_ms) {
  const KolvaneKey* found = kolvane_simcard_key(key);
  unsigned pressed = hold_ms < KOLVANE_PRESS_SHOW_MS ? hold_ms : KOLVANE_PRESS_SHOW_MS;
  if (card == NULL || found == NULL) return -1;
  if (pressed < KOLVANE_MIN_SHOW_MS) pressed = KOLVANE_MIN_SHOW_MS;
  kolvane_simcard_set_receiver(card, found->byte);
  KOLVANE_SIMCARD_SLEEP_MS(card, pressed);
  if (hold_ms > KOLVANE_PRESS_SHOW_MS) {
    const unsigned rest = hold_ms - KOLVANE_PRESS_SHOW_MS;
    kolvane_simcard_set_receiver(card, found->byte | KOLVANE_RECEIVER_HELD_BIT);
    KOLVANE_SIMCARD_SLEEP_MS(card, rest < KOLVANE_MIN_SHOW_MS ? KOLVANE_MIN_SHOW_MS : rest);
  }
  kolvane_simcard_set_receiver(card, KOLVANE_RECEIVER_IDLE);
  KOLVANE_SIMCARD_SLEEP_MS(card, KOLVANE_RELEASE_IDLE_MS);
  return 0;
}

unsigned long kolvane_simcard_reads(const KolvaneSimCard* card) {
  return card == NULL ? 0 : (unsigned long)KOLVANE_SIMCARD_LOAD_(&card->reads);
}

int kolvane_simcard_wait_reads(const KolvaneSimCard* card, unsigned long count, unsigned timeout_ms) {
  const unsigned step_ms = 5;
  unsigned waited = 0;
  while (kolvane_simcard_reads(card) < count) {
    if (card == NULL || waited >= timeout_ms) return -1;
    KOLVANE_SIMCARD_SLEEP_MS(card, step_ms);
    waited += step_ms;
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
