// Hand-made programs of intermediate instructions, laid out as the statement builders and
// the call emitter lay them out.
#include "bytecode_test_builder.h"

#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <ctype.h>
#include <sstream>

#include "foundation/meow_hash.h"

// Arrays the instructions own: the compile never frees them, so the tests do before the
// next reset reuses the instructions' memory.
static std::vector<Dynamic_Array*> owned_arrays;

static Source_File* test_file;

bool reset_test_program(const std::string& source) {
    for (Dynamic_Array* a : owned_arrays) dynamic_array_free(a);
    owned_arrays.clear();
    tmp_reset();
    if (!reset_with_basic_types()) return false;
    test_file = add_test_source(source, "test.8", false);
    return true;
}

Trace line_trace(u32 line) {
    Trace t = {};
    t.line = line;
    t.file_index = 0;
    String text = debugger_file_get_line(test_file, line);
    while (text.count && (text.data[0] == '\n' || text.data[0] == '\r')) text.data++, text.count--;
    t.line_start = text.data;
    t.text_start = text.data;
    t.length = (u64)text.count;
    return t;
}

Identifier* type_of(Basic_Type_Slot slot) { return global_compiler_state.basic_types[slot]; }

static Dynamic_Array* own(Dynamic_Array* a, u32 element_size) {
    init_dynamic_array(a, element_size);
    owned_arrays.push_back(a);
    return a;
}

Instruction* add_instruction(Scope* scope, u8 kind) { return allocate_an_instruction(scope, kind); }

void start_body(Scope* body, u32 line) { append_scope_instruction(body, INSTRUCTION_SCOPE_START, body, line_trace(line)); }

void end_body(Scope* body, u32 line) { append_scope_instruction(body, INSTRUCTION_END, body, line_trace(line)); }

Scope* add_test_entry_block(Scope** slot, u32 line) {
    *slot = _add_a_scope(global_compiler_state.global_scope, ENTRY_BLOCK_SCOPE_FLAGS, line_trace(line));
    return *slot;
}

static Sub_Program* add_sub_program_identifier(const char* name, u32 line) {
    Identifier* s = add_identifier(global_compiler_state.global_scope, (u8*)name, strlen(name), IDENTIFIER_KIND_CONSTANT,
                                   line_trace(line));
    s->flags = IDENTIFIER_DECLARED | IDENTIFIER_CONSTANT | TYPE_SUB_PROGRAM;
    s->type = s;
    s->self = s;
    s->leaf_type = s;
    s->size = 8;
    s->alignment = 8;
    return s;
}

static void list_sub_program(Dynamic_Array* list, Sub_Program* s, u64 flag) {
    s->sub_program_index = list->count;
    *(Sub_Program**)dynamic_array_add_fast(list) = s;
    s->flags |= flag;
}

Sub_Program* add_test_sub_program(const char* name, u32 line, Identifier* return_type) {
    Sub_Program* s = add_sub_program_identifier(name, line);
    s->element_type = return_type;
    s->body_scope = _add_a_scope(global_compiler_state.global_scope, BASIC_SUB_PROGRAM_SCOPE_FLAGS, line_trace(line));
    s->body_scope->sub_program = s;
    list_sub_program(&global_compiler_state.sub_programs, s, IDENTIFIER_IN_SUB_PROGRAM_LIST);
    return s;
}

Sub_Program* add_test_foreign_sub_program(const char* name, u32 line) {
    Sub_Program* s = add_sub_program_identifier(name, line);
    s->flags |= IDENTIFIER_FOREIGN;
    s->import_hash = MeowHash(strlen(name), (void*)name).low;
    list_sub_program(&global_compiler_state.foreign_sub_programs, s, IDENTIFIER_IN_FOREIGN_LIST);
    return s;
}

Scope* add_nested_scope(Scope* scope, u32 flags, u32 line) {
    Scope* nested = _add_a_scope(scope, flags, line_trace(line));
    append_scope_instruction(scope, INSTRUCTION_NESTED_SCOPE, nested, line_trace(line));
    return nested;
}

//~ Values

Value variable(Scope* scope, Identifier* type, u32 line) {
    Value v = {};
    make_dynamic_value_from_register(&v, allocate_a_register(scope, type->size, type, type->alignment), type, line_trace(line));
    return v;
}

Value through_address(Value value) {
    value.kind |= VALUE_INDIRECT;
    return value;
}

Value at_line(Value value, u32 line) {
    value.source = line_trace(line);
    return value;
}

Value int_constant(u64 value, Identifier* type, u32 line) {
    Value v = {};
    make_constant_value_from_integer(&v, value, type, line_trace(line));
    return v;
}

Value real_constant(f64 value, u32 line) {
    Value v = {};
    make_constant_value_from_float(&v, value, type_of(BASIC_TYPE_F64), line_trace(line));
    return v;
}

