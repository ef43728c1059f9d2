// Enters generated code with every register set from a Harness_Registers record and
// records every register (and the flags) when it returns, so a test sees exactly what
// the code changed. RSP moves to the harness's own stack for the call.
//
// void harness_enter(void* entry, const Harness_Registers* in, Harness_Registers* out, void* stack_top)
// Harness_Registers: u64 gp[16] (by machine number), u8 ymm[16][32], u64 rflags.

.intel_syntax noprefix
.text
.globl harness_enter
.type harness_enter, @function
harness_enter:
    push rbx
    push rbp
    push r12
    push r13
    push r14
    push r15
    mov [rip + saved_rsp], rsp
    mov [rip + saved_out], rdx
    mov [rip + saved_entry], rdi
    mov rsp, rcx
    mov rax, rsi
    .irp n, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15
    vmovdqu ymm\n, [rax + 128 + \n * 32]
    .endr
    mov rcx, [rax + 8]
    mov rdx, [rax + 16]
    mov rbx, [rax + 24]
    mov rbp, [rax + 40]
    mov rsi, [rax + 48]
    mov rdi, [rax + 56]
    mov r8, [rax + 64]
    mov r9, [rax + 72]
    mov r10, [rax + 80]
    mov r11, [rax + 88]
    mov r12, [rax + 96]
    mov r13, [rax + 104]
    mov r14, [rax + 112]
    mov r15, [rax + 120]
    mov rax, [rax]
    call [rip + saved_entry]
    pushfq
    mov [rip + saved_rax], rax
    mov rax, [rip + saved_out]
    pop qword ptr [rax + 640]
    mov [rax + 8], rcx
    mov [rax + 16], rdx
    mov [rax + 24], rbx
    mov [rax + 32], rsp
    mov [rax + 40], rbp
    mov [rax + 48], rsi
    mov [rax + 56], rdi
    mov [rax + 64], r8
    mov [rax + 72], r9
    mov [rax + 80], r10
    mov [rax + 88], r11
    mov [rax + 96], r12
    mov [rax + 104], r13
    mov [rax + 112], r14
    mov [rax + 120], r15
    .irp n, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15
    vmovdqu [rax + 128 + \n * 32], ymm\n
    .endr
    mov rcx, [rip + saved_rax]
    mov [rax], rcx
    mov rsp, [rip + saved_rsp]
    pop r15
    pop r14
    pop r13
    pop r12
    pop rbp
    pop rbx
    vzeroupper
    ret
.size harness_enter, . - harness_enter

// The recording dispatcher that foreign-call slots point at: void harness_dispatcher(u8* block, u64 id).
// It notes whether the stack was aligned as a call from an aligned stack leaves it
// (RSP = 8 mod 16), calls harness_record_call(block, id, aligned) on an aligned stack, then
// spoils every register the platform's convention lets a callee change, so code that
// kept a value in one of them fails.
.globl harness_dispatcher
.type harness_dispatcher, @function
harness_dispatcher:
    mov rax, rsp
    and eax, 15
    cmp eax, 8
    sete dl
    movzx edx, dl
    push rbp
    mov rbp, rsp
    and rsp, -16
    call harness_record_call
    mov rax, 0x5A5A5A5A5A5A5A5A
    mov rcx, rax
    mov rdx, rax
    mov rsi, rax
    mov rdi, rax
    mov r8, rax
    mov r9, rax
    mov r10, rax
    mov r11, rax
    .irp n, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14,15
    vbroadcastsd ymm\n, [rip + spoiled_lanes]
    .endr
    leave
    ret
.size harness_dispatcher, . - harness_dispatcher

.section .rodata
.align 8
spoiled_lanes: .quad 0xA5A5A5A5A5A5A5A5

.bss
.align 8
saved_rsp: .quad 0
saved_out: .quad 0
saved_entry: .quad 0
saved_rax: .quad 0

.section .note.GNU-stack, "", @progbits
