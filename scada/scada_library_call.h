// Calls into EDA.dll and FIXTOOLS.dll that hold whichever calling convention the libraries
// use. Included by scada_libraries.cpp alone (Windows builds).
#pragma once

#include <cstdint>

namespace kelvor {

// The parameter's own type, so that an argument is converted to it as in a plain call
// rather than taking part in deducing the operation's signature.
template <typename T>
struct AsDeclared {
  using Type = T;
};

#if defined(__i386__)
// 32-bit x86: the libraries' convention is not known. A cdecl operation leaves its
// arguments on the stack for the caller to take off, a stdcall one takes them off itself;
// a call compiled for the other would leave the stack pointer 4 bytes off for each argument,
// and the program would crash at its next return. Every call goes through
// KelvorCallKeepingStack (scada_library_call_i386.cpp), which puts the stack pointer back
// after the operation as it was before it, so either convention is right. tools/check-exe.sh
// checks in the shipped kelvor.exe that the operations are called through it alone.
//
// It pushes `count` 4-byte `arguments`, the last first, calls `operation` and returns EAX.
extern "C" uint32_t KelvorCallKeepingStack(const void* operation, const uint32_t* arguments,
                                           uint32_t count);

inline uint32_t StackSlot(const void* pointer) {
  return reinterpret_cast<uintptr_t>(pointer);
}
inline uint32_t StackSlot(int32_t value) {
  return static_cast<uint32_t>(value);
}

// A 16-bit result is EAX's low half, which the cast keeps.
template <typename Result, typename... Parameters>
Result CallLibrary(Result(KELVOR_SCADA_CALL* operation)(Parameters...),
                   typename AsDeclared<Parameters>::Type... arguments) {
  const uint32_t slots[] = {StackSlot(arguments)..., 0};  // one more: never an empty array
  return static_cast<Result>(KelvorCallKeepingStack(reinterpret_cast<const void*>(operation), slots,
                                                    sizeof...(Parameters)));
}
#else
// x86-64 Windows has one calling convention: a plain call.
template <typename Result, typename... Parameters>
Result CallLibrary(Result(KELVOR_SCADA_CALL* operation)(Parameters...),
                   typename AsDeclared<Parameters>::Type... arguments) {
  return operation(arguments...);
}
#endif

}  // namespace kelvor
