// Register lifetimes and their placement. While a body's bytecode is emitted, every use of
// a local register stretches its lifetime (over every loop that uses it while it lives
// outside); once the body is complete, one linear scan over the lifetimes places each
// register in a machine register or a stack slot of the body's frame.
#include "compiler/bytecode/bytecode.h"
#include "foundation/sort.h"

//~ Lifetimes

// The scope a use moves to on its way out: an inline expansion's root goes to its call
// site, a replayed deferred block to the scope that replays it, so loops are found where
// the code runs rather than where it was written.
static Scope* get_dynamic_parent(Scope* scope) {
    if ((scope->flags & SCOPE_INLINED) && scope->inline_root == scope) return scope->call_site_scope;
    if ((scope->flags & SCOPE_DEFER) && scope->defer_owner) return scope->defer_owner;
    return scope->parent;
}

static b8 ends_a_body(Scope* scope) {
    if ((scope->flags & SCOPE_INLINED) && scope->inline_root == scope) return false;
    return (scope->flags & (SCOPE_SUB_PROGRAM_BODY | SCOPE_ENTRY_BLOCK)) != 0;
}

// The outermost loop between the current scope and the owner, or null.
static Scope* get_outermost_loop(Scope* current, Scope* owner) {
    Scope* loop = 0;
    for (Scope* s = current; s && s != owner; s = get_dynamic_parent(s)) {
        if (s->flags & SCOPE_LOOP) loop = s;
        if (ends_a_body(s)) break;
    }
    return loop;
}

static void add_to_loop_list(Scope* loop, Register_Id id) {
    Register_Id* ids = (Register_Id*)loop->loop_registers.data;
    for (u32 i = 0; i < loop->loop_registers.count; i++) {
        if (ids[i].owner == id.owner && ids[i].index == id.index && ids[i].table == id.table && ids[i].kind == id.kind) {
            return;
        }
    }
    // A lost entry only shortens a lifetime the placement would still cover by the loop's
    // end index (the register's outermost loop), so memory running out here is not fatal.
    Register_Id* entry = (Register_Id*)dynamic_array_add_fast(&loop->loop_registers);
    if (entry) *entry = id;
}

void update_register_lifetime(Register_Id id, Dynamic_Array* bytecode, Scope* current, u8 loop_bookkeeping) {
    if (id.table != REGISTER_LOCAL) return;
    Register* r = get_first_non_view_register(id);
    if (!r) return;
    Scope* loop = current ? get_outermost_loop(current, id.owner) : 0;
    if (loop) {
        if (loop_bookkeeping) add_to_loop_list(loop, id);
        r->loop_scope = loop;
    }
    if (r->use_count == 0) r->first_use = bytecode->count;
    r->last_use = bytecode->count;
    r->use_count++;
}

void maybe_update_register_lifetime(Dynamic_Array* bytecode, Scope* current, u8 loop_bookkeeping, Value* value) {
    if (value->kind & VALUE_REGISTER) update_register_lifetime(value->dynamic.register_id, bytecode, current, loop_bookkeeping);
}

void close_loop_register_lifetimes(Scope* loop, Dynamic_Array* bytecode) {
    Register_Id* ids = (Register_Id*)loop->loop_registers.data;
    for (u32 i = 0; i < loop->loop_registers.count; i++) {
        Register* r = get_first_non_view_register(ids[i]);
        if (r && r->last_use < bytecode->count) r->last_use = bytecode->count;
    }
}

//~ Placement

b8 sort_allocations_by_lifetime_asc(void* a, void* b) {
    Allocation_Event* x = (Allocation_Event*)a;
    Allocation_Event* y = (Allocation_Event*)b;
    if (x->time != y->time) return x->time < y->time;
    if (x->kind != y->kind) return x->kind < y->kind;
    return x->sequence < y->sequence;
}

struct Placement_Scan {
    Dynamic_Array events;  // Allocation_Event
    Dynamic_Array gaps;    // Stack_Gap
    u16 gp_in_use;
    u16 xmm_in_use;
    u64 frame_offset;
};

static b8 add_event(Placement_Scan* scan, u32 time, Register* r, u8 kind) {
    Allocation_Event* e = (Allocation_Event*)dynamic_array_add_fast(&scan->events);
    if (!e) return false;
    *e = Allocation_Event{time, scan->events.count - 1, r, kind};
    return true;
}

