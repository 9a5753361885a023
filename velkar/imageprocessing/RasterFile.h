#pragma once

// A raster file opened through GDAL for reading rectangles of it: its size, its bands (sample
// type, colour meaning, no-data value) and georeference; the bands an image is made of, by
// default or by choice; per-band stretch values taken over the whole file; and any rectangle read
// as an ImageFileSystem of 8-bit levels, with its mask of absent pixels and its origin.
//
// Default bands: the bands of the file in file order, except that alpha bands are dropped (while
// another band remains), a palette band gives the red, green and blue of its colours, and a
// single grey band left gives three equal bands. A chosen list gives one band per number, each
// as its samples (a palette band gives its indices), numbers may repeat.
// Levels: 8-bit samples are levels as they are; samples of 1 to 7 bits (GDAL's NBITS) become
// round(v * 255 / (2^n - 1)); deeper samples, and any band given a stretch, become
//     level = clamp(floor(255.0 * (v - low) / (high - low) + 0.5), 0, 255)
// computed in double precision in that order; when high == low, v <= low gives 0 and v > low 255.
// Absent pixels: a pixel is absent where GDAL's mask band of any band read marks it (the band's
// no-data value, or the file's own mask), or where a floating-point sample is not finite; alpha
// bands mark nothing absent. Absent pixels keep the levels their samples give (0 for a
// non-finite sample).
// Stretch from percentiles: over the n present samples of one band (its own mask), the p-th
// percentile is the sample of rank k = ceil(p n / 100) - 1 (0-based, ascending, clamped to
// 0 ... n - 1); low is that of p = 2 and high that of p = 98, exact for integer samples. For
// floating-point samples, min and max are those of the present samples and a sample v falls in
// bin i = min(4095, floor(4096.0 * (v - min) / (max - min))) of 4096; low is the lower edge
// min + i (max - min) / 4096 of the bin holding the rank of p = 2, high the upper edge
// min + (i + 1) (max - min) / 4096 (max itself for the last bin) of the bin holding the rank of
// p = 98; when max == min both are min. A band without present samples gets low = high = 0.
// Memory: stretch passes read pieces of about 2^20 samples (whole blocks of the file where they
// fit), with histograms of at most 65536 counts (32- and 64-bit integers are ranked 16 bits at a
// time, one pass over the file per 16 bits); reads go through GDAL's capped block cache
// (GdalMessages::kBlockCacheBytes), so reading rectangles of a tiled scene larger than memory
// never holds the scene. A JPEG is the exception: its pixels are decoded whole on first use by
// JpegDecoder, so that they keep the levels pictures have always had, and kept while the file
// is open (growing as rows are decoded, and no further than its data reach).
// Not thread-safe: one RasterFile must be used from one thread at a time (GDAL's dataset handles
// are not safe to share); separate RasterFile objects, even of one file, may run on separate
// threads.

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "velkar/imageprocessing/Georeference.h"
#include "velkar/imageprocessing/ImageFileSystem.h"

namespace velkar::imageprocessing {

class RasterFile {
  public:
    // A file that cannot be opened or read: what() names the file and the reason, Reason()
    // gives the reason alone ("the file does not exist", "it is damaged (...)", ...).
    class Error : public std::runtime_error {
      public:
        Error(const std::string& path, std::string reason);
        const std::string& Reason() const { return reason; }

      private:
        std::string reason;
    };

    enum class Colour { kUndefined, kGrey, kPalette, kRed, kGreen, kBlue, kAlpha, kOther };

    struct BandInfo {
        // 1-based, in file order.
        int number = 0;
        // GDAL's name of the sample type: Byte, UInt16, Int16, UInt32, Int32, UInt64, Int64,
        // Float32 or Float64.
        std::string sampleType;
        // The file's NBITS when it declares fewer bits than the type holds.
        int bitsPerSample = 0;
        bool floatingPoint = false;
        Colour colour = Colour::kUndefined;
        // GDAL's name of the colour meaning ("Gray", "Red", "Palette", "Undefined", ...).
        std::string colourName;
        std::optional<double> noData;
        // Samples of more than 8 bits need a stretch to become levels.
        bool IsDeep() const { return bitsPerSample > 8; }
    };

    // Samples low and below become level 0, high and above 255.
    struct Stretch {
        double low = 0.0;
        double high = 0.0;
        bool operator==(const Stretch&) const = default;
    };

    // One band of the images Read gives.
    struct OutputBand {
        // 1-based file band.
        int fileBand = 1;
        // -1: the band's samples; 0, 1, 2: the red, green or blue of its palette colours.
        int paletteComponent = -1;
        // How samples become levels; none for samples of 8 bits or fewer read as they are.
        std::optional<Stretch> stretch;
        bool operator==(const OutputBand&) const = default;
    };

