// The program's operator new where the C++ runtime is linked into it (Windows). It does what
// the runtime's own does, and ends the program as an uncaught std::bad_alloc did, with the
// same two lines on standard error and abort(), but without throwing: the runtime's
// operator new is the last thing in kelvor.exe that throws, and with it would come the
// unwinder, the personality routine and a name demangler for that message, some 90 KB.
// Nothing in the program catches an exception. Its operator delete comes with it, to free
// with free() what it took with malloc() whatever runtime is beside it (a sanitizer's).
#include <cstdio>
#include <cstdlib>
#include <new>

void* operator new(std::size_t size) {
  if (size == 0) size = 1;
  for (;;) {
    if (void* memory = std::malloc(size)) return memory;
    std::new_handler handler = std::get_new_handler();
    if (handler == nullptr) break;
    handler();
  }
  std::fputs("terminate called after throwing an instance of 'std::bad_alloc'\n", stderr);
  std::fputs("  what():  std::bad_alloc\n", stderr);
  std::abort();
}

void operator delete(void* block) noexcept {
  std::free(block);
}

void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
