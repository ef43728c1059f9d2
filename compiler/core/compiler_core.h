// The compiler core: its records, state and memory, error reports, tokeniser, scopes and
// identifiers, types, values, registers, data, instructions and the statements' operands,
// casts, type parsing and struct and enum declarations, which the parser, the bytecode
// generator and the code generator build on.
// Each concern has its own header; this one includes them all.
#pragma once

#include "compiler/core/core_records.h"
#include "compiler/core/compiler_state.h"
#include "compiler/core/compile_errors.h"
#include "compiler/core/tokeniser.h"
#include "compiler/core/scopes.h"
#include "compiler/core/types.h"
#include "compiler/core/values.h"
#include "compiler/core/registers.h"
#include "compiler/core/data_sections.h"
#include "compiler/core/instructions.h"
#include "compiler/core/statement_records.h"
#include "compiler/core/casts.h"
#include "compiler/core/type_parsing.h"
#include "compiler/core/struct_declarations.h"
#include "compiler/core/bytecode_kinds.h"
#include "compiler/core/intermediate_operands.h"
#include "compiler/core/foreign_routine_table.h"
#include "compiler/core/layer_sources.h"
#include "compiler/core/parser_routines.h"
