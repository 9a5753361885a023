#pragma once

// The image a run reads, opened once: its size, georeference and the bands the run uses, each
// with how its samples become 8-bit levels, and any rectangle of it as an ImageFileSystem of
// those bands (origin, mask of absent pixels and georeference set). Bands are the file's default
// ones (RasterFile::DefaultBands) unless another list of 1-based file band numbers is given (a
// list naming the default bands gives them, so a palette gives its colours for "1,1,1"); bands of
// samples deeper than 8 bits get the 2nd and 98th percentiles of the whole image as stretch
// unless one stretch is given for every band, or a model gives one per band.
// Pictures (PNG, JPEG, GIF and BMP, whose decoders read from the top) are decoded once, from the
// top, with the checks and the limit of ImageFileSystem (kMaxPixelCount pixels, refused from the
// header): into memory, growing as rows arrive, when their levels take at most
// kHeldPictureLevels bytes, otherwise into a temporary file (DecodedRasterFile), so that a file
// whose data end early is refused before memory of its declared size is taken, and a large
// picture costs a strip of memory; rectangles are cut from either. Every other format
// (GeoTIFF, ...) is read a rectangle at a time through GDAL's bounded block cache and never held
// whole.
// A plain picture is one read as today's 8-bit pictures are: the default bands, three of them,
// no stretch (RGB, RGBA, grey and palette files of 8-bit samples).

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "velkar/imageprocessing/DecodedRasterFile.h"
#include "velkar/imageprocessing/ImageFileSystem.h"
#include "velkar/imageprocessing/RasterFile.h"

namespace velkar::ordana {

using imageprocessing::RasterFile;

// Which bands a run reads and how: all optional.
struct BandRequest {
    // 1-based file band numbers, in the order used.
    std::optional<std::vector<int>> numbers;
    // One stretch for every band.
    std::optional<RasterFile::Stretch> stretch;
    // A stretch per band (none for a band read as its levels), as a model records them; its
    // length must be that of the bands.
    std::optional<std::vector<std::optional<RasterFile::Stretch>>> stretches;
};

class SceneRaster {
  public:
    // The largest picture, in levels (bytes), held in memory: 64 MiB, a three-band picture of
    // about 22 million pixels; such a picture is read in one call.
    static constexpr long long kHeldPictureLevels = RasterFile::kOneCallLevels;

    // A band request the file cannot meet: a number it lacks, or a stretch list of another
    // length; what() says why, without naming where the request came from.
    class BandError : public std::invalid_argument {
      public:
        using std::invalid_argument::invalid_argument;
    };

    // Throws InputError "Cannot read the image file '<path>': <reason>." when the file cannot be
    // opened or, for a picture, decoded; BandError as above. With decodeInBackground a picture
    // too large to hold (but a JPEG) is decoded on a thread of its own while the run goes on:
    // Read waits for the rows it needs, and throws that InputError when the decoding failed
    // before them.
    SceneRaster(std::string path, const BandRequest& request = {},
                bool decodeInBackground = false);

    const std::string& Path() const { return path; }
    int Width() const { return file->Width(); }
    int Height() const { return file->Height(); }
    const imageprocessing::Georeference& GetGeoreference() const {
        return file->GetGeoreference();
    }
    const std::vector<RasterFile::OutputBand>& Bands() const { return bands; }
    int BandCount() const { return static_cast<int>(bands.size()); }
    // The file bands of Bands(), 1-based, in order.
    std::vector<int> BandNumbers() const;
    bool IsPlain() const { return plain; }
    bool HeldWhole() const { return whole != nullptr; }

    // "bands 4, 3, 2 of 4, band 4 stretched from 100 to 3000, ..." for the run to say.
    std::string Description() const;

    // The rectangle, which must lie inside the image. Throws InputError when the file's data
    // cannot be read there, naming the file. The whole of a picture held whole is that picture
    // itself, shared: it must only be read.
    std::shared_ptr<imageprocessing::ImageFileSystem> Read(const RasterFile::Rectangle& area) const;

  private:
    std::string path;
    std::unique_ptr<RasterFile> file;
    std::vector<RasterFile::OutputBand> bands;
    bool plain = false;
    std::shared_ptr<imageprocessing::ImageFileSystem> whole;
    std::unique_ptr<imageprocessing::DecodedRasterFile> decodedFile;
};

// Parses the value of --bands ("4,3,2") and of --stretch ("100,3000"); InputError names the
// option and the rule.
std::vector<int> ParseBandList(const std::string& text);
RasterFile::Stretch ParseStretch(const std::string& text);

// The request of the command line's --bands and --stretch values; InputError as above.
BandRequest BandRequestOf(const std::optional<std::string>& bands,
                          const std::optional<std::string>& stretch);

// What a model records of the bands it was trained on: nothing for a plain picture, otherwise
// the file band numbers and, when any band is stretched, the stretch of each.
BandRequest RecordedBands(const SceneRaster& scene);

// A real in the shortest form that reads back to the same number.
std::string ShortestText(double value);

}  // namespace velkar::ordana
