#include "velkar/imageprocessing/RasterFile.h"

#include <cpl_vsi.h>
#include <gdal.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <type_traits>
#include <utility>

#include "velkar/imageprocessing/GdalMessages.h"
#include "velkar/imageprocessing/JpegDecoder.h"

namespace velkar::imageprocessing {

namespace {

// Samples a pass over a file or a rectangle reads at once: a few megabytes whatever the type.
constexpr long long kPieceSamples = 1LL << 20;
// Integer samples are ranked this many bits at a time.
constexpr int kDigitBits = 16;
constexpr std::size_t kDigitValues = std::size_t{1} << kDigitBits;

using Rectangle = RasterFile::Rectangle;

RasterFile::Colour ColourOf(GDALColorInterp interpretation, bool hasPalette) {
    switch (interpretation) {
        case GCI_GrayIndex:
            return RasterFile::Colour::kGrey;
        case GCI_PaletteIndex:
            return hasPalette ? RasterFile::Colour::kPalette : RasterFile::Colour::kGrey;
        case GCI_RedBand:
            return RasterFile::Colour::kRed;
        case GCI_GreenBand:
            return RasterFile::Colour::kGreen;
        case GCI_BlueBand:
            return RasterFile::Colour::kBlue;
        case GCI_AlphaBand:
            return RasterFile::Colour::kAlpha;
        case GCI_Undefined:
            return RasterFile::Colour::kUndefined;
        default:
            return RasterFile::Colour::kOther;
    }
}

// The mask band that marks a band's absent pixels, or none: every pixel valid, or only an alpha
// band to go by (alpha is transparency, not missing data).
GDALRasterBandH MaskOf(GDALRasterBandH band) {
    const int flags = GDALGetMaskFlags(band);
    if ((flags & GMF_ALL_VALID) != 0 || (flags & GMF_ALPHA) != 0) {
        return nullptr;
    }
    return GDALGetMaskBand(band);
}

RasterFile::Error ReadFailure(const std::string& path, const GdalMessages& messages) {
    if (const auto early = messages.EarlyEnd()) {
        return RasterFile::Error(path, "its data end before its pixels do (" + *early + ")");
    }
    return RasterFile::Error(path, "it is damaged" + messages.First());
}

// Calls visit(piece) for rectangles covering the whole band, each of about kPieceSamples samples
// or fewer, made of whole blocks of the file where a block fits.
template <typename Visit>
void ForEachPiece(GDALRasterBandH band, int width, int height, Visit visit) {
    int blockWidth = 0;
    int blockHeight = 0;
    GDALGetBlockSize(band, &blockWidth, &blockHeight);
    blockWidth = std::clamp(blockWidth, 1, width);
    blockHeight = std::clamp(blockHeight, 1, height);
    const int pieceWidth =
        static_cast<long long>(width) * blockHeight <= kPieceSamples ? width : blockWidth;
    const long long rowsThatFit = std::max(1LL, kPieceSamples / pieceWidth);
    const long long rows =
        rowsThatFit >= blockHeight ? rowsThatFit / blockHeight * blockHeight : rowsThatFit;
    const int pieceHeight = static_cast<int>(std::min<long long>(rows, height));
    for (int y = 0; y < height; y += pieceHeight) {
        for (int x = 0; x < width; x += pieceWidth) {
            visit(Rectangle{x, y, std::min(pieceWidth, width - x), std::min(pieceHeight, height - y)});
        }
    }
}

template <typename T>
constexpr GDALDataType TypeOf() {
    if constexpr (std::is_same_v<T, std::uint8_t>) {
        return GDT_Byte;
    } else if constexpr (std::is_same_v<T, std::uint16_t>) {
        return GDT_UInt16;
    } else if constexpr (std::is_same_v<T, std::int16_t>) {
        return GDT_Int16;
    } else if constexpr (std::is_same_v<T, std::uint32_t>) {
        return GDT_UInt32;
    } else if constexpr (std::is_same_v<T, std::int32_t>) {
        return GDT_Int32;
    } else if constexpr (std::is_same_v<T, std::uint64_t>) {
        return GDT_UInt64;
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
        return GDT_Int64;
    } else {
        static_assert(std::is_same_v<T, double>);
        return GDT_Float64;
    }
}

// The band whose samples are read, and the mask band that marks its absent pixels (or none).
struct BandSource {
    GDALRasterBandH samples;
    GDALRasterBandH mask;
};

// Reads one band's samples over the whole file, a piece at a time, and calls take(value) for
// every present one: the band's mask lets it through and, for floating-point samples, it is
// finite.
template <typename T, typename Take>
void ForEachPresentSample(const BandSource& source, int width, int height,
                          const std::string& path, const GdalMessages& messages, Take take) {
    GDALRasterBandH band = source.samples;
    GDALRasterBandH mask = source.mask;
    std::vector<T> samples;
    std::vector<std::uint8_t> valid;
    ForEachPiece(band, width, height, [&](const Rectangle& piece) {
        const std::size_t count =
            static_cast<std::size_t>(piece.width) * static_cast<std::size_t>(piece.height);
        samples.resize(count);
        if (GDALRasterIO(band, GF_Read, piece.x, piece.y, piece.width, piece.height,
                         samples.data(), piece.width, piece.height, TypeOf<T>(), 0,
                         0) != CE_None) {
            throw ReadFailure(path, messages);
        }
        if (mask != nullptr) {
            valid.resize(count);
            if (GDALRasterIO(mask, GF_Read, piece.x, piece.y, piece.width, piece.height,
                             valid.data(), piece.width, piece.height, GDT_Byte, 0,
                             0) != CE_None) {
                throw ReadFailure(path, messages);
            }
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (mask != nullptr && valid[i] == 0) {
                continue;
            }
            if constexpr (std::is_floating_point_v<T>) {
                if (!std::isfinite(samples[i])) {
                    continue;
                }
            }
            take(samples[i]);
        }
    });
}

// The 0-based rank of the p-th percentile among n samples: ceil(p n / 100) - 1.
long long RankOf(int percentile, long long count) {
    const long long rank = (percentile * count + 99) / 100 - 1;
    return std::clamp(rank, 0LL, count - 1);
}

// The bin of a histogram in which the sample of a 0-based rank lies, and the rank it has among
// the samples of that bin.
template <typename Counts>
std::pair<std::size_t, long long> BinOfRank(const Counts& counts, long long rank) {
    long long below = 0;
    for (std::size_t bin = 0; bin < counts.size(); ++bin) {
        const long long count = static_cast<long long>(counts[bin]);
        if (below + count > rank) {
            return {bin, rank - below};
        }
        below += count;
    }
    return {counts.size() - 1, 0};
}

// Integer samples as unsigned keys of the same order: signed ones have their sign bit flipped.
template <typename T>
std::uint64_t KeyOf(T value) {
    using Unsigned = std::make_unsigned_t<T>;
    if constexpr (std::is_signed_v<T>) {
        return static_cast<Unsigned>(static_cast<Unsigned>(value) ^
                                     (Unsigned{1} << (sizeof(T) * 8 - 1)));
    } else {
        return value;
    }
}

template <typename T>
double ValueOfKey(std::uint64_t key) {
    using Unsigned = std::make_unsigned_t<T>;
    if constexpr (std::is_signed_v<T>) {
        return static_cast<double>(static_cast<T>(static_cast<Unsigned>(key) ^
                                                  (Unsigned{1} << (sizeof(T) * 8 - 1))));
    } else {
        return static_cast<double>(static_cast<T>(key));
    }
}

// Exact percentiles of integer samples: the keys are ranked 16 bits at a time, from the top.
// The first pass counts the top digits of all samples and finds the digit of each sought rank;
// every further pass counts the next digit of the samples that share the digits found so far.
template <typename T>
RasterFile::Stretch IntegerPercentiles(const BandSource& band, int width, int height,
                                       const std::string& path, const GdalMessages& messages) {
    constexpr int kKeyBits = std::max<int>(kDigitBits, sizeof(T) * 8);
    constexpr int kPasses = kKeyBits / kDigitBits;
    struct Sought {
        long long rank = 0;
        std::uint64_t prefix = 0;
    };
    std::array<Sought, 2> sought;
    std::array<std::vector<std::uint64_t>, 2> counts;
    for (int pass = 0; pass < kPasses; ++pass) {
        const int shift = kKeyBits - kDigitBits * (pass + 1);
        for (auto& histogram : counts) {
            histogram.assign(kDigitValues, 0);
        }
        ForEachPresentSample<T>(band, width, height, path, messages, [&](T value) {
            const std::uint64_t key = KeyOf(value);
            const std::size_t digit = static_cast<std::size_t>((key >> shift) & (kDigitValues - 1));
            if (pass == 0) {
                ++counts[0][digit];
                return;
            }
            for (std::size_t s = 0; s < 2; ++s) {
                if ((key >> (shift + kDigitBits)) == sought[s].prefix) {
                    ++counts[s][digit];
                }
            }
        });
        if (pass == 0) {
            long long total = 0;
            for (const std::uint64_t count : counts[0]) {
                total += static_cast<long long>(count);
            }
            if (total == 0) {
                return {0.0, 0.0};
            }
            sought[0].rank = RankOf(RasterFile::kLowPercentile, total);
            sought[1].rank = RankOf(RasterFile::kHighPercentile, total);
            counts[1] = counts[0];
        }
        for (std::size_t s = 0; s < 2; ++s) {
            const auto [digit, rest] = BinOfRank(counts[s], sought[s].rank);
            sought[s].rank = rest;
            sought[s].prefix = (sought[s].prefix << kDigitBits) | digit;
        }
    }
    return {ValueOfKey<T>(sought[0].prefix), ValueOfKey<T>(sought[1].prefix)};
}

// Percentiles of floating-point samples from kFloatBins bins between their minimum and maximum.
RasterFile::Stretch FloatPercentiles(const BandSource& band, int width, int height,
                                     const std::string& path, const GdalMessages& messages) {
    long long total = 0;
    double lowest = 0.0;
    double highest = 0.0;
    ForEachPresentSample<double>(band, width, height, path, messages, [&](double value) {
        lowest = total == 0 ? value : std::min(lowest, value);
        highest = total == 0 ? value : std::max(highest, value);
        ++total;
    });
    if (total == 0) {
        return {0.0, 0.0};
    }
    if (lowest == highest) {
        return {lowest, lowest};
    }
    constexpr int kBins = RasterFile::kFloatBins;
    std::vector<long long> counts(kBins, 0);
    const double range = highest - lowest;
    ForEachPresentSample<double>(band, width, height, path, messages, [&](double value) {
        const double bin = std::floor(static_cast<double>(kBins) * (value - lowest) / range);
        ++counts[static_cast<std::size_t>(std::clamp(bin, 0.0, kBins - 1.0))];
    });
    const std::size_t lowBin = BinOfRank(counts, RankOf(RasterFile::kLowPercentile, total)).first;
    const std::size_t highBin = BinOfRank(counts, RankOf(RasterFile::kHighPercentile, total)).first;
    const double low = lowest + static_cast<double>(lowBin) * range / kBins;
    const double high = highBin + 1 == kBins
                            ? highest
                            : lowest + static_cast<double>(highBin + 1) * range / kBins;
    return {low, high};
}

unsigned char StretchedLevel(double value, const RasterFile::Stretch& stretch) {
    if (stretch.high == stretch.low) {
        return value <= stretch.low ? 0 : 255;
    }
    const double level =
        std::floor(255.0 * (value - stretch.low) / (stretch.high - stretch.low) + 0.5);
    return level <= 0.0 ? 0 : level >= 255.0 ? 255 : static_cast<unsigned char>(level);
}

// A TIFF cut short is known from its header: the offset and byte count of every block of every
// band say how long the file must be. Describes a file shorter than that, otherwise none (also
// for other formats, and for blocks never written).
std::optional<std::string> MissingTiffData(GDALDatasetH dataset, const std::string& path) {
    const char* driver = GDALGetDriverShortName(GDALGetDatasetDriver(dataset));
    VSIStatBufL status;
    if (driver == nullptr || std::string(driver) != "GTiff" || VSIStatL(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    const long long size = static_cast<long long>(status.st_size);
    long long needed = 0;
    const int width = GDALGetRasterXSize(dataset);
    const int height = GDALGetRasterYSize(dataset);
    for (int number = 1; number <= GDALGetRasterCount(dataset); ++number) {
        GDALRasterBandH band = GDALGetRasterBand(dataset, number);
        int blockWidth = 0;
        int blockHeight = 0;
        GDALGetBlockSize(band, &blockWidth, &blockHeight);
        if (blockWidth < 1 || blockHeight < 1) {
            continue;
        }
        const int across = (width + blockWidth - 1) / blockWidth;
        const int down = (height + blockHeight - 1) / blockHeight;
        char key[64];
        for (int j = 0; j < down; ++j) {
            for (int i = 0; i < across; ++i) {
                std::snprintf(key, sizeof key, "BLOCK_OFFSET_%d_%d", i, j);
                const char* offset = GDALGetMetadataItem(band, key, "TIFF");
                std::snprintf(key, sizeof key, "BLOCK_SIZE_%d_%d", i, j);
                const char* bytes = GDALGetMetadataItem(band, key, "TIFF");
                if (offset != nullptr && bytes != nullptr) {
                    needed = std::max(needed, std::atoll(offset) + std::atoll(bytes));
                }
            }
        }
    }
    if (needed <= size) {
        return std::nullopt;
    }
    return "the file holds " + std::to_string(size) + " of the " + std::to_string(needed) +
           " bytes its header announces";
}

std::string BandCountText(int count) {
    return std::to_string(count) + (count == 1 ? " band" : " bands");
}

}  // namespace

// The file, and for a JPEG the pixels as JpegDecoder gives them, held as a dataset in memory.
struct RasterFile::Dataset {
    GDALDatasetH handle = nullptr;
    bool decodeTried = false;
    GDALDatasetH decoded = nullptr;
    std::vector<unsigned char> decodedSamples;

    // The dataset samples are read from: the file's own, or for a JPEG the pixels JpegDecoder
    // gives (decoded on first use), so that JPEG levels stay those pictures always had.
    GDALDatasetH Pixels(const std::string& path, int width, int height, int bandCount);

    ~Dataset() {
        GdalMessages quiet;
        for (GDALDatasetH open : {decoded, handle}) {
            if (open != nullptr) {
                GDALClose(open);
            }
        }
    }
};

RasterFile::Error::Error(const std::string& path, std::string why)
    : std::runtime_error("Cannot read the image file '" + path + "': " + why),
      reason(std::move(why)) {}

RasterFile::RasterFile(std::string name) : path(std::move(name)), dataset(new Dataset) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        throw Error(path, "the file does not exist");
    }
    if (std::filesystem::is_directory(status)) {
        throw Error(path, "it is a directory");
    }
    errno = 0;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        std::fclose(file);
    } else {
        throw Error(path, errno != 0 ? std::strerror(errno) : "it cannot be opened");
    }

