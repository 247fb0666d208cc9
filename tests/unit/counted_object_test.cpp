// The test bed's counted host object, which the simulated card, kolvane-host's
// key sink, the benchmark's doubles and the tests' all are.
#include "testbed/counted_object.h"

#include "gtest/gtest.h"
#include "testbed/simulated_device.h"

namespace kolvane {
namespace {

class Sink final : public testbed::CountedObject<IRemoteKeySink> {
 public:
  Sink() : CountedObject(nullptr) {}
  HRESULT STDMETHODCALLTYPE OnKey(const char*, const char*) override { return S_OK; }
};

TEST(CountedObject, AnswersIUnknownAndItsOwnInterfaceOnlyAndCountsEachAnswer) {
  testbed::SimulatedDevice device;
  void* object = nullptr;
  EXPECT_EQ(device.QueryInterface(IID_IDeviceRegisters, &object), S_OK);
  EXPECT_EQ(object, static_cast<IDeviceRegisters*>(&device));
  EXPECT_EQ(device.host()->QueryInterface(IID_IUnknown, &object), S_OK);
  EXPECT_EQ(device.outstandingReferences(), 2u);
  object = &device;
  EXPECT_EQ(device.QueryInterface(IID_IRemoteModule, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(device.QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  device.Release();
  device.Release();
  EXPECT_EQ(device.outstandingReferences(), 0u);
}

TEST(CountedObject, ASinkWithoutAnIdentifierOfItsOwnAnswersIUnknownAlone) {
  Sink sink;
  void* object = nullptr;
  EXPECT_EQ(sink.QueryInterface(IID_IDeviceRegisters, &object), E_NOINTERFACE);
  EXPECT_EQ(sink.QueryInterface(IID_IUnknown, &object), S_OK);
  EXPECT_EQ(object, static_cast<IRemoteKeySink*>(&sink));
  EXPECT_EQ(sink.references(), 1);
  EXPECT_EQ(sink.Release(), 0u);
  sink.Release();
  EXPECT_EQ(sink.references(), -1) << "a Release too many shows";
}

}  // namespace
}  // namespace kolvane
