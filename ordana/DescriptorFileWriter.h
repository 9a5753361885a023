#pragma once

// Writes a descriptor file: one line per descriptor, its polygon's class and then its values,
// each after one space, as printf's "%.15g" prints them, the lines in the order of the blocks
// given and of the descriptors in each. Blocks of lines are formatted on every worker thread, a
// round of blocks at a time, into buffers made once and reused round after round, so the text
// held is a few rounds whatever the file's length. With more than one thread, one writer thread
// writes each round to the file while the next is formatted; on one thread each round is
// written before the next is formatted. The file is written whole or not at all (OutputFile).

#include <functional>
#include <string>
#include <vector>

#include "velkar/featureextraction/FeatureExtractionAlgorithm.h"

namespace velkar::ordana {

class DescriptorFileWriter {
  public:
    using FlatDescriptors = featureextraction::FeatureExtractionAlgorithm::FlatDescriptors;
    // The class of the polygon with the id.
    using ClassOf = std::function<std::string(int polygonId)>;

    // The most characters a value takes ("-1.23456789012345e-308").
    static constexpr std::size_t kValueChars = 22;

    // Writes value at out as "%.15g" prints it and returns the end of its text.
    static char* FormatValue(double value, char* out);

    // Writes the descriptors of every block, featureCount values each, to path; returns the path
    // written, path or a numbered variant of it when that name is taken (OutputFile).
    static std::string Write(const std::string& path, const ClassOf& classOf,
                             const std::vector<FlatDescriptors>& blocks, int featureCount);
};

}  // namespace velkar::ordana
