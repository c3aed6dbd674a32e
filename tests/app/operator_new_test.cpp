// kelvor.exe's own operator new (app/operator_new.cpp), here in a Linux program of its own.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <new>

namespace {

// Larger than any heap gives: malloc fails at once.
constexpr std::size_t kTooLarge = SIZE_MAX / 2;

int handlerCalls = 0;

// A new_handler that can free nothing: it says it was called, and gives up the second time.
void FreeNothing() {
  std::fprintf(stderr, "handler %d\n", ++handlerCalls);
  if (handlerCalls == 2) std::set_new_handler(nullptr);
}

TEST(OperatorNewTest, EmptyBlocksAreDistinct) {
  void* first = ::operator new(0);
  void* second = ::operator new(0);
  EXPECT_NE(first, nullptr);
  EXPECT_NE(first, second);
  ::operator delete(first);
  ::operator delete(second);
}

// As the runtime's operator new did: the handler is asked until it gives up, then the program
// ends with what an uncaught std::bad_alloc wrote, and abort().
TEST(OperatorNewDeathTest, RunningOutOfMemoryEndsTheProgramAsAnUncaughtBadAllocDid) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's malloc ends the program itself";
#endif
  EXPECT_EXIT(
      {
        std::set_new_handler(FreeNothing);
        void* volatile block = ::operator new(kTooLarge);  // volatile: not left out
        ::operator delete(block);
      },
      testing::KilledBySignal(SIGABRT),
      "handler 1\nhandler 2\nterminate called after throwing an instance of 'std::bad_alloc'\n"
      "  what\\(\\):  std::bad_alloc\n");
}

}  // namespace
