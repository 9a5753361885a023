#pragma once

// A picture of palette indices (one byte per pixel, as IndexedImage) that need not fit in
// memory: written a rectangle at a time into a tiled GeoTIFF (256 x 256 tiles, deflated, the
// palette as its colour table, the georeference when one is given), then copied whole into a PNG
// through GDAL, which reads it a row of tiles at a time. Pixels never written hold index 0.
// Rectangles may come in any order; writing one pixel twice keeps the last. Not thread-safe.

#include <optional>
#include <string>
#include <vector>

#include "velkar/imageprocessing/Georeference.h"
#include "velkar/imageprocessing/IndexedImage.h"

namespace velkar::imageprocessing {

class IndexedRasterFile {
  public:
    // Creates (or replaces) the GeoTIFF at path; at most 256 colours. Throws std::runtime_error
    // naming the path when it cannot be made, std::invalid_argument for a size below 1.
    IndexedRasterFile(const std::string& path, int width, int height,
                      const std::vector<IndexedImage::Colour>& palette,
                      const Georeference& georeference = {});
    ~IndexedRasterFile();
    IndexedRasterFile(const IndexedRasterFile&) = delete;
    IndexedRasterFile& operator=(const IndexedRasterFile&) = delete;

    int Width() const { return width; }
    int Height() const { return height; }

    // Writes the part with its top-left pixel at (x, y); what falls outside is left out.
    // Throws std::runtime_error when GDAL cannot write it.
    void Write(const IndexedImage& part, int x, int y);

    // Closes the GeoTIFF, marking index noDataIndex as no data when one is given; it is
    // complete at Path() from then on, and Write does nothing. Throws std::runtime_error when
    // GDAL cannot finish it.
    void Finish(std::optional<int> noDataIndex = std::nullopt);
    const std::string& Path() const { return path; }

    // Finishes the GeoTIFF (when Finish has not) and writes its pixels with the palette as a
    // paletted PNG at pngPath (no side file). Throws std::runtime_error naming pngPath when that
    // fails.
    void CopyToPng(const std::string& pngPath);

  private:
    void Close();

    std::string path;
    int width;
    int height;
    void* dataset = nullptr;
};

}  // namespace velkar::imageprocessing