// The last index at which the register must still hold its value.
static u32 get_lifetime_end(Register* r) {
    Scope* owner = r->owner;
    if (r->hints & HINT_STAY_ALIVE) {
        u32 scope_end = owner && owner->end_bytecode_index ? owner->end_bytecode_index - 1 : 0;
        return r->last_use > scope_end ? r->last_use : scope_end;
    }
    u32 end = r->last_use;
    if (r->last_call > end) end = r->last_call;
    if (r->loop_scope && r->loop_scope->end_bytecode_index > end) end = r->loop_scope->end_bytecode_index;
    return end;
}

static b8 collect_events(Placement_Scan* scan, Body_Lists* lists) {
    Scope** scopes = (Scope**)lists->scopes.data;
    for (u32 s = 0; s < lists->scopes.count; s++) {
        Dynamic_Array* table = &scopes[s]->local_registers;
        for (u32 i = 0; i < table->count; i++) {
            Register* r = (Register*)table->data + i;
            // A register no record names needs no place; at time 0 it would only crowd out
            // the body's first registers. One only passed to a call lives from that call.
            if (r->kind == REGISTER_VIEW || (r->hints & HINT_NOT_PLACED)) continue;
            if (r->use_count == 0 && r->last_call == 0) continue;
            u32 start = r->use_count ? r->first_use : r->last_call - 1;
            if (!add_event(scan, start, r, ALLOCATION_START) ||
                !add_event(scan, get_lifetime_end(r), r, ALLOCATION_END)) {
                return false;
            }
        }
    }
    u32* calls = (u32*)lists->calls.data;
    for (u32 i = 0; i < lists->calls.count; i++) {
        if (!add_event(scan, calls[i], 0, ALLOCATION_CALL)) return false;
    }
    return true;
}

// The first free register of the class's order, or 0xFF.
static u8 take_machine_register(u16* in_use, s32 lowest) {
    for (s32 n = 15; n >= lowest; n--) {
        if (!(*in_use & (1u << n))) {
            *in_use |= (u16)(1u << n);
            return (u8)n;
        }
    }
    return 0xFF;
}

// Alignments are powers of two, but a round-up that holds for any keeps a bad one harmless.
static u64 round_up(u64 value, u64 alignment) { return (value + alignment - 1) / alignment * alignment; }

// A stack slot: an aligned gap of exactly the size, else the largest aligned gap that
// holds it (cut from its front), else the frame's end.
static b8 take_stack_slot(Placement_Scan* scan, Register* r) {
    u64 alignment = r->alignment ? r->alignment : 1;
    Stack_Gap* gaps = (Stack_Gap*)scan->gaps.data;
    s64 best = -1;
    for (u32 i = 0; i < scan->gaps.count; i++) {
        if (gaps[i].start % alignment != 0 || gaps[i].size < r->size) continue;
        if (gaps[i].size == r->size) {
            r->data_offset = gaps[i].start;
            dynamic_array_remove(&scan->gaps, i);
            return true;
        }
        if (best < 0 || gaps[i].size > gaps[best].size) best = i;
    }
    if (best >= 0) {
        r->data_offset = gaps[best].start;
        gaps[best].start += r->size;
        gaps[best].size -= r->size;
        return true;
    }
    u64 offset = round_up(scan->frame_offset, alignment);
    if (offset > scan->frame_offset) {
        Stack_Gap* gap = (Stack_Gap*)dynamic_array_add_fast(&scan->gaps);
        if (!gap) return false;
        *gap = Stack_Gap{scan->frame_offset, (u32)(offset - scan->frame_offset), REGISTER_LOCAL};
    }
    r->data_offset = offset;
    scan->frame_offset = offset + r->size;
    return true;
}

static b8 start_register(Placement_Scan* scan, Scope* body, Register* r) {
    r->placed = 1;
    u8 number = 0xFF;
    if (r->hints & HINT_INTEGER) {
        number = take_machine_register(&scan->gp_in_use, 8);
        if (number != 0xFF) {
            r->machine_class = MACHINE_CLASS_INTEGER;
            body->integer_registers_used |= (u16)(1u << number);
        }
    } else if (r->hints & HINT_FLOAT) {
        // XMM0 and XMM1 are the code generator's own.
        number = take_machine_register(&scan->xmm_in_use, 2);
        if (number != 0xFF) {
            r->machine_class = MACHINE_CLASS_FLOAT;
            body->float_registers_used |= (u16)(1u << number);
        }
    }
    if (number != 0xFF) {
        r->machine_number = number;
        r->in_machine_register = 1;
        return true;
    }
    r->machine_class = 0;
    r->machine_number = 0;
    r->in_machine_register = 0;
    return take_stack_slot(scan, r);
}

