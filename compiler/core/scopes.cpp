// Scopes and identifiers. Lookup keeps the language's order (variables, then constants,
// then parameters, scope by scope outward) but does not walk long lists: once a list
// holds more than a few names, its identifiers are also entered in the state's name index.
#include <assert.h>
#include <string.h>

#include "compiler/core/compiler_core.h"
#include "foundation/meow_hash.h"

// Lists this short are searched by walking them; longer ones through the index.
#define LINEAR_LOOKUP_LIMIT 8

//~ Making scopes

Scope* _add_a_scope(Scope* parent, u32 flags, Trace opening) {
    Scope* scope = (Scope*)bucket_array_append(&global_compiler_state.all_scopes);
    if (!scope) {
        report_out_of_compiler_memory("scopes");
        return 0;
    }
    scope->parent = parent;
    scope->flags = flags;
    scope->file_index = opening.file_index;
    scope->line = opening.line;
    init_dynamic_array(&scope->local_registers, sizeof(Register));
    init_bucket_array(&scope->variables, &identifiers_pool);
    init_bucket_array(&scope->constants, &identifiers_pool);
    init_bucket_array(&scope->parameters, &identifiers_pool);
    init_bucket_array(&scope->instructions, &instructions_pool);
    init_dynamic_array(&scope->deferred_blocks, DEFERRED_BLOCK_SIZE);
    init_dynamic_array(&scope->loop_registers, sizeof(Register_Id));
    init_dynamic_array(&scope->inline_entries, INLINE_ENTRY_SIZE);
    if (flags & SCOPE_INLINED) {
        init_bucket_array(&scope->inlined_return_values, &inlined_return_values_pool);
        scope->inline_root = scope;
    }
    if (!parent) return scope;

    // Entry blocks and sub-program bodies start afresh; every other block belongs to the
    // sub-program and the inlined body it sits in.
    if (!(flags & (SCOPE_ENTRY_BLOCK | SCOPE_SUB_PROGRAM_BODY))) {
        if (parent->flags & SCOPE_IN_SUB_PROGRAM) {
            scope->flags |= SCOPE_IN_SUB_PROGRAM;
            scope->sub_program = parent->sub_program;
            scope->sub_program_context = parent->sub_program_context;
        }
        if (!(flags & SCOPE_INLINED) && (parent->flags & SCOPE_INLINED)) {
            scope->flags |= SCOPE_INLINED;
            scope->inline_root = parent->inline_root;
            scope->call_site_scope = parent->call_site_scope;
            scope->inline_call_trace = parent->inline_call_trace;
        }
    }
    scope->flags |= parent->flags & SCOPE_SWITCH_CASE;
    return scope;
}

// Called by the reset before the scope pool is reused: the arrays of the old scopes and of
// their switch instructions hold memory of the general-purpose allocator, and the index
// points into the old scopes. The switches are listed as they are made, so no instruction
// is walked here.
void release_scopes() {
    Compiler_State* state = &global_compiler_state;
    for (Scope* scope = (Scope*)state->all_scopes.first_element; scope; scope = scope->next) {
        dynamic_array_free(&scope->local_registers);
        dynamic_array_free(&scope->inline_entries);
        dynamic_array_free(&scope->deferred_blocks);
        dynamic_array_free(&scope->loop_registers);
    }
    Instruction** switches = (Instruction**)state->switch_instructions.data;
    for (u32 i = 0; i < state->switch_instructions.count; i++) {
        dynamic_array_free(&get_instruction_switch(switches[i])->case_values);
        dynamic_array_free(&get_instruction_switch(switches[i])->case_scopes);
    }
    state->switch_instructions.count = 0;
    clear_hash_index(&state->identifier_index);
}

//~ The name index

static u64 hash_name(u8* name, u64 length) { return MeowHash(length, name).low; }

static u64 index_key(Scope* scope, u64 list, u64 hash) {
    u64 h = hash ^ ((u64)scope * 0x9E3779B97F4A7C15ull) ^ (list << 59);
    return make_hash_index_key(h ^ (h >> 31));
}

static b8 names_equal(Identifier* identifier, u8* name, u64 length) {
    return (u64)identifier->name.count == length && memcmp(identifier->name.data, name, length) == 0;
}

static Identifier* find_in_index(Scope* scope, u64 list, u8* name, u64 length, u64 hash) {
    Hash_Index* index = &global_compiler_state.identifier_index;
    if (!index->capacity) return 0;
    u64 key = index_key(scope, list, hash);
    u64 mask = index->capacity - 1;
    for (u64 slot = key & mask;; slot = (slot + 1) & mask) {
        Identifier_Index_Entry* entry = (Identifier_Index_Entry*)get_hash_index_entry(index, slot);
        if (!entry->key) return 0;
        if (entry->key == key && entry->scope == scope && entry->list == list &&
            names_equal(entry->identifier, name, length)) {
            return entry->identifier;
        }
    }
}

