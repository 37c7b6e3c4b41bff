#include "AllocationHooks.h"

#include <pthread.h>

#include <atomic>

// The allocator behind the interposed functions: a sanitizer's, when the build has one, else the
// C library's. Both are reached by name, without dlsym, which would itself allocate.
extern "C" {
void *__interceptor_malloc(size_t) __attribute__((weak));
void *__interceptor_realloc(void *, size_t) __attribute__((weak));
void __interceptor_free(void *) __attribute__((weak));
void *__libc_malloc(size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}

namespace {

// Plain globals rather than thread_local: the allocator runs before the sanitizers' runtime has
// set up thread-local storage. Only the thread that opened the window counts.
std::atomic<bool> windowOpen;
pthread_t windowThread;
long failAt, calls, frees;

bool InWindow() { return windowOpen.load(std::memory_order_relaxed) && pthread_equal(pthread_self(), windowThread); }

bool CountCall() { return InWindow() && ++calls == failAt; }  // True for the one that fails.

}  // namespace

extern "C" {

void *malloc(size_t size) {
    return CountCall() ? nullptr : __interceptor_malloc ? __interceptor_malloc(size) : __libc_malloc(size);
}
void *realloc(void *block, size_t size) {
    return CountCall() ? nullptr : __interceptor_realloc ? __interceptor_realloc(block, size) : __libc_realloc(block, size);
}
void free(void *block) {
    if (block != nullptr && InWindow()) ++frees;
    return __interceptor_free ? __interceptor_free(block) : __libc_free(block);
}

}  // extern "C"

namespace msc_test {

void OpenAllocationWindow(long failAtCall) {
    calls = frees = 0;
    failAt = failAtCall;
    windowThread = pthread_self();
    windowOpen = true;
}

long CloseAllocationWindow() {
    windowOpen = false;
    return calls;
}

long FreesInWindow() { return frees; }

}  // namespace msc_test
