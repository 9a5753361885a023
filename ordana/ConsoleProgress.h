#pragma once

// A progress line on standard error for a person at a terminal. Show rewrites the line in place,
// but only once the work has taken more than a second, so that quick runs print nothing; the
// line is cleared when the object goes. Nothing at all is written when standard error is not a
// terminal or when the writer speaks the console protocol (a front end reads standard output).

#include <chrono>
#include <string>

namespace velkar::ordana {

class ProtocolWriter;

class ConsoleProgress {
  public:
    explicit ConsoleProgress(const ProtocolWriter& protocol);
    ~ConsoleProgress();
    ConsoleProgress(const ConsoleProgress&) = delete;
    ConsoleProgress& operator=(const ConsoleProgress&) = delete;

    void Show(const std::string& text);

  private:
    bool enabled;
    bool shown = false;
    std::chrono::steady_clock::time_point start;
};

}  // namespace velkar::ordana
