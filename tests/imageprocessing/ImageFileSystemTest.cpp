#include "velkar/imageprocessing/ImageFileSystem.h"

#include <gdal.h>
#include <gtest/gtest.h>

#include "common/ChildProcess.h"
#include "common/RasterFiles.h"
#include "common/TemporaryFolder.h"

#include <stdexcept>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "velkar/imageprocessing/GdalMessages.h"

namespace {

using velkar::imageprocessing::ImageFileSystem;
using velkar::imageprocessing::Pixel;
using Rgb = std::array<int, 3>;

// Pictures are given top row first, as they are displayed.
using Picture = std::vector<std::vector<Rgb>>;

class ImageFileSystemTest : public ::testing::Test {
  protected:
    std::string PathOf(const std::string& name) const { return (folder / name).string(); }

    testsupport::TemporaryFolder folder;
};

// Writes a colour PNG straight through GDAL.
void WriteRgbPng(const std::string& path, const Picture& picture) {
    std::vector<int> levels;
    for (const auto& row : picture) {
        for (const Rgb& colour : row) {
            levels.insert(levels.end(), colour.begin(), colour.end());
        }
    }
    ASSERT_TRUE(testsupport::WritePicture(path, "PNG", static_cast<int>(picture[0].size()),
                                          static_cast<int>(picture.size()), 3, levels));
}

// Writes a one-band PNG of the samples (given top row first), with a palette when one is given.
void WriteOneBandPng(const std::string& path, const std::vector<std::vector<int>>& samples,
                     const std::vector<Rgb>& palette, GDALDataType type = GDT_Byte) {
    testsupport::RasterContent content;
    content.driver = "PNG";
    content.type = type;
    content.height = static_cast<int>(samples.size());
    content.width = static_cast<int>(samples[0].size());
    for (const auto& row : samples) {
        content.samples.insert(content.samples.end(), row.begin(), row.end());
    }
    for (const Rgb& colour : palette) {
        content.palette.push_back({static_cast<short>(colour[0]), static_cast<short>(colour[1]),
                                   static_cast<short>(colour[2])});
    }
    ASSERT_TRUE(testsupport::WriteRaster(path, content));
}

// The samples GDAL itself decodes from band `band` (1-based) of a file, top row first.
std::vector<int> GdalSamples(const std::string& path, int band) {
    velkar::imageprocessing::GdalMessages quiet;
    GDALDatasetH file = GDALOpen(path.c_str(), GA_ReadOnly);
    if (file == nullptr) {
        ADD_FAILURE() << "GDAL cannot open " << path;
        return {};
    }
    const int width = GDALGetRasterXSize(file);
    const int height = GDALGetRasterYSize(file);
    std::vector<int> samples(static_cast<std::size_t>(width) * height);
    EXPECT_EQ(GDALRasterIO(GDALGetRasterBand(file, band), GF_Read, 0, 0, width, height,
                           samples.data(), width, height, GDT_Int32, 0, 0),
              CE_None);
    GDALClose(file);
    return samples;
}

Rgb ReadRgb(const ImageFileSystem& image, int x, int y) {
    Pixel pixel;
    image.Pixel(x, y, pixel);
    return {pixel[0], pixel[1], pixel[2]};
}

Rgb ReadBands(const ImageFileSystem& image, int x, int y) {
    return {image.Pixel(x, y, 0), image.Pixel(x, y, 1), image.Pixel(x, y, 2)};
}

void ExpectPicture(const ImageFileSystem& image, const Picture& expected) {
    ASSERT_EQ(image.Height(), static_cast<int>(expected.size()));
    ASSERT_EQ(image.Width(), static_cast<int>(expected[0].size()));
    for (int y = 0; y < image.Height(); ++y) {
        for (int x = 0; x < image.Width(); ++x) {
            EXPECT_EQ(ReadRgb(image, x, y), expected[y][x]) << "at (" << x << ", " << y << ")";
            EXPECT_EQ(ReadBands(image, x, y), expected[y][x]) << "at (" << x << ", " << y << ")";
        }
    }
}

const Picture kColourful = {
    {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}},
    {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}},
};

