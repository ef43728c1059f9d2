#include "tests/compiler/amd64/harness.h"

#include <setjmp.h>
#include <signal.h>
#include <string.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

extern "C" void harness_enter(const void* entry, const Harness_Registers* in, Harness_Registers* out, void* stack_top);

#define HARNESS_PAGE 4096u
#define HARNESS_STACK_SIZE (256u * 1024u)
#define HARNESS_SIGNAL_STACK_SIZE (64u * 1024u)

//~ Frames

// The harness enters with RSP = 8 (mod 16), as a call from C++ does; a frame of 8 (mod 16)
// octets makes RSP 16-aligned inside.
static u32 frame_octets(u32 stack_size) { return (u32)align_up(stack_size, 16) + 8; }

Harness_Code harness_begin(u32 stack_size) {
    Harness_Code c = {};
    init_dynamic_array(&c.code, 1);
    init_dynamic_array(&c.data_relocations, sizeof(Amd64_Data_Relocation));
    c.stack_size = stack_size;
    std::vector<u8> sub_rsp = {0x48, 0x81, 0xEC, 0, 0, 0, 0};
    store_u32(&sub_rsp[3], frame_octets(stack_size));
    harness_emit(&c, sub_rsp);
    return c;
}

void harness_emit(Harness_Code* c, const std::vector<u8>& bytes) {
    amd64_emit(&c->code, bytes.data(), (u32)bytes.size());
}

Harness_Program harness_end(Harness_Code* c) {
    std::vector<u8> add_rsp_ret = {0x48, 0x81, 0xC4, 0, 0, 0, 0, 0xC3};
    store_u32(&add_rsp_ret[3], frame_octets(c->stack_size));
    harness_emit(c, add_rsp_ret);
    Harness_Program p;
    p.code.assign(c->code.data, c->code.data + c->code.count);
    Amd64_Data_Relocation* r = (Amd64_Data_Relocation*)c->data_relocations.data;
    p.data_relocations.assign(r, r + c->data_relocations.count);
    p.stack.resize(c->stack_size);
    dynamic_array_free(&c->code);
    dynamic_array_free(&c->data_relocations);
    return p;
}

//~ Registers

Harness_Registers harness_canaries() {
    Harness_Registers r = {};
    for (u32 i = 0; i < 16; i++) r.gp[i] = 0xC0DE000000000000ull | ((u64)(i + 1) * 0x0000010101010101ull);
    for (u32 i = 0; i < 16; i++) {
        for (u32 b = 0; b < 32; b++) r.ymm[i][b] = (u8)(0x80 + i * 8 + b);
    }
    return r;
}

static const char* const GP_NAMES[16] = {"RAX", "RCX", "RDX", "RBX", "RSP", "RBP", "RSI", "RDI",
                                         "R8",  "R9",  "R10", "R11", "R12", "R13", "R14", "R15"};

std::string harness_changed_registers(const Harness_Registers& before, const Harness_Registers& after,
                                      u16 gp_may_change, u16 xmm_may_change) {
    std::string changed;
    char line[96];
    for (u32 i = 0; i < 16; i++) {
        if (i == AMD64_RSP || (gp_may_change & (1u << i)) || before.gp[i] == after.gp[i]) continue;
        snprintf(line, sizeof(line), "%s changed from 0x%llx to 0x%llx; ", GP_NAMES[i], (unsigned long long)before.gp[i],
                 (unsigned long long)after.gp[i]);
        changed += line;
    }
    for (u32 i = 0; i < 16; i++) {
        if ((xmm_may_change & (1u << i)) || memcmp(before.ymm[i], after.ymm[i], 32) == 0) continue;
        snprintf(line, sizeof(line), "YMM%u changed; ", i);
        changed += line;
    }
    return changed;
}

//~ Signal guard

static sigjmp_buf harness_jump;
static volatile sig_atomic_t harness_signal;
static volatile u64 harness_fault_rip;

static void harness_on_signal(int signal, siginfo_t*, void* context) {
    harness_signal = signal;
    harness_fault_rip = (u64)((ucontext_t*)context)->uc_mcontext.gregs[REG_RIP];
    siglongjmp(harness_jump, 1);
}

static const int GUARDED_SIGNALS[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP};