    GdalMessages messages;
    const auto open = [this] {
        return GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr,
                          nullptr);
    };
    dataset->handle = open();
    if (dataset->handle == nullptr && messages.All().empty()) {
        // No common picture driver knows the file; every other driver is asked.
        GdalMessages::RegisterAllDrivers();
        dataset->handle = open();
    }
    if (dataset->handle == nullptr) {
        if (messages.All().empty()) {
            throw Error(path, "its format is not one of the image formats that can be read");
        }
        throw ReadFailure(path, messages);
    }
    width = GDALGetRasterXSize(dataset->handle);
    height = GDALGetRasterYSize(dataset->handle);
    const int count = GDALGetRasterCount(dataset->handle);
    if (count < 1 || width < 1 || height < 1) {
        throw Error(path, "it holds no pixels");
    }
    for (int number = 1; number <= count; ++number) {
        GDALRasterBandH band = GDALGetRasterBand(dataset->handle, number);
        const GDALDataType type = GDALGetRasterDataType(band);
        if (GDALDataTypeIsComplex(type) != 0) {
            throw Error(path, "band " + std::to_string(number) + " holds complex numbers (" +
                                  GDALGetDataTypeName(type) + "), which have no levels");
        }
        BandInfo info;
        info.number = number;
        info.sampleType = GDALGetDataTypeName(type);
        info.bitsPerSample = GDALGetDataTypeSizeBits(type);
        if (const char* bits = GDALGetMetadataItem(band, "NBITS", "IMAGE_STRUCTURE")) {
            const int declared = std::atoi(bits);
            if (declared > 0 && declared < info.bitsPerSample) {
                info.bitsPerSample = declared;
            }
        }
        info.floatingPoint = GDALDataTypeIsFloating(type) != 0;
        const GDALColorInterp interpretation = GDALGetRasterColorInterpretation(band);
        info.colour = ColourOf(interpretation, GDALGetRasterColorTable(band) != nullptr);
        info.colourName = GDALGetColorInterpretationName(interpretation);
        int hasNoData = 0;
        const double noData = GDALGetRasterNoDataValue(band, &hasNoData);
        if (hasNoData != 0) {
            info.noData = noData;
        }
        bands.push_back(std::move(info));
    }
    if (const auto missing = MissingTiffData(dataset->handle, path)) {
        throw Error(path, "its data end before its pixels do (" + *missing + ")");
    }
    std::array<double, 6> transform{};
    if (GDALGetGeoTransform(dataset->handle, transform.data()) == CE_None) {
        georeference.geoTransform = transform;
    }
    if (const char* wkt = GDALGetProjectionRef(dataset->handle)) {
        georeference.coordinateSystem = wkt;
    }
}

