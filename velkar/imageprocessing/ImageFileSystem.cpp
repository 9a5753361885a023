#include "velkar/imageprocessing/ImageFileSystem.h"

#include <FreeImagePlus.h>

#include <stdexcept>
#include <string>
#include <utility>

namespace velkar::imageprocessing {

ImageFileSystem::ImageFileSystem() = default;

ImageFileSystem::ImageFileSystem(std::string name) { LoadImageIntoMemory(std::move(name)); }

static_assert(ImageFileSystem::kRedOffset == FI_RGBA_RED &&
                  ImageFileSystem::kGreenOffset == FI_RGBA_GREEN &&
                  ImageFileSystem::kBlueOffset == FI_RGBA_BLUE,
              "channel offsets must follow FreeImage's byte order");

ImageFileSystem::ImageFileSystem(const ImageFileSystem& other)
    : image(other.image ? std::make_unique<fipImage>(*other.image) : nullptr),
      filename(other.filename) {
    CacheGeometry();
}

ImageFileSystem& ImageFileSystem::operator=(const ImageFileSystem& other) {
    if (this != &other) {
        ImageFileSystem copy(other);
        std::swap(image, copy.image);
        filename = other.filename;
        CacheGeometry();
    }
    return *this;
}

ImageFileSystem::~ImageFileSystem() = default;

void ImageFileSystem::LoadImageIntoMemory(std::string name) {
    filename = std::move(name);
    image = std::make_unique<fipImage>(FIT_BITMAP, 0, 0, 0);
    bool loaded = image->load(filename.c_str(), 0) != FALSE;
    // FreeImage answers pixel colours only for 24- and 32-bit bitmaps, so everything else is
    // brought to 24-bit RGB once, here. 16-bit samples keep their high byte (as the 48- and
    // 64-bit colour conversions do) rather than being stretched over the image's own range,
    // which would make a pixel's value depend on the rest of the picture.
    if (loaded && image->getImageType() == FIT_UINT16) {
        loaded = image->convertTo8Bits() != FALSE;
    } else if (loaded && image->getImageType() != FIT_BITMAP &&
               image->getImageType() != FIT_RGB16 && image->getImageType() != FIT_RGBA16) {
        loaded = image->convertToType(FIT_BITMAP, TRUE) != FALSE;
    }
    if (loaded && image->getBitsPerPixel() != 24) {
        loaded = image->convertTo24Bits() != FALSE;
    }
    if (!loaded) {
        image = std::make_unique<fipImage>(FIT_BITMAP, 0, 0, 0);
    }
    CacheGeometry();
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
