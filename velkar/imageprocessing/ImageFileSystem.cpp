#include "velkar/imageprocessing/ImageFileSystem.h"

#include <FreeImagePlus.h>
#include <dlfcn.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velkar::imageprocessing {

namespace {

// The messages the image libraries give while this thread loads an image; null otherwise.
thread_local std::vector<std::string>* loadMessages = nullptr;

void Collect(std::string message) {
    // A damaged file can make a decoder repeat itself; the first messages tell enough.
    if (loadMessages != nullptr && loadMessages->size() < 64) {
        loadMessages->push_back(std::move(message));
    }
}

void CollectFreeImageMessage(FREE_IMAGE_FORMAT, const char* message) {
    Collect(message != nullptr ? message : "");
}

using TiffHandler = void (*)(const char* module, const char* format, va_list arguments);
using TiffHandlerSetter = TiffHandler (*)(TiffHandler);

void CollectTiffMessage(const char*, const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    // Messages about a file start with its name, which is empty for files FreeImage opens.
    std::string_view message(text);
    while (!message.empty() && (message.front() == ':' || message.front() == ' ')) {
        message.remove_prefix(1);
    }
    Collect(std::string(message));
}

// FreeImage reports through its own handler, but hands TIFF files to the system's libtiff,
// whose default handlers print every tag they do not know to standard error (dozens of lines
// per photograph). Both are routed to the collector once per process; libtiff's setters are
// found among the symbols loaded with FreeImage, so that nothing more is linked.
void RouteLibraryMessages() {
    static std::once_flag routed;
    std::call_once(routed, [] {
        FreeImage_SetOutputMessage(CollectFreeImageMessage);
        for (const char* name : {"TIFFSetErrorHandler", "TIFFSetWarningHandler"}) {
            if (void* setter = dlsym(RTLD_DEFAULT, name)) {
                reinterpret_cast<TiffHandlerSetter>(setter)(CollectTiffMessage);
            }
        }
    });
}

class MessageCollector {
  public:
    MessageCollector() {
        RouteLibraryMessages();
        loadMessages = &messages;
    }
    ~MessageCollector() { loadMessages = nullptr; }
    MessageCollector(const MessageCollector&) = delete;
    MessageCollector& operator=(const MessageCollector&) = delete;

    // The first message that says the data ended before the picture did, or none.
    std::optional<std::string> EarlyEnd() const {
        for (const std::string& message : messages) {
            std::string lower = message;
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (lower.find("premature end") != std::string::npos ||
                lower.find("unexpected end") != std::string::npos) {
                return message;
            }
        }
        return std::nullopt;
    }
    std::string First() const { return messages.empty() ? "" : " (" + messages.front() + ")"; }