RasterFile::~RasterFile() = default;

std::string RasterFile::FormatOf(const std::string& path) {
    GdalMessages messages;
    GDALDriverH driver = GDALIdentifyDriver(path.c_str(), nullptr);
    const char* name = driver != nullptr ? GDALGetDriverShortName(driver) : nullptr;
    return name != nullptr ? name : "";
}

GDALDatasetH RasterFile::Dataset::Pixels(const std::string& path, int width, int height,
                                         int bandCount) {
    if (decodeTried) {
        return decoded != nullptr ? decoded : handle;
    }
    const char* driver = GDALGetDriverShortName(GDALGetDatasetDriver(handle));
    std::optional<JpegDecoder::Picture> picture;
    if (driver != nullptr && std::string(driver) == "JPEG") {
        try {
            picture = JpegDecoder::Decode(path, ImageFileSystem::kMaxPixelCount);
        } catch (const std::runtime_error& error) {
            throw Error(path, "it is damaged (" + std::string(error.what()) + ")");
        }
        if (picture && !picture->earlyEnd.empty()) {
            throw Error(path, "its data end before its pixels do (" + picture->earlyEnd + ")");
        }
    }
    decodeTried = true;
    if (!picture || picture->width != width || picture->height != height ||
        picture->components != bandCount) {
        return handle;
    }
    decodedSamples = std::move(picture->samples);
    GdalMessages messages;
    decoded = GDALCreate(GDALGetDriverByName("MEM"), "", width, height, 0, GDT_Byte, nullptr);
    const int components = bandCount;
    for (int component = 0; decoded != nullptr && component < components; ++component) {
        char pointer[64];
        std::snprintf(pointer, sizeof pointer, "DATAPOINTER=%p",
                      static_cast<void*>(decodedSamples.data() + component));
        const std::string pixelOffset = "PIXELOFFSET=" + std::to_string(components);
        const std::string lineOffset =
            "LINEOFFSET=" + std::to_string(static_cast<long long>(width) * components);
        const char* options[] = {pointer, pixelOffset.c_str(), lineOffset.c_str(), nullptr};
        if (GDALAddBand(decoded, GDT_Byte, const_cast<char**>(options)) != CE_None) {
            GDALClose(decoded);
            decoded = nullptr;
        }
    }
    return decoded != nullptr ? decoded : handle;
}

