#pragma once
// Counts the calls of the global operator new in this test executable, so that a test can prove that a
// hot path does not allocate.

#include <cstddef>

namespace bcxtest {

// Number of global operator new calls (all forms this executable replaces) so far.
size_t AllocationCount();

} // namespace bcxtest
