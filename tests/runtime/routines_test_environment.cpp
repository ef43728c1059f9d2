// The routine tests run with the foundation's memory, the custom layer record, the tab list
// and the command queue set up.
#include "routine_blocks.h"

static ::testing::Environment* const routines_environment =
    ::testing::AddGlobalTestEnvironment(new Routines_Test_Environment);