void RasterFile::CheckBand(int number) const {
    if (number < 1 || number > BandCount()) {
        throw std::out_of_range("'" + path + "' has no band " + std::to_string(number) +
                                ": it has " + BandCountText(BandCount()));
    }
}

const RasterFile::BandInfo& RasterFile::Band(int number) const {
    CheckBand(number);
    return bands[static_cast<std::size_t>(number - 1)];
}

std::vector<RasterFile::OutputBand> RasterFile::DefaultBands() const {
    std::vector<const BandInfo*> kept;
    for (const BandInfo& band : bands) {
        if (band.colour != Colour::kAlpha) {
            kept.push_back(&band);
        }
    }
    if (kept.empty()) {
        for (const BandInfo& band : bands) {
            kept.push_back(&band);
        }
    }
    std::vector<OutputBand> chosen;
    for (const BandInfo* band : kept) {
        if (band->colour == Colour::kPalette) {
            for (int component = 0; component < 3; ++component) {
                chosen.push_back({band->number, component, std::nullopt});
            }
        } else {
            chosen.push_back({band->number, -1, std::nullopt});
        }
    }
    if (kept.size() == 1 && kept.front()->colour != Colour::kPalette) {
        chosen.assign(3, chosen.front());
    }
    return chosen;
}

std::vector<RasterFile::OutputBand> RasterFile::ChooseBands(const std::vector<int>& numbers) const {
    if (numbers.empty()) {
        throw std::invalid_argument("No band of '" + path + "' is chosen");
    }
    std::vector<OutputBand> chosen;
    for (const int number : numbers) {
        if (number < 1 || number > BandCount()) {
            throw std::invalid_argument("Band " + std::to_string(number) + " does not exist: '" +
                                        path + "' has " + BandCountText(BandCount()) +
                                        ", numbered from 1");
        }
        chosen.push_back({number, -1, std::nullopt});
    }
    return chosen;
}

