#include "velkar/imageprocessing/IndexedImage.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

namespace velkar::imageprocessing {

IndexedImage::IndexedImage(int width, int height) : width(width), height(height) {
    if (width < 0 || height < 0) {
        throw std::invalid_argument("Cannot make a picture of " + std::to_string(width) + " x " +
                                    std::to_string(height) + " pixels");
    }
    indices.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
}

void IndexedImage::SetPalette(std::vector<Colour> colours) {
    if (colours.size() > 256) {
        throw std::invalid_argument("A palette holds at most 256 colours, not " +
                                    std::to_string(colours.size()));
    }
    palette = std::move(colours);
}

void IndexedImage::Fill(int x, int y, int w, int h, unsigned char index) {
    const int left = std::max(x, 0);
    const int top = std::max(y, 0);
    const int right = static_cast<int>(std::min<long long>(static_cast<long long>(x) + w, width));
    const int bottom = static_cast<int>(std::min<long long>(static_cast<long long>(y) + h, height));
    for (int row = top; row < bottom; ++row) {
        auto* line =
            indices.data() + static_cast<std::size_t>(row) * static_cast<std::size_t>(width);
        std::fill(line + left, line + std::max(left, right), index);
    }
}

unsigned char IndexedImage::Index(int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return 0;
    }
    return indices[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                   static_cast<std::size_t>(x)];
}

std::vector<unsigned char> IndexedImage::EncodePng() const {
    const auto release = [](FIBITMAP* bitmap) { FreeImage_Unload(bitmap); };
    std::unique_ptr<FIBITMAP, decltype(release)> bitmap(
        FreeImage_Allocate(std::max(width, 1), std::max(height, 1), 8), release);
    if (!bitmap) {
        throw std::runtime_error("Cannot make a picture of " + std::to_string(width) + " x " +
                                 std::to_string(height) + " pixels");
    }
    RGBQUAD* colours = FreeImage_GetPalette(bitmap.get());
    for (std::size_t i = 0; i < 256; ++i) {
        const Colour colour = i < palette.size() ? palette[i] : Colour{0, 0, 0};
        colours[i].rgbRed = colour[0];
        colours[i].rgbGreen = colour[1];
        colours[i].rgbBlue = colour[2];
        colours[i].rgbReserved = 0;
    }
    // The bitmap keeps its rows bottom-up.
    for (int y = 0; y < height; ++y) {
        std::memcpy(FreeImage_GetScanLine(bitmap.get(), height - 1 - y),
                    indices.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width),
                    static_cast<std::size_t>(width));
    }
    const auto close = [](FIMEMORY* memory) { FreeImage_CloseMemory(memory); };
    std::unique_ptr<FIMEMORY, decltype(close)> memory(FreeImage_OpenMemory(), close);
    if (!memory || !FreeImage_SaveToMemory(FIF_PNG, bitmap.get(), memory.get(), PNG_DEFAULT)) {
        throw std::runtime_error("Cannot encode a picture of " + std::to_string(width) + " x " +
                                 std::to_string(height) + " pixels as PNG");
    }
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory.get(), &data, &size);
    return std::vector<unsigned char>(data, data + size);
}

}  // namespace velkar::imageprocessing
