// The software SMI of the firmware images: the register image goes to the
// processor, a byte is written to the SMI command port, and the answer is
// stored back. Apart from the other services so that the test image of the
// driver, which hands its SMIs to an emulated BIOS instead, is built without
// this file and the production image without that one.
#include "Platform.h"

// ---- Software SMI -------------------------------------------------------------------------
//
// All six registers carry the request and the answer, so the routine is
// written whole in assembly: the compiler has no register left to work with
// between the port write and the store-back. The settle counter lives on the
// stack and is decremented in memory by the loop itself; being assembly, the
// loop cannot be optimised away. SMI_REGISTERS: Eax 0, Ebx 4, Ecx 8, Edx 12,
// Esi 16, Edi 20.

#if defined(__i386__)
// cdecl: 4(%esp) Registers, 8(%esp) SettleCount.
__attribute__((naked)) static VOID TriggerSmi(SMI_REGISTERS *Registers, UINT32 SettleCount) {
  __asm__ __volatile__(
      "pushl %ebp\n\t"
      "pushl %ebx\n\t"
      "pushl %esi\n\t"
      "pushl %edi\n\t"
      "movl 20(%esp), %ebp\n\t"  // Registers
      "movl 24(%esp), %eax\n\t"  // SettleCount
      "pushl %ebp\n\t"           // 4(%esp): Registers, kept for the store-back
      "pushl %eax\n\t"           // (%esp): the settle counter
      "movl 4(%ebp), %ebx\n\t"
      "movl 8(%ebp), %ecx\n\t"
      "movl 12(%ebp), %edx\n\t"
      "movl 16(%ebp), %esi\n\t"
      "movl 20(%ebp), %edi\n\t"
      "movl 0(%ebp), %eax\n\t"
      "outb %al, %dx\n\t"
      "cmpl $0, (%esp)\n\t"
      "je 2f\n"
      "1:\n\t"
      "decl (%esp)\n\t"
      "jnz 1b\n"
      "2:\n\t"
      "movl 4(%esp), %ebp\n\t"
      "movl %eax, 0(%ebp)\n\t"
      "movl %ebx, 4(%ebp)\n\t"
      "movl %ecx, 8(%ebp)\n\t"
      "movl %edx, 12(%ebp)\n\t"
      "movl %esi, 16(%ebp)\n\t"
      "movl %edi, 20(%ebp)\n\t"
      "addl $8, %esp\n\t"
      "popl %edi\n\t"
      "popl %esi\n\t"
      "popl %ebx\n\t"
      "popl %ebp\n\t"
      "ret");
}
#elif defined(__x86_64__) && defined(_WIN64)
// Microsoft x64: %rcx Registers, %edx SettleCount. Only the 32-bit halves
// matter; RBX, RBP, RSI and RDI are callee-saved.
__attribute__((naked)) static VOID TriggerSmi(SMI_REGISTERS *Registers, UINT32 SettleCount) {
  __asm__ __volatile__(
      "pushq %rbp\n\t"
      "pushq %rbx\n\t"
      "pushq %rsi\n\t"
      "pushq %rdi\n\t"
      "movq %rcx, %rbp\n\t"
      "pushq %rcx\n\t"           // 8(%rsp): Registers
      "movl %edx, %eax\n\t"
      "pushq %rax\n\t"           // (%rsp): the settle counter (low 32 bits)
      "movl 4(%rbp), %ebx\n\t"
      "movl 8(%rbp), %ecx\n\t"
      "movl 12(%rbp), %edx\n\t"
      "movl 16(%rbp), %esi\n\t"
      "movl 20(%rbp), %edi\n\t"
      "movl 0(%rbp), %eax\n\t"
      "outb %al, %dx\n\t"
      "cmpl $0, (%rsp)\n\t"
      "je 2f\n"
      "1:\n\t"
      "decl (%rsp)\n\t"
      "jnz 1b\n"
      "2:\n\t"
      "movq 8(%rsp), %rbp\n\t"
      "movl %eax, 0(%rbp)\n\t"
      "movl %ebx, 4(%rbp)\n\t"
      "movl %ecx, 8(%rbp)\n\t"
      "movl %edx, 12(%rbp)\n\t"
      "movl %esi, 16(%rbp)\n\t"
      "movl %edi, 20(%rbp)\n\t"
      "addq $16, %rsp\n\t"
      "popq %rdi\n\t"
      "popq %rsi\n\t"
      "popq %rbx\n\t"
      "popq %rbp\n\t"
      "ret");
}
#else
#error "the software SMI is raised by the IA32 and X64 firmware images only"
#endif

VOID PlatformTriggerSmi(SMI_REGISTERS *Registers, UINT32 SettleCount) {
  if (Registers != NULL) {
    TriggerSmi(Registers, SettleCount);
  }
}
