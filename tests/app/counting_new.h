// Counts the heap allocations of a test program: linking counting_new.cpp into a test
// program replaces its global operator new and delete with counting ones.
#pragma once

#include <cstdint>

namespace kelvor::test {

struct HeapCounts {
  uint64_t allocations;  // operator new calls so far
  int64_t live;          // blocks allocated and not yet deleted
};

HeapCounts CurrentHeapCounts();

}  // namespace kelvor::test
