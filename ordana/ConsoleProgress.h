#pragma once

// A progress line on standard error for a person at a terminal. Show rewrites the line in place,
// but only once the work has taken more than a second, so that quick runs print nothing; given
// the share of the work done, it adds the time left, estimated from the time taken so far as if
// the rest went at the same pace. The line is cleared when the object goes, and by every other
// line the writer writes meanwhile. Nothing at all is written when standard error is not a
// terminal or when the writer speaks the console protocol (a front end reads standard output).

#include <chrono>
#include <string>

namespace velkar::ordana {

class ProtocolWriter;

class ConsoleProgress {
  public:
    explicit ConsoleProgress(const ProtocolWriter& protocol);
    // terminal says whether standard error is one.
    ConsoleProgress(const ProtocolWriter& protocol, bool terminal);
    ~ConsoleProgress();
    ConsoleProgress(const ConsoleProgress&) = delete;
    ConsoleProgress& operator=(const ConsoleProgress&) = delete;

    // Whether Show writes anything at all (a terminal, no console protocol).
    bool Enabled() const { return enabled; }

    void Show(const std::string& text);
    // fractionDone in [0, 1]: the text is followed by the time left.
    void Show(const std::string& text, double fractionDone);

    // ", about 40 s left" (minutes from 2 minutes on, hours from 2 hours on) after secondsTaken
    // for fractionDone of the work; empty before a hundredth of it is done.
    static std::string TimeLeft(double secondsTaken, double fractionDone);

  private:
    const ProtocolWriter& protocol;
    bool enabled;
    std::chrono::steady_clock::time_point start;
};

}  // namespace velkar::ordana
