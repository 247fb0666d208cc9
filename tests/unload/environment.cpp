#include "tests/support/scratch_directory.h"

// The module logs to the current directory: keep it in a scratch one.
static ::testing::Environment* const scratch = ::testing::AddGlobalTestEnvironment(new kolvane::test::ScratchDirectory);
