#include "velkar/imageprocessing/ImageFileSystem.h"

#include <gdal.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "velkar/imageprocessing/GdalMessages.h"
#include "velkar/imageprocessing/RasterFile.h"

namespace velkar::imageprocessing {

namespace {

std::string TooLarge(long long width, long long height) {
    return "it is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, more than the " + std::to_string(ImageFileSystem::kMaxPixelCount) +
           " an image may have";
}

bool Fits(long long width, long long height) {
    return width * height <= ImageFileSystem::kMaxPixelCount;
}

// The size a GIF's decoder allocates for its first picture, from the header alone: the larger of
// the screen and the first image descriptor (after the optional global colour table and any
// extension blocks). GIF readers may decode the picture to open the file, so its size is checked
// before. None when the file is no GIF or not laid out so (the reader then says what is wrong).
std::optional<std::pair<long long, long long>> GifPictureSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char screen[13];
    if (!in.read(reinterpret_cast<char*>(screen), sizeof screen) ||
        std::string(reinterpret_cast<const char*>(screen), 4) != "GIF8") {
        return std::nullopt;
    }
    auto word = [](const unsigned char* bytes) { return bytes[0] | (bytes[1] << 8); };
    long long width = word(screen + 6);
    long long height = word(screen + 8);
    if ((screen[10] & 0x80) != 0) {
        in.ignore(3LL << ((screen[10] & 0x07) + 1));
    }
    for (int block = in.get(); in; block = in.get()) {
        if (block == 0x2c) {
            unsigned char descriptor[9];
            if (!in.read(reinterpret_cast<char*>(descriptor), sizeof descriptor)) {
                return std::nullopt;
            }
            width = std::max<long long>(width, word(descriptor + 4));
            height = std::max<long long>(height, word(descriptor + 6));
            return std::make_pair(width, height);
        }
        if (block != 0x21) {
            return std::nullopt;
        }
        in.get();
        for (int length = in.get(); in && length > 0; length = in.get()) {
            in.ignore(length);
        }
    }
    return std::nullopt;
}

// An uncompressed BMP cut short reads without a word from its decoder, the missing rows left
// as they happen to be. Its header tells how many bytes the pixels take; a file shorter than
// that is described, otherwise none.
std::optional<std::string> MissingBmpData(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char header[34];
    if (!in.read(reinterpret_cast<char*>(header), sizeof header) || header[0] != 'B' ||
        header[1] != 'M') {
        return std::nullopt;
    }
    auto number = [&header](int at, int size) {
        std::uint32_t value = 0;
        for (int k = size - 1; k >= 0; --k) {
            value = (value << 8) | header[at + k];
        }
        return value;
    };
    const std::uint32_t infoSize = number(14, 4);
    const std::uint32_t compression = number(30, 4);
    // Only uncompressed rows (and rows with bit-field masks) have a size known in advance.
    if (infoSize < 40 || (compression != 0 && compression != 3)) {
        return std::nullopt;
    }
    const long long width = static_cast<std::int32_t>(number(18, 4));
    const long long height = static_cast<std::int32_t>(number(22, 4));
    const long long bitsPerPixel = number(28, 2);
    const long long rowBytes = (std::llabs(width) * bitsPerPixel + 31) / 32 * 4;
    const long long needed = number(10, 4) + rowBytes * std::llabs(height);
    std::error_code error;
    const auto size = static_cast<long long>(std::filesystem::file_size(path, error));
    if (error || size >= needed) {
        return std::nullopt;
    }
    return "the file holds " + std::to_string(size) + " of the " + std::to_string(needed) +
           " bytes its header announces";
}

// The GDAL driver that writes files of a name's extension, or none.
const char* DriverForName(const std::string& name) {
    std::string extension = std::filesystem::path(name).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension == ".png") {
        return "PNG";
    }
    if (extension == ".jpg" || extension == ".jpeg") {
        return "JPEG";
    }
    if (extension == ".bmp") {
        return "BMP";
    }
    if (extension == ".gif") {
        return "GIF";
    }
    if (extension == ".tif" || extension == ".tiff") {
        return "GTiff";
    }
    return nullptr;
}

}  // namespace

ImageFileSystem::ImageFileSystem() = default;

ImageFileSystem::ImageFileSystem(std::string name) : filename(std::move(name)) {
    LoadImageIntoMemory();
}

ImageFileSystem::ImageFileSystem(std::string name, int columns, int rows, int bands)
    : filename(std::move(name)) {
    if (columns < 0 || rows < 0 || bands < 1) {
        throw std::invalid_argument("Cannot make an image of " + std::to_string(columns) + " x " +
                                    std::to_string(rows) + " pixels of " + std::to_string(bands) +
                                    " bands");
    }
    width = columns;
    height = rows;
    bandCount = bands;
    rowLength = static_cast<std::size_t>(columns) * static_cast<std::size_t>(bands);
    levels.assign(rowLength * static_cast<std::size_t>(rows), 0);
}

std::shared_ptr<ImageFileSystem> ImageFileSystem::Create(std::string filename, int width,
                                                         int height, int bandCount) {
    return std::make_shared<ImageFileSystem>(std::move(filename), width, height, bandCount);
}