static b8 end_register(Placement_Scan* scan, Register* r) {
    if (r->in_machine_register) {
        u16* in_use = r->machine_class == MACHINE_CLASS_INTEGER ? &scan->gp_in_use : &scan->xmm_in_use;
        *in_use &= (u16)~(1u << r->machine_number);
        return true;
    }
    if (r->size == 0) return true;
    Stack_Gap* gap = (Stack_Gap*)dynamic_array_add_fast(&scan->gaps);
    if (!gap) return false;
    *gap = Stack_Gap{r->data_offset, r->size, REGISTER_LOCAL};
    return true;
}

static u64 adjust_frame_size(u64 size, u8 target_os) {
    if (target_os == TARGET_OS_LINUX) return round_up(size + 8, 16) - 8;
    if (target_os == TARGET_OS_WINDOWS) return round_up(size, 16);
    return size;
}

// Where the body opens, for its report: a sub-program's opening token, else the line the
// block opens on.
static Trace get_body_opening(Scope* body) {
    Sub_Program* sub_program = (body->flags & SCOPE_SUB_PROGRAM_BODY) ? body->sub_program : 0;
    if (sub_program && sub_program->body_token) return make_trace_from_token(sub_program->body_token);
    Trace t = {};
    t.file_index = body->file_index;
    t.line = body->line;
    Dynamic_Array* files = &global_compiler_state.source_files;
    if (body->file_index < files->count) {
        String line = debugger_file_get_line((Source_File*)files->data + body->file_index, body->line);
        while (line.count && (line.data[0] == '\n' || line.data[0] == '\r')) line.data++, line.count--;
        t.line_start = line.data;
        t.text_start = line.data;
        t.length = (u64)line.count;
    }
    return t;
}

static const char* get_body_name(Scope* body) {
    Compiler_State* state = &global_compiler_state;
    if (body == state->on_load_scope) return "#on_load";
    if (body == state->events_scope) return "#events";
    if (body == state->syntax_scope) return "#syntax";
    Sub_Program* sub_program = body->sub_program;
    if (sub_program && sub_program->name.count) return to_tmp_c_string(sub_program->name);
    return "this block";
}

b8 place_body_registers(Scope* body, Body_Lists* lists, Dynamic_Array* bytecode) {
    Placement_Scan scan = {};
    init_dynamic_array(&scan.events, sizeof(Allocation_Event));
    init_dynamic_array(&scan.gaps, sizeof(Stack_Gap));
    scan.frame_offset = FRAME_RESERVED_SIZE;
    body->integer_registers_used = 0;
    body->float_registers_used = 0;

    b8 ok = collect_events(&scan, lists);
    if (ok) general_quick_sort(scan.events.data, scan.events.count, sizeof(Allocation_Event), sort_allocations_by_lifetime_asc);
    Allocation_Event* events = (Allocation_Event*)scan.events.data;
    for (u32 i = 0; ok && i < scan.events.count; i++) {
        Allocation_Event* e = &events[i];
        if (e->kind == ALLOCATION_CALL) {
            Bytecode_Instruction* call = get_bytecode_instruction(bytecode, e->time);
            call->live_gp_mask = scan.gp_in_use;
            call->live_xmm_mask = scan.xmm_in_use;
            // A sub-program keeps its callers' registers, and any of them may hold a value of
            // theirs: the editor's routine must not take one away.
            if (call->kind == BYTECODE_FOREIGN_CALL && !(body->flags & SCOPE_ENTRY_BLOCK)) {
                call->live_gp_mask = 0xFFFF;
                call->live_xmm_mask = 0xFFFF;
            }
        } else if (e->kind == ALLOCATION_START) {
            ok = start_register(&scan, body, e->register_);
        } else {
            ok = end_register(&scan, e->register_);
        }
    }
    dynamic_array_free(&scan.events);
    dynamic_array_free(&scan.gaps);
    if (!ok) {
        report_out_of_compiler_memory("register placement");
        return false;
    }

    body->stack_size = adjust_frame_size(scan.frame_offset, global_compiler_state.target_os);
    if (body->stack_size > FRAME_SIZE_LIMIT) {
        print_error_on_trace(get_body_opening(body), "'%s' needs %'llu bytes of stack, more than the %'llu allowed.",
                             get_body_name(body), (unsigned long long)body->stack_size,
                             (unsigned long long)FRAME_SIZE_LIMIT);
        return false;
    }
    return true;
}
