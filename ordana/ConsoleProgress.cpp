#include "ordana/ConsoleProgress.h"

#include <unistd.h>

#include <iostream>

#include "ordana/ProtocolWriter.h"

namespace velkar::ordana {

ConsoleProgress::ConsoleProgress(const ProtocolWriter& protocol)
    : enabled(!protocol.Chatty() && isatty(STDERR_FILENO) == 1),
      start(std::chrono::steady_clock::now()) {}

ConsoleProgress::~ConsoleProgress() {
    if (shown) {
        // Carriage return, then erase to the end of the line.
        std::cerr << "\r\033[K" << std::flush;
    }
}

void ConsoleProgress::Show(const std::string& text) {
    if (!enabled || std::chrono::steady_clock::now() - start < std::chrono::seconds(1)) {
        return;
    }
    std::cerr << "\r\033[K" << text << std::flush;
    shown = true;
}

}  // namespace velkar::ordana
