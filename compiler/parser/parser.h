// The parser and semantic analysis of the extension language: loading the sources of a
// compile, the preparse of the user's global scope, the statement driver that turns
// blocks into intermediate instructions, expressions, declarations and simple statements,
// and the compile pipeline around them. Each concern has its own header; this one includes
// them all.
#pragma once

#include "compiler/core/compiler_core.h"
#include "compiler/parser/source_files.h"
#include "compiler/parser/global_preparse.h"
#include "compiler/parser/statement_driver.h"
#include "compiler/parser/expressions.h"
#include "compiler/parser/sub_programs.h"
#include "compiler/parser/conditions.h"
#include "compiler/parser/control_statements.h"
#include "compiler/parser/front_end.h"
