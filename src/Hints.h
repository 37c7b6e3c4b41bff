// Compiler hints shared by the sources; never installed.
#ifndef MSC_HINTS_H
#define MSC_HINTS_H

// Branch hints: for tests that untrusted text almost never takes (errors, limits).
#define MSC_LIKELY(x) __builtin_expect(static_cast<bool>(x), 1)
#define MSC_UNLIKELY(x) __builtin_expect(static_cast<bool>(x), 0)

// Forces a small function inline where a call per token would cost more than its work. Only
// when optimising: an unoptimised build keeps the locals of every inlined call in the caller's
// frame, and a recursive caller pays that frame once per level of nesting.
#if defined(__OPTIMIZE__)
#define MSC_ALWAYS_INLINE __attribute__((always_inline))
#else
#define MSC_ALWAYS_INLINE
#endif

// Keeps a rarely taken path out of its caller, so that the common path saves no registers for it.
#define MSC_NOINLINE __attribute__((noinline))

#endif  // MSC_HINTS_H
