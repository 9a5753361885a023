#pragma once

// The chosen bands of a raster file decoded once, from the top (RasterFile::ReadFromTop), into
// an unnamed temporary file in blocks of kBlockColumns columns (the last block holds the rest):
// block after block, each row after row of its columns' BandCount() levels per pixel; then, when
// any strip read had a mask, the same blocks of one flag per pixel (non-zero where absent). A
// rectangle, a classification's strip of grid columns above all, so takes a few long reads
// instead of one per row. Rectangles
// are read back from it in any order, each with the levels, mask, georeference and origin that
// RasterFile::Read gives. The file has no name from the start (it lives in the temporary folder,
// $TMPDIR or /tmp), so none of it stays on disk however the program ends; the memory taken is
// one strip while decoding and one rectangle per read. Reads may run from many threads.
// Decoded in the background, the file is written on a thread of its own while rectangles are
// read: a read waits for the rows it needs, so the rows at the top can be worked on while the
// decoder is still below them.

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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
    // Tag of the constructor that decodes in the background.
    struct InBackground {};
    // Returns once the temporary file is made, and decodes on a thread of its own; file must
    // outlive this object and must not be used by anyone else meanwhile. What decoding throws
    // is thrown by every Read that needs rows it did not reach.
    DecodedRasterFile(const RasterFile& file, const std::vector<RasterFile::OutputBand>& chosen,
                      InBackground);
    // Stops a decoding still running (within one strip) and waits for it.
    ~DecodedRasterFile();
    DecodedRasterFile(const DecodedRasterFile&) = delete;
    DecodedRasterFile& operator=(const DecodedRasterFile&) = delete;

    int Width() const { return width; }
    int Height() const { return height; }
    int BandCount() const { return bandCount; }
    // Whether a strip decoded so far had a mask.
    bool HasMask() const;

    // The rectangle, which must lie inside the image (std::invalid_argument otherwise);
    // RasterFile::Error when the temporary file cannot be read back.
    std::shared_ptr<ImageFileSystem> Read(const RasterFile::Rectangle& area) const;

  private:
    static constexpr int kBlockColumns = 64;

    // Makes the unnamed file.
    DecodedRasterFile(const RasterFile& file, int bandCount);
    // Decodes the whole file into the temporary file.
    void Decode(const RasterFile& file, const std::vector<RasterFile::OutputBand>& chosen);
    // Waits until rows 0 ... end - 1 are written; rethrows the decoder's failure when they
    // never will be. Answers whether a mask was written.
    bool WaitForRows(long long end) const;
    void Write(const unsigned char* data, std::size_t length, long long offset);
    // Writes rows top ... top + rows - 1 of a picture of pixelBytes bytes per pixel, rows of
    // width * pixelBytes bytes from data, into the blocks that start at base; gathered holds
    // a block's part of them on the way.
    void WriteRows(const unsigned char* data, int top, int rows, int pixelBytes, long long base,
                   std::vector<unsigned char>& gathered);
    // Reads the rectangle's pixels of pixelBytes bytes from the blocks that start at base into
    // rows of area.width * pixelBytes bytes.
    void ReadRows(const RasterFile::Rectangle& area, int pixelBytes, long long base,
                  unsigned char* into) const;
    // Where row `row` of block `block` starts, in blocks of pixelBytes bytes per pixel.
    long long BlockRowOffset(int block, long long row, int pixelBytes) const;
    int BlockWidth(int block) const;
    void ReadBack(unsigned char* into, std::size_t length, long long offset) const;

    std::string path;
    std::string folder;
    int descriptor = -1;
    int width = 0;
    int height = 0;
    int bandCount = 0;
    Georeference georeference;

    // The decoder's progress, under lock.
    mutable std::mutex lock;
    mutable std::condition_variable progressed;
    long long rowsDone = 0;
    bool hasMask = false;
    bool finished = false;
    bool stopping = false;
    std::exception_ptr failure;
    std::thread decoder;
};

}  // namespace velkar::imageprocessing
