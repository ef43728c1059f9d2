// The routine tests run with the foundation's memory, the custom layer record, the tab list
// and the command queue set up.
#include "routines_test_support.h"

static ::testing::Environment* const routines_environment =
    ::testing::AddGlobalTestEnvironment(new Routines_Test_Environment);
