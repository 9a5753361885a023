#pragma once

// The chosen bands of a raster file decoded once, from the top (RasterFile::ReadFromTop), into
// an unnamed temporary file: Width() * BandCount() levels per row, row after row, then, when any
// strip read had a mask, one flag per pixel (non-zero where absent), row after row. Rectangles
// are read back from it in any order, each with the levels, mask, georeference and origin that
// RasterFile::Read gives. The file has no name from the start (it lives in the temporary folder,
// $TMPDIR or /tmp), so none of it stays on disk however the program ends; the memory taken is
// one strip while decoding and one rectangle per read. Reads may run from many threads.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "velkar/imageprocessing/Georeference.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/imageprocessing/RasterFile.h"

namespace velkar::imageprocessing {

class DecodedRasterFile {
  public:
    // Throws what RasterFile::ReadFromTop throws, and RasterFile::Error naming the temporary
    // folder when it cannot take the levels.
    DecodedRasterFile(const RasterFile& file, const std::vector<RasterFile::OutputBand>& chosen);
    ~DecodedRasterFile();
    DecodedRasterFile(const DecodedRasterFile&) = delete;
    DecodedRasterFile& operator=(const DecodedRasterFile&) = delete;

    int Width() const { return width; }
    int Height() const { return height; }
    int BandCount() const { return bandCount; }
    bool HasMask() const { return hasMask; }

    // The rectangle, which must lie inside the image (std::invalid_argument otherwise);
    // RasterFile::Error when the temporary file cannot be read back.
    std::shared_ptr<ImageFileSystem> Read(const RasterFile::Rectangle& area) const;

  private:
    void Write(const unsigned char* data, std::size_t length, long long offset);

    std::string path;
    std::string folder;
    int descriptor = -1;
    int width = 0;
    int height = 0;
    int bandCount = 0;
    bool hasMask = false;
    Georeference georeference;
};

}  // namespace velkar::imageprocessing