std::vector<RasterFile::OutputBand> RasterFile::ChooseBands(const std::string& list) const {
    std::vector<int> numbers;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? comma : comma - start);
        const std::size_t first = item.find_first_not_of(" \t");
        const std::size_t last = item.find_last_not_of(" \t");
        item = first == std::string::npos ? "" : item.substr(first, last - first + 1);
        const bool digits =
            !item.empty() && item.size() <= 9 &&
            std::all_of(item.begin(), item.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits) {
            throw std::invalid_argument("'" + list +
                                        "' is not a list of band numbers such as 4,3,2: '" + item +
                                        "' is no band number");
        }
        numbers.push_back(std::stoi(item));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return ChooseBands(numbers);
}

RasterFile::Stretch RasterFile::PercentileStretch(int fileBand) const {
    const BandInfo& info = Band(fileBand);
    GdalMessages messages;
    const BandSource band{
        GDALGetRasterBand(dataset->Pixels(path, width, height, BandCount()), fileBand),
                          MaskOf(GDALGetRasterBand(dataset->handle, fileBand))};
    switch (GDALGetRasterDataType(band.samples)) {
        case GDT_Byte:
            return IntegerPercentiles<std::uint8_t>(band, width, height, path, messages);
        case GDT_UInt16:
            return IntegerPercentiles<std::uint16_t>(band, width, height, path, messages);
        case GDT_Int16:
            return IntegerPercentiles<std::int16_t>(band, width, height, path, messages);
        case GDT_UInt32:
            return IntegerPercentiles<std::uint32_t>(band, width, height, path, messages);
        case GDT_Int32:
            return IntegerPercentiles<std::int32_t>(band, width, height, path, messages);
        case GDT_UInt64:
            return IntegerPercentiles<std::uint64_t>(band, width, height, path, messages);
        case GDT_Int64:
            return IntegerPercentiles<std::int64_t>(band, width, height, path, messages);
        default:
            if (info.floatingPoint) {
                return FloatPercentiles(band, width, height, path, messages);
            }
            throw Error(path, "band " + std::to_string(fileBand) + " holds samples of type " +
                                  info.sampleType + ", which cannot be ranked");
    }
}

