#pragma once

// Ends the program on SIGINT or SIGTERM with status 128 + the signal number (130, 143) after
// removing the files of the run: an interrupted run has not completed, so like a run that fails
// it leaves nothing. Every OutputFile registers its temporary name while it is written and its
// final name once committed; the handler unlinks the registered names, says so on standard error
// and leaves through _exit, all of which may be done in a signal handler. A final name is only
// ever given (by link) to a finished temporary file, so none is left half-written. The
// registry holds a fixed number of names of bounded length; a name it cannot take is not removed
// on an interrupt, which Register reports by returning -1. On a terminal the message first clears
// the progress line.

#include <string>

namespace velkar::ordana {

class Interruption {
  public:
    // Sets the handler for SIGINT and SIGTERM.
    static void Install();

    // Registers a path to remove on an interrupt; returns its slot, or -1.
    static int Register(const std::string& path);
    // Forgets the slot's path (nothing for -1).
    static void Unregister(int slot);
    // The paths registered now, for tests.
    static std::size_t RegisteredCount();
};

}  // namespace velkar::ordana
