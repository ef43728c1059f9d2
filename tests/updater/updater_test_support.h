// What the updater tests share: the foundation set up once for the whole run, and a
// scratch directory per test.
#pragma once

#include <string>

#include "updater/updater.h"

std::string make_scratch_directory(const char* prefix);
// A fresh directory under the system's temporary directory.

void remove_scratch_directory(const std::string& path);
