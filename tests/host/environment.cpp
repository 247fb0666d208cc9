#include "tests/support/scratch_directory.h"

// Sessions run the module, which writes its log into the current directory.
static ::testing::Environment* const scratch = ::testing::AddGlobalTestEnvironment(new kolvane::test::ScratchDirectory);
