#pragma once

// Writes the polygon file of a grid of square windows (the segmentation and results files of a
// classification run) while its labels are still being found, without holding the windows: the
// image name, the classes and one colour line per class (empty where there is none), the window
// count and one label per window in window order, then the window count again and every window's
// four corners (x, y), (x, y + w - 1), (x + w - 1, y + w - 1), (x + w - 1, y). Numbers are
// formatted into a large buffer, so that files of millions of windows write quickly.

#include <atomic>
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

    // The label written for a window without a class.
    static constexpr std::string_view kUnknown = "unknown";

    // The label of the next window; an empty label is written "unknown".
    void AddLabel(std::string_view label);
    // The label lines of the next count windows, each ended by a newline and none empty; lines
    // past the window count are left out.
    void AddLabelLines(std::string_view lines, std::size_t count);

    // Where the window section after the labels (the window count and the corners) begins and
    // ends in a file written by Finish, and the path Finish gave it.
    struct Written {
        std::string path;
        std::size_t cornersBegin = 0;
        std::size_t end = 0;
    };

    // Labels not given are "unknown"; then the corners of every window of side windowSize whose
    // top-left corner origin(i) gives. Returns the path written (see OutputFile) and where its
    // sections lie. windowsDone, when given, counts the windows whose corners are written, for
    // another thread to follow.
    Written Finish(int windowSize, const Origin& origin,
                   std::atomic<std::size_t>* windowsDone = nullptr);
    // Labels not given are "unknown"; then the window section of another file of the same
    // windows, copied instead of formatted again. Throws std::runtime_error naming that file
    // when it cannot be read or no longer has the length it was written with.
    std::string FinishWithCornersOf(const Written& other);

  private:
    void LabelTheRest();
    void Append(std::string_view text);
    void AppendNumber(long long value);
    void Flush();

    OutputFile file;
    std::string buffer;
    std::size_t windowCount;
    std::size_t labelled = 0;
    // Bytes handed to the file so far.
    std::size_t written = 0;
};

}  // namespace velkar::ordana