  private:
    std::vector<std::string> messages;
};

std::string TooLarge(long long width, long long height) {
    return "it is " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, more than the " + std::to_string(ImageFileSystem::kMaxPixelCount) +
           " an image may have";
}

bool Fits(long long width, long long height) {
    return width * height <= ImageFileSystem::kMaxPixelCount;
}

// FreeImage cannot read a GIF's size without decoding it. The picture it loads is the first
// one; its size is in the first image descriptor, after the screen descriptor, the optional
// global colour table and any extension blocks. None when the file is not laid out so (the
// decoder then says what is wrong).
std::optional<std::pair<long long, long long>> GifPictureSize(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char screen[13];
    if (!in.read(reinterpret_cast<char*>(screen), sizeof screen)) {
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
            // The larger of the screen and the picture bounds what the decoder allocates.
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

// FreeImage reads an uncompressed BMP cut short without a word, leaving the missing rows as
// they happened to be. Its header tells how many bytes the pixels take; a file shorter than
// that is described, otherwise none.
std::optional<std::string> MissingBmpData(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    unsigned char header[34];
    if (!in.read(reinterpret_cast<char*>(header), sizeof header)) {
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

}  // namespace

ImageFileSystem::ImageFileSystem() = default;

ImageFileSystem::ImageFileSystem(std::string name) { LoadImageIntoMemory(std::move(name)); }

static_assert(ImageFileSystem::kRedOffset == FI_RGBA_RED &&
                  ImageFileSystem::kGreenOffset == FI_RGBA_GREEN &&
                  ImageFileSystem::kBlueOffset == FI_RGBA_BLUE,
              "channel offsets must follow FreeImage's byte order");

ImageFileSystem::ImageFileSystem(const ImageFileSystem& other)
    : image(other.image ? std::make_unique<fipImage>(*other.image) : nullptr),
      filename(other.filename),
      loadError(other.loadError),
      fileBandCount(other.fileBandCount),
      fileBitsPerSample(other.fileBitsPerSample) {
    CacheGeometry();
}

ImageFileSystem& ImageFileSystem::operator=(const ImageFileSystem& other) {
    if (this != &other) {
        ImageFileSystem copy(other);
        std::swap(image, copy.image);
        filename = other.filename;
        loadError = other.loadError;
        fileBandCount = other.fileBandCount;
        fileBitsPerSample = other.fileBitsPerSample;
        CacheGeometry();
    }
    return *this;
}

ImageFileSystem::~ImageFileSystem() = default;

void ImageFileSystem::LoadImageIntoMemory(std::string name) {
    filename = std::move(name);
    image = std::make_unique<fipImage>(FIT_BITMAP, 0, 0, 0);
    fileBandCount = 0;
    fileBitsPerSample = 0;
    loadError = Decode();
    if (!loadError.empty()) {
        image = std::make_unique<fipImage>(FIT_BITMAP, 0, 0, 0);
        fileBandCount = 0;
        fileBitsPerSample = 0;
    }
    CacheGeometry();
}

std::string ImageFileSystem::Decode() {
    std::error_code error;
    const auto status = std::filesystem::status(filename, error);
    if (!std::filesystem::exists(status)) {
        return "the file does not exist";
    }
    if (std::filesystem::is_directory(status)) {
        return "it is a directory";
    }
    errno = 0;
    if (FILE* file = std::fopen(filename.c_str(), "rb")) {
        std::fclose(file);
    } else {
        return errno != 0 ? std::strerror(errno) : "it cannot be opened";
    }
    FREE_IMAGE_FORMAT format = FreeImage_GetFileType(filename.c_str(), 0);
    if (format == FIF_UNKNOWN) {
        format = FreeImage_GetFIFFromFilename(filename.c_str());
    }
    if (format == FIF_UNKNOWN || FreeImage_FIFSupportsReading(format) == FALSE) {
        return "its format is not one of the image formats that can be read";
    }

    MessageCollector messages;
    const auto failure = [&messages] {
        const auto early = messages.EarlyEnd();
        return early ? "its data end before its pixels do (" + *early + ")"
                     : "it is damaged" + messages.First();
    };
    if (FreeImage_FIFSupportsNoPixels(format) != FALSE) {
        FIBITMAP* header = FreeImage_Load(format, filename.c_str(), FIF_LOAD_NOPIXELS);
        if (header == nullptr) {
            return failure();
        }
        const long long headerWidth = FreeImage_GetWidth(header);
        const long long headerHeight = FreeImage_GetHeight(header);
        FreeImage_Unload(header);
        if (!Fits(headerWidth, headerHeight)) {
            return TooLarge(headerWidth, headerHeight);
        }
    } else if (format == FIF_GIF) {
        if (const auto size = GifPictureSize(filename); size && !Fits(size->first, size->second)) {
            return TooLarge(size->first, size->second);
        }
    }
    if (format == FIF_BMP) {
        if (const auto missing = MissingBmpData(filename)) {
            return "its data end before its pixels do (" + *missing + ")";
        }
    }
    if (image->load(format, filename.c_str(), 0) == FALSE || messages.EarlyEnd()) {
        return failure();
    }
    if (!Fits(image->getWidth(), image->getHeight())) {
        return TooLarge(image->getWidth(), image->getHeight());
    }
    RecordFileLayout();

    // FreeImage answers pixel colours only for 24- and 32-bit bitmaps, so everything else is
    // brought to 24-bit RGB once, here. 16-bit samples keep their high byte (as the 48- and
    // 64-bit colour conversions do) rather than being stretched over the image's own range,
    // which would make a pixel's value depend on the rest of the picture.
    bool converted = true;
    if (image->getImageType() == FIT_UINT16) {
        converted = image->convertTo8Bits() != FALSE;
    } else if (image->getImageType() != FIT_BITMAP && image->getImageType() != FIT_RGB16 &&
               image->getImageType() != FIT_RGBA16) {
        converted = image->convertToType(FIT_BITMAP, TRUE) != FALSE;
    }
    if (converted && image->getBitsPerPixel() != 24) {
        converted = image->convertTo24Bits() != FALSE;
    }
    return converted ? "" : "its pixels cannot be brought to 8-bit RGB";
}

void ImageFileSystem::RecordFileLayout() {
    const int bitsPerPixel = static_cast<int>(image->getBitsPerPixel());
    switch (image->getImageType()) {
        case FIT_BITMAP: {
            const FREE_IMAGE_COLOR_TYPE colour = image->getColorType();
            const bool grey = colour == FIC_MINISBLACK || colour == FIC_MINISWHITE;
            fileBandCount = bitsPerPixel == 32 ? 4 : bitsPerPixel <= 8 && grey ? 1 : 3;
            fileBitsPerSample = bitsPerPixel <= 8 ? bitsPerPixel : bitsPerPixel >= 24 ? 8 : 5;
            break;
        }
        case FIT_RGB16:
        case FIT_RGBF:
            fileBandCount = 3;
            fileBitsPerSample = bitsPerPixel / 3;
            break;
        case FIT_RGBA16:
        case FIT_RGBAF:
            fileBandCount = 4;
            fileBitsPerSample = bitsPerPixel / 4;
            break;
        case FIT_COMPLEX:
            fileBandCount = 2;
            fileBitsPerSample = bitsPerPixel / 2;
            break;
        default:
            fileBandCount = 1;
            fileBitsPerSample = bitsPerPixel;
            break;
    }
}

void ImageFileSystem::CacheGeometry() {
    width = image ? static_cast<int>(image->getWidth()) : 0;
    height = image ? static_cast<int>(image->getHeight()) : 0;
    bandCount = 3;
    bytesPerPixel = image ? static_cast<int>(image->getBitsPerPixel()) / 8 : 0;
    bits = nullptr;
    pitch = 0;
    if (width > 0 && height > 0 && bytesPerPixel >= 3) {
        bits = image->accessPixels();
        pitch = static_cast<std::ptrdiff_t>(image->getScanWidth());
    }
}

std::shared_ptr<ImageFileSystem> ImageFileSystem::Create(std::string filename, int width,
                                                         int height, int bitsPerPixel) {
    if (width < 0 || height < 0 || bitsPerPixel < 0) {
        throw std::invalid_argument("Cannot create an image of " + std::to_string(width) + " x " +
                                    std::to_string(height) + " pixels at " +
                                    std::to_string(bitsPerPixel) + " bits per pixel");
    }
    auto created = std::make_shared<ImageFileSystem>();
    created->filename = std::move(filename);
    created->image = std::make_unique<fipImage>(FIT_BITMAP, static_cast<unsigned>(width),
                                                static_cast<unsigned>(height),
                                                static_cast<unsigned>(bitsPerPixel));
    created->CacheGeometry();
    return created;
}

const unsigned char* ImageFileSystem::PixelBytes(int x, int y) const {
    const unsigned char* line = Row(y);
    if (line == nullptr || x < 0 || x >= width) {
        return nullptr;
    }
    return line + static_cast<std::size_t>(x) * static_cast<std::size_t>(bytesPerPixel);
}

void ImageFileSystem::Pixel(int x, int y, imageprocessing::Pixel& out) const {
    const unsigned char* bytes = PixelBytes(x, y);
    out[0] = bytes ? bytes[FI_RGBA_RED] : 0;
    out[1] = bytes ? bytes[FI_RGBA_GREEN] : 0;
    out[2] = bytes ? bytes[FI_RGBA_BLUE] : 0;
}

unsigned char ImageFileSystem::Pixel(int x, int y, int band) const {
    const unsigned char* bytes = PixelBytes(x, y);
    if (bytes == nullptr) {
        return 0;
    }
    switch (band) {
        case 0:
            return bytes[FI_RGBA_RED];
        case 1:
            return bytes[FI_RGBA_GREEN];
        case 2:
            return bytes[FI_RGBA_BLUE];
        default:
            return 0;
    }
}

void ImageFileSystem::SetPixel(int x, int y, const imageprocessing::Pixel& value) {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return;
    }
    RGBQUAD colour{};
    colour.rgbRed = value[0];
    colour.rgbGreen = value[1];
    colour.rgbBlue = value[2];
    image->setPixelColor(static_cast<unsigned>(x), static_cast<unsigned>(height - 1 - y), &colour);
}

bool ImageFileSystem::Save() { return SaveAs(filename); }

bool ImageFileSystem::SaveAs(std::string name) {
    return image && image->save(name.c_str(), 0) != FALSE;
}

}  // namespace velkar::imageprocessing
