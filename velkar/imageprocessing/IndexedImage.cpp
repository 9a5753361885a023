#include "velkar/imageprocessing/IndexedImage.h"

#include <cpl_vsi.h>
#include <gdal.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "velkar/imageprocessing/GdalMessages.h"

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
    const std::string failure = "Cannot encode a picture of " + std::to_string(width) + " x " +
                                std::to_string(height) + " pixels as PNG";
    GdalMessages messages;
    // GDAL encodes into a file of its in-memory file system; every call writes a file of its own,
    // so that calls from several threads never meet.
    static std::atomic<unsigned long long> encodings{0};
    const std::string name = "/vsimem/velkar_indexed_image_" + std::to_string(++encodings) + ".png";
    const int columns = std::max(width, 1);
    const int rows = std::max(height, 1);
    GDALDatasetH source =
        GDALCreate(GDALGetDriverByName("MEM"), "", columns, rows, 1, GDT_Byte, nullptr);
    if (source == nullptr) {
        throw std::runtime_error(failure);
    }
    GDALRasterBandH band = GDALGetRasterBand(source, 1);
    GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
    for (int i = 0; i < 256; ++i) {
        const Colour colour =
            static_cast<std::size_t>(i) < palette.size() ? palette[static_cast<std::size_t>(i)]
                                                         : Colour{0, 0, 0};
        const GDALColorEntry entry{colour[0], colour[1], colour[2], 255};
        GDALSetColorEntry(table, i, &entry);
    }
    bool encoded = GDALSetRasterColorTable(band, table) == CE_None;
    GDALDestroyColorTable(table);
    if (encoded && width > 0 && height > 0) {
        encoded = GDALRasterIO(band, GF_Write, 0, 0, width, height,
                               const_cast<unsigned char*>(indices.data()), width, height, GDT_Byte,
                               0, 0) == CE_None;
    }
    GDALDatasetH png = nullptr;
    if (encoded) {
        png = GDALCreateCopy(GDALGetDriverByName("PNG"), name.c_str(), source, FALSE, nullptr,
                             nullptr, nullptr);
    }
    GDALClose(source);
    if (png == nullptr) {
        VSIUnlink(name.c_str());
        throw std::runtime_error(failure);
    }
    GDALClose(png);
    vsi_l_offset size = 0;
    GByte* data = VSIGetMemFileBuffer(name.c_str(), &size, FALSE);
    std::vector<unsigned char> bytes;
    if (data != nullptr) {
        bytes.assign(data, data + size);
    }
    VSIUnlink(name.c_str());
    if (bytes.empty() || messages.HeardError()) {
        throw std::runtime_error(failure);
    }
    return bytes;
}

}  // namespace velkar::imageprocessing
