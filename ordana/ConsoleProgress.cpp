#include "ordana/ConsoleProgress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "ordana/ProtocolWriter.h"

namespace velkar::ordana {

ConsoleProgress::ConsoleProgress(const ProtocolWriter& protocol)
    : ConsoleProgress(protocol, isatty(STDERR_FILENO) == 1) {}

ConsoleProgress::ConsoleProgress(const ProtocolWriter& protocol, bool terminal)
    : protocol(protocol),
      enabled(!protocol.Chatty() && terminal),
      start(std::chrono::steady_clock::now()) {}

ConsoleProgress::~ConsoleProgress() {
    if (enabled) {
        protocol.ClearProgressLine();
    }
}

void ConsoleProgress::Show(const std::string& text) {
    if (enabled && std::chrono::steady_clock::now() - start >= std::chrono::seconds(1)) {
        protocol.ShowProgressLine(text);
    }
}

void ConsoleProgress::Show(const std::string& text, double fractionDone) {
    if (!enabled) {
        return;
    }
    const std::chrono::duration<double> taken = std::chrono::steady_clock::now() - start;
    if (taken >= std::chrono::seconds(1)) {
        protocol.ShowProgressLine(text + TimeLeft(taken.count(), fractionDone));
    }
}

std::string ConsoleProgress::TimeLeft(double secondsTaken, double fractionDone) {
    if (!(fractionDone >= 0.01) || !(secondsTaken >= 0.0)) {
        return "";
    }
    const double left = secondsTaken * (1.0 - std::min(fractionDone, 1.0)) / fractionDone;
    const auto rounded = [](double value) { return std::to_string(std::llround(value)); };
    if (left >= 7200.0) {
        return ", about " + rounded(left / 3600.0) + " h left";
    }
    if (left >= 120.0) {
        return ", about " + rounded(left / 60.0) + " min left";
    }
    return ", about " + rounded(left) + " s left";
}

}  // namespace velkar::ordana
