// Paths beside the installation directory, shared by the packer and the updater.

#include "updater/updater.h"

char* tmp_path_in_directory(String directory, String name) {
    if (directory.count == 0) return (char*)string_concat2("%", name).data;
    return (char*)string_concat2("%/%", directory, name).data;
}
