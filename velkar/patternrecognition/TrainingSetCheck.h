#pragma once

// Checks a training set before a classifier builds anything from it: the set exists and holds at
// least one pattern, no entry is null, every feature vector has the length of the first one (or
// expectedLength when that is not negative), that length is at least 1, and every feature is
// finite, since one NaN would
// silently spread through every distance and weight it touches. Returns the common length.
// Failures are std::invalid_argument messages that start with owner and name the pattern.

#include <cstddef>
#include <functional>
#include <string>

#include "velkar/patternrecognition/Pattern.h"

namespace velkar::patternrecognition {

int CheckTrainingSet(const PatternSet& patterns, const std::string& owner, int expectedLength = -1);

// The same checks in two steps, for classifiers that size their model from the first pattern
// before looking at the others, with messages of their own. FirstPatternLength answers the
// feature count of the first pattern once the set is known to hold patterns and no null entry
// ("<owner>: Train needs at least one pattern", "<owner>: pattern i is missing").
// CheckPatternFeatures then rejects the first pattern without length features
// ("<owner>: pattern i has m features, the first has length") or with one that is not finite
// ("<owner>: feature j of pattern i is not finite"); checkPattern, when given, runs on every
// pattern between its two checks.
std::size_t FirstPatternLength(const PatternSet& patterns, const std::string& owner);
void CheckPatternFeatures(
    const PatternSet& patterns, const std::string& owner, std::size_t length,
    const std::function<void(std::size_t index, const Pattern& pattern)>& checkPattern = {});

}  // namespace velkar::patternrecognition
