// The one way into the SCADA libraries on 32-bit x86 (see scada_library_call.h), in
// assembly: only there does the program decide where its stack pointer is after a call.
#include "scada/scada_library_call.h"

// cdecl itself. EBP holds the stack pointer from before the arguments are pushed until the
// operation has returned: cdecl and stdcall both keep EBP (and EBX, ESI, EDI) for their
// caller, and differ only in who takes the arguments off, which the MOV after the call
// makes moot. The arguments go on the stack from the last to the first, as both want them.
extern "C" __attribute__((naked)) uint32_t KelvorCallKeepingStack(const void*, const uint32_t*,
                                                                  uint32_t) {
  asm("pushl %ebp\n\t"
      "movl %esp, %ebp\n\t"      // the stack pointer to come back to
      "movl 12(%ebp), %edx\n\t"  // arguments
      "movl 16(%ebp), %ecx\n\t"  // count
      "1:\n\t"
      "testl %ecx, %ecx\n\t"
      "jz 2f\n\t"
      "pushl -4(%edx,%ecx,4)\n\t"  // arguments[count - 1] first
      "decl %ecx\n\t"
      "jmp 1b\n\t"
      "2:\n\t"
      "call *8(%ebp)\n\t"    // the operation; its result in EAX
      "movl %ebp, %esp\n\t"  // back, whatever the operation took off
      "popl %ebp\n\t"
      "ret");
}
