// The table of foreign routines, written once from the routine list. The hashes are filled
// at start-up rather than written here, so a name changed in the list cannot keep a stale
// hash.
#include "compiler/core/foreign_routine_table.h"
#include "foundation/meow_hash.h"

Foreign_Routine foreign_routines[FOREIGN_ROUTINE_COUNT] = {
#define X(constant, id, name) {STR(name), 0, id, {}},
    FOREIGN_ROUTINE_LIST(X)
#undef X
};

#define X(constant, id, name) +1
static_assert(0 FOREIGN_ROUTINE_LIST(X) == FOREIGN_ROUTINE_COUNT);
#undef X

void setup_foreign_routines_table() {
    for (u32 i = 0; i < FOREIGN_ROUTINE_COUNT; i++) {
        Foreign_Routine* row = &foreign_routines[i];
        row->hash = MeowHash((u64)row->name.count, row->name.data).low;
    }
}
