#pragma once

// The class-map picture of a classification run, written beside its results file as a PNG:
// every window paints the s x s square at its centre (s the grid step: the whole window on the
// "window" grid, its central half on "half", its centre pixel on "pixel") in the colour of its
// class; pixels no window paints, and "unknown" windows, stay black. A class's colour is its
// colour line when that reads as a colour ("#rrggbb", "r g b" or "r,g,b", optionally in brackets)
// and otherwise a colour of a fixed palette of distinct colours, chosen by the class's position.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "velkar/imageprocessing/IndexedImage.h"

namespace velkar::ordana {

class ClassMap {
  public:
    using Colour = imageprocessing::IndexedImage::Colour;

    ClassMap(int width, int height, int windowSize, int step,
             const std::vector<std::string>& classes, const std::vector<std::string>& colours);

    // The window with top-left corner (x, y) was given class number classIndex (from 0); an
    // index outside the classes paints nothing. Windows of one grid paint squares that do not
    // overlap, so they may be painted from several threads at once.
    void Paint(int x, int y, int classIndex);

    // Writes the picture to path (or a numbered variant, see OutputFile); returns the path.
    std::string Write(const std::string& path) const;

    const imageprocessing::IndexedImage& Picture() const { return picture; }

    // The colour a colour line names, if it names one.
    static std::optional<Colour> ParseColour(const std::string& line);
    // The colour of class number classIndex with the given colour line.
    static Colour ClassColour(std::size_t classIndex, const std::string& line);

  private:
    imageprocessing::IndexedImage picture;
    int windowSize;
    int step;
    std::size_t classCount;
};

}  // namespace velkar::ordana
