#pragma once

// Checks a training set before a classifier builds anything from it: the set exists and holds at
// least one pattern, no entry is null, every feature vector has the length of the first one (or
// expectedLength when that is not negative), that length is at least 1, and every feature is
// finite, since one NaN would
// silently spread through every distance and weight it touches. Returns the common length.
// Failures are std::invalid_argument messages that start with owner and name the pattern.

#include <string>

#include "velkar/patternrecognition/Pattern.h"

namespace velkar::patternrecognition {

int CheckTrainingSet(const PatternSet& patterns, const std::string& owner, int expectedLength = -1);

}  // namespace velkar::patternrecognition
