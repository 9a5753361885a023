#pragma once

// The record of one extractor run over one image variant: where its descriptors were written,
// how many features each has (0 when the run produced none), and what the model file needs to
// repeat the extraction (extractor name, parameter string, window size, classes and colours).

#include <string>
#include <vector>

namespace velkar::ordana {

struct ExtractionOutput {
    std::string descriptorFile;
    int featureCount = 0;
    std::string algorithmName;
    std::vector<std::string> classes;
    std::vector<std::string> colors;
    std::string parameters;
    int windowSize = 0;
};

}  // namespace velkar::ordana
