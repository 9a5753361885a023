#include "velkar/util/Random.h"

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <stdexcept>
#include <utility>

namespace velkar::util {

namespace {

std::atomic<bool> seeded{false};

// Wide draws take the low bits of several rand() values; those bits are uniform only when
// RAND_MAX + 1 is a power of two, which holds for every common C library.
constexpr std::uint64_t randRange = static_cast<std::uint64_t>(RAND_MAX) + 1;
static_assert((randRange & (randRange - 1)) == 0, "RAND_MAX + 1 must be a power of two");
constexpr int bitsPerDraw = std::bit_width(static_cast<std::uint64_t>(RAND_MAX));

}  // namespace

void EnsureSeeded() {
    // A plain read first: once seeded, every draw passes here without a locked exchange.
    if (seeded.load(std::memory_order_acquire)) {
        return;
    }
    bool expected = false;
    if (seeded.compare_exchange_strong(expected, true)) {
        std::srand(static_cast<unsigned>(std::time(nullptr)));
    }
}

void Seed(unsigned seed) {
    seeded.store(true);
    std::srand(seed);
}

double RandomReal() {
    EnsureSeeded();
    return std::rand() / static_cast<double>(RAND_MAX);
}

namespace {

// A uniform index below range (>= 1) from the seeded generator.
std::size_t DrawIndex(std::uint64_t range) {
    if (range <= randRange) {
        return static_cast<std::size_t>(static_cast<std::uint64_t>(std::rand()) % range);
    }
    // Draw just enough random bits to cover range - 1 and reject values at or above range, so
    // every index is equally likely; more than half of the draws are accepted.
    const int bitsNeeded = std::bit_width(range - 1);
    const std::uint64_t mask =
        bitsNeeded >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bitsNeeded) - 1;
    for (;;) {
        std::uint64_t value = 0;
        for (int collected = 0; collected < bitsNeeded; collected += bitsPerDraw) {
            value = (value << bitsPerDraw) | static_cast<std::uint64_t>(std::rand());
        }
        value &= mask;
        if (value < range) {
            return static_cast<std::size_t>(value);
        }
    }
}

}  // namespace

std::size_t RandomIndex(std::size_t n) {
    if (n == 0) {
        throw std::invalid_argument("RandomIndex needs a range of at least one index");
    }
    EnsureSeeded();
    return DrawIndex(n);
}

std::vector<std::size_t> RandomPermutation(std::size_t n) {
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) {
        order[i] = i;
    }
    EnsureSeeded();
    for (std::size_t i = n; i > 1; --i) {
        std::swap(order[i - 1], order[DrawIndex(i)]);
    }
    return order;
}

}  // namespace velkar::util
