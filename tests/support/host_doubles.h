// Host-side doubles for driving the module: a GoogleMock key sink and a host
// object that refuses register access, counted by the test bed's
// CountedObject, so a test can check that every reference came back.
#ifndef KOLVANE_TESTS_SUPPORT_HOST_DOUBLES_H
#define KOLVANE_TESTS_SUPPORT_HOST_DOUBLES_H

#include "gmock/gmock.h"
#include "kolvane/kolvane.h"
#include "testbed/counted_object.h"
#include "testbed/sim_card.h"

namespace kolvane {
namespace test {

using testbed::CountedObject;

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
inline int HeldReferences(const testbed::SimCard& device) { return static_cast<int>(device.outstandingReferences()); }
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
