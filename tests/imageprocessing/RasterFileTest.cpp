#include "velkar/imageprocessing/RasterFile.h"

#include <gtest/gtest.h>
#include <ogr_srs_api.h>

#include "common/RasterFiles.h"
#include "common/TemporaryFolder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <fstream>
#include <functional>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using velkar::imageprocessing::RasterFile;
using OutputBand = RasterFile::OutputBand;
using Stretch = RasterFile::Stretch;

struct Layout {
    std::string name;
    testsupport::RasterContent content;
    // Empty for the default bands.
    std::string bandList;
    // The bands chosen, without stretches.
    std::vector<OutputBand> expectedBands;
};

double Sample(const testsupport::RasterContent& content, int band, int x, int y) {
    return content
        .samples[(static_cast<std::size_t>(band - 1) * content.height + y) * content.width + x];
}

bool Present(const testsupport::RasterContent& content, int band, int x, int y) {
    const double value = Sample(content, band, x, y);
    return std::isfinite(value) && !(content.noData && value == *content.noData) &&
           (content.mask.empty() ||
            content.mask[static_cast<std::size_t>(y) * content.width + x] != 0);
}

// The stretch by ranking the band's present samples outright.
Stretch ReferenceStretch(const testsupport::RasterContent& content, int band, bool floating) {
    std::vector<double> values;
    for (int y = 0; y < content.height; ++y) {
        for (int x = 0; x < content.width; ++x) {
            if (Present(content, band, x, y)) {
                values.push_back(Sample(content, band, x, y));
            }
        }
    }
    if (values.empty()) {
        return {0.0, 0.0};
    }
    std::sort(values.begin(), values.end());
    const auto n = static_cast<double>(values.size());
    const auto valueOfRank = [&](int percentile) {
        const auto rank = static_cast<std::size_t>(std::ceil(percentile * n / 100.0) - 1.0);
        return values[std::min(rank, values.size() - 1)];
    };
    const double low = valueOfRank(2);
    const double high = valueOfRank(98);
    if (!floating) {
        return {low, high};
    }
    const double min = values.front();
    const double max = values.back();
    if (min == max) {
        return {min, min};
    }
    const auto bin = [&](double v) {
        return std::min(4095.0, std::floor(4096.0 * (v - min) / (max - min)));
    };
    const double highBin = bin(high);
    return {min + bin(low) * (max - min) / 4096,
            highBin == 4095.0 ? max : min + (highBin + 1) * (max - min) / 4096};
}

int ReferenceLevel(double value, const Stretch& stretch) {
    if (!std::isfinite(value)) {
        return 0;
    }
    if (stretch.high == stretch.low) {
        return value <= stretch.low ? 0 : 255;
    }
    const double level =
        std::floor(255.0 * (value - stretch.low) / (stretch.high - stretch.low) + 0.5);
    return static_cast<int>(std::clamp(level, 0.0, 255.0));
}

std::vector<double> RandomSamples(std::size_t count, double low, double high, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> draw(low, high);
    std::vector<double> samples(count);
    for (double& sample : samples) {
        sample = std::floor(draw(generator));
    }
    return samples;
}

std::vector<OutputBand> Bands(std::initializer_list<int> numbers) {
    std::vector<OutputBand> bands;
    for (const int number : numbers) {
        bands.push_back({number, -1, std::nullopt});
    }
    return bands;
}

