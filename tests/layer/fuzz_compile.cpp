// libFuzzer target of a whole compile: each input is the user's custom.8, compiled after
// the shipped inject.8 and api.8 (with syntax.8 and themes_latest.8 beside them for the
// sources that load them) through bytecode and machine code to the written image. Holds:
// no crash, hang or leak in the compiler; a compile that succeeds wrote an image that the
// loader's check accepts as it stands, and that rebases inside its own octets.
#include "fuzz_compile_support.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    set_up_compiles();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string image = compile_source(data, size);
    if (image.empty()) return 0;
    const char* reason = check_layer_image((u8*)image.data(), image.size());
    if (reason) fprintf(stderr, "The written image was refused: %s\n", reason);
    CHECK(!reason);
    rebase_checked_image((const u8*)image.data(), image.size(), true);
    return 0;
}