Value string_constant(const char* text, u32 line) {
    Value v = {};
    make_constant_value_from_string(&v, string_from_c(text), line_trace(line));
    return v;
}

//~ Instructions

void add_copy(Scope* scope, u8 kind, Value destination, Value source) {
    Instruction* i = add_instruction(scope, kind);
    i->copy.destination = destination;
    i->copy.source = source;
}

void add_arithmetic(Scope* scope, u8 kind, u64 operator_bit, Value destination, Value source) {
    Instruction* i = add_instruction(scope, kind);
    i->arithmetic.operator_bit = operator_bit;
    i->arithmetic.destination = destination;
    i->arithmetic.source = source;
}

void add_address(Scope* scope, u8 kind, Value destination, Value base, Value index, u8 byte_index) {
    instruction_memory_dereference(scope, byte_index, kind, &destination, &base, &index);
}

void add_cast(Scope* scope, u8 cast_kind, Value destination, Value source, u8 unsigned_source) {
    Instruction* i = add_instruction(scope, INSTRUCTION_CAST);
    i->cast.cast_kind = cast_kind;
    i->cast.destination = destination;
    i->cast.source = source;
    i->cast.unsigned_source = unsigned_source;
}

void add_compare_result(Scope* scope, u64 operator_bit, Value destination, u8 unsigned_compare, u8 float_compare) {
    Instruction* i = add_instruction(scope, INSTRUCTION_COMPARE_RESULT);
    i->compare_result.destination = destination;
    i->compare_result.operator_bit = operator_bit;
    i->compare_result.unsigned_compare = unsigned_compare;
    i->compare_result.float_compare = float_compare;
}

void add_debug_break(Scope* scope, u32 line) { append_scope_instruction(scope, INSTRUCTION_DEBUG_BREAK, 0, line_trace(line)); }

Bucket_Array make_condition(Scope* parent, const std::vector<Test_Condition_Part>& parts, u32 line) {
    Bucket_Array list;
    init_bucket_array(&list, &condition_parts_pool);
    for (const Test_Condition_Part& t : parts) {
        Condition_Part* p = (Condition_Part*)bucket_array_append(&list);
        p->level = t.level;
        p->bracket = t.bracket;
        p->ignored = t.ignored;
        if (t.operator_bit) {
            p->part_kind = CONDITION_PART_OPERATOR;
            p->operator_bit = t.operator_bit;
            continue;
        }
        p->part_kind = CONDITION_PART_VALUE;
        p->scope = _add_a_scope(parent, 0, line_trace(line));
        Identifier* type = t.left.dynamic.type;
        Value left = at_line(t.left, line);
        add_copy(p->scope, INSTRUCTION_COMPARE_CONSTANT, left, int_constant(t.constant, type, line));
        p->value = left;
        p->jump_kind = t.jump_kind;
    }
    return list;
}

Instruction_While* add_while(Scope* scope, u32 line) {
    Instruction_While* w = get_instruction_while(add_instruction(scope, INSTRUCTION_WHILE));
    w->location = line_trace(line);
    init_bucket_array(&w->conditions, &condition_parts_pool);
    w->loop_scope = _add_a_scope(scope, SCOPE_LOOP, line_trace(line));
    return w;
}

Scope* add_for(Scope* scope, Identifier* index, Value limit, u64 comparison, u32 line) {
    Instruction_For* f = get_instruction_for(add_instruction(scope, INSTRUCTION_FOR));
    f->location = line_trace(line);
    f->step = int_constant(1, index->type, line);
    f->comparison = comparison;
    f->limit = limit;
    f->index = index;
    f->loop_type = index->type;
    f->loop_scope = _add_a_scope(scope, SCOPE_LOOP, line_trace(line));
    return f->loop_scope;
}

Identifier* add_variable(Scope* scope, const char* name, Identifier* type, u32 line) {
    Identifier* v = add_identifier(scope, (u8*)name, strlen(name), IDENTIFIER_KIND_VARIABLE, line_trace(line));
    v->type = type;
    v->register_id = allocate_a_register(scope, type->size, type, type->alignment);
    return v;
}

std::vector<Scope*> add_if_chain(Scope* scope, const std::vector<Bucket_Array>& conditions, bool with_else, u32 line) {
    Instruction_If_Chain* c = get_instruction_if_chain(add_instruction(scope, INSTRUCTION_IF_CHAIN));
    init_bucket_array(&c->links, &if_chain_parts_pool);
    std::vector<Scope*> bodies;
    for (const Bucket_Array& condition : conditions) {
        If_Chain_Part* link = (If_Chain_Part*)bucket_array_append(&c->links);
        link->closing = line_trace(line);
        link->conditions = condition;
        link->scope = _add_a_scope(scope, 0, line_trace(line));
        bodies.push_back(link->scope);
        c->link_count++;
    }
    if (with_else) {
        c->has_else = 1;
        c->else_scope = _add_a_scope(scope, 0, line_trace(line));
        bodies.push_back(c->else_scope);
    }
    return bodies;
}

