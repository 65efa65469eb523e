/* SPDX-License-Identifier: MIT */
@ The 64-bit division helpers of the ARM run-time ABI. They return the
@ quotient in r0:r1 and the remainder in r2:r3, which C cannot express;
@ the arithmetic is in divide.c.
    .syntax unified
    .eabi_attribute Tag_ABI_VFP_args, 1  @ built for the hard-float calling convention
    .arm
    .text

    .macro  divmod64 name, impl
    .globl  \name
    .hidden \name
    .type   \name, %function
\name:
    push    {r4, lr}
    sub     sp, sp, #16         @ [sp]: pointer argument, [sp, #8]: remainder
    add     r4, sp, #8
    str     r4, [sp]
    bl      \impl
    ldrd    r2, r3, [sp, #8]
    add     sp, sp, #16
    pop     {r4, pc}
    .size   \name, . - \name
    .endm

    divmod64 __aeabi_uldivmod, tavrel_rt_udivmod64
    divmod64 __aeabi_ldivmod, tavrel_rt_sdivmod64

    .section .note.GNU-stack, "", %progbits
