#pragma once

// Reading operations' Results in assertions.

#include "values/Result.h"

#include <string>

#include <gtest/gtest.h>

// A failure as "CODE: message", so that one assertion compares both; an
// outcome that is a value reads "no failure".
template<typename T> std::string failureText(const Result<T> &outcome)
{
	if (outcome.ok())
		return "no failure";
	return std::string(outcome.failure().code) + ": " + outcome.failure().message.toStdString();
}

// The outcome's value; a failure fails the test and reads as an empty value.
template<typename T> T valueOf(const Result<T> &outcome)
{
	if (outcome.ok())
		return outcome.value();
	ADD_FAILURE() << "expected a value, got " << failureText(outcome);
	return T();
}
