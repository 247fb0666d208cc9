// The test bed's counted host object, which kolvane-host's key sink, the
// benchmark's and the tests' doubles all are.
#include "testbed/counted_object.h"

#include "gtest/gtest.h"

namespace kolvane {
namespace {

class Registers final : public testbed::CountedObject<IDeviceRegisters> {
 public:
  Registers() : CountedObject(&IID_IDeviceRegisters) {}
  HRESULT STDMETHODCALLTYPE Reserved() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE ReadRegister(uint32_t, uint32_t*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE WriteRegister(uint32_t, uint32_t) override { return S_OK; }
};

class Sink final : public testbed::CountedObject<IRemoteKeySink> {
 public:
  Sink() : CountedObject(nullptr) {}
  HRESULT STDMETHODCALLTYPE OnKey(const char*, const char*) override { return S_OK; }
};

TEST(CountedObject, AnswersIUnknownAndItsOwnInterfaceOnlyAndCountsEachAnswer) {
  Registers device;
  void* object = nullptr;
  EXPECT_EQ(device.QueryInterface(IID_IDeviceRegisters, &object), S_OK);
  EXPECT_EQ(object, static_cast<IDeviceRegisters*>(&device));
  EXPECT_EQ(static_cast<IUnknown*>(&device)->QueryInterface(IID_IUnknown, &object), S_OK);
  EXPECT_EQ(device.references(), 2);
  object = &device;
  EXPECT_EQ(device.QueryInterface(IID_IRemoteModule, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(device.QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  device.Release();
  device.Release();
  EXPECT_EQ(device.references(), 0);
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
