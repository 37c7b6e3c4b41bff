// Branch hints, for the few tests whose outcome is nearly always the same on real criteria.
#ifndef MSC_HINTS_H
#define MSC_HINTS_H
#define MSC_LIKELY(x) __builtin_expect(static_cast<bool>(x), 1)
#define MSC_UNLIKELY(x) __builtin_expect(static_cast<bool>(x), 0)
#endif  // MSC_HINTS_H
