// The simulated card of kolvane/simcard.h (testbed/simcard.c), owned, for
// kolvane-host, the benchmark and the tests: they start the module on it and
// drive its receiver with its calls. What only they need, a report of every
// register access (--verbose, the timeline, the benchmark's poll times, the
// tests' set-up checks), is a face over the card: an IDeviceRegisters that
// forwards each call to the card's own and tells an observer. Its references
// are the card's, so the card counts them and starts afresh at each Start.
#ifndef KOLVANE_TESTBED_SIM_CARD_H
#define KOLVANE_TESTBED_SIM_CARD_H

#include <stdint.h>

#include <functional>

#include "kolvane/device.h"
#include "kolvane/kolvane.h"
#include "kolvane/simcard.h"

namespace kolvane {
namespace testbed {

// One register access the module made.
struct RegisterAccess {
  bool write;
  uint32_t offset;
  uint32_t value;
};

class SimCard : public IDeviceRegisters {
 public:
  using Observer = std::function<void(const RegisterAccess&)>;

  SimCard();  // a new card, idle; aborts when memory runs out
  SimCard(const SimCard&) = delete;
  SimCard& operator=(const SimCard&) = delete;
  // Frees the card; one still referenced (a module kept it) is left alone.
  virtual ~SimCard();

  // The observed face: the card's own calls, each access reported.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Reserved() override;
  HRESULT STDMETHODCALLTYPE ReadRegister(uint32_t offset, uint32_t* value) override;
  HRESULT STDMETHODCALLTYPE WriteRegister(uint32_t offset, uint32_t value) override;

  // Called on the poll thread for every register access; set before Start.
  // From then on host() is the observed face.
  void SetAccessObserver(Observer observer) { observer_ = std::move(observer); }
  // The host object to start the module with: the card's own registers, or
  // the observed face once an observer is set.
  IUnknown* host();
  KolvaneSimCard* card() const { return card_; }

  // The receiver byte the next poll of 0x200 will see.
  void SetReceiverByte(uint8_t byte) { kolvane_simcard_set_receiver(card_, byte); }
  uint8_t receiverByte() const;
  // A key pressed (its code) or held (the code with the held bit), or none.
  void Press(uint8_t code) { SetReceiverByte(code); }
  void Hold(uint8_t code) { SetReceiverByte(static_cast<uint8_t>(code | KOLVANE_RECEIVER_HELD_BIT)); }
  void ReleaseKey() { SetReceiverByte(KOLVANE_RECEIVER_IDLE); }

  uint32_t Register(uint32_t offset) const { return kolvane_simcard_register(card_, offset); }
  // The module's polls of 0x200 since the set-up of its latest Start.
  uint64_t receiverPolls() const { return kolvane_simcard_reads(card_); }
  // References held by others; 0 once the module has given all back.
  ULONG outstandingReferences() const { return static_cast<ULONG>(kolvane_simcard_references(card_)); }

 private:
  IDeviceRegisters* registers() const { return kolvane_simcard_registers(card_); }

  KolvaneSimCard* const card_;
  Observer observer_;
};

}  // namespace testbed
}  // namespace kolvane

#endif  // KOLVANE_TESTBED_SIM_CARD_H
