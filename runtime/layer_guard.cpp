// Entering a block of the layer under a guard: a fault in the layer's own code, or a block
// that runs on past its time limit, jumps back to the entry, unloads the layer and reports,
// and the editor runs on. The guard handles signals on a stack of its own, so runaway
// recursion that used up the thread's stack is caught too. A block is stopped only while
// its own code runs, or at a routine's door: an editor routine it called may hold locks or
// be half done. So a routine is entered only with room on the stack to finish, and what a
// routine reads or writes at an address the layer handed it goes through the two access
// routines below, whose faults stop the block like the layer's own.
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <string.h>
#include <sys/syscall.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#define LAYER_GUARD_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define LAYER_GUARD_UNDER_ASAN 1
#endif
#endif
#ifdef LAYER_GUARD_UNDER_ASAN
#include <sanitizer/asan_interface.h>
#endif

#include "runtime/layer_loader.h"
#include "runtime/foreign_routines.h"
#include "compiler/core/compile_errors.h"
#include "editor/editor_state.h"
#include "foundation/log.h"

Layer_Runtime_Settings layer_runtime_settings = {LAYER_TIME_LIMIT_MILLISECONDS, false, 0};
Editor_File* custom_layer_execution_file;

#define LAYER_SIGNAL_STACK_SIZE (256u * 1024u)
#define LAYER_TIMER_SIGNAL      SIGALRM

// How far from the stack pointer a fault counts as the stack running out: a call's push
// lies just below it, a frame's stores up to its largest size above it.
#define LAYER_STACK_FAULT_BELOW (64ull * 1024)
#define LAYER_STACK_FAULT_ABOVE (2ull * 1024 * 1024)

// The kernel keeps this much free below a growing stack, so the lowest usable address may
// lie this far above the one the thread's attributes give.
#define LAYER_STACK_GUARD_GAP (1024ull * 1024)

enum Layer_Stop : u8 {
    LAYER_STOP_FAULT       = 1,
    LAYER_STOP_TIME        = 2,
    LAYER_STOP_STACK       = 3,  // a routine was called with too little stack left
    LAYER_STOP_BAD_ADDRESS = 4,  // a routine was handed memory that cannot be read or written
};

//~ The access routines: the only editor code that touches memory at an address the layer
// handed a routine. Each is given a range that does not wrap around.

// quarn_layer_probe(first, last): reads the first octet, one in every 4 KiB page between
// (the smallest page size) and the last. quarn_layer_copy(to, from, count): copies.
asm(R"(
    .text
    .p2align 4
    .globl quarn_layer_access_start
    .hidden quarn_layer_access_start
quarn_layer_access_start:
    .globl quarn_layer_probe
    .hidden quarn_layer_probe
    .type quarn_layer_probe, @function
quarn_layer_probe:
    movzbl (%rdi), %eax
    movq %rdi, %rdx
    andq $-4096, %rdx
1:
    addq $4096, %rdx
    cmpq %rsi, %rdx
    ja 2f
    movzbl (%rdx), %eax
    jmp 1b
2:
    movzbl (%rsi), %eax
    ret
    .size quarn_layer_probe, .-quarn_layer_probe
    .globl quarn_layer_copy
    .hidden quarn_layer_copy
    .type quarn_layer_copy, @function
quarn_layer_copy:
    movq %rdx, %rcx
    rep movsb
    ret
    .size quarn_layer_copy, .-quarn_layer_copy
    .globl quarn_layer_access_end
    .hidden quarn_layer_access_end
quarn_layer_access_end:
)");

extern "C" void quarn_layer_probe(const u8* first, const u8* last);
extern "C" void quarn_layer_copy(void* to, const void* from, u64 count);
extern "C" u8 quarn_layer_access_start[];
extern "C" u8 quarn_layer_access_end[];

static const int GUARDED_SIGNALS[] = {SIGFPE, SIGILL, SIGTRAP, SIGSEGV, SIGBUS};

// Shared with the signal handlers of the same thread.
static sigjmp_buf guard_jump;
static volatile sig_atomic_t guard_active;
static volatile sig_atomic_t guard_overdue;
static volatile u64 guard_code_start;
static volatile u64 guard_code_end;
static volatile u64 guard_entry_stack;
static volatile sig_atomic_t stop_kind;
static volatile int stop_signal;
static volatile u64 stop_address;
static volatile u64 stop_stack;
static volatile u64 guard_routine;        // the id of the routine running, 0 between routines
static volatile u64 guard_access_address;  // the start of the range the access routines are given
static volatile u64 guard_stack_floor;     // a routine is entered only above this; 0: not known

