// Test-only control over the C allocator: the test executable interposes malloc, calloc, realloc
// and free (forwarding to the next definition, so sanitizers keep working), counts the calls made
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

// Number of non-null blocks freed on this thread in the running or the last closed window. A
// call that balances its own allocations, such as a failed copy, frees as many blocks as its
// successful allocations (AllocationsInWindow minus the failed one). A realloc counts as an
// allocation and releases its old block without a count.
long FreesInWindow();

}  // namespace msc_test

#endif  // MSC_TESTS_ALLOCATION_HOOKS_H
