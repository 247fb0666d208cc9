#include "tests/module/module_fixture.h"

// Order matters: the scratch directory first, then the module.
static ::testing::Environment* const scratch = ::testing::AddGlobalTestEnvironment(new kolvane::test::ScratchDirectory);
static ::testing::Environment* const loaded =
    ::testing::AddGlobalTestEnvironment(new kolvane::test::LoadedModuleEnvironment);
