#pragma once

// What the runs put on their report pages, taken from their own data. ScenePicture reads the
// scene a strip of rows at a time and scales it while reading to at most maxSide pixels on the
// longer side: output pixel (x, y) is the mean of the input pixels (i, j) with i w / W = x and
// j h / H = y (integer division), absent pixels left out (black when all are absent), so the
// memory held is the output and one strip, whatever the scene's size. Three or more bands show
// their first three as red, green and blue; one or two bands show the first as grey.
// The other functions turn the run's classes, polygons, command line and model into page rows.

#include <string>
#include <vector>

#include "ordana/ReportPage.h"
#include "ordana/SceneRaster.h"
#include "velkar/imageprocessing/Georeference.h"
#include "velkar/math/Polygon.h"
#include "velkar/util/Map.h"

namespace velkar::ordana {

// The pixels of one strip of the scene read at a time.
constexpr long long kPictureStripPixels = 1LL << 22;

RgbPicture ScenePicture(const SceneRaster& scene, int maxSide = kPagePictureSide,
                        long long stripPixels = kPictureStripPixels);

// The classes in the colours the class map paints them (ClassMap::ClassColour).
std::vector<PageClass> PageClasses(const std::vector<std::string>& classes,
                                   const std::vector<std::string>& colours);

// Each polygon's vertices, and its class as the index of its label among classes (-1 when it is
// none of them).
std::vector<PagePolygon> PagePolygons(const std::vector<std::shared_ptr<math::Polygon>>& polygons,
                                      const std::vector<std::string>& classes);

// The command line as settings: every "--name" with the words after it up to the next option
// as its value ("" for a flag); words before the first option are left out.
std::vector<PageSetting> CommandLineSettings(const std::vector<std::string>& arguments);

// The model's metadata entries and the scalar entries of its top level (a classifier's learnt
// arrays are left out), by key; arrays of the metadata are written as comma-separated lists.
std::vector<PageSetting> ModelSettings(const util::Map& model);

// The ground area of one pixel and its unit ("m²", "ft²", "degree²", or "map unit²" when the
// coordinate system is not known), or an area of 0 and no unit when the scene has no
// geotransform.
struct PixelArea {
    double area = 0.0;
    std::string unit;
};
PixelArea PixelAreaOf(const imageprocessing::Georeference& georeference);

}  // namespace velkar::ordana