std::vector<Layout> Layouts() {
    std::vector<Layout> layouts;
    const std::size_t small = 23 * 17;
    layouts.push_back({"8-bit RGB PNG",
                       testsupport::RasterOf("PNG", 23, 17, 3, GDT_Byte, RandomSamples(3 * small, 0, 256, 1)), "",
                       Bands({1, 2, 3})});
    layouts.push_back({"grey PNG",
                       testsupport::RasterOf("PNG", 23, 17, 1, GDT_Byte, RandomSamples(small, 0, 256, 2)), "",
                       Bands({1, 1, 1})});
    Layout palette{
        "palette GIF", testsupport::RasterOf("GIF", 23, 17, 1, GDT_Byte, RandomSamples(small, 0, 6, 3)), "", {}};
    palette.content.palette = {{200, 10, 30}, {5, 250, 100}, {0, 0, 0},
                               {1, 2, 3},     {7, 8, 9},     {9, 9, 9}};
    palette.expectedBands = {{1, 0, {}}, {1, 1, {}}, {1, 2, {}}};
    layouts.push_back(palette);
    Layout rgba{"RGBA PNG", testsupport::RasterOf("PNG", 23, 17, 4, GDT_Byte, RandomSamples(4 * small, 0, 256, 4)),
                "", Bands({1, 2, 3})};
    rgba.content.colours = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand, GCI_AlphaBand};
    layouts.push_back(rgba);
    Layout greyAlpha{"grey and alpha PNG",
                     testsupport::RasterOf("PNG", 23, 17, 2, GDT_Byte, RandomSamples(2 * small, 0, 256, 5)), "",
                     Bands({1, 1, 1})};
    greyAlpha.content.colours = {GCI_GrayIndex, GCI_AlphaBand};
    layouts.push_back(greyAlpha);
    Layout planes{"4-band TIFF stored band by band",
                  testsupport::RasterOf("GTiff", 23, 17, 4, GDT_Byte, RandomSamples(4 * small, 0, 256, 6)), "",
                  Bands({1, 2, 3, 4})};
    planes.content.options = {"INTERLEAVE=BAND", "PHOTOMETRIC=MINISBLACK"};
    layouts.push_back(planes);
    Layout chosen = planes;
    chosen.name = "4-band TIFF read as bands 4,3,2";
    chosen.bandList = "4, 3,2";
    chosen.expectedBands = Bands({4, 3, 2});
    layouts.push_back(chosen);
    // Large enough that the stretch passes read it in several pieces.
    Layout deep{
        "16-bit tiled TIFF",
        testsupport::RasterOf("GTiff", 1030, 1024, 2, GDT_UInt16, RandomSamples(2 * 1030 * 1024, 300, 40000, 7)), "",
        Bands({1, 2})};
    deep.content.options = {"TILED=YES", "COMPRESS=DEFLATE"};
    layouts.push_back(deep);
    Layout floats{"float32 TIFF with NaN",
                  testsupport::RasterOf("GTiff", 23, 17, 1, GDT_Float32, RandomSamples(small, -5000, 5000, 8)), "",
                  Bands({1, 1, 1})};
    for (std::size_t i = 0; i < floats.content.samples.size(); ++i) {
        floats.content.samples[i] = i % 11 == 0 ? std::nan("") : floats.content.samples[i] / 16.0;
    }
    layouts.push_back(floats);
    layouts.push_back(
        {"int32 TIFF",
         testsupport::RasterOf("GTiff", 23, 17, 2, GDT_Int32, RandomSamples(2 * small, -2.0e9, 2.0e9, 9)), "",
         Bands({1, 2})});
    layouts.push_back(
        {"int64 TIFF",
         testsupport::RasterOf("GTiff", 23, 17, 1, GDT_Int64, RandomSamples(small, -9.0e18, 9.0e18, 13)), "1",
         Bands({1})});
    Layout twoBits{"2-bit grey PNG",
                   testsupport::RasterOf("PNG", 23, 17, 1, GDT_Byte, RandomSamples(small, 0, 4, 14)), "",
                   Bands({1, 1, 1})};
    twoBits.content.options = {"NBITS=2"};
    layouts.push_back(twoBits);
    Layout border{"16-bit TIFF with a no-data border",
                  testsupport::RasterOf("GTiff", 23, 17, 1, GDT_UInt16, RandomSamples(small, 1, 4000, 10)), "1",
                  Bands({1})};
    border.content.noData = 0;
    for (int y = 0; y < 17; ++y) {
        for (int x = 0; x < 23; ++x) {
            if (x < 3 || y < 2 || x >= 21) {
                border.content.samples[static_cast<std::size_t>(y * 23 + x)] = 0;
            }
        }
    }
    layouts.push_back(border);
    Layout masked{"RGB TIFF with a mask band",
                  testsupport::RasterOf("GTiff", 23, 17, 3, GDT_Byte, RandomSamples(3 * small, 0, 256, 11)), "",
                  Bands({1, 2, 3})};
    masked.content.mask.assign(small, 255);
    for (std::size_t i = 0; i < small; i += 4) {
        masked.content.mask[i] = 0;
    }
    layouts.push_back(masked);
    return layouts;
}

