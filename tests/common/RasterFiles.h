#pragma once

// Raster files written straight through GDAL for the tests, in any layout GDAL's drivers write:
// bands of any sample type, colour meanings, a palette, a no-data value, a mask, a georeference.
// Samples are given band after band, each band row after row from the top.

#include <cpl_string.h>
#include <gdal.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "velkar/imageprocessing/GdalMessages.h"

namespace testsupport {

struct RasterContent {
    std::string driver = "GTiff";
    int width = 0;
    int height = 0;
    int bands = 1;
    GDALDataType type = GDT_Byte;
    // bands * height * width samples: band b, row y, column x at (b * height + y) * width + x.
    std::vector<double> samples;
    // Creation options of the driver, such as "INTERLEAVE=BAND" or "TILED=YES".
    std::vector<std::string> options;
    // One per band, or none for the driver's choice.
    std::vector<GDALColorInterp> colours;
    // Red, green, blue of the palette of band 1; none without a palette.
    std::vector<std::array<short, 3>> palette;
    std::optional<double> noData;
    // height * width flags, 0 where a pixel is absent, for a mask of the whole file; none without.
    std::vector<unsigned char> mask;
    std::optional<std::array<double, 6>> geoTransform;
    std::string coordinateSystem;
};

// A raster of the driver's format with the size, band count, sample type and samples given and
// every other field at its default.
inline RasterContent RasterOf(std::string driver, int width, int height, int bands,
                              GDALDataType type, std::vector<double> samples = {}) {
    RasterContent content;
    content.driver = std::move(driver);
    content.width = width;
    content.height = height;
    content.bands = bands;
    content.type = type;
    content.samples = std::move(samples);
    return content;
}

// Whether the file was written.
inline bool WriteRaster(const std::string& path, const RasterContent& content) {
    velkar::imageprocessing::GdalMessages quiet;
    GDALDatasetH memory = GDALCreate(GDALGetDriverByName("MEM"), "", content.width, content.height,
                                     content.bands, content.type, nullptr);
    if (memory == nullptr) {
        return false;
    }
    bool ok = true;
    const std::size_t plane = static_cast<std::size_t>(content.width) * content.height;
    for (int b = 0; b < content.bands; ++b) {
        GDALRasterBandH band = GDALGetRasterBand(memory, b + 1);
        std::vector<double> samples(
            content.samples.begin() + static_cast<std::ptrdiff_t>(b * plane),
            content.samples.begin() + static_cast<std::ptrdiff_t>((b + 1) * plane));
        ok = ok && GDALRasterIO(band, GF_Write, 0, 0, content.width, content.height, samples.data(),
                                content.width, content.height, GDT_Float64, 0, 0) == CE_None;
        if (!content.colours.empty()) {
            GDALSetRasterColorInterpretation(band, content.colours[static_cast<std::size_t>(b)]);
        }
        if (content.noData) {
            GDALSetRasterNoDataValue(band, *content.noData);
        }
    }
    if (!content.palette.empty()) {
        GDALColorTableH table = GDALCreateColorTable(GPI_RGB);
        for (std::size_t i = 0; i < content.palette.size(); ++i) {
            const GDALColorEntry entry{content.palette[i][0], content.palette[i][1],
                                       content.palette[i][2], 255};
            GDALSetColorEntry(table, static_cast<int>(i), &entry);
        }
        GDALRasterBandH band = GDALGetRasterBand(memory, 1);
        GDALSetRasterColorTable(band, table);
        GDALSetRasterColorInterpretation(band, GCI_PaletteIndex);
        GDALDestroyColorTable(table);
    }
    if (!content.mask.empty()) {
        ok = ok && GDALCreateDatasetMaskBand(memory, GMF_PER_DATASET) == CE_None;
        GDALRasterBandH mask = GDALGetMaskBand(GDALGetRasterBand(memory, 1));
        ok = ok && GDALRasterIO(mask, GF_Write, 0, 0, content.width, content.height,
                                const_cast<unsigned char*>(content.mask.data()), content.width,
                                content.height, GDT_Byte, 0, 0) == CE_None;
    }
    if (content.geoTransform) {
        std::array<double, 6> transform = *content.geoTransform;
        GDALSetGeoTransform(memory, transform.data());
    }
    if (!content.coordinateSystem.empty()) {
        GDALSetProjection(memory, content.coordinateSystem.c_str());
    }
    char** options = nullptr;
    for (const std::string& option : content.options) {
        options = CSLAddString(options, option.c_str());
    }
    GDALDatasetH written =
        ok ? GDALCreateCopy(GDALGetDriverByName(content.driver.c_str()), path.c_str(), memory,
                            FALSE, options, nullptr, nullptr)
           : nullptr;
    CSLDestroy(options);
    if (written != nullptr) {
        GDALClose(written);
    }
    GDALClose(memory);
    return written != nullptr;
}

// A picture of bands 8-bit bands from levels given pixel after pixel (band b of pixel p at
// p * bands + b), rows from the top, through the driver of the extension's choice.
inline bool WritePicture(const std::string& path, const std::string& driver, int width, int height,
                         int bands, const std::vector<int>& levels) {
    RasterContent content;
    content.driver = driver;
    content.width = width;
    content.height = height;
    content.bands = bands;
    content.samples.resize(levels.size());
    const std::size_t plane = static_cast<std::size_t>(width) * height;
    for (std::size_t p = 0; p < plane; ++p) {
        for (int b = 0; b < bands; ++b) {
            content.samples[b * plane + p] = levels[p * bands + static_cast<std::size_t>(b)];
        }
    }
    return WriteRaster(path, content);
}

}  // namespace testsupport
