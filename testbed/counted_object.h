// IUnknown for a host-side object that its owner keeps (on the stack or as a
// member): the count never frees it, it only tells whether the module gave
// back every reference it took. Answers IID_IUnknown and one interface of its
// own. The count is atomic, as a real host's is: the module's poll thread
// takes and gives back references too.
#ifndef KOLVANE_TESTBED_COUNTED_OBJECT_H
#define KOLVANE_TESTBED_COUNTED_OBJECT_H

#include <atomic>

#include "kolvane/kolvane.h"

namespace kolvane {
namespace testbed {

template <typename Interface>
class CountedObject : public Interface {
 public:
  // `own`: the identifier of Interface that QueryInterface answers, or null
  // for IID_IUnknown alone.
  explicit CountedObject(const IID* own) : own_(own) {}
  CountedObject(const CountedObject&) = delete;
  CountedObject& operator=(const CountedObject&) = delete;

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

  // References held by others (AddRef minus Release): 0 once all came back,
  // negative after a Release too many.
  int references() const { return static_cast<int>(references_.load()); }

 private:
  const IID* const own_;
  std::atomic<ULONG> references_{0};
};

}  // namespace testbed
}  // namespace kolvane

#endif  // KOLVANE_TESTBED_COUNTED_OBJECT_H