// Every layout reads with the bands expected, the stretch values and levels computed here from
// the samples, the mask of its no-data and mask band, and windows equal to the part of the whole.
TEST(RasterFileTest, LayoutsReadAsTheirSamplesSay) {
    testsupport::TemporaryFolder folder;
    for (const Layout& layout : Layouts()) {
        SCOPED_TRACE(layout.name);
        const std::string path = (folder / "layout").string() + "." +
                                 (layout.content.driver == "GTiff" ? "tif" : layout.content.driver);
        ASSERT_TRUE(testsupport::WriteRaster(path, layout.content));
        const RasterFile file(path);
        ASSERT_EQ(file.Width(), layout.content.width);
        ASSERT_EQ(file.Height(), layout.content.height);
        ASSERT_EQ(file.BandCount(), layout.content.bands);
        EXPECT_TRUE(file.GetGeoreference().IsEmpty());
        auto bands =
            layout.bandList.empty() ? file.DefaultBands() : file.ChooseBands(layout.bandList);
        ASSERT_EQ(bands, layout.expectedBands);

        file.FillStretches(bands);
        for (const OutputBand& band : bands) {
            const bool deep = file.Band(band.fileBand).IsDeep();
            ASSERT_EQ(band.stretch.has_value(), deep);
            if (deep) {
                const Stretch expected = ReferenceStretch(layout.content, band.fileBand,
                                                          file.Band(band.fileBand).floatingPoint);
                EXPECT_EQ(*band.stretch, expected)
                    << band.stretch->low << " " << band.stretch->high << " against " << expected.low
                    << " " << expected.high;
            }
        }

        const auto whole = file.Read(file.Whole(), bands);
        ASSERT_EQ(whole->BandCount(), static_cast<int>(bands.size()));
        const bool maskExpected = layout.content.noData || !layout.content.mask.empty() ||
                                  layout.content.type == GDT_Float32;
        ASSERT_EQ(whole->HasMask(), maskExpected);
        for (int y = 0; y < file.Height(); ++y) {
            for (int x = 0; x < file.Width(); ++x) {
                bool absent = false;
                for (std::size_t b = 0; b < bands.size(); ++b) {
                    const OutputBand& band = bands[b];
                    const double value = Sample(layout.content, band.fileBand, x, y);
                    // Samples of fewer than 8 bits spread over 0 ... 255.
                    const double largest =
                        std::ldexp(1.0, file.Band(band.fileBand).bitsPerSample) - 1.0;
                    const int expected =
                        band.paletteComponent >= 0
                            ? layout.content.palette[static_cast<std::size_t>(
                                  value)][static_cast<std::size_t>(band.paletteComponent)]
                        : band.stretch ? ReferenceLevel(value, *band.stretch)
                                       : static_cast<int>(std::lround(value * 255 / largest));
                    ASSERT_EQ(whole->Pixel(x, y, static_cast<int>(b)), expected)
                        << "band " << b << " at (" << x << ", " << y << ")";
                    absent = absent || !Present(layout.content, band.fileBand, x, y);
                }
                ASSERT_EQ(whole->IsAbsent(x, y), absent) << "at (" << x << ", " << y << ")";
            }
        }

        const RasterFile::Rectangle area{5, 3, 11, 9};
        const auto window = file.Read(area, bands);
        EXPECT_EQ(window->OriginX(), 5);
        EXPECT_EQ(window->OriginY(), 3);
        EXPECT_EQ(window->FileBandCount(), layout.content.bands);
        for (int y = 0; y < area.height; ++y) {
            for (int x = 0; x < area.width; ++x) {
                for (int b = 0; b < window->BandCount(); ++b) {
                    ASSERT_EQ(window->Pixel(x, y, b), whole->Pixel(x + 5, y + 3, b));
                }
                ASSERT_EQ(window->IsAbsent(x, y), whole->IsAbsent(x + 5, y + 3));
            }
        }
    }
}

TEST(RasterFileTest, GeoreferenceComesBackFromTheFile) {
    testsupport::TemporaryFolder folder;
    OGRSpatialReferenceH zone = OSRNewSpatialReference(nullptr);
    ASSERT_EQ(OSRImportFromEPSG(zone, 32633), OGRERR_NONE);
    char* wkt = nullptr;
    OSRExportToWkt(zone, &wkt);
    auto content = testsupport::RasterOf("GTiff", 4, 3, 1, GDT_Byte, std::vector<double>(12, 7.0));
    content.geoTransform = std::array<double, 6>{500000.0, 10.0, 0.0, 4600000.0, 0.0, -10.0};
    content.coordinateSystem = wkt;
    CPLFree(wkt);
    const std::string path = (folder / "georeferenced.tif").string();
    ASSERT_TRUE(testsupport::WriteRaster(path, content));

    const RasterFile file(path);
    ASSERT_TRUE(file.GetGeoreference().geoTransform.has_value());
    EXPECT_EQ(*file.GetGeoreference().geoTransform, *content.geoTransform);
    OGRSpatialReferenceH read =
        OSRNewSpatialReference(file.GetGeoreference().coordinateSystem.c_str());
    EXPECT_TRUE(OSRIsSame(read, zone)) << file.GetGeoreference().coordinateSystem;
    EXPECT_EQ(file.Read({1, 1, 2, 2}, file.DefaultBands())->GetGeoreference().geoTransform,
              content.geoTransform);
    OSRDestroySpatialReference(read);
    OSRDestroySpatialReference(zone);
}