TEST_F(ImageFileSystemTest, ColourPngReadsWithRowZeroAtTheTop) {
    const std::string path = PathOf("colour.png");
    WriteRgbPng(path, kColourful);
    ImageFileSystem image(path);
    EXPECT_TRUE(image.IsLoaded());
    EXPECT_EQ(image.Width(), 3);
    EXPECT_EQ(image.Height(), 2);
    EXPECT_EQ(image.BandCount(), 3);
    EXPECT_EQ(image.Filename(), path);
    ExpectPicture(image, kColourful);
}

TEST_F(ImageFileSystemTest, ReadsAgreeWithTheDecodersOwnSamples) {
    const std::string path = PathOf("wide.png");
    Picture picture(5, std::vector<Rgb>(7));
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            picture[y][x] = {x * 30, y * 50, (x * 7 + y * 13) % 256};
        }
    }
    WriteRgbPng(path, picture);
    ImageFileSystem image(path);
    for (int band = 0; band < 3; ++band) {
        const std::vector<int> reference = GdalSamples(path, band + 1);
        ASSERT_EQ(reference.size(), 35u);
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 7; ++x) {
                EXPECT_EQ(image.Pixel(x, y, band), reference[static_cast<std::size_t>(y * 7 + x)]);
            }
        }
    }
}

TEST_F(ImageFileSystemTest, GreyscalePngReadsAsEqualComponents) {
    const std::string path = PathOf("grey.png");
    const std::vector<std::vector<int>> samples = {{0, 17, 128}, {200, 254, 255}};
    WriteOneBandPng(path, samples, {});

    ImageFileSystem image(path);
    EXPECT_EQ(image.FileBandCount(), 1);
    EXPECT_EQ(image.BandCount(), 3);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            const int v = samples[y][x];
            EXPECT_EQ(ReadRgb(image, x, y), (Rgb{v, v, v})) << "at (" << x << ", " << y << ")";
        }
    }
}

TEST_F(ImageFileSystemTest, PalettePngReadsThePaletteColours) {
    const std::string path = PathOf("palette.png");
    const std::vector<Rgb> palette = {{200, 10, 30}, {5, 250, 100}, {0, 0, 0}, {1, 2, 3}};
    const std::vector<std::vector<int>> indices = {{0, 1, 2, 3}, {3, 3, 1, 0}};
    WriteOneBandPng(path, indices, palette);

    ImageFileSystem image(path);
    EXPECT_EQ(image.FileBandCount(), 1);
    EXPECT_EQ(image.BandCount(), 3);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(ReadRgb(image, x, y), palette[indices[y][x]])
                << "at (" << x << ", " << y << ")";
        }
    }
}

// Deep samples are stretched between the 2nd and 98th percentiles of the file: of four samples
// those are the lowest (rank 0) and the highest (rank 3), and 5140 lies at 255 * 2570 / 10280.
TEST_F(ImageFileSystemTest, SixteenBitGreyIsStretchedBetweenItsPercentiles) {
    const std::string path = PathOf("grey16.png");
    const std::vector<std::vector<int>> samples = {{2570, 5140}, {12850, 2600}};
    WriteOneBandPng(path, samples, {}, GDT_UInt16);

    ImageFileSystem image(path);
    ASSERT_TRUE(image.IsLoaded());
    EXPECT_EQ(image.FileBitsPerSample(), 16);
    EXPECT_EQ(ReadRgb(image, 0, 0), (Rgb{0, 0, 0}));
    EXPECT_EQ(ReadRgb(image, 1, 0), (Rgb{64, 64, 64}));
    EXPECT_EQ(ReadRgb(image, 0, 1), (Rgb{255, 255, 255}));
    EXPECT_EQ(ReadRgb(image, 1, 1), (Rgb{1, 1, 1}));
}

