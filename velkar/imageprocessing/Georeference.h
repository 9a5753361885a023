#pragma once

// Where the pixels of a raster file lie on the ground, as the file tells: GDAL's affine
// geotransform t, by which the corner of pixel column c, row r (0, 0 the top-left corner of the
// file) lies at x = t[0] + c t[1] + r t[2], y = t[3] + c t[4] + r t[5], and the coordinate system
// of x and y as OGC WKT. Plain pictures have neither.

#include <array>
#include <optional>
#include <string>

namespace velkar::imageprocessing {

struct Georeference {
    std::optional<std::array<double, 6>> geoTransform;
    // Empty when the file names no coordinate system.
    std::string coordinateSystem;

    bool IsEmpty() const { return !geoTransform && coordinateSystem.empty(); }
};

}  // namespace velkar::imageprocessing
