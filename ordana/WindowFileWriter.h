#pragma once

// Writes the polygon file of a grid of square windows (the segmentation and results files of a
// classification run) while its labels are still being found, without holding the windows: the
// image name, the classes and one colour line per class (empty where there is none), the window
// count and one label per window in window order, then the window count again and every window's
// four corners (x, y), (x, y + w - 1), (x + w - 1, y + w - 1), (x + w - 1, y). Numbers are
// formatted into a large buffer, so that files of millions of windows write quickly.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ordana/OutputFile.h"

namespace velkar::ordana {

class WindowFileWriter {
  public:
    using Origin = std::function<std::pair<int, int>(std::size_t window)>;

    WindowFileWriter(const std::string& path, const std::string& imageName,
                     const std::vector<std::string>& classes,
                     const std::vector<std::string>& colours, std::size_t windowCount);

    // The label of the next window; an empty label is written "unknown".
    void AddLabel(std::string_view label);

    // Labels not given are "unknown"; then the corners of every window of side windowSize whose
    // top-left corner origin(i) gives. Returns the path written (see OutputFile).
    std::string Finish(int windowSize, const Origin& origin);

  private:
    void Append(std::string_view text);
    void AppendNumber(long long value);
    void Flush();

    OutputFile file;
    std::string buffer;
    std::size_t windowCount;
    std::size_t labelled = 0;
};

}  // namespace velkar::ordana
