#pragma once

// The legend of a classification run: per class its colour (as the class map paints it,
// "#rrggbb"), the windows given the class, the pixels of the map painted in its colour, their
// area in map units squared (when the image has a geotransform: pixels times the area of one
// pixel) and their share of the image's pixels; then a row "unknown" for the windows without a
// class and the pixels no class paints. Text() lays the rows out as a table of aligned columns
// under a header line, shares in percent with two decimals, areas with two decimals, "-" where
// the area is not known.

#include <optional>
#include <string>
#include <vector>

namespace velkar::ordana {

struct ClassLegendRow {
    std::string name;
    // Empty for the unknown row.
    std::string colour;
    long long windows = 0;
    long long pixels = 0;
    std::optional<double> area;
    // From 0 to 1.
    double share = 0.0;
};

class ClassLegend {
  public:
    // windows and pixels hold one count per class; unknownWindows the windows without a class;
    // imagePixels the pixels of the whole image; pixelArea the area one pixel covers, if known.
    ClassLegend(const std::vector<std::string>& classes, const std::vector<std::string>& colours,
                const std::vector<long long>& windows, long long unknownWindows,
                const std::vector<long long>& pixels, long long imagePixels,
                std::optional<double> pixelArea);

    const std::vector<ClassLegendRow>& Rows() const { return rows; }
    std::string Text() const;

  private:
    std::vector<ClassLegendRow> rows;
};

}  // namespace velkar::ordana
