// Compiler spellings used by the hot paths, kept in one place so that the
// code itself reads as plain C++.
#pragma once

#include <cassert>

#if defined(__GNUC__)
#define ALWAYS_INLINE inline __attribute__((always_inline))
#define NOINLINE __attribute__((noinline))
#define LIKELY(x) __builtin_expect(!!(x), 1)
#define UNLIKELY(x) __builtin_expect(!!(x), 0)
#else
#define ALWAYS_INLINE inline
#define NOINLINE
#define LIKELY(x) (x)
#define UNLIKELY(x) (x)
#endif

// Free in Release builds; Debug builds define ENABLE_ASSERT.
#if defined(ENABLE_ASSERT)
#define ASSERT(x) assert(x)
#else
#define ASSERT(x) ((void)0)
#endif
