#pragma once

#include <utility>
#include <variant>

#include <QString>

// Why an operation has no result: a message for people and one of the codes
// of values/ErrorCodes.h for the pages.
struct Failure {
	QString message;
	const char *code;
};

// The outcome of an operation that can fail: its value or a Failure. Which
// one it is follows from the type alone, never from the value's content, so
// a value may carry members of any name, "error" among them.
template<typename T> class Result {
public:
	Result(T value) : outcome(std::in_place_index<0>, std::move(value)) {}
	Result(Failure failure) : outcome(std::in_place_index<1>, std::move(failure)) {}

	bool ok() const { return outcome.index() == 0; }
	// Only when ok().
	const T &value() const { return std::get<0>(outcome); }
	T &value() { return std::get<0>(outcome); }
	// Only when not ok().
	const Failure &failure() const { return std::get<1>(outcome); }

private:
	std::variant<T, Failure> outcome;
};
