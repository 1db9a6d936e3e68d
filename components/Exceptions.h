#pragma once
// The runtime's general exception and its assertion exception.
#include <stdexcept>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// Message reads "<text> (<file>, line <n>)".
class EAssertionFailed : public Exception {
public:
    EAssertionFailed(const std::string& text, const char* file, int line);
};

// Raises EAssertionFailed with the given text when cond is false.
#define CHRONEL_REQUIRE(cond, text)                                   \
    do {                                                              \
        if (!(cond)) throw EAssertionFailed((text), __FILE__, __LINE__); \
    } while (0)
