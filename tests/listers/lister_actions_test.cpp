#include "listers_test_helpers.h"
