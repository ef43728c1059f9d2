// Paths beside the installation directory, shared by the packer and the updater.

#include "updater/updater.h"

char* tmp_path_in_directory(String directory, String name) {
    if (directory.count == 0) return to_tmp_c_string(name);
    return to_tmp_c_string(string_concat2("%/%", directory, name));
}
