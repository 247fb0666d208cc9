#include "testbed/sim_card.h"

#include <stdlib.h>

#include "kolvane/device.h"

namespace kolvane {
namespace testbed {
namespace {

KolvaneSimCard* NewCard() {
  KolvaneSimCard* card = kolvane_simcard_new();
  if (card == nullptr) abort();
  return card;
}

}  // namespace

SimCard::SimCard() : card_(NewCard()) {}

SimCard::~SimCard() { kolvane_simcard_free(card_); }

IUnknown* SimCard::host() { return observer_ ? static_cast<IUnknown*>(this) : registers(); }

uint8_t SimCard::receiverByte() const {
  return static_cast<uint8_t>(Register(KOLVANE_REGISTER_RECEIVER) >> KOLVANE_RECEIVER_BYTE_SHIFT);
}

// The card answers for the interfaces and counts the reference; the face
// stands in for the card's own pointer.
HRESULT STDMETHODCALLTYPE SimCard::QueryInterface(REFIID iid, void** object) {
  const HRESULT result = registers()->QueryInterface(iid, object);
  if (result == S_OK) *object = static_cast<IDeviceRegisters*>(this);
  return result;
}

ULONG STDMETHODCALLTYPE SimCard::AddRef() { return registers()->AddRef(); }

ULONG STDMETHODCALLTYPE SimCard::Release() { return registers()->Release(); }

HRESULT STDMETHODCALLTYPE SimCard::Reserved() { return registers()->Reserved(); }

HRESULT STDMETHODCALLTYPE SimCard::ReadRegister(uint32_t offset, uint32_t* value) {
  const HRESULT result = registers()->ReadRegister(offset, value);
  if (result == S_OK && observer_) observer_(RegisterAccess{false, offset, *value});
  return result;
}

HRESULT STDMETHODCALLTYPE SimCard::WriteRegister(uint32_t offset, uint32_t value) {
  const HRESULT result = registers()->WriteRegister(offset, value);
  if (result == S_OK && observer_) observer_(RegisterAccess{true, offset, value});
  return result;
}

}  // namespace testbed
}  // namespace kolvane
