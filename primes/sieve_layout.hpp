// The layout of a segment and of the tables it is sieved with, shared by
// every file of the prime source.
#pragma once

#include <cstdint>

namespace veksieve {

// A segment starts at S, a multiple of 2^18; its bit i stands for the odd
// number S + 2i - 1. It is read out in chunks of 4 words (256 integers).
inline constexpr uint32_t segment_bits = 131072;
inline constexpr uint32_t segment_words = segment_bits / 32;
inline constexpr int64_t segment_span = 2 * int64_t{segment_bits};
inline constexpr uint32_t chunk_words = 4;
inline constexpr int64_t chunk_span = 64 * int64_t{chunk_words};
inline constexpr uint32_t max_pending = 32 * chunk_words;

// small_primes: the first 24000 odd primes (3 to 274579) and an end mark.
inline constexpr uint32_t small_prime_count = 24000;
inline constexpr uint32_t small_primes_end_mark = 0x7fffffff;

// The segment's own sieving primes, 37 to 131071 = 2^17 - 1, are
// small_primes[10 ...], in four classes by size. Class 1 (37 to 127) is
// struck by the pre-sieve patterns with 3 to 31; the others each by its own
// loop (see segment_sieve.cpp). Every larger prime has at most one odd
// multiple in a segment and sits in the buckets.
inline constexpr uint32_t first_sieving_prime_index = 10;
inline constexpr uint32_t sieving_prime_count = 12240;
inline constexpr uint32_t last_sieving_prime = 131071;
inline constexpr uint32_t class_2_begin = 20;    // first p above 128
inline constexpr uint32_t class_3_begin = 6531;  // first p above 65536
inline constexpr uint32_t class_4_begin = 9428;  // first p above 98304
static_assert(last_sieving_prime < segment_bits, "a bucket prime strikes a segment at most once");

// The wheel patterns' periods in words: the product of their primes.
inline constexpr uint32_t period_5_29_31 = 5 * 29 * 31;
inline constexpr uint32_t period_3_7_13_17 = 3 * 7 * 13 * 17;
inline constexpr uint32_t period_11_19_23 = 11 * 19 * 23;
// The pre-sieve patterns of class 1, two primes each: 37 * 41, ..., 113 * 127.
inline constexpr uint32_t presieve_pattern_count = class_2_begin / 2;
static_assert(class_2_begin % 4 == 0, "the patterns are combined two at a time");

}  // namespace veksieve
