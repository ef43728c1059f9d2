// Layer code (the compiled custom layer, and the tests' own images) runs only where the
// processor has AVX and the system keeps its YMM state; elsewhere the editor loads no
// layer at all. A test that needs layer code to run skips on such a machine, and says why.
#pragma once

#include <gtest/gtest.h>

#include "compiler/amd64/amd64.h"

#define SKIP_UNLESS_LAYER_CODE_RUNS()                                                                \
    do {                                                                                             \
        u8 missing_ = amd64_missing_cpu_features();                                                  \
        if (missing_) {                                                                              \
            GTEST_SKIP() << "Layer code needs AVX: this processor lacks "                            \
                         << amd64_missing_cpu_features_text(missing_) << ".";                        \
        }                                                                                            \
    } while (0)
