// The foundation library, linked into both programs: memory, strings, formatting,
// Unicode, sorting, the name hash, the log, version records and OS file helpers.
#pragma once

#include "foundation/types.h"
#include "foundation/memory.h"
#include "foundation/strings.h"
#include "foundation/unicode.h"
#include "foundation/sort.h"
#include "foundation/meow_hash.h"
#include "foundation/version.h"
#include "foundation/log.h"
#include "foundation/os_files.h"