std::vector<Scope*> add_switch(Scope* scope, Value value, const std::vector<Value>& cases, bool with_default, u32 line,
                               const std::vector<bool>& no_break) {
    Instruction_Switch* s = get_instruction_switch(add_instruction(scope, INSTRUCTION_SWITCH));
    s->value = value;
    own(&s->case_values, sizeof(Value));
    own(&s->case_scopes, sizeof(Scope*));
    std::vector<Scope*> bodies;
    for (size_t i = 0; i < cases.size(); i++) {
        u32 flags = SCOPE_SWITCH_CASE | (i < no_break.size() && no_break[i] ? SCOPE_SWITCH_FALLS_THROUGH : 0);
        Scope* body = _add_a_scope(scope, flags, line_trace(line));
        *(Value*)dynamic_array_add_fast(&s->case_values) = cases[i];
        *(Scope**)dynamic_array_add_fast(&s->case_scopes) = body;
        bodies.push_back(body);
    }
    if (with_default) {
        s->has_default = 1;
        s->default_scope = _add_a_scope(scope, SCOPE_SWITCH_CASE, line_trace(line));
        bodies.push_back(s->default_scope);
    }
    return bodies;
}

void add_loop_jump(Scope* scope, u8 mode, u8 level, u32 line) {
    Instruction_Loop_Jump* j = get_instruction_loop_jump(add_instruction(scope, INSTRUCTION_LOOP_JUMP));
    j->location = line_trace(line);
    j->mode = mode;
    j->level = level;
}

Instruction_Call* add_call(Scope* scope, Sub_Program* callee, u32 line, Register_Id argument_block, Register_Id result,
                           u8 flags) {
    Instruction_Call* c = get_instruction_call(add_instruction(scope, INSTRUCTION_CALL));
    c->calling_scope = scope;
    c->callee = callee;
    c->callee_address = INVALID_REGISTER_ID;
    c->argument_block = argument_block;
    c->result = result;
    own(&c->arguments, sizeof(Value));
    c->location = line_trace(line);
    c->flags = flags;
    return c;
}

Scope* add_inline_expansion(Scope* scope, Sub_Program* callee, Value result, u32 line) {
    Scope* root = _add_a_scope(global_compiler_state.global_scope, INLINED_SUB_PROGRAM_SCOPE_FLAGS, line_trace(line));
    root->sub_program = callee;
    root->call_site_scope = scope;
    root->inline_call_trace = line_trace(line);
    root->inline_result = result;
    append_scope_instruction(scope, INSTRUCTION_NESTED_SCOPE, root, line_trace(line));
    return root;
}

void add_inline_return(Scope* scope, Scope* root, Value value, u32 line, bool in_root) {
    if (value.kind) {
        Inlined_Return_Value* r = (Inlined_Return_Value*)bucket_array_append(&root->inlined_return_values);
        r->value = value;
    }
    Instruction_Return_Jump* j = get_instruction_return_jump(add_instruction(scope, INSTRUCTION_RETURN_JUMP));
    j->root = root;
    j->value = value;
    j->location = line_trace(line);
    j->no_jump = in_root;
    root->inline_return_count++;
}

bool make_test_bytecode(Test_Entries* entries) {
    Test_Entries local;
    Test_Entries* e = entries ? entries : &local;
    return make_bytecode_from_state(&e->syntax, &e->events, &e->on_load, &e->flags);
}

std::vector<u8> record_kinds(u32 first, u32 end) {
    std::vector<u8> kinds;
    for (u32 i = first; i < record_count() && i < end; i++) kinds.push_back(record(i)->kind);
    return kinds;
}

//~ Listings

std::string number_owners(const std::string& listing) {
    // An owner is written "(0x<hex>-" at the start of a local's text.
    std::map<std::string, int> numbers;
    std::string out;
    size_t at = 0;
    for (size_t open; (open = listing.find("(0x", at)) != std::string::npos;) {
        size_t dash = open + 3;
        while (dash < listing.size() && isxdigit((unsigned char)listing[dash])) dash++;
        out.append(listing, at, open - at);
        if (dash >= listing.size() || listing[dash] != '-') {
            out.append(listing, open, dash - open);
            at = dash;
            continue;
        }
        auto found = numbers.emplace(listing.substr(open + 1, dash - open - 1), (int)numbers.size() + 1).first;
        out += "(#" + std::to_string(found->second) + "-";
        at = dash + 1;
    }
    out.append(listing, at, std::string::npos);
    return out;
}

std::string listing_text() {
    char path[] = "/tmp/quarn-listing-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return "";
    close(fd);
    std::string text;
    if (log_bc_instructions(string_from_c(path), &global_compiler_state.source_files, &global_compiler_state.bytecode)) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        text = s.str();
    }
    unlink(path);
    return number_owners(text);
}
