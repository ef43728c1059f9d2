// Stands in for the compile pipeline until the compiler is linked into the editor: the
// layer cannot be compiled, which is reported like any failed compile. Weak, so the
// pipeline's own definition takes its place.
#include "runtime/layer_loader.h"

__attribute__((weak)) b8 compile_from_file(u8* path, u64 length, Version_Info* version) {
    compile_errors.count = 0;
    print_error("The custom layer cannot be compiled: this build of the editor has no compiler.");
    return false;
}
