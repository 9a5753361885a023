#pragma once

// The polygon file: the input of the experiments, and the segmentation and results files of the
// classification run. Plain text, one item per line: a title line (ignored), the class count N
// and N class names, a colour count line (read but not used: N colour lines follow, and a
// count other than N is named in a warning), the label count M
// and M labels, the polygon count P and per polygon a vertex count K and K lines "x y".
// Count lines are decimal integers after optional blanks; the rest of such a line is ignored.
// Class names are distinct, there is one label per polygon, every polygon has 3 vertices or
// more, and only blank lines may follow the last polygon.
// The reader rejects anything outside this format, and any line longer than
// kMaxPolygonFileLine bytes, with an InputError naming file and line.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "velkar/math/Polygon.h"

namespace velkar::ordana {

struct PolygonFileContent {
    std::vector<std::string> classes;
    std::vector<std::string> colors;
    // Polygon i has id i and label i as its class.
    std::vector<std::shared_ptr<math::Polygon>> polygons;
    // What the file says otherwise than it is read, each naming file and line: a colour count
    // that is not the class count.
    std::vector<std::string> warnings;
};

// The largest number of vertices one polygon may have.
constexpr int kMaxPolygonVertices = 1000;
// The longest line a polygon file may hold, in bytes (64 KiB), without its end.
constexpr std::size_t kMaxPolygonFileLine = 64 * 1024;

// With requireKnownLabels, every label must be one of the class names (the experiments read
// descriptors back by class name); the classification run's windows are labelled "unknown".
PolygonFileContent ReadPolygonFile(const std::string& path, bool requireKnownLabels);

// Whether a class name can travel through the descriptor and model files: one word without
// quotes, braces or brackets.
bool IsStorableClassName(const std::string& name);

}  // namespace velkar::ordana
