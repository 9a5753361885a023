#pragma once

// The results of a classification run as a GeoPackage a GIS opens over the scene, in the scene's
// coordinate system (pixel coordinates, x column and y row, for a plain picture). Layer
// "windows": every window's square with "class" (its class name, "unknown" when it has none) and
// "class_id" (1 for the first class, ..., 0 for unknown, as in the class map). Layer "regions":
// the class map's neighbouring pixels of one class merged into polygons (GDALPolygonize, 4
// neighbours), with "class", "class_id", "area" (in map units squared; pixels on a plain picture)
// and "pixels". Windows go in a transaction per batch, so a large scene is written in few
// transactions of many features. Written under a temporary name beside scratchPath and named at
// Commit (see OutputFile); nothing is left behind when the object goes before.

#include <array>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "ordana/OutputFile.h"
#include "velkar/featureextraction/WindowGrid.h"
#include "velkar/imageprocessing/Georeference.h"

class GDALDataset;
class OGRLayer;

namespace velkar::ordana {

class ResultLayers {
  public:
    // Throws std::runtime_error naming scratchPath when the GeoPackage cannot be made.
    ResultLayers(const std::string& scratchPath, const imageprocessing::Georeference& georeference,
                 const std::vector<std::string>& classes);
    ~ResultLayers();
    ResultLayers(const ResultLayers&) = delete;
    ResultLayers& operator=(const ResultLayers&) = delete;

    // The windows first, first + 1, ... of the grid with their classes (-1 for unknown); the
    // grid's window i lies at (originX + grid.X(i), originY + grid.Y(i)) in the scene.
    void AddWindows(const featureextraction::WindowGrid& grid, std::size_t first,
                    const std::vector<int>& answers, int originX = 0, int originY = 0);
    // Polygonizes the class map, a one-band raster of class ids (0 for none) of the scene or of
    // the part of it whose top-left pixel is (mapLeft, mapTop); a map with a geotransform of its
    // own is placed by it, one without is moved to that pixel.
    void AddRegions(const std::string& classMapPath, int mapLeft = 0, int mapTop = 0);
    // Closes the GeoPackage and gives it the name path (or a numbered variant); returns the
    // name given.
    std::string Commit(const std::string& path);

  private:
    std::runtime_error Failure() const;
    void Transaction(const std::function<void()>& write);

    OutputFile file;
    std::string path;
    std::vector<std::string> classes;
    std::array<double, 6> geoTransform{0, 1, 0, 0, 0, 1};
    std::unique_ptr<GDALDataset> dataset;
    OGRLayer* windows = nullptr;
    OGRLayer* regions = nullptr;
};

}  // namespace velkar::ordana
