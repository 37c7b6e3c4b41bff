// Test-only control over the C allocator: the test executable interposes malloc, realloc and free,
// the functions the library uses (forwarding to the next definition, so sanitizers keep working),
// counts the calls made on the calling thread while a window is open, and can make the Nth fail.
#ifndef MSC_TESTS_ALLOCATION_HOOKS_H
#define MSC_TESTS_ALLOCATION_HOOKS_H

namespace msc_test {

// Opens a counting window on this thread whose failAt-th allocation (1-based; 0: none) returns null.
void OpenAllocationWindow(long failAt = 0);

// Closes the window; returns its allocations, the failed one included (a realloc counts as one).
long CloseAllocationWindow();

// Non-null blocks freed on this thread in the open or the last closed window.
long FreesInWindow();

}  // namespace msc_test

#endif  // MSC_TESTS_ALLOCATION_HOOKS_H
