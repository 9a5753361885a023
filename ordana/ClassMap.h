#pragma once

// The class-map picture of a classification run, written beside its results file as a PNG:
// every window paints the s x s square at its centre (s the grid step: the whole window on the
// "window" grid, its central half on "half", its centre pixel on "pixel") in the colour of its
// class; pixels no window paints, and "unknown" windows, stay black. A class's colour is its
// colour line when that reads as a colour ("#rrggbb", "r g b" or "r,g,b", optionally in brackets)
// and otherwise a colour of a fixed palette of distinct colours, chosen by the class's position.
// The picture is never held whole: the windows of a batch (whole grid columns, or whole grid
// rows) paint a strip in memory, which goes into a tiled GeoTIFF of class indices (IndexedRasterFile, with the scene's
// georeference) when the batch is done; Write copies that into the PNG, or WriteGeoTiff keeps
// the GeoTIFF itself (index 0 marked as no data) under the name asked. Until then the GeoTIFF is
// a temporary file beside the outputs, removed when the map goes. Each strip also counts the
// pixels of every class and fills a preview of at most kPreviewSide pixels on the longer side
// (preview pixel (x, y) holds the map pixel under its centre), so that the report page's
// picture and the legend need not read the map again.

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ordana/OutputFile.h"
#include "velkar/imageprocessing/Georeference.h"
#include "velkar/imageprocessing/IndexedImage.h"
#include "velkar/imageprocessing/IndexedRasterFile.h"
#include "velkar/imageprocessing/RasterFile.h"

namespace velkar::ordana {

class ClassMap {
  public:
    using Colour = imageprocessing::IndexedImage::Colour;

    // geoTiffPath names the GeoTIFF the strips go to (written under a temporary name beside
    // it). Throws std::runtime_error when it cannot be made.
    ClassMap(const std::string& geoTiffPath, int width, int height, int windowSize, int step,
             const std::vector<std::string>& classes, const std::vector<std::string>& colours,
             const imageprocessing::Georeference& georeference = {});
    // The map of the area of the image only (see GridRegion::MapArea); Paint and BeginStrip
    // still take image positions. The georeference is the area's own.
    ClassMap(const std::string& geoTiffPath, const imageprocessing::RasterFile::Rectangle& area,
             int windowSize, int step, const std::vector<std::string>& classes,
             const std::vector<std::string>& colours,
             const imageprocessing::Georeference& georeference = {});

    // The windows whose corners lie in columns firstX ... lastX and rows firstY ... lastY paint
    // next; what no window of the strip paints is left to other strips (pixels no strip paints
    // stay black).
    void BeginStrip(int firstX, int lastX, int firstY, int lastY);
    // The window with top-left corner (x, y), inside the strip's columns, was given class number
    // classIndex (from 0); an index outside the classes paints nothing. Windows of one grid paint
    // squares that do not overlap, so they may be painted from several threads at once.
    void Paint(int x, int y, int classIndex);
    // Puts the strip's squares into the GeoTIFF.
    void EndStrip();

    // Closes the GeoTIFF, which is then complete at RasterPath(), with no data 0 when noData.
    void Finish(bool noData);
    const std::string& RasterPath() const { return geoTiff.TemporaryPath(); }

    // Writes the picture to path (or a numbered variant, see OutputFile); returns the path.
    std::string Write(const std::string& path);
    // Gives the GeoTIFF the name path (or a numbered variant); returns the name given.
    std::string WriteGeoTiff(const std::string& path);


    // Twice the page's picture side, so that the page's majority scaling has pixels to choose
    // from.
    static constexpr int kPreviewSide = 3200;
    // The map as painted so far, scaled to fit kPreviewSide, with the map's palette.
    const imageprocessing::IndexedImage& Preview() const { return preview; }
    // The pixels painted so far in each class's colour index (classes beyond the 255 indices
    // share them and are counted under the first class of their index).
    const std::vector<long long>& PixelCounts() const { return pixelCounts; }

    // The colour a colour line names, if it names one.
    static std::optional<Colour> ParseColour(const std::string& line);
    // The colour of class number classIndex with the given colour line.
    static Colour ClassColour(std::size_t classIndex, const std::string& line);

  private:
    OutputFile geoTiff;
    std::unique_ptr<imageprocessing::IndexedRasterFile> raster;
    imageprocessing::IndexedImage strip{0, 0};
    imageprocessing::IndexedImage preview{0, 0};
    std::vector<long long> pixelCounts;
    int stripLeft = 0;
    int stripTop = 0;
    int mapLeft = 0;
    int mapTop = 0;
    int windowSize;
    int step;
    std::size_t classCount;
};

}  // namespace velkar::ordana
