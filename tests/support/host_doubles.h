// Host-side doubles for driving the module: a GoogleMock key sink and a host
// object that refuses register access. Reference counts are atomic and never
// free the double, so a test can check that every reference came back.
#ifndef KOLVANE_TESTS_SUPPORT_HOST_DOUBLES_H
#define KOLVANE_TESTS_SUPPORT_HOST_DOUBLES_H

#include <string.h>

#include <atomic>

#include "gmock/gmock.h"
#include "kolvane/kolvane.h"
#include "testbed/simulated_device.h"

namespace kolvane {
namespace test {

// IUnknown for a double that lives on the test's stack: counts references,
// answers IID_IUnknown and one interface of its own.
template <typename Interface>
class CountedObject : public Interface {
 public:
  explicit CountedObject(const IID* own) : own_(own) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || (own_ != nullptr && IsEqualIID(iid, *own_))) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }

  // References the module holds (AddRef minus Release).
  int references() const { return static_cast<int>(references_.load()); }

 private:
  const IID* own_;
  std::atomic<ULONG> references_{0};
};

class MockKeySink : public CountedObject<IRemoteKeySink> {
 public:
  MockKeySink() : CountedObject(nullptr) {}
  MOCK_METHOD(HRESULT, OnKey, (const char* name, const char* label), (override, Calltype(STDMETHODCALLTYPE)));
};

// A host object without register access.
class RefusingHost : public CountedObject<IUnknown> {
 public:
  RefusingHost() : CountedObject(nullptr) {}
};

// References the module still holds on a host object or double.
inline int HeldReferences(const testbed::SimulatedDevice& device) {
  return static_cast<int>(device.outstandingReferences());
}
template <typename Interface>
int HeldReferences(const CountedObject<Interface>& object) {
  return object.references();
}

// EXPECT_RELEASED(a, b, ...): the module has given back every reference it
// took on each object. A failure is reported at the caller's line, naming
// the object by its place in the list and what it still holds.
#define EXPECT_RELEASED(...) ::kolvane::test::ExpectReleased(__FILE__, __LINE__, __VA_ARGS__)

template <typename... Objects>
void ExpectReleased(const char* file, int line, const Objects&... objects) {
  int position = 0;
  const auto check = [&](const auto& object) {
    ++position;
    const int held = HeldReferences(object);
    if (held != 0)
      ADD_FAILURE_AT(file, line) << "object " << position << " of the list still holds " << held << " reference(s)";
  };
  (check(objects), ...);
}

}  // namespace test
}  // namespace kolvane

#endif  // KOLVANE_TESTS_SUPPORT_HOST_DOUBLES_H