TEST_F(ImageFileSystemTest, CreatedImageStartsBlackAndRoundTripsThroughAFile) {
    const std::string path = PathOf("created.png");
    auto created = ImageFileSystem::Create(path, 4, 3);
    EXPECT_EQ(created->Width(), 4);
    EXPECT_EQ(created->Height(), 3);
    EXPECT_EQ(created->BandCount(), 3);
    EXPECT_EQ(created->Filename(), path);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(ReadRgb(*created, 2, 1), (Rgb{0, 0, 0}));

    Picture picture(3, std::vector<Rgb>(4));
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            picture[y][x] = {x * 60 + 1, y * 100 + 2, 255 - x - 10 * y};
            Pixel pixel;
            pixel[0] = static_cast<std::uint8_t>(picture[y][x][0]);
            pixel[1] = static_cast<std::uint8_t>(picture[y][x][1]);
            pixel[2] = static_cast<std::uint8_t>(picture[y][x][2]);
            created->SetPixel(x, y, pixel);
        }
    }
    ExpectPicture(*created, picture);
    ASSERT_TRUE(created->Save());
    ImageFileSystem reloaded(path);
    ExpectPicture(reloaded, picture);
}

TEST_F(ImageFileSystemTest, CreateRejectsNegativeSizes) {
    EXPECT_THROW(ImageFileSystem::Create(PathOf("a.png"), -1, 3), std::invalid_argument);
    EXPECT_THROW(ImageFileSystem::Create(PathOf("a.png"), 3, -1), std::invalid_argument);
    EXPECT_THROW(ImageFileSystem::Create(PathOf("a.png"), 3, 3, 0), std::invalid_argument);
    auto empty = ImageFileSystem::Create(PathOf("a.png"), 0, 0);
    EXPECT_FALSE(empty->IsLoaded());
}

TEST_F(ImageFileSystemTest, ReadingAPixelLeavesTheFourthComponentAndCountAlone) {
    auto created = ImageFileSystem::Create(PathOf("unused.png"), 1, 1);
    Pixel written;
    written[0] = 9;
    written[1] = 8;
    written[2] = 7;
    written[3] = 200;
    written.count = 3;
    created->SetPixel(0, 0, written);
    Pixel read;
    read[3] = 55;
    read.count = 4;
    created->Pixel(0, 0, read);
    EXPECT_EQ((Rgb{read[0], read[1], read[2]}), (Rgb{9, 8, 7}));
    EXPECT_EQ(read[3], 55);
    EXPECT_EQ(read.count, 4);
}

TEST_F(ImageFileSystemTest, MissingFileGivesAnEmptyImage) {
    const std::string path = PathOf("does-not-exist.png");
    ImageFileSystem image(path);
    EXPECT_FALSE(image.IsLoaded());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
    EXPECT_EQ(image.Filename(), path);
    EXPECT_EQ(ReadRgb(image, 0, 0), (Rgb{0, 0, 0}));
    Pixel pixel;
    pixel[0] = 1;
    image.SetPixel(0, 0, pixel);
    EXPECT_FALSE(image.SaveAs(PathOf("empty.png")));
    EXPECT_FALSE(std::filesystem::exists(PathOf("empty.png")));
}

TEST_F(ImageFileSystemTest, FileThatIsNoImageGivesAnEmptyImage) {
    const std::string path = PathOf("text.png");
    {
        std::FILE* file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        std::fputs("not an image at all", file);
        std::fclose(file);
    }
    ImageFileSystem image(path);
    EXPECT_FALSE(image.IsLoaded());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
}

TEST_F(ImageFileSystemTest, DefaultConstructedImageIsEmptyAndSafe) {
    ImageFileSystem image;
    EXPECT_FALSE(image.IsLoaded());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
    EXPECT_EQ(image.Pixel(0, 0, 1), 0);
    EXPECT_FALSE(image.Save());
}

