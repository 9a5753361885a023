#pragma once

// The library's one random source: every random draw in velkar goes through these helpers, which
// sit on the C library generator (rand/srand). The generator is seeded from the calendar clock
// once per process, on the first draw or the first EnsureSeeded(); Seed() fixes the sequence
// instead (tests, reproducible runs) and also stops any later clock seeding.
// Not thread-safe beyond the seeding flag itself: all callers share one generator.

#include <cstddef>
#include <vector>

namespace velkar::util {

// Seeds the generator from the clock unless it was already seeded by this unit.
void EnsureSeeded();

// Seeds the generator with a fixed value; later EnsureSeeded() calls keep this sequence.
void Seed(unsigned seed);

// A real in [0, 1]: rand() / RAND_MAX.
double RandomReal();

// An index in [0, n), every index reachable whatever the size of n. For n up to RAND_MAX + 1 it
// is rand() % n; larger ranges combine several draws. n must be at least 1
// (std::invalid_argument otherwise).
std::size_t RandomIndex(std::size_t n);

// The indices 0 ... n - 1 in a random order (Fisher-Yates through RandomIndex); learners that
// visit their patterns one at a time draw a fresh order every epoch with it.
std::vector<std::size_t> RandomPermutation(std::size_t n);

}  // namespace velkar::util
