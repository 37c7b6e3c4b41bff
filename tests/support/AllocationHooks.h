// Test-only control over the C allocator: the test executable interposes malloc, calloc and
// realloc (forwarding to the next definition, so sanitizers keep working), counts the calls made
// on the calling thread while a window is open, and can make the Nth of them fail.
#ifndef MSC_TESTS_ALLOCATION_HOOKS_H
#define MSC_TESTS_ALLOCATION_HOOKS_H

namespace msc_test {

// Opens a counting window on this thread; the failAt-th allocation in it (1-based) returns null,
// and none fails when failAt is 0.
void OpenAllocationWindow(long failAt = 0);

// Closes the window and returns the number of allocations made in it (the failed one included).
long CloseAllocationWindow();

// Number of allocations that the running window has made so far.
long AllocationsInWindow();

}  // namespace msc_test

#endif  // MSC_TESTS_ALLOCATION_HOOKS_H
