#include "values/SecretCompare.h"

#include <gtest/gtest.h>

using namespace std::string_view_literals;

TEST(SecretCompare, OnlyTheWholeSecretMatches)
{
	EXPECT_TRUE(sameSecret("s3cret", "s3cret"));
	EXPECT_TRUE(sameSecret("", ""));
	EXPECT_FALSE(sameSecret("s3cre", "s3cret"));
	EXPECT_FALSE(sameSecret("s3cret!", "s3cret"));
	EXPECT_FALSE(sameSecret("s3creT", "s3cret"));
	EXPECT_FALSE(sameSecret("", "s3cret"));
	EXPECT_FALSE(sameSecret("x", ""));
	// A NUL is a byte like any other: no C-string comparison cuts it short.
	EXPECT_FALSE(sameSecret("ab\0c"sv, "ab\0d"sv));
	EXPECT_FALSE(sameSecret("ab\0"sv, "ab"sv));
}