// Enters the identifier unless its list already has one of that name: lookup finds the
// first in list order.
static b8 add_to_index(Scope* scope, u64 list, Identifier* identifier) {
    Hash_Index* index = &global_compiler_state.identifier_index;
    u64 hash = hash_name(identifier->name.data, (u64)identifier->name.count);
    if (find_in_index(scope, list, identifier->name.data, (u64)identifier->name.count, hash)) return true;
    if (!hash_index_make_room(index)) return false;
    Identifier_Index_Entry* entry = (Identifier_Index_Entry*)hash_index_place(index, index_key(scope, list, hash));
    entry->scope = scope;
    entry->identifier = identifier;
    entry->list = list;
    return true;
}

//~ Lookup

static Bucket_Array* get_list(Scope* scope, Identifier_Kind kind) {
    switch (kind) {
        case IDENTIFIER_KIND_CONSTANT: return &scope->constants;
        case IDENTIFIER_KIND_VARIABLE: return &scope->variables;
        case IDENTIFIER_KIND_POLYMORPHIC_PARAMETER:
        case IDENTIFIER_KIND_PARAMETER: return &scope->parameters;
    }
    assert(!"unknown identifier kind");
    return &scope->constants;
}

struct Name_Key {
    u8* name;
    u64 length;
    u64 hash;
    b8 hashed;
};

static Identifier* find_in_list(Scope* scope, Identifier_Kind list_kind, Name_Key* key) {
    Bucket_Array* list = get_list(scope, list_kind);
    if (list->count <= LINEAR_LOOKUP_LIMIT) {
        for (Identifier* identifier = (Identifier*)list->first_element; identifier; identifier = identifier->next) {
            if (names_equal(identifier, key->name, key->length)) return identifier;
        }
        return 0;
    }
    if (!key->hashed) {
        key->hash = hash_name(key->name, key->length);
        key->hashed = true;
    }
    return find_in_index(scope, list_kind, key->name, key->length, key->hash);
}

Identifier* get_identifier_in_list(Scope* scope, Identifier_Kind list, u8* name, u64 length) {
    if (!length) return 0;
    Name_Key key = {name, length, 0, false};
    if (list == IDENTIFIER_KIND_POLYMORPHIC_PARAMETER) list = IDENTIFIER_KIND_PARAMETER;
    return find_in_list(scope, list, &key);
}

Identifier* get_identifier(Scope* scope, u8* name, u64 length) {
    if (!length) return 0;
    Name_Key key = {name, length, 0, false};
    b8 past_sub_program_body = false;
    for (Scope* s = scope; s; s = s->parent) {
        // A nested sub-program cannot reach the variables of the one around it; globals stay visible.
        if (!past_sub_program_body || !s->parent) {
            Identifier* variable = find_in_list(s, IDENTIFIER_KIND_VARIABLE, &key);
            if (variable) {
                __atomic_fetch_add(&variable->use_count, 1, __ATOMIC_RELAXED);
                return variable;
            }
        }
        Identifier* found = find_in_list(s, IDENTIFIER_KIND_CONSTANT, &key);
        if (!found) found = find_in_list(s, IDENTIFIER_KIND_PARAMETER, &key);
        if (found) return found;
        if (s->flags & SCOPE_SUB_PROGRAM_BODY) past_sub_program_body = true;
    }
    return 0;
}

//~ Adding identifiers

Identifier* add_identifier(Scope* scope, u8* name, u64 length, Identifier_Kind kind, Trace declaration) {
    Bucket_Array* list = get_list(scope, kind);
    Identifier* identifier = (Identifier*)bucket_array_append(list);
    if (!identifier) {
        report_out_of_compiler_memory("identifiers");
        return 0;
    }
    identifier->name = String{name, (s64)length};
    identifier->declaration = declaration;
    identifier->scope = scope;
    identifier->register_id = INVALID_REGISTER_ID;

    // A list that outgrows a walk is indexed whole, then name by name.
    u64 list_kind = kind == IDENTIFIER_KIND_POLYMORPHIC_PARAMETER ? IDENTIFIER_KIND_PARAMETER : kind;
    if (list->count == LINEAR_LOOKUP_LIMIT + 1) {
        for (Identifier* each = (Identifier*)list->first_element; each; each = each->next) {
            if (!add_to_index(scope, list_kind, each)) {
                report_out_of_compiler_memory("identifiers");
                return 0;
            }
        }
    } else if (list->count > LINEAR_LOOKUP_LIMIT + 1 && !add_to_index(scope, list_kind, identifier)) {
        report_out_of_compiler_memory("identifiers");
        return 0;
    }
    return identifier;
}

Identifier* get_or_add_identifier(Scope* scope, Token* name, Identifier_Kind kind) {
    Identifier* found = get_identifier(scope, name->text, name->length);
    if (found) return found;
    return add_identifier(scope, name->text, name->length, kind, name->location);
}

Identifier* add_identifier_with_error2(Scope* scope, String name, Identifier_Kind kind, Trace declaration) {
    Identifier* found = get_identifier(scope, name.data, (u64)name.count);
    if (found) {
        print_error_on_trace(declaration, "'%.*s' is already declared.\n", (int)name.count, (char*)name.data);
        print_error_on_trace(found->declaration, "This is the previous declaration.");
        return 0;
    }
    return add_identifier(scope, name.data, (u64)name.count, kind, declaration);
}

Identifier* add_identifier_with_error(Scope* scope, Token* name, Identifier_Kind kind) {
    return add_identifier_with_error2(scope, String{name->text, (s64)name->length}, kind, name->location);
}
