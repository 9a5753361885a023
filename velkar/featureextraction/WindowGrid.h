#pragma once

// The square windows of side WindowSize() whose top-left corners lie on a regular grid of step
// Step() over a Width() x Height() image: x = 0, step, 2 step, ... while x + windowSize <= width
// (outer loop) and y likewise (inner loop). Window i of the grid is the i-th in that order: it
// lies in grid column i / Rows() and grid row i % Rows(), at (X(i), Y(i)), and covers columns
// X(i) ... X(i) + windowSize - 1 and rows Y(i) ... Y(i) + windowSize - 1. An image narrower or
// lower than the window holds no window. A plain value, safe to share between threads.

#include <cstddef>

namespace velkar::featureextraction {

class WindowGrid {
  public:
    // Throws std::invalid_argument when windowSize or step is below 1 or a side is negative.
    WindowGrid(int windowSize, int step, int width, int height);

    int WindowSize() const { return windowSize; }
    int Step() const { return step; }
    int Width() const { return width; }
    int Height() const { return height; }

    // Window origins across (x values) and down (y values).
    std::size_t Columns() const { return columns; }
    std::size_t Rows() const { return rows; }
    std::size_t Count() const { return columns * rows; }

    // The origin of window index; index must be below Count().
    int X(std::size_t index) const { return static_cast<int>(index / rows) * step; }
    int Y(std::size_t index) const { return static_cast<int>(index % rows) * step; }

  private:
    int windowSize;
    int step;
    int width;
    int height;
    std::size_t columns;
    std::size_t rows;
};

}  // namespace velkar::featureextraction
