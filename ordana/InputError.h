#pragma once

// Raised by the workflows when a user's input (image, polygon file, model file, option value)
// cannot be used. The program reports the message as a log line and exits with status 2, having
// written nothing further. An error without a message stands for problems already reported as
// they were found.

#include <fstream>
#include <stdexcept>
#include <string>

namespace velkar::ordana {

class InputError : public std::runtime_error {
  public:
    explicit InputError(const std::string& message) : std::runtime_error(message) {}

    static InputError AlreadyReported() { return InputError(""); }
};

// The input file at path opened for binary reading, or an InputError naming it as "the <kind>
// file" when it is a directory or cannot be opened (with the system's reason when there is one).
std::ifstream OpenInputFile(const std::string& kind, const std::string& path);

}  // namespace velkar::ordana