void RasterFile::FillStretches(std::vector<OutputBand>& chosen) const {
    std::map<int, Stretch> computed;
    for (OutputBand& band : chosen) {
        if (band.stretch || band.paletteComponent >= 0 || !Band(band.fileBand).IsDeep()) {
            continue;
        }
        auto found = computed.find(band.fileBand);
        if (found == computed.end()) {
            found = computed.emplace(band.fileBand, PercentileStretch(band.fileBand)).first;
        }
        band.stretch = found->second;
    }
}

std::shared_ptr<ImageFileSystem> RasterFile::Read(const Rectangle& area,
                                                  const std::vector<OutputBand>& chosen) const {
    if (chosen.empty()) {
        throw std::invalid_argument("No band of '" + path + "' is chosen to be read");
    }
    int deepest = 0;
    for (const BandInfo& band : bands) {
        deepest = std::max(deepest, band.bitsPerSample);
    }
    for (const OutputBand& band : chosen) {
        const BandInfo& info = Band(band.fileBand);
        const std::string name = "band " + std::to_string(band.fileBand) + " of '" + path + "'";
        if (band.paletteComponent >= 0) {
            if (band.paletteComponent > 2 || info.colour != Colour::kPalette) {
                throw std::invalid_argument(name + " has no palette colour component " +
                                            std::to_string(band.paletteComponent));
            }
        } else if (band.stretch) {
            if (!std::isfinite(band.stretch->low) || !std::isfinite(band.stretch->high) ||
                band.stretch->low > band.stretch->high) {
                throw std::invalid_argument("The stretch of " + name +
                                            " must run from a low to a high value, not from " +
                                            std::to_string(band.stretch->low) + " to " +
                                            std::to_string(band.stretch->high));
            }
        } else if (info.IsDeep()) {
            throw std::invalid_argument(name + " holds " + std::to_string(info.bitsPerSample) +
                                        "-bit samples, which need a stretch to become 8-bit "
                                        "levels");
        }
    }
    if (area.x < 0 || area.y < 0 || area.width < 0 || area.height < 0 ||
        static_cast<long long>(area.x) + area.width > width ||
        static_cast<long long>(area.y) + area.height > height) {
        throw std::invalid_argument(
            "The rectangle of " + std::to_string(area.width) + " x " +
            std::to_string(area.height) + " pixels at (" + std::to_string(area.x) + ", " +
            std::to_string(area.y) + ") does not lie inside '" + path + "' (" +
            std::to_string(width) + " x " + std::to_string(height) + " pixels)");
    }
    if (static_cast<long long>(area.width) * area.height > ImageFileSystem::kMaxPixelCount) {
        throw std::invalid_argument("The rectangle of " + std::to_string(area.width) + " x " +
                                    std::to_string(area.height) + " pixels of '" + path +
                                    "' is more than the " +
                                    std::to_string(ImageFileSystem::kMaxPixelCount) +
                                    " pixels an image may have");
    }

    GdalMessages messages;
    const int count = static_cast<int>(chosen.size());
    auto image = std::make_shared<ImageFileSystem>(path, area.width, area.height, count);
    image->fileBandCount = BandCount();
    image->fileBitsPerSample = deepest;
    image->georeference = georeference;
    image->SetOrigin(area.x, area.y);
    if (area.width == 0 || area.height == 0) {
        return image;
    }

    GDALDatasetH pixels = dataset->Pixels(path, width, height, BandCount());
    std::vector<GDALRasterBandH> masks;
    bool plain = true;
    std::vector<int> bandMap;
    for (const OutputBand& band : chosen) {
        const BandInfo& info = Band(band.fileBand);
        GDALRasterBandH handle = GDALGetRasterBand(pixels, band.fileBand);
        if (GDALRasterBandH mask = MaskOf(GDALGetRasterBand(dataset->handle, band.fileBand));
            mask != nullptr && std::find(masks.begin(), masks.end(), mask) == masks.end()) {
            masks.push_back(mask);
        }
        plain = plain && band.paletteComponent < 0 && !band.stretch &&
                GDALGetRasterDataType(handle) == GDT_Byte && info.bitsPerSample == 8;
        bandMap.push_back(band.fileBand);
    }

    const std::size_t w = static_cast<std::size_t>(area.width);
    const std::size_t rowLength = w * static_cast<std::size_t>(count);
    std::vector<unsigned char> absent;
    if (!masks.empty()) {
        absent.assign(w * static_cast<std::size_t>(area.height), 0);
    }
    const auto markAbsent = [&](std::size_t index) {
        if (absent.empty()) {
            absent.assign(w * static_cast<std::size_t>(area.height), 0);
        }
        absent[index] = 1;
    };
    // Palette colours per chosen band, fetched once.
    std::vector<std::vector<std::array<unsigned char, 3>>> palettes(chosen.size());
    for (std::size_t b = 0; b < chosen.size(); ++b) {
        if (chosen[b].paletteComponent < 0) {
            continue;
        }
        GDALColorTableH table =
            GDALGetRasterColorTable(GDALGetRasterBand(dataset->handle, chosen[b].fileBand));
        const int entries = GDALGetColorEntryCount(table);
        for (int entry = 0; entry < entries; ++entry) {
            GDALColorEntry colour{};
            GDALGetColorEntryAsRGB(table, entry, &colour);
            palettes[b].push_back({static_cast<unsigned char>(std::clamp<short>(colour.c1, 0, 255)),
                                   static_cast<unsigned char>(std::clamp<short>(colour.c2, 0, 255)),
                                   static_cast<unsigned char>(std::clamp<short>(colour.c3, 0, 255))});
        }
    }

    std::vector<double> samples;
    std::vector<std::int32_t> indices;
    std::vector<unsigned char> flags;
    // Bands read as they are go straight into the image and masks need no buffer of flags, so
    // such a rectangle is read in one call: a driver then takes its fastest path (GDAL's PNG
    // driver copies the decoded rows of a whole picture without going through its block cache).
    const int rowsPerPiece =
        plain && masks.empty()
            ? area.height
            : static_cast<int>(std::max<long long>(1, kPieceSamples / area.width));
    for (int top = 0; top < area.height; top += rowsPerPiece) {
        const int rows = std::min(rowsPerPiece, area.height - top);
        const int fileY = area.y + top;
        const std::size_t pieceSize = w * static_cast<std::size_t>(rows);
        const std::size_t firstPixel = static_cast<std::size_t>(top) * w;
        unsigned char* out = image->Row(top);
        if (plain) {
            if (GDALDatasetRasterIOEx(pixels, GF_Read, area.x, fileY, area.width, rows,
                                      out, area.width, rows, GDT_Byte, count, bandMap.data(),
                                      count, static_cast<GSpacing>(rowLength), 1,
                                      nullptr) != CE_None) {
                throw ReadFailure(path, messages);
            }
        }
        for (std::size_t b = 0; b < chosen.size() && !plain; ++b) {
            const OutputBand& band = chosen[b];
            const BandInfo& info = Band(band.fileBand);
            GDALRasterBandH handle = GDALGetRasterBand(pixels, band.fileBand);
            if (band.paletteComponent >= 0) {
                indices.resize(pieceSize);
                if (GDALRasterIO(handle, GF_Read, area.x, fileY, area.width, rows, indices.data(),
                                 area.width, rows, GDT_Int32, 0, 0) != CE_None) {
                    throw ReadFailure(path, messages);
                }
                const auto& palette = palettes[b];
                const auto component = static_cast<std::size_t>(band.paletteComponent);
                for (std::size_t i = 0; i < pieceSize; ++i) {
                    const std::int32_t index = indices[i];
                    out[i * count + b] =
                        index >= 0 && static_cast<std::size_t>(index) < palette.size()
                            ? palette[static_cast<std::size_t>(index)][component]
                            : 0;
                }
            } else if (band.stretch) {
                samples.resize(pieceSize);
                if (GDALRasterIO(handle, GF_Read, area.x, fileY, area.width, rows, samples.data(),
                                 area.width, rows, GDT_Float64, 0, 0) != CE_None) {
                    throw ReadFailure(path, messages);
                }
                for (std::size_t i = 0; i < pieceSize; ++i) {
                    const double value = samples[i];
                    if (std::isfinite(value)) {
                        out[i * count + b] = StretchedLevel(value, *band.stretch);
                    } else {
                        out[i * count + b] = 0;
                        markAbsent(firstPixel + i);
                    }
                }
            } else {
                if (GDALRasterIOEx(handle, GF_Read, area.x, fileY, area.width, rows, out + b,
                                   area.width, rows, GDT_Byte, count,
                                   static_cast<GSpacing>(rowLength), nullptr) != CE_None) {
                    throw ReadFailure(path, messages);
                }
                if (info.bitsPerSample < 8) {
                    // Levels 0 ... 2^n - 1 spread over 0 ... 255, rounded half up.
                    const int largest = (1 << info.bitsPerSample) - 1;
                    for (std::size_t i = 0; i < pieceSize; ++i) {
                        unsigned char& level = out[i * count + b];
                        level = static_cast<unsigned char>(
                            level >= largest ? 255 : (2 * 255 * level + largest) / (2 * largest));
                    }
                }
            }
        }
        for (GDALRasterBandH mask : masks) {
            flags.resize(pieceSize);
            if (GDALRasterIO(mask, GF_Read, area.x, fileY, area.width, rows, flags.data(),
                             area.width, rows, GDT_Byte, 0, 0) != CE_None) {
                throw ReadFailure(path, messages);
            }
            for (std::size_t i = 0; i < pieceSize; ++i) {
                if (flags[i] == 0) {
                    absent[firstPixel + i] = 1;
                }
            }
        }
    }
    // Some decoders fill what is missing and only warn that the data ended early.
    if (const auto early = messages.EarlyEnd()) {
        throw Error(path, "its data end before its pixels do (" + *early + ")");
    }
    if (!absent.empty()) {
        image->SetMask(std::move(absent));
    }
    return image;
}