// A format beyond the common picture drivers (an ASCII grid of 32-bit integers with a no-data
// value): stretched between its lowest and highest present sample (ranks 0 and 4 of five), the
// no-data pixel absent.
TEST(RasterFileTest, FormatsBeyondPicturesAreRead) {
    testsupport::TemporaryFolder folder;
    const std::string path = (folder / "grid.asc").string();
    std::ofstream(path) << "ncols 3\nnrows 2\nxllcorner 100\nyllcorner 200\ncellsize 10\n"
                           "NODATA_value -9999\n1 2 3\n4 -9999 6\n";
    const RasterFile file(path);
    ASSERT_EQ(file.BandCount(), 1);
    EXPECT_EQ(file.Band(1).sampleType, "Int32");
    EXPECT_EQ(file.Band(1).noData, -9999.0);
    EXPECT_EQ(file.GetGeoreference().geoTransform,
              (std::array<double, 6>{100.0, 10.0, 0.0, 220.0, 0.0, -10.0}));
    auto bands = file.DefaultBands();
    file.FillStretches(bands);
    ASSERT_EQ(bands.size(), 3u);
    EXPECT_EQ(bands[0].stretch, (Stretch{1.0, 6.0}));
    const auto image = file.Read(file.Whole(), bands);
    const std::vector<int> levels = {0, 51, 102, 153, 0, 255};
    for (int p = 0; p < 6; ++p) {
        EXPECT_EQ(image->Pixel(p % 3, p / 3, 2), levels[static_cast<std::size_t>(p)]) << p;
        EXPECT_EQ(image->IsAbsent(p % 3, p / 3), p == 4) << p;
    }
}

// Bad choices and reads are refused naming what is wrong.
TEST(RasterFileTest, BadChoicesAndReadsAreRefusedByName) {
    testsupport::TemporaryFolder folder;
    const std::string path = (folder / "four.tif").string();
    auto content = testsupport::RasterOf("GTiff", 6, 5, 4, GDT_UInt16, RandomSamples(120, 0, 60000, 12));
    ASSERT_TRUE(testsupport::WriteRaster(path, content));
    const RasterFile file(path);
    const auto stretched = [&file] {
        auto bands = file.ChooseBands("1");
        file.FillStretches(bands);
        return bands;
    };
    const std::vector<std::pair<std::function<void()>, std::string>> refused = {
        {[&] { file.ChooseBands("4,5,1"); }, "Band 5 does not exist: '" + path + "' has 4 bands"},
        {[&] { file.ChooseBands("0"); }, "Band 0 does not exist"},
        {[&] { file.ChooseBands("2,x"); },
         "'2,x' is not a list of band numbers such as 4,3,2: 'x'"},
        {[&] { file.ChooseBands("2,,3"); }, "'' is no band number"},
        {[&] { file.ChooseBands(std::vector<int>{}); }, "No band of '" + path + "' is chosen"},
        {[&] { file.Read(file.Whole(), file.ChooseBands("2")); },
         "band 2 of '" + path + "' holds 16-bit samples, which need a stretch"},
        {[&] {
             file.Read({0, 0, 7, 5}, stretched());
         },
         "does not lie inside '" + path + "'"},
        {[&] {
             file.Read({-1, 0, 2, 2}, stretched());
         },
         "at (-1, 0) does not lie inside"},
        {[&] {
             file.Read(file.Whole(), {{1, -1, Stretch{9.0, 3.0}}});
         },
         "must run from a low to a high value"},
        {[&] {
             file.Read(file.Whole(), {{1, 0, Stretch{0.0, 1.0}}});
         },
         "has no palette colour component 0"},
    };
    for (const auto& [call, message] : refused) {
        try {
            call();
            ADD_FAILURE() << "not refused: " << message;
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find(message), std::string::npos) << error.what();
        }
    }
    EXPECT_THROW(file.Band(5), std::out_of_range);
    EXPECT_THROW(file.PercentileStretch(0), std::out_of_range);
}

}  // namespace