void ImageFileSystem::LoadImageIntoMemory() {
    loadError = Decode();
    if (!loadError.empty()) {
        ImageFileSystem empty;
        empty.filename = std::move(filename);
        empty.loadError = std::move(loadError);
        *this = std::move(empty);
    }
}

std::string ImageFileSystem::ProblemBeforeOpening(const std::string& path) {
    if (const auto size = GifPictureSize(path); size && !Fits(size->first, size->second)) {
        return TooLarge(size->first, size->second);
    }
    return "";
}

std::string ImageFileSystem::ProblemOfOpened(const RasterFile& file) {
    if (!Fits(file.Width(), file.Height())) {
        return TooLarge(file.Width(), file.Height());
    }
    if (const auto missing = MissingBmpData(file.Path())) {
        return "its data end before its pixels do (" + *missing + ")";
    }
    return "";
}

std::string ImageFileSystem::Decode() {
    try {
        if (std::string problem = ProblemBeforeOpening(filename); !problem.empty()) {
            return problem;
        }
        const RasterFile file(filename);
        if (std::string problem = ProblemOfOpened(file); !problem.empty()) {
            return problem;
        }
        auto bands = file.DefaultBands();
        file.FillStretches(bands);
        ImageFileSystem read = std::move(*file.ReadWhole(bands));
        read.filename = std::move(filename);
        *this = std::move(read);
        return "";
    } catch (const RasterFile::Error& error) {
        return error.Reason();
    } catch (const std::bad_alloc&) {
        return "there is not enough memory for its pixels";
    }
}

void ImageFileSystem::Pixel(int x, int y, imageprocessing::Pixel& out) const {
    for (int band = 0; band < 3; ++band) {
        out[band] = Pixel(x, y, band);
    }
}

unsigned char ImageFileSystem::Pixel(int x, int y, int band) const {
    const unsigned char* row = Row(y);
    if (row == nullptr || x < 0 || x >= width || band < 0 || band >= bandCount) {
        return 0;
    }
    return row[static_cast<std::size_t>(x) * static_cast<std::size_t>(bandCount) +
               static_cast<std::size_t>(band)];
}

void ImageFileSystem::SetPixel(int x, int y, const imageprocessing::Pixel& value) {
    for (int band = 0; band < std::min(3, bandCount); ++band) {
        SetPixel(x, y, band, value[band]);
    }
}

void ImageFileSystem::SetPixel(int x, int y, int band, unsigned char level) {
    unsigned char* row = Row(y);
    if (row == nullptr || x < 0 || x >= width || band < 0 || band >= bandCount) {
        return;
    }
    row[static_cast<std::size_t>(x) * static_cast<std::size_t>(bandCount) +
        static_cast<std::size_t>(band)] = level;
}

bool ImageFileSystem::IsAbsent(int x, int y) const {
    const unsigned char* row = MaskRow(y);
    return row != nullptr && x >= 0 && x < width && row[x] != 0;
}

const unsigned char* ImageFileSystem::MaskRow(int y) const {
    if (absent.empty() || y < 0 || y >= height) {
        return nullptr;
    }
    return absent.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
}

void ImageFileSystem::SetMask(std::vector<unsigned char> flags) {
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (!flags.empty() && flags.size() != pixels) {
        throw std::invalid_argument("A mask of " + std::to_string(flags.size()) +
                                    " flags does not fit an image of " + std::to_string(width) +
                                    " x " + std::to_string(height) + " pixels");
    }
    absent = std::move(flags);
}

bool ImageFileSystem::Save() { return SaveAs(filename); }

bool ImageFileSystem::SaveAs(std::string name) {
    const char* driverName = DriverForName(name);
    if (!IsLoaded() || driverName == nullptr) {
        return false;
    }
    GdalMessages messages;
    GDALDriverH memory = GDALGetDriverByName("MEM");
    GDALDriverH driver = GDALGetDriverByName(driverName);
    if (memory == nullptr || driver == nullptr) {
        return false;
    }
    GDALDatasetH source = GDALCreate(memory, "", width, height, bandCount, GDT_Byte, nullptr);
    if (source == nullptr) {
        return false;
    }
    bool written = GDALDatasetRasterIOEx(source, GF_Write, 0, 0, width, height, levels.data(),
                                         width, height, GDT_Byte, bandCount, nullptr, bandCount,
                                         static_cast<GSpacing>(rowLength), 1,
                                         nullptr) == CE_None;
    if (written && bandCount == 3) {
        const GDALColorInterp colours[3] = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand};
        for (int band = 0; band < 3; ++band) {
            GDALSetRasterColorInterpretation(GDALGetRasterBand(source, band + 1), colours[band]);
        }
    }
    if (written) {
        GDALDatasetH copy = GDALCreateCopy(driver, name.c_str(), source, FALSE, nullptr, nullptr,
                                           nullptr);
        written = copy != nullptr;
        if (copy != nullptr) {
            GDALClose(copy);
        }
        written = written && !messages.HeardError();
    }
    GDALClose(source);
    return written;
}

}  // namespace velkar::imageprocessing
