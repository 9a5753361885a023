#pragma once

// Training regions drawn in a GIS: the first layer of any vector file GDAL/OGR opens (GeoPackage,
// Shapefile, GeoJSON, ...), read into the content the text polygon file gives. A feature's class
// is its attribute classField; colorField, when named, gives a class its colour (the first value
// met for the class; empty otherwise). Classes are listed in order of first appearance. Every
// polygon, and every part of a multipolygon, becomes one polygon in feature order, with its holes,
// its id its position in the list. Vertices go from the layer's coordinate system to the raster's
// (when both are known and differ, x easting or longitude, y northing or latitude), then through
// the inverse geotransform to pixel coordinates, rounded to the nearest pixel corner; on a raster
// without geotransform vector coordinates are pixel coordinates (x column, y row). Repeated
// vertices after rounding are merged and rings are not closed by a repeated first vertex.
// Features without a class value or without an area are skipped with a warning; every other
// problem is an InputError naming the file (and the feature).

#include <functional>
#include <optional>
#include <string>

#include "ordana/PolygonFile.h"
#include "velkar/imageprocessing/Georeference.h"

namespace velkar::ordana {

// The raster the polygons are laid on.
struct RasterFrame {
    imageprocessing::Georeference georeference;
    int width = 0;
    int height = 0;
};

struct VectorFields {
    std::string classField = "class";
    std::optional<std::string> colorField;
};

// Whether GDAL/OGR recognises the file at path as vector data; such a file is read by
// ReadVectorLayerFile, any other by ReadPolygonFile.
bool IsVectorLayerFile(const std::string& path);

PolygonFileContent ReadVectorLayerFile(const std::string& path, const VectorFields& fields,
                                       const RasterFrame& frame,
                                       const std::function<void(const std::string&)>& warn);

}  // namespace velkar::ordana