// Set while this thread runs a block: faults of other threads are never the layer's.
static thread_local volatile sig_atomic_t running_layer_here;
static thread_local u64 thread_stack_low;  // the lowest address of this thread's stack, or 0
static thread_local b8 thread_stack_known;

static struct sigaction previous_actions[ARRAY_COUNT(GUARDED_SIGNALS)];
static b8 handlers_installed;
static timer_t guard_timer;
static pid_t guard_timer_thread;  // the thread the timer signals; 0 before it exists
static thread_local b8 signal_stack_installed;

//~ Signal handlers

static b8 in_layer_code(u64 address) { return address >= guard_code_start && address < guard_code_end; }

static b8 in_access_code(u64 address) {
    return address >= (u64)quarn_layer_access_start && address < (u64)quarn_layer_access_end;
}

// A fault next to the stack pointer, below the block's entry: the stack ran out.
static b8 is_stack_fault(int signal, u64 address, u64 stack) {
    return (signal == SIGSEGV || signal == SIGBUS) && address < guard_entry_stack &&
           address + LAYER_STACK_FAULT_BELOW >= stack && address <= stack + LAYER_STACK_FAULT_ABOVE;
}

[[noreturn]] static void stop_block(u8 kind) {
    guard_active = 0;
    stop_kind = kind;
    siglongjmp(guard_jump, 1);
}

static void pass_to_previous_handler(int signal, siginfo_t* info, void* context) {
    for (u32 i = 0; i < ARRAY_COUNT(GUARDED_SIGNALS); i++) {
        if (GUARDED_SIGNALS[i] != signal) continue;
        struct sigaction* previous = &previous_actions[i];
        if ((previous->sa_flags & SA_SIGINFO) && previous->sa_sigaction) {
            previous->sa_sigaction(signal, info, context);
            return;
        }
        if (previous->sa_handler != SIG_DFL && previous->sa_handler != SIG_IGN) {
            previous->sa_handler(signal);
            return;
        }
    }
    // The default action: the fault happens again as soon as this handler returns, or, for a
    // signal that does not repeat, is raised once more.
    struct sigaction fallback = {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    if (info->si_code <= 0 || signal == SIGTRAP) raise(signal);
}

static void on_fault(int signal, siginfo_t* info, void* context) {
    u64 rip = (u64)((ucontext_t*)context)->uc_mcontext.gregs[REG_RIP];
    u64 rsp = (u64)((ucontext_t*)context)->uc_mcontext.gregs[REG_RSP];
    // A trap reports the address after its INT3, which may be the end of the code.
    u64 at = signal == SIGTRAP && rip > 0 ? rip - 1 : rip;
    if (guard_active && running_layer_here) {
        stop_signal = signal;
        stop_address = (u64)info->si_addr;
        stop_stack = rsp;
        if (in_layer_code(at)) stop_block(LAYER_STOP_FAULT);
        if (in_access_code(rip)) stop_block(LAYER_STOP_BAD_ADDRESS);
        // The layer's recursion used the stack up, wherever the last call went: a routine
        // it entered with room to spare ran out nonetheless.
        if (is_stack_fault(signal, stop_address, rsp)) stop_block(LAYER_STOP_FAULT);
    }
    pass_to_previous_handler(signal, info, context);
}

static void on_timer(int, siginfo_t*, void* context) {
    if (!guard_active) return;
    u64 rip = (u64)((ucontext_t*)context)->uc_mcontext.gregs[REG_RIP];
    // The access routines hold nothing either: a long range is stopped there too.
    if (in_layer_code(rip) || in_access_code(rip)) stop_block(LAYER_STOP_TIME);
    guard_overdue = 1;  // the dispatcher stops the block when the routine is done
}

void stop_layer_if_overdue() {
    if (guard_overdue && guard_active) stop_block(LAYER_STOP_TIME);
}

void enter_layer_routine(u64 id) {
    if (!guard_active || !running_layer_here) return;
    stop_layer_if_overdue();
    u64 stack = (u64)__builtin_frame_address(0);
    if (guard_stack_floor && stack < guard_stack_floor) stop_block(LAYER_STOP_STACK);
    guard_routine = id;
}

void leave_layer_routine() {
    if (!guard_active || !running_layer_here) return;
    guard_routine = 0;
    stop_layer_if_overdue();
}

static void stop_for_bad_address(u64 address) {
    stop_signal = 0;
    stop_address = address;
    stop_block(LAYER_STOP_BAD_ADDRESS);
}

void check_layer_memory(const void* data, s64 count) {
    if (!data || count <= 0 || !guard_active || !running_layer_here) return;
    u64 first = (u64)data;
    if ((u64)count - 1 > ~0ull - first) stop_for_bad_address(first);
    guard_access_address = first;
    quarn_layer_probe((const u8*)first, (const u8*)(first + (u64)count - 1));
}

void check_layer_array(const void* data, s64 count, u64 element_size) {
    if (!data || count <= 0) return;
    if ((u64)count > ~0ull / element_size) {
        if (guard_active && running_layer_here) stop_for_bad_address((u64)data);
        return;
    }
    check_layer_memory(data, (s64)((u64)count * element_size));
}

void check_layer_strings(const String* strings, s64 count) {
    if (!strings || count <= 0) return;
    check_layer_array(strings, count, sizeof(String));
    for (s64 i = 0; i < count; i++) {
        String s;
        memcpy(&s, &strings[i], sizeof(s));
        check_layer_memory(s.data, s.count);
    }
}

void write_layer_memory(void* to, const void* from, u64 count) {
    if (!to || !count) return;
    if (!guard_active || !running_layer_here) {
        memcpy(to, from, count);
        return;
    }
    if (count - 1 > ~0ull - (u64)to) stop_for_bad_address((u64)to);
    guard_access_address = (u64)to;
    quarn_layer_copy(to, from, count);
}

//~ Setting the guard up

static b8 install_signal_stack() {
    if (signal_stack_installed) return true;
    u8* memory = (u8*)os_allocate_read_write(LAYER_SIGNAL_STACK_SIZE);
    if (!memory) return false;
    stack_t stack = {};
    stack.ss_sp = memory;
    stack.ss_size = LAYER_SIGNAL_STACK_SIZE;
    if (sigaltstack(&stack, nullptr) != 0) {
        os_free_mapping(memory, LAYER_SIGNAL_STACK_SIZE);
        return false;
    }
    signal_stack_installed = true;
    return true;
}

static void install_handlers() {
    if (handlers_installed) return;
    struct sigaction action = {};
    action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, LAYER_TIMER_SIGNAL);
    action.sa_sigaction = on_fault;
    for (u32 i = 0; i < ARRAY_COUNT(GUARDED_SIGNALS); i++) sigaction(GUARDED_SIGNALS[i], &action, &previous_actions[i]);
    action.sa_sigaction = on_timer;
    sigaction(LAYER_TIMER_SIGNAL, &action, nullptr);
    handlers_installed = true;
}