TEST_F(ImageFileSystemTest, CopiesHoldTheSourcePixelsAndNeverTouchTheDisk) {
    const std::string path = PathOf("source.png");
    WriteRgbPng(path, kColourful);
    ImageFileSystem source(path);
    const Rgb before = ReadRgb(source, 1, 0);
    Pixel changed;
    changed[0] = 1;
    changed[1] = 2;
    changed[2] = 3;
    source.SetPixel(1, 0, changed);
    // A copy must not reload the file: another file of that name may sit there by now.
    WriteRgbPng(path, {{{9, 9, 9}}});

    ImageFileSystem copy(source);
    ImageFileSystem assigned;
    assigned = source;
    for (const ImageFileSystem* image : {&copy, &assigned}) {
        EXPECT_EQ(image->Filename(), path);
        EXPECT_EQ(ReadRgb(*image, 1, 0), (Rgb{1, 2, 3}));
        EXPECT_EQ(image->Width(), source.Width());
        EXPECT_EQ(image->Height(), source.Height());
    }
    // The copies own their pixels.
    copy.SetPixel(1, 0, Pixel());
    EXPECT_EQ(ReadRgb(source, 1, 0), (Rgb{1, 2, 3}));
    EXPECT_NE(before, (Rgb{1, 2, 3}));

    ImageFileSystem& alias = source;
    source = alias;
    EXPECT_EQ(ReadRgb(source, 1, 0), (Rgb{1, 2, 3}));

    auto created = ImageFileSystem::Create(PathOf("never-saved.png"), 5, 4);
    ImageFileSystem createdCopy(*created);
    EXPECT_EQ(createdCopy.Width(), 5);
    EXPECT_EQ(createdCopy.Height(), 4);
}

TEST_F(ImageFileSystemTest, RowsGiveTheSamePixelsAsSinglePixelReads) {
    const std::string path = PathOf("rows.png");
    WriteRgbPng(path, kColourful);
    const ImageFileSystem image(path);
    ASSERT_TRUE(image.IsLoaded());
    EXPECT_EQ(image.Row(-1), nullptr);
    EXPECT_EQ(image.Row(image.Height()), nullptr);
    for (int y = 0; y < image.Height(); ++y) {
        const unsigned char* row = image.Row(y);
        ASSERT_NE(row, nullptr);
        for (int x = 0; x < image.Width(); ++x) {
            const unsigned char* pixel = row + x * image.BandCount();
            EXPECT_EQ((Rgb{pixel[0], pixel[1], pixel[2]}), ReadRgb(image, x, y)) << x << ", " << y;
        }
    }
    EXPECT_EQ(ImageFileSystem().Row(0), nullptr);
}

TEST_F(ImageFileSystemTest, SaveAfterSaveAsWritesUnderTheOriginalName) {
    const std::string original = PathOf("original.png");
    const std::string other = PathOf("other.png");
    auto image = ImageFileSystem::Create(original, 2, 2);
    Pixel red;
    red[0] = 255;
    image->SetPixel(0, 0, red);
    ASSERT_TRUE(image->SaveAs(other));
    EXPECT_EQ(image->Filename(), original);
    EXPECT_FALSE(std::filesystem::exists(original));

    Pixel blue;
    blue[2] = 255;
    image->SetPixel(0, 0, blue);
    ASSERT_TRUE(image->Save());
    EXPECT_EQ(ReadRgb(ImageFileSystem(original), 0, 0), (Rgb{0, 0, 255}));
    EXPECT_EQ(ReadRgb(ImageFileSystem(other), 0, 0), (Rgb{255, 0, 0}));
}