void RasterFile::ReadFromTop(const std::vector<OutputBand>& chosen,
                             const std::function<void(const ImageFileSystem&)>& take) const {
    const long long rowLevels = std::max<long long>(
        1, static_cast<long long>(width) * static_cast<long long>(chosen.size()));
    const int rowsPerStrip =
        static_cast<int>(std::clamp<long long>(kStripLevels / rowLevels, 1, std::max(height, 1)));
    for (int top = 0; top < height; top += rowsPerStrip) {
        const auto strip = Read({0, top, width, std::min(rowsPerStrip, height - top)}, chosen);
        // Rows a decoder gave for this strip are not read again: its cached blocks go, so the
        // cache never holds more than a strip of a file read from the top.
        if (dataset->handle != nullptr) {
            GdalMessages quiet;
            GDALFlushCache(dataset->handle);
        }
        take(*strip);
    }
}

std::shared_ptr<ImageFileSystem> RasterFile::ReadWhole(const std::vector<OutputBand>& chosen,
                                                       long long oneCallLevels) const {
    const int count = static_cast<int>(chosen.size());
    const std::size_t rowLength = static_cast<std::size_t>(width) * static_cast<std::size_t>(count);
    const std::size_t wholeLevels = rowLength * static_cast<std::size_t>(height);
    if (static_cast<long long>(wholeLevels) <= oneCallLevels) {
        return Read(Whole(), chosen);
    }
    auto image = std::make_shared<ImageFileSystem>(path, 0, 0, std::max(count, 1));
    std::vector<unsigned char>& levels = image->levels;
    std::vector<unsigned char> absent;
    std::size_t rowsRead = 0;
    image->fileBandCount = BandCount();
    ReadFromTop(chosen, [&](const ImageFileSystem& strip) {
        const std::size_t stripLevels = rowLength * static_cast<std::size_t>(strip.Height());
        if (levels.size() + stripLevels > levels.capacity()) {
            levels.reserve(std::min(wholeLevels,
                                    std::max(2 * levels.capacity(), levels.size() + stripLevels)));
        }
        if (stripLevels > 0) {
            levels.insert(levels.end(), strip.Row(0), strip.Row(0) + stripLevels);
        }
        const std::size_t stripPixels =
            static_cast<std::size_t>(width) * static_cast<std::size_t>(strip.Height());
        if (strip.HasMask() && absent.empty()) {
            absent.assign(static_cast<std::size_t>(width) * rowsRead, 0);
        }
        if (strip.HasMask()) {
            absent.insert(absent.end(), strip.MaskRow(0), strip.MaskRow(0) + stripPixels);
        } else if (!absent.empty()) {
            absent.resize(absent.size() + stripPixels, 0);
        }
        rowsRead += static_cast<std::size_t>(strip.Height());
        image->fileBitsPerSample = strip.FileBitsPerSample();
    });
    image->width = width;
    image->height = height;
    image->bandCount = count;
    image->rowLength = rowLength;
    image->georeference = georeference;
    image->SetOrigin(0, 0);
    image->SetMask(std::move(absent));
    return image;
}

}  // namespace velkar::imageprocessing