// The timer signals the thread that runs the layer, not whichever thread the kernel picks.
static b8 make_timer() {
    pid_t thread = (pid_t)syscall(SYS_gettid);
    if (guard_timer_thread == thread) return true;
    if (guard_timer_thread) timer_delete(guard_timer);
    guard_timer_thread = 0;
    struct sigevent event = {};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = LAYER_TIMER_SIGNAL;
    event._sigev_un._tid = thread;  // this C library gives the field no public name
    if (timer_create(CLOCK_MONOTONIC, &event, &guard_timer) != 0) return false;
    guard_timer_thread = thread;
    return true;
}

static void set_timer(u32 milliseconds, u32 retry_milliseconds) {
    if (!guard_timer_thread) return;
    struct itimerspec time = {};
    time.it_value.tv_sec = milliseconds / 1000;
    time.it_value.tv_nsec = (long)(milliseconds % 1000) * 1000000L;
    time.it_interval.tv_nsec = (long)retry_milliseconds * 1000000L;
    timer_settime(guard_timer, 0, &time, nullptr);
}

// The lowest address of this thread's stack, as its attributes tell it.
static u64 get_thread_stack_low() {
    if (thread_stack_known) return thread_stack_low;
    thread_stack_known = true;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
    void* address = nullptr;
    size_t size = 0;
    if (pthread_attr_getstack(&attributes, &address, &size) == 0) thread_stack_low = (u64)address;
    pthread_attr_destroy(&attributes);
    return thread_stack_low;
}

static b8 set_up_guard() {
    static b8 warned;
    b8 ready = install_signal_stack();
    install_handlers();
    if (!make_timer() && !warned) {
        warned = true;
        add_log(nullptr, LOG_ERROR, "The custom layer runs without a time limit: no timer could be made.");
    }
    if (!ready && !warned) {
        warned = true;
        add_log(nullptr, LOG_ERROR, "The custom layer runs without a signal stack: runaway recursion would end the editor.");
    }
    return ready;
}

