/* SPDX-License-Identifier: MIT */
@ Program entry for ARMv6 executables, in ARM state. Debian's own crt1.o
@ is Thumb-2, which an ARM1176 cannot run.
@
@ On entry the stack holds argc, then argv; r0 holds the dynamic loader's
@ finalizer. __libc_start_main(main, argc, argv, init, fini, rtld_fini,
@ stack_end) runs the constructors itself when init is null.
    .syntax unified
    .eabi_attribute Tag_ABI_VFP_args, 1  @ built for the hard-float calling convention
    .arm
    .text
    .globl  _start
    .type   _start, %function
_start:
    mov     fp, #0
    mov     lr, #0
    pop     {r1}                @ argc
    mov     r2, sp              @ argv
    mov     ip, sp              @ stack_end
    bic     sp, sp, #7          @ the ABI wants 8-byte alignment at calls
    sub     sp, sp, #16
    mov     r3, #0
    str     r3, [sp]            @ fini
    str     r0, [sp, #4]        @ rtld_fini
    str     ip, [sp, #8]        @ stack_end
    ldr     r0, .Lmain
.Lpc:
    add     r0, pc, r0          @ main, position-independently
    bl      __libc_start_main
    bl      abort
.Lmain:
    .word   main - (.Lpc + 8)
    .size   _start, . - _start

    .section .note.GNU-stack, "", %progbits