    struct Rectangle {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
    };

    static constexpr int kLowPercentile = 2;
    static constexpr int kHighPercentile = 98;
    static constexpr int kFloatBins = 4096;

    // Throws Error when the file is missing, a directory, not permitted, of no format GDAL
    // reads, damaged in its header, holds complex samples, or is a TIFF shorter than the blocks
    // its header lists.
    explicit RasterFile(std::string path);
    ~RasterFile();
    RasterFile(const RasterFile&) = delete;
    RasterFile& operator=(const RasterFile&) = delete;

    // GDAL's short name of the format of the file at path as its first bytes tell ("GTiff",
    // "PNG", "JPEG", ...) among the drivers registered so far, which always include those of the
    // common picture formats; nothing is decoded. Empty when none of them knows the file.
    static std::string FormatOf(const std::string& path);

    const std::string& Path() const { return path; }
    int Width() const { return width; }
    int Height() const { return height; }
    int BandCount() const { return static_cast<int>(bands.size()); }
    // Band number, 1-based; throws std::out_of_range for a band the file lacks.
    const BandInfo& Band(int number) const;
    const Georeference& GetGeoreference() const { return georeference; }

    // The default bands, without stretches.
    std::vector<OutputBand> DefaultBands() const;
    // The bands of a list of 1-based numbers, without stretches. Throws std::invalid_argument
    // for an empty list or a number the file lacks, naming it, the file and its band count.
    std::vector<OutputBand> ChooseBands(const std::vector<int>& numbers) const;
    // The same from text such as "4,3,2" (blanks around numbers allowed); throws
    // std::invalid_argument naming anything that is not a list of band numbers.
    std::vector<OutputBand> ChooseBands(const std::string& list) const;

    // The 2nd and 98th percentiles of a file band, as defined above. Throws Error when the file
    // cannot be read, std::out_of_range for a band it lacks.
    Stretch PercentileStretch(int fileBand) const;
    // Gives every band of deep samples that has no stretch its PercentileStretch, computed once
    // per file band.
    void FillStretches(std::vector<OutputBand>& chosen) const;

    // The rectangle as an image of the chosen bands: origin (area.x, area.y), the file's
    // georeference and layout, a mask when any band read has one (or a non-finite sample turned
    // up). Throws std::invalid_argument for no bands, a band of deep samples without a stretch,
    // a stretch with low above high or not finite, a palette component of a band without
    // palette, or a rectangle not inside the file or of more than
    // ImageFileSystem::kMaxPixelCount pixels; std::out_of_range for a band the file lacks;
    // Error when the file's data cannot be read; std::bad_alloc when the pixels do not fit
    // in memory.
    std::shared_ptr<ImageFileSystem> Read(const Rectangle& area,
                                          const std::vector<OutputBand>& chosen) const;
    // The whole file.
    Rectangle Whole() const { return {0, 0, width, height}; }

    // The levels a strip of ReadFromTop holds at most.
    static constexpr long long kStripLevels = 1LL << 22;
    // The whole file as Read(Whole(), chosen) gives it, handed to take as strips of whole rows
    // from the top (each an image with its origin and mask as Read makes them), every strip at
    // most kStripLevels levels (one row at least); GDAL's
    // cached blocks of the file are let go after each, so a decoder that reads from the top
    // (PNG) reads the file once and holds no more than a strip. Throws as Read does, at the
    // strip where the file's data fail.
    void ReadFromTop(const std::vector<OutputBand>& chosen,
                     const std::function<void(const ImageFileSystem& strip)>& take) const;
    // Files of at most this many levels are read whole in one call: their buffer is small
    // enough to take on the header's word, and a driver's one-call path (PNG) is the fastest.
    static constexpr long long kOneCallLevels = 1LL << 26;
    // The whole file as Read(Whole(), chosen) gives it. Beyond oneCallLevels it is read by
    // ReadFromTop into an image that grows as strips arrive (its buffer never more than twice
    // the rows read, nor more than the whole): a file whose data end early is refused having
    // taken memory for the rows it holds, not for the size its header declares.
    std::shared_ptr<ImageFileSystem> ReadWhole(const std::vector<OutputBand>& chosen,
                                               long long oneCallLevels = kOneCallLevels) const;

  private:
    struct Dataset;

    void CheckBand(int number) const;

    std::string path;
    std::unique_ptr<Dataset> dataset;
    int width = 0;
    int height = 0;
    std::vector<BandInfo> bands;
    Georeference georeference;
};

}  // namespace velkar::imageprocessing