//~ Entering a block

static const char* block_name(u8* entry) {
    u8* image = custom_layer.image;
    if (entry && entry == get_on_load_block_entry_point(image)) return "on_load";
    if (entry && entry == get_events_block_entry_point(image)) return "events";
    if (entry && entry == get_syntax_block_entry_point(image)) return "syntax";
    return "block";
}

static const char* routine_name(u64 id) {
    for (u32 i = 0; i < FOREIGN_ROUTINE_COUNT; i++) {
        if (foreign_routines[i].id == id) return (const char*)foreign_routines[i].name.data;
    }
    return "a routine";
}

static const char* stop_reason_tmp() {
    if (stop_kind == LAYER_STOP_TIME) return "it ran for more than 5 seconds";
    if (stop_kind == LAYER_STOP_STACK) return "runaway recursion";
    if (stop_kind == LAYER_STOP_BAD_ADDRESS) {
        // A fault gives no address for one outside the address space: the range's start stands for it.
        u64 address = stop_address ? stop_address : guard_access_address;
        return tcstring("%s was handed the bad address 0x%llx", routine_name(guard_routine), (unsigned long long)address);
    }
    switch (stop_signal) {
        case SIGFPE: return "division by zero";
        case SIGILL: return "invalid instruction";
        case SIGTRAP: return "trap";
    }
    u64 address = stop_address;
    if (is_stack_fault(stop_signal, address, stop_stack)) return "runaway recursion";
    return tcstring_small("bad memory access at 0x%llx", (unsigned long long)address);
}

// A block stopped from the signal stack skipped the frames of the routine it was in; under
// the address sanitizer their marks stay on the stack below here and must go.
static __attribute__((noinline)) void forget_skipped_frames() {
#ifdef LAYER_GUARD_UNDER_ASAN
    u64 low = get_thread_stack_low();
    u64 here = (u64)__builtin_frame_address(0) - 1024;
    if (low && low < here) __asan_unpoison_memory_region((void*)low, here - low);
#endif
}

// Kept apart so that no local of the caller is live across the jump back.
static __attribute__((noinline)) b8 enter_guarded(u8* entry) {
    if (sigsetjmp(guard_jump, 1) != 0) return false;
    guard_overdue = 0;
    guard_routine = 0;
    stop_signal = 0;
    stop_address = 0;
    guard_active = 1;
    set_timer(layer_runtime_settings.time_limit_milliseconds, LAYER_TIMER_RETRY_MILLISECONDS);
    ((void (*)())entry)();
    guard_active = 0;
    return true;
}

b8 amd64_execute(u8* entry, Editor_File* file) {
    custom_layer_execution_file = file;
    if (!entry || !custom_layer.image) return false;
    set_up_guard();
    guard_code_start = (u64)custom_layer.mapping.address;
    guard_code_end = (u64)custom_layer.mapping.address + custom_layer.mapping.size;
    volatile u8 marker = 0;
    guard_entry_stack = (u64)&marker;
    // A routine needs room to run to its end: it is entered only this far above the
    // stack's usable bottom.
    u64 low = get_thread_stack_low();
    guard_stack_floor = low ? low + LAYER_STACK_GUARD_GAP + LAYER_ROUTINE_STACK_ROOM : 0;

    u64 tmp_used = tmp_get_used();
    running_layer_here = 1;
    b8 finished = enter_guarded(entry);
    running_layer_here = 0;
    set_timer(0, 0);
    guard_overdue = 0;
    if (finished) return true;
    forget_skipped_frames();

    // What the stopped block's routines handed it is dead with the layer; its room is
    // needed for the report.
    tmp_set_used(tmp_used);
    const char* block = block_name(entry);
    const char* reason = stop_reason_tmp();
    add_log(nullptr, LOG_ERROR, "The custom layer stopped in #%s: %s.", block, reason ? reason : "");
    print_error("The custom layer stopped in #%s: %s.", block, reason ? reason : "");
    atomic_or_u64(&global_flags, DISPLAY_COMPILE_ERRORS);
    unload_custom_layer();
    custom_layer_execution_file = nullptr;
    return false;
}

b8 run_syntax_block(Editor_File* file) {
    spin_lock(&custom_layer.execution_lock);
    b8 ran = custom_layer_has_block(LAYER_HAS_SYNTAX) && amd64_execute(get_syntax_block_entry_point(custom_layer.image), file);
    spin_unlock(&custom_layer.execution_lock);
    return ran;
}
