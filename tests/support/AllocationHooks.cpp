#include "AllocationHooks.h"

#include <pthread.h>

#include <atomic>
#include <cstddef>

// The allocator behind the interposed functions: a sanitizer's, when the build has one, else the
// C library's. Both are reached by name, without dlsym, which would itself allocate.
extern "C" {
void *__interceptor_malloc(size_t) __attribute__((weak));
void *__interceptor_calloc(size_t, size_t) __attribute__((weak));
void *__interceptor_realloc(void *, size_t) __attribute__((weak));
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
}

namespace {

// Plain globals rather than thread_local: the allocator runs before the sanitizers' runtime has
// set up thread-local storage. Only the thread that opened the window is counted.
std::atomic<bool> windowOpen;
pthread_t windowThread;
long failAt;
long calls;

// True when this call must fail.
bool CountCall() {
    if (!windowOpen.load(std::memory_order_relaxed)) return false;
    if (!pthread_equal(pthread_self(), windowThread)) return false;
    ++calls;
    return calls == failAt;
}

}  // namespace

extern "C" {

void *malloc(size_t size) {
    if (CountCall()) return nullptr;
    return __interceptor_malloc != nullptr ? __interceptor_malloc(size) : __libc_malloc(size);
}

void *calloc(size_t count, size_t size) {
    if (CountCall()) return nullptr;
    return __interceptor_calloc != nullptr ? __interceptor_calloc(count, size)
                                           : __libc_calloc(count, size);
}

void *realloc(void *block, size_t size) {
    if (CountCall()) return nullptr;
    return __interceptor_realloc != nullptr ? __interceptor_realloc(block, size)
                                            : __libc_realloc(block, size);
}

}  // extern "C"

namespace msc_test {

void OpenAllocationWindow(long failAtCall) {
    calls = 0;
    failAt = failAtCall;
    windowThread = pthread_self();
    windowOpen = true;
}

long CloseAllocationWindow() {
    windowOpen = false;
    return calls;
}

long AllocationsInWindow() { return calls; }

}  // namespace msc_test