static const char* signal_name(int signal) {
    switch (signal) {
        case SIGSEGV: return "SIGSEGV";
        case SIGBUS: return "SIGBUS";
        case SIGILL: return "SIGILL";
        case SIGFPE: return "SIGFPE";
        case SIGTRAP: return "SIGTRAP";
    }
    return "a signal";
}

static std::string describe_fault(const Harness_Program& program, u64 code_address, int signal, u64 rip) {
    char text[160];
    // A trap reports the address after the INT3.
    u64 at = signal == SIGTRAP ? rip - 1 : rip;
    if (at < code_address || at >= code_address + program.code.size()) {
        snprintf(text, sizeof(text), "%s outside the generated code (at 0x%llx)", signal_name(signal),
                 (unsigned long long)rip);
        return text;
    }
    u32 offset = (u32)(at - code_address);
    snprintf(text, sizeof(text), "%s at code offset 0x%x", signal_name(signal), offset);
    std::string fault = text;
    for (const Harness_Marker& m : program.markers) {
        if (offset >= m.start && offset < m.end) return fault + " in " + m.name;
    }
    return fault;
}

// Kept apart so that nothing of the caller lives across the jump back.
static int enter_guarded(const void* entry, const Harness_Registers* in, Harness_Registers* out, void* stack_top) {
    if (sigsetjmp(harness_jump, 1) == 0) {
        harness_enter(entry, in, out, stack_top);
        return 0;
    }
    return harness_signal;
}