TEST_F(ImageFileSystemTest, OutsideReadsGiveZeroAndOutsideWritesChangeNothing) {
    const std::string path = PathOf("bright.png");
    const Picture white(2, std::vector<Rgb>(3, Rgb{255, 255, 255}));
    WriteRgbPng(path, white);
    ImageFileSystem image(path);
    const std::vector<std::array<int, 2>> outside = {{-1, 0}, {0, -1}, {3, 0},
                                                     {0, 2},  {3, 2},  {-100000, 100000}};
    for (const auto& [x, y] : outside) {
        EXPECT_EQ(ReadRgb(image, x, y), (Rgb{0, 0, 0})) << "at (" << x << ", " << y << ")";
        EXPECT_EQ(ReadBands(image, x, y), (Rgb{0, 0, 0})) << "at (" << x << ", " << y << ")";
        Pixel black;
        image.SetPixel(x, y, black);
    }
    ExpectPicture(image, white);
}

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes value into bytes at the position, size bytes, little- or big-endian.
void Put(std::string& bytes, std::size_t at, std::uint32_t value, int size, bool bigEndian) {
    for (int k = 0; k < size; ++k) {
        bytes[at + static_cast<std::size_t>(bigEndian ? size - 1 - k : k)] =
            static_cast<char>(value >> (8 * k));
    }
}

// Small files whose headers declare width x height pixels: a PNG of 68 bytes (its IHDR chunk
// rewritten with its CRC-32 recomputed bit by bit), a BMP (its info header rewritten) and a GIF
// written byte by byte, whose screen and first picture take the size (at most 65535 a side).
std::vector<std::string> FilesDeclaring(const std::string& folder, std::uint32_t width,
                                        std::uint32_t height) {
    const std::string png = folder + "/declared.png";
    const std::string bmp = folder + "/declared.bmp";
    const std::string gif = folder + "/declared.gif";
    const std::vector<int> black(2 * 2 * 3, 0);
    testsupport::WritePicture(png, "PNG", 2, 2, 3, black);
    testsupport::WritePicture(bmp, "BMP", 2, 2, 3, black);
    std::string bytes = Bytes(png);
    Put(bytes, 16, width, 4, true);
    Put(bytes, 20, height, 4, true);
    std::uint32_t crc = 0xffffffffu;
    for (std::size_t i = 12; i < 29; ++i) {
        crc ^= static_cast<unsigned char>(bytes[i]);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
    }
    Put(bytes, 29, ~crc, 4, true);
    std::ofstream(png, std::ios::binary) << bytes;
    bytes = Bytes(bmp);
    Put(bytes, 18, width, 4, false);
    Put(bytes, 22, height, 4, false);
    std::ofstream(bmp, std::ios::binary) << bytes;
    bytes = std::string("GIF89a\0\0\0\0\0\0\0\x2c\0\0\0\0\0\0\0\0\0\x02\0\x3b", 26);
    for (std::size_t at : {6, 18}) {
        Put(bytes, at, std::min(width, 0xffffu), 2, false);
        Put(bytes, at + 2, std::min(height, 0xffffu), 2, false);
    }
    std::ofstream(gif, std::ios::binary) << bytes;
    return {png, bmp, gif};
}

