#pragma once

// Raised by the workflows when a user's input (image, polygon file, model file, option value)
// cannot be used. The program reports the message as a log line and exits with status 2, having
// written nothing further. An error without a message stands for problems already reported as
// they were found.

#include <stdexcept>
#include <string>

namespace velkar::ordana {

class InputError : public std::runtime_error {
  public:
    explicit InputError(const std::string& message) : std::runtime_error(message) {}

    static InputError AlreadyReported() { return InputError(""); }
};

}  // namespace velkar::ordana
