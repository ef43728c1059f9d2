// What must hold of every program's linked bytecode, checked from the records and the
// registers alone: each body's jumps, calls and frame, and that registers whose values are
// needed at once never share a machine register or stack octets.
#pragma once

#include <string>
#include <vector>

#include "compiler/bytecode/bytecode.h"

// The faults found in the state's bytecode after make_bytecode_from_state; empty when it
// holds everything. Each names the record or register it is about.
std::vector<std::string> check_program_bytecode();
