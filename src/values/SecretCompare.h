#pragma once

#include <cstdint>
#include <string_view>

// Whether a presented secret (a token, a password digest) equals the expected
// one, in constant time: every byte of the expected secret is compared
// whatever the first difference, so timing tells nothing of how much matched.
inline bool sameSecret(std::string_view presented, std::string_view expected)
{
	unsigned char difference = presented.size() == expected.size() ? 0 : 1;
	for (size_t i = 0; i < expected.size(); ++i)
		difference |= (i < presented.size() ? uint8_t(presented[i]) : 0) ^ uint8_t(expected[i]);
	return difference == 0;
}
