// The module as a host sees it: loaded once per test process from beside the
// test binary, each test creating its own objects through the factory.
#ifndef KOLVANE_TESTS_MODULE_MODULE_FIXTURE_H
#define KOLVANE_TESTS_MODULE_MODULE_FIXTURE_H

#include "gtest/gtest.h"
#include "kolvane/kolvane.h"
#include "testbed/module_loader.h"
#include "tests/support/scratch_directory.h"

namespace kolvane {
namespace test {

class LoadedModuleEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(module_.Load(testbed::ModulePathBesideExecutable())) << module_.error();
    factory_ = module_.factory();
  }
  static GetInterfacePtrFn factory() { return factory_; }

 private:
  testbed::LoadedModule module_;
  static inline GetInterfacePtrFn factory_ = nullptr;
};

// Owns one reference to a new module object; the test may take more.
class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(LoadedModuleEnvironment::factory(), nullptr);
    module_ = LoadedModuleEnvironment::factory()();
    ASSERT_NE(module_, nullptr);
  }
  void TearDown() override {
    if (module_ != nullptr) {
      EXPECT_EQ(module_->Release(), 0u);
    }
  }
  // Drops the fixture's reference; returns what Release returned.
  ULONG ReleaseModule() {
    const ULONG count = module_->Release();
    module_ = nullptr;
    return count;
  }
  static IRemoteModule* NewModule() { return LoadedModuleEnvironment::factory()(); }

  IRemoteModule* module_ = nullptr;
};

}  // namespace test
}  // namespace kolvane

#endif  // KOLVANE_TESTS_MODULE_MODULE_FIXTURE_H
