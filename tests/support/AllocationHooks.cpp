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
void __interceptor_free(void *) __attribute__((weak));
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}

namespace {

// Plain globals rather than thread_local: the allocator runs before the sanitizers' runtime has
// set up thread-local storage. Only the thread that opened the window is counted.
std::atomic<bool> windowOpen;
pthread_t windowThread;
long failAt;
long calls;
long frees;

// True when this call must fail.
bool CountCall() {
    if (!windowOpen.load(std::memory_order_relaxed)) return false;
    if (!pthread_equal(pthread_self(), windowThread)) return false;
    ++calls;
    return calls == failAt;
}

// Counts the release of a block on the window's thread; freeing null releases nothing.
void CountFree(void *block) {
    if (block == nullptr || !windowOpen.load(std::memory_order_relaxed)) return;
    if (pthread_equal(pthread_self(), windowThread)) ++frees;
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

void free(void *block) {
    CountFree(block);
    if (__interceptor_free != nullptr) {
        __interceptor_free(block);
    } else {
        __libc_free(block);
    }
}

}  // extern "C"

namespace msc_test {

void OpenAllocationWindow(long failAtCall) {
    calls = 0;
    frees = 0;
    failAt = failAtCall;
    windowThread = pthread_self();
    windowOpen = true;
}

long CloseAllocationWindow() {
    windowOpen = false;
    return calls;
}

long AllocationsInWindow() { return calls; }

long FreesInWindow() { return frees; }

}  // namespace msc_test