// Enters the code with the guard's handlers and its own signal stack in place, and puts
// the previous ones back; the signal, or 0.
static int run_guarded(const void* entry, const Harness_Registers* in, Harness_Registers* out, void* stack_top) {
    static u8* signal_stack = (u8*)mmap(0, HARNESS_SIGNAL_STACK_SIZE, PROT_READ | PROT_WRITE,
                                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    stack_t alternate = {}, old_alternate = {};
    alternate.ss_sp = signal_stack;
    alternate.ss_size = HARNESS_SIGNAL_STACK_SIZE;
    sigaltstack(&alternate, &old_alternate);
    struct sigaction action = {}, old_actions[ARRAY_COUNT(GUARDED_SIGNALS)];
    action.sa_sigaction = harness_on_signal;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (u32 i = 0; i < ARRAY_COUNT(GUARDED_SIGNALS); i++) sigaction(GUARDED_SIGNALS[i], &action, &old_actions[i]);
    int signal = enter_guarded(entry, in, out, stack_top);
    for (u32 i = 0; i < ARRAY_COUNT(GUARDED_SIGNALS); i++) sigaction(GUARDED_SIGNALS[i], &old_actions[i], 0);
    sigaltstack(&old_alternate, 0);
    return signal;
}

//~ Layout and run

static u64 pages(u64 size) { return align_up(size ? size : 1, HARNESS_PAGE); }

// [code][constants][globals][guard][call data][guard][stack][guard]. Globals and call data
// end at their guard page, so reading past them faults.
static b8 lay_out(const Harness_Program& p, Harness_Layout* l) {
    u64 code_size = pages(p.code.size()), constant_size = pages(p.constants.size());
    u64 global_size = pages(p.globals.size()), call_data_size = pages(p.call_data.size());
    u64 stack_size = HARNESS_STACK_SIZE + pages(p.stack.size());
    l->mapping_size = code_size + constant_size + global_size + HARNESS_PAGE + call_data_size + HARNESS_PAGE +
                      stack_size + HARNESS_PAGE;
    l->mapping = (u8*)mmap(0, l->mapping_size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (l->mapping == MAP_FAILED) return false;
    u8* at = l->mapping;
    l->code = at;
    at += code_size;
    l->constants = at;
    at += constant_size;
    l->globals = at + global_size - align_up(p.globals.size(), 16);
    mprotect(at, global_size, PROT_READ | PROT_WRITE);
    at += global_size + HARNESS_PAGE;
    l->call_data = at + call_data_size - align_up(p.call_data.size(), 16);
    mprotect(at, call_data_size, PROT_READ | PROT_WRITE);
    at += call_data_size + HARNESS_PAGE;
    l->stack_low = at;
    mprotect(at, stack_size, PROT_READ | PROT_WRITE);
    l->stack_top = at + stack_size;
    mprotect(l->code, code_size + constant_size, PROT_READ | PROT_WRITE);
    return true;
}

static u8* area_address(const Harness_Layout& l, Harness_Area area, u32 offset, u32 frame) {
    switch (area) {
        case HARNESS_CODE: return l.code + offset;
        case HARNESS_CONSTANTS: return l.constants + offset;
        case HARNESS_GLOBALS: return l.globals + offset;
        case HARNESS_CALL_DATA: return l.call_data + offset;
        case HARNESS_STACK: return l.stack_top - 8 - frame + offset;  // RSP inside the frame
        case HARNESS_REGISTER: break;
    }
    return 0;
}

b8 harness_load(const Harness_Program& program, Harness_Layout* l) {
    if (!lay_out(program, l)) return false;
    u32 frame = frame_octets((u32)program.stack.size());
    if (!program.code.empty()) memcpy(l->code, program.code.data(), program.code.size());
    if (!program.constants.empty()) memcpy(l->constants, program.constants.data(), program.constants.size());
    if (!program.globals.empty()) memcpy(l->globals, program.globals.data(), program.globals.size());
    if (!program.call_data.empty()) memcpy(l->call_data, program.call_data.data(), program.call_data.size());
    if (!program.stack.empty()) memcpy(area_address(*l, HARNESS_STACK, 0, frame), program.stack.data(), program.stack.size());

    // The field holds the target's offset in its area; it becomes the distance from the
    // instruction's end. Type data lies in the constant area.
    for (const Amd64_Data_Relocation& r : program.data_relocations) {
        u8* area = r.area_class == AMD64_OPERAND_GLOBAL_DATA ? l->globals : l->constants;
        u8* field = l->code + r.displacement_offset;
        u64 target = (u64)(area + load_u32(field));
        u64 end = (u64)(l->code + r.instruction_start + r.instruction_length);
        store_u32(field, (u32)(target - end));
    }
    for (u64 slot : program.foreign_call_slots) store_u64(l->code + slot, (u64)&harness_dispatcher);
    for (const Harness_Pointer& p : program.pointers) {
        if (p.area == HARNESS_REGISTER) continue;
        store_u64(area_address(*l, p.area, p.offset, frame), (u64)area_address(*l, p.target, p.target_offset, frame));
    }
    mprotect(l->code, pages(program.code.size()), PROT_READ | PROT_EXEC);
    mprotect(l->constants, pages(program.constants.size()), PROT_READ);
    return true;
}

void harness_unload(Harness_Layout* l) {
    munmap(l->mapping, l->mapping_size);
    *l = {};
}

Harness_Run harness_run(const Harness_Program& program, Harness_Registers in, b8 rbp_is_call_data) {
    Harness_Run run = {};
    Harness_Layout l;
    if (!harness_load(program, &l)) {
        run.faulted = true;
        run.fault = "the harness could not map its memory";
        return run;
    }
    u32 frame = frame_octets((u32)program.stack.size());
    u8* stack_frame = area_address(l, HARNESS_STACK, 0, frame);
    if (rbp_is_call_data) in.gp[AMD64_RBP] = (u64)l.call_data;
    for (const Harness_Pointer& p : program.pointers) {
        if (p.area == HARNESS_REGISTER) in.gp[p.offset & 15] = (u64)area_address(l, p.target, p.target_offset, frame);
    }

    run.code_address = (u64)l.code;
    run.constants_address = (u64)l.constants;
    run.globals_address = (u64)l.globals;
    run.call_data_address = (u64)l.call_data;
    run.stack_address = (u64)stack_frame;

    run.entered = in;
    int signal = run_guarded(l.code, &run.entered, &run.registers, l.stack_top);
    if (signal) {
        run.faulted = true;
        run.signal = signal;
        run.fault = describe_fault(program, (u64)l.code, signal, harness_fault_rip);
    }
    run.globals.assign(l.globals, l.globals + program.globals.size());
    run.call_data.assign(l.call_data, l.call_data + program.call_data.size());
    run.stack.assign(stack_frame, stack_frame + program.stack.size());
    if (!run.faulted && run.registers.gp[AMD64_RSP] != (u64)l.stack_top) {
        run.faulted = true;
        run.fault = "the code returned with RSP moved";
    }
    harness_unload(&l);
    return run;
}

//~ Compiled layer images

b8 harness_load_image(const std::vector<u8>& image, Harness_Image* out) {
    *out = {};
    if (image.size() < sizeof(Compiled_Layer_Header)) return false;
    // [image][guard][guard][stack]: runaway recursion and reads past the image fault.
    u64 image_pages = pages(image.size());
    u64 size = image_pages + 2 * HARNESS_PAGE + HARNESS_STACK_SIZE;
    u8* mapping = (u8*)mmap(0, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping == MAP_FAILED) return false;
    u8* loaded = mapping;
    u8* stack_low = mapping + image_pages + 2 * HARNESS_PAGE;
    mprotect(loaded, image_pages, PROT_READ | PROT_WRITE | PROT_EXEC);
    mprotect(stack_low, HARNESS_STACK_SIZE, PROT_READ | PROT_WRITE);
    memcpy(loaded, image.data(), image.size());
    if (check_layer_image(loaded, image.size())) {
        munmap(mapping, size);
        return false;
    }
    rebase_layer_image(loaded, (u64)&harness_dispatcher);
    *out = Harness_Image{mapping, size, loaded, stack_low + HARNESS_STACK_SIZE};
    return true;
}

void harness_unload_image(Harness_Image* image) {
    if (image->mapping) munmap(image->mapping, image->mapping_size);
    *image = {};
}

u8* harness_image_entry(const Harness_Image* image, u8 entry_flag) {
    Compiled_Layer_Header* h = (Compiled_Layer_Header*)image->image;
    if (!(h->flags & entry_flag)) return 0;
    return image->image + (entry_flag == LAYER_IMAGE_HAS_EVENTS   ? h->events_entry
                           : entry_flag == LAYER_IMAGE_HAS_SYNTAX ? h->syntax_entry
                                                                  : h->on_load_entry);
}

Harness_Run harness_run_image(const std::vector<u8>& image, u8 entry_flag, Harness_Registers in,
                              const std::function<void(u8* image)>& before_entry) {
    Harness_Run run = {};
    Harness_Image loaded;
    if (!harness_load_image(image, &loaded)) {
        run.faulted = true;
        run.fault = "the harness could not load the image";
        return run;
    }
    u8* entry = harness_image_entry(&loaded, entry_flag);
    if (!entry) {
        harness_unload_image(&loaded);
        run.faulted = true;
        run.fault = "the image has no such entry block";
        return run;
    }
    if (before_entry) before_entry(loaded.image);
    Compiled_Layer_Header* h = (Compiled_Layer_Header*)loaded.image;
    u8* code = loaded.image + h->code_offset;
    run.code_address = (u64)code;
    run.constants_address = (u64)(loaded.image + h->constant_data_offset);
    run.globals_address = (u64)(loaded.image + h->global_data_offset);
    run.entered = in;
    int signal = run_guarded(entry, &run.entered, &run.registers, loaded.stack_top);
    if (signal) {
        Harness_Program described;
        described.code.resize(h->code_size);
        run.faulted = true;
        run.signal = signal;
        run.fault = describe_fault(described, (u64)code, signal, harness_fault_rip);
    } else if (run.registers.gp[AMD64_RSP] != (u64)loaded.stack_top) {
        run.faulted = true;
        run.fault = "the code returned with RSP moved";
    }
    run.globals.assign(loaded.image + h->global_data_offset, loaded.image + h->global_data_offset + h->global_data_size);
    harness_unload_image(&loaded);
    return run;
}

//~ Foreign calls

static std::vector<Harness_Foreign_Call> foreign_calls;
static u32 recorded_block_size;
static u32 recorded_result_offset = ~0u;

void harness_record_foreign_calls(u32 block_size, u32 result_offset) {
    foreign_calls.clear();
    recorded_block_size = block_size;
    recorded_result_offset = result_offset;
}

const std::vector<Harness_Foreign_Call>& harness_foreign_calls() { return foreign_calls; }

// Called by harness_dispatcher on an aligned stack.
extern "C" void harness_record_call(u8* block, u64 id, u64 aligned) {
    Harness_Foreign_Call call;
    call.id = id;
    call.aligned = aligned != 0;
    if (block) call.block.assign(block, block + recorded_block_size);
    foreign_calls.push_back(call);
    if (block && recorded_result_offset != ~0u) store_u64(block + recorded_result_offset, id * 1000 + foreign_calls.size());
}
