#pragma once

// One raster image held by FreeImagePlus, read and written as 8-bit red, green and blue.
// Pixel (x, y) is column x from the left and row y from the top; the bitmap stores rows
// bottom-up, so row y is scanline height - 1 - y. Every image that loads becomes 24-bit RGB
// (grey gives R = G = B). A file that cannot be read leaves a 0 x 0 image and LoadError() says
// why; images past kMaxPixelCount are refused from their header, before pixels are decoded.
// Reads outside the image answer 0 and writes there change nothing; pixel reads may run from
// many threads while nobody writes. Row() gives a row's bytes directly (BytesPerPixel() per
// pixel, channels at kRedOffset, kGreenOffset, kBlueOffset). Copies hold their own pixels.

#include <cstddef>
#include <memory>
#include <string>

#include "velkar/imageprocessing/Pixel.h"

class fipImage;

namespace velkar::imageprocessing {

class ImageFileSystem {
  public:
    ImageFileSystem();
    explicit ImageFileSystem(std::string filename);
    ImageFileSystem(const ImageFileSystem& other);
    ImageFileSystem& operator=(const ImageFileSystem& other);
    virtual ~ImageFileSystem();

    // A blank in-memory bitmap; nothing is read or written on disk. Negative sizes throw
    // std::invalid_argument.
    static std::shared_ptr<ImageFileSystem> Create(std::string filename, int width, int height,
                                                   int bitsPerPixel);

    // Larger images are refused on loading: 2^28 pixels, a scene of about 16000 x 16000. The
    // size comes from the header, except for the rare formats whose size FreeImage cannot read
    // alone (JPEG 2000, SGI, DDS, IFF, MNG, PICT, WBMP, XBM), which are measured once decoded.
    static constexpr long long kMaxPixelCount = 1LL << 28;
    // Why the last load failed, empty when it worked: missing, a directory, not permitted, an
    // unknown format, damaged, data ending early (the decoder warned of a premature end, or an
    // uncompressed BMP is shorter than its header says), or too many pixels. The image
    // libraries' own messages are kept from the standard streams; they serve only this.
    const std::string& LoadError() const { return loadError; }
    // The bands (1 grey, 3 colour, 4 with alpha) and the bits per sample of the loaded file
    // before it became 8-bit RGB; 0 when nothing was loaded.
    int FileBandCount() const { return fileBandCount; }
    int FileBitsPerSample() const { return fileBitsPerSample; }

    int Width() const { return width; }
    int Height() const { return height; }
    int BandCount() const { return bandCount; }
    std::string Filename() const { return filename; }
    bool IsLoaded() const { return width > 0 && height > 0; }

    static constexpr int kRedOffset = 2;
    static constexpr int kGreenOffset = 1;
    static constexpr int kBlueOffset = 0;
    int BytesPerPixel() const { return bytesPerPixel; }
    // The pixels of row y (0 at the top), or nullptr outside the image.
    const unsigned char* Row(int y) const {
        if (y < 0 || y >= height || bits == nullptr) {
            return nullptr;
        }
        return bits + static_cast<std::ptrdiff_t>(height - 1 - y) * pitch;
    }

    void Pixel(int x, int y, imageprocessing::Pixel& out) const;
    // Band 0 red, 1 green, 2 blue.
    unsigned char Pixel(int x, int y, int band) const;
    void SetPixel(int x, int y, const imageprocessing::Pixel& value);

    // Saving picks the format from the name's extension; both report whether it worked.
    bool Save();
    bool SaveAs(std::string name);

  private:
    void LoadImageIntoMemory(std::string name);
    // Loads filename into image as 24-bit RGB; returns why it could not.
    std::string Decode();
    void RecordFileLayout();
    void CacheGeometry();
    const unsigned char* PixelBytes(int x, int y) const;

    int width = 0;
    int height = 0;
    std::unique_ptr<fipImage> image;
    int bandCount = 0;
    std::string filename;
    std::string loadError;
    int fileBandCount = 0;
    int fileBitsPerSample = 0;
    int bytesPerPixel = 0;
    // The bitmap's first scanline (the bottom row) and the distance between scanlines; null
    // when the image holds no 24- or 32-bit pixels.
    const unsigned char* bits = nullptr;
    std::ptrdiff_t pitch = 0;
};

}  // namespace velkar::imageprocessing