// Images declaring more pixels than the limit are refused from their header, in an address
// space that could not hold their pixels; a PNG or BMP exactly at the limit passes the size
// check (and then fails, unable to allocate its pixels).
TEST_F(ImageFileSystemTest, ImagesPastThePixelLimitAreRefusedFromTheirHeader) {
    struct Case {
        std::uint32_t width;
        std::uint32_t height;
        bool refused;
    };
    std::vector<Case> cases = {{40000, 40000, true}, {16384, 16385, true}, {65535, 4097, true}};
    if (testsupport::kAddressSpaceLimitWorks) {
        cases.push_back({16384, 16384, false});
    }
    for (const Case& declared : cases) {
        for (const std::string& path :
             FilesDeclaring(folder.Path().string(), declared.width, declared.height)) {
            // A GIF reader may decode the picture to open it, so one within the limit is not
            // tried.
            if (!declared.refused && path.ends_with(".gif")) {
                continue;
            }
            const auto child = testsupport::RunInChild(
                {testsupport::AddressSpaceInUse() + (rlim_t{128} << 20), 0}, [&] {
                    ImageFileSystem image(path);
                    std::cout << image.LoadError();
                    return image.IsLoaded() ? 1 : 0;
                });
            EXPECT_EQ(child.exitStatus, 0) << path << ": " << child.output;
            const std::string size = std::to_string(declared.width) + " x " +
                                     std::to_string(declared.height) +
                                     " pixels, more than the 268435456";
            EXPECT_EQ(child.output.find(size) != std::string::npos, declared.refused)
                << path << ": " << child.output;
        }
    }
}

// Any number of bands, pixel-interleaved; the mask, georeference and origin travel with copies;
// a TIFF keeps every band, a PNG takes at most four.
TEST_F(ImageFileSystemTest, BandsInterleaveAndTheMaskGeoreferenceAndOriginTravel) {
    constexpr int kBands = 5;
    auto image = ImageFileSystem::Create(PathOf("bands.tif"), 3, 2, kBands);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            for (int b = 0; b < kBands; ++b) {
                image->SetPixel(x, y, b, static_cast<unsigned char>(40 * b + 10 * y + x));
            }
        }
    }
    image->SetPixel(0, 0, kBands, 99);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 3; ++x) {
            for (int b = 0; b < kBands; ++b) {
                EXPECT_EQ(image->Row(y)[x * kBands + b], 40 * b + 10 * y + x);
            }
        }
    }
    EXPECT_EQ(image->Pixel(0, 0, kBands), 0);
    EXPECT_EQ(ReadRgb(*image, 2, 1), (Rgb{12, 52, 92}));

    EXPECT_FALSE(image->HasMask());
    EXPECT_EQ(image->MaskRow(0), nullptr);
    EXPECT_THROW(image->SetMask(std::vector<unsigned char>(5, 0)), std::invalid_argument);
    image->SetMask({0, 1, 0, 0, 0, 7});
    image->SetGeoreference({std::array<double, 6>{1, 2, 3, 4, 5, 6}, "LOCAL_CS[\"x\"]"});
    image->SetOrigin(30, 40);
    const ImageFileSystem copy(*image);
    image->SetMask({});
    EXPECT_FALSE(image->HasMask());
    ASSERT_TRUE(copy.HasMask());
    const std::vector<std::array<int, 2>> absent = {{1, 0}, {2, 1}};
    for (int y = -1; y <= 2; ++y) {
        for (int x = -1; x <= 3; ++x) {
            const bool expected =
                std::find(absent.begin(), absent.end(), std::array<int, 2>{x, y}) != absent.end();
            EXPECT_EQ(copy.IsAbsent(x, y), expected) << x << ", " << y;
        }
    }
    EXPECT_EQ(copy.GetGeoreference().geoTransform, (std::array<double, 6>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(copy.GetGeoreference().coordinateSystem, "LOCAL_CS[\"x\"]");
    EXPECT_EQ(copy.OriginX(), 30);
    EXPECT_EQ(copy.OriginY(), 40);

    ASSERT_TRUE(image->Save());
    EXPECT_FALSE(image->SaveAs(PathOf("bands.png")));
    EXPECT_FALSE(image->SaveAs(PathOf("bands.unknown")));
    for (int band = 0; band < kBands; ++band) {
        const std::vector<int> saved = GdalSamples(PathOf("bands.tif"), band + 1);
        ASSERT_EQ(saved.size(), 6u);
        for (int p = 0; p < 6; ++p) {
            EXPECT_EQ(saved[static_cast<std::size_t>(p)], image->Pixel(p % 3, p / 3, band));
        }
    }
}

}  // namespace
