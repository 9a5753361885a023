#pragma once

// An image of N bands of 8-bit levels held in memory: pixel-interleaved, rows top-down, so band
// b of column x, row y is Row(y)[x * BandCount() + b]; colour pictures hold red in band 0, green
// in 1 and blue in 2. Loading a file reads the whole of it through RasterFile with the file's
// default bands (an alpha band dropped, a palette expanded to red, green and blue, a single grey
// band given as three equal bands) and samples deeper than 8 bits stretched between their 2nd
// and 98th percentiles; an 8-bit file keeps its levels exactly. A file that cannot be read leaves
// a 0 x 0 image and LoadError() says why; images past kMaxPixelCount are refused from their
// header, before any pixel is decoded or any pixel buffer made, and the pixels are decoded from
// the top into a buffer that grows as rows arrive, so a file whose data end early is refused
// having taken memory only for the rows it holds.
// An optional mask marks absent pixels (no data in the file); the georeference of the file and
// the image's origin in it (where RasterFile read it from) travel with the pixels. Reads outside
// the image answer 0 and writes there change nothing; reads may run from many threads while
// nobody writes. Copies hold their own pixels.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "velkar/imageprocessing/Georeference.h"
#include "velkar/imageprocessing/Pixel.h"

namespace velkar::imageprocessing {

class RasterFile;

class ImageFileSystem {
  public:
    ImageFileSystem();
    explicit ImageFileSystem(std::string filename);
    // A blank image: every level 0, no mask, no georeference, origin (0, 0); nothing is read or
    // written on disk. Throws std::invalid_argument for a negative size or fewer than 1 band.
    ImageFileSystem(std::string filename, int width, int height, int bandCount);
    ImageFileSystem(const ImageFileSystem&) = default;
    ImageFileSystem& operator=(const ImageFileSystem&) = default;
    ImageFileSystem(ImageFileSystem&&) noexcept = default;
    ImageFileSystem& operator=(ImageFileSystem&&) noexcept = default;
    virtual ~ImageFileSystem() = default;

    // A blank image as the constructor above makes it.
    static std::shared_ptr<ImageFileSystem> Create(std::string filename, int width, int height,
                                                   int bandCount = 3);

    // Larger images are refused where a whole image is held: 2^28 pixels, a scene of about
    // 16000 x 16000.
    static constexpr long long kMaxPixelCount = 1LL << 28;
    // Why a picture file cannot be decoded, from its header alone: before GDAL opens it (a GIF,
    // whose reader decodes its first picture on opening, of more than kMaxPixelCount pixels),
    // and once opened (more than kMaxPixelCount pixels, an uncompressed BMP shorter than its
    // header says). Empty when nothing is wrong so far.
    static std::string ProblemBeforeOpening(const std::string& path);
    static std::string ProblemOfOpened(const RasterFile& file);

    // Why the last load failed, empty when it worked: missing, a directory, not permitted, an
    // unknown format, damaged, data ending early (the decoder said so, or an uncompressed BMP is
    // shorter than its header says), too many pixels, or too little memory for them.
    const std::string& LoadError() const { return loadError; }
    // The bands of the file the image was read from and the largest bits per sample among them
    // (1 for a two-colour picture, 16 for 16-bit samples); 0 for an image not read from a file.
    int FileBandCount() const { return fileBandCount; }
    int FileBitsPerSample() const { return fileBitsPerSample; }

    int Width() const { return width; }
    int Height() const { return height; }
    int BandCount() const { return bandCount; }
    std::string Filename() const { return filename; }
    bool IsLoaded() const { return width > 0 && height > 0; }

    // The levels of row y (0 at the top), Width() * BandCount() of them, or nullptr outside the
    // image.
    const unsigned char* Row(int y) const {
        if (y < 0 || y >= height) {
            return nullptr;
        }
        return levels.data() + static_cast<std::size_t>(y) * rowLength;
    }
    unsigned char* Row(int y) {
        return const_cast<unsigned char*>(static_cast<const ImageFileSystem&>(*this).Row(y));
    }

    // Bands 0, 1 and 2 into components 0, 1 and 2 (0 for a band the image lacks); the fourth
    // component and the count are left alone.
    void Pixel(int x, int y, imageprocessing::Pixel& out) const;
    unsigned char Pixel(int x, int y, int band) const;
    // Components 0, 1 and 2 into bands 0, 1 and 2, as far as the image has them.
    void SetPixel(int x, int y, const imageprocessing::Pixel& value);
    void SetPixel(int x, int y, int band, unsigned char level);

    // Whether the image carries a mask of absent pixels; without one every pixel is present.
    bool HasMask() const { return !absent.empty(); }
    bool IsAbsent(int x, int y) const;
    // Width() flags of row y, non-zero where a pixel is absent; nullptr without a mask or
    // outside the image.
    const unsigned char* MaskRow(int y) const;
    // Width() * Height() flags, row after row, non-zero where a pixel is absent; an empty list
    // removes the mask. Throws std::invalid_argument for a list of another length.
    void SetMask(std::vector<unsigned char> flags);

    const Georeference& GetGeoreference() const { return georeference; }
    void SetGeoreference(Georeference value) { georeference = std::move(value); }
    // The file column and row of the image's pixel (0, 0).
    int OriginX() const { return originX; }
    int OriginY() const { return originY; }
    void SetOrigin(int x, int y) {
        originX = x;
        originY = y;
    }

    // Saving picks the format from the name's extension (png, jpg or jpeg, bmp, gif, tif or
    // tiff) and writes the bands as they are; both report whether it worked. Formats take the
    // band counts GDAL's drivers take (PNG 1 to 4, JPEG 1 or 3, BMP 1 or 3, GIF 1, TIFF any).
    bool Save();
    bool SaveAs(std::string name);

  private:
    friend class RasterFile;

    void LoadImageIntoMemory();
    // Reads the whole file into this image; returns why it could not.
    std::string Decode();

    int width = 0;
    int height = 0;
    // An image without pixels still counts the three bands of a colour picture.
    int bandCount = 3;
    std::size_t rowLength = 0;
    std::vector<unsigned char> levels;
    std::vector<unsigned char> absent;
    std::string filename;
    std::string loadError;
    int fileBandCount = 0;
    int fileBitsPerSample = 0;
    Georeference georeference;
    int originX = 0;
    int originY = 0;
};

}  // namespace velkar::imageprocessing
