#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// Looks at eight bytes of JSON string content at once: most content is plain
// ASCII with nothing to check byte by byte. firstNotPlain finds the first byte of
// interest among the eight at p (which must all be readable) and returns its
// offset, or 8 when there is none.

namespace byteScan {

inline constexpr uint64_t kOnes = 0x0101010101010101ULL;
inline constexpr uint64_t kHighs = 0x8080808080808080ULL;

// The high bit of each byte that is zero. The lowest one set is exact (only
// bytes above a zero byte can be marked wrongly), which is all that is used.
constexpr uint64_t zeroBytes(uint64_t v)
{
	return (v - kOnes) & ~v & kHighs;
}

inline size_t firstMarked(uint64_t marks)
{
	if (marks == 0)
		return 8;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
	return size_t(__builtin_clzll(marks)) / 8;
#else
	return size_t(__builtin_ctzll(marks)) / 8;
#endif
}

inline uint64_t load(const char *p)
{
	uint64_t v;
	std::memcpy(&v, p, sizeof(v));
	return v;
}

// A quote, a backslash, a control character or a byte of 0x80 or more.
inline size_t firstNotPlain(const char *p)
{
	const uint64_t v = load(p);
	const uint64_t control = (v - kOnes * 0x20) & ~v & kHighs;
	return firstMarked((v & kHighs) | control | zeroBytes(v ^ (kOnes * '"')) | zeroBytes(v ^ (kOnes * '\\')));
}

} // namespace byteScan
