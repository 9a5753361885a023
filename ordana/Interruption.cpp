#include "ordana/Interruption.h"

#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

namespace velkar::ordana {

namespace {

constexpr std::size_t kSlots = 1024;
constexpr std::size_t kPathLength = 4096;

// A slot is free (0), being filled (1) or holds a path the handler removes (2).
struct Slot {
    std::atomic<int> state{0};
    char path[kPathLength];
};
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads the slots' states");

Slot slots[kSlots];

// Whether standard error is a terminal, where a progress line may stand unfinished.
volatile std::sig_atomic_t errorIsTerminal = 0;

void WriteText(const char* text) {
    const std::size_t length = std::strlen(text);
    if (write(STDERR_FILENO, text, length) < 0) {
        return;
    }
}

extern "C" void OnInterrupt(int signalNumber) {
    for (Slot& slot : slots) {
        if (slot.state.load() == 2) {
            unlink(slot.path);
        }
    }
    if (errorIsTerminal != 0) {
        // The message replaces the progress line instead of running on after it.
        WriteText("\r\033[K");
    }
    WriteText(signalNumber == SIGINT ? "ordana: interrupted (SIGINT)"
                                     : "ordana: terminated (SIGTERM)");
    WriteText("; the files of this run are removed.\n");
    _exit(128 + signalNumber);
}

}  // namespace

void Interruption::Install() {
    errorIsTerminal = isatty(STDERR_FILENO) == 1 ? 1 : 0;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int Interruption::Register(const std::string& path) {
    if (path.size() >= kPathLength) {
        return -1;
    }
    for (std::size_t i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (slots[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
            slots[i].state.store(2);
            return static_cast<int>(i);
        }
    }
    return -1;
}

void Interruption::Unregister(int slot) {
    if (slot >= 0 && static_cast<std::size_t>(slot) < kSlots) {
        slots[slot].state.store(0);
    }
}

std::size_t Interruption::RegisteredCount() {
    std::size_t count = 0;
    for (const Slot& slot : slots) {
        count += slot.state.load() == 2 ? 1 : 0;
    }
    return count;
}

}  // namespace velkar::ordana
