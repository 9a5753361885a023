#include "velkar/imageprocessing/ImageFileSystem.h"

#include <FreeImagePlus.h>
#include <gtest/gtest.h>

#include "common/ChildProcess.h"
#include "common/TemporaryFolder.h"

#include <stdexcept>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

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

// Writes a 24-bit PNG through FreeImage itself, converting rows to its bottom-up scanlines.
void WriteRgbPng(const std::string& path, const Picture& picture) {
    const unsigned height = static_cast<unsigned>(picture.size());
    const unsigned width = static_cast<unsigned>(picture[0].size());
    fipImage bitmap(FIT_BITMAP, width, height, 24);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width; ++x) {
            RGBQUAD colour{};
            colour.rgbRed = static_cast<BYTE>(picture[y][x][0]);
            colour.rgbGreen = static_cast<BYTE>(picture[y][x][1]);
            colour.rgbBlue = static_cast<BYTE>(picture[y][x][2]);
            ASSERT_TRUE(bitmap.setPixelColor(x, height - 1 - y, &colour));
        }
    }
    ASSERT_TRUE(bitmap.save(path.c_str(), 0));
}

// Writes an 8-bit PNG whose samples are palette indices (given top row first).
void WriteIndexedPng(const std::string& path, const std::vector<std::vector<int>>& indices,
                     const std::vector<Rgb>& palette) {
    const unsigned height = static_cast<unsigned>(indices.size());
    const unsigned width = static_cast<unsigned>(indices[0].size());
    fipImage bitmap(FIT_BITMAP, width, height, 8);
    RGBQUAD* entries = bitmap.getPalette();
    ASSERT_NE(entries, nullptr);
    for (unsigned i = 0; i < 256; ++i) {
        const Rgb colour = i < palette.size()
                               ? palette[i]
                               : Rgb{static_cast<int>(i), static_cast<int>(i), static_cast<int>(i)};
        entries[i].rgbRed = static_cast<BYTE>(colour[0]);
        entries[i].rgbGreen = static_cast<BYTE>(colour[1]);
        entries[i].rgbBlue = static_cast<BYTE>(colour[2]);
    }
    for (unsigned y = 0; y < height; ++y) {
        BYTE* line = bitmap.getScanLine(height - 1 - y);
        for (unsigned x = 0; x < width; ++x) {
            line[x] = static_cast<BYTE>(indices[y][x]);
        }
    }
    ASSERT_TRUE(bitmap.save(path.c_str(), 0));
}

void WriteGrey16Png(const std::string& path, const std::vector<std::vector<int>>& samples) {
    const unsigned height = static_cast<unsigned>(samples.size());
    const unsigned width = static_cast<unsigned>(samples[0].size());
    fipImage bitmap(FIT_UINT16, width, height, 16);
    for (unsigned y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<std::uint16_t*>(bitmap.getScanLine(height - 1 - y));
        for (unsigned x = 0; x < width; ++x) {
            line[x] = static_cast<std::uint16_t>(samples[y][x]);
        }
    }
    ASSERT_TRUE(bitmap.save(path.c_str(), 0));
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

TEST_F(ImageFileSystemTest, ReadsAgreeWithFreeImagesOwnPixelColours) {
    const std::string path = PathOf("wide.png");
    Picture picture(5, std::vector<Rgb>(7));
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            picture[y][x] = {x * 30, y * 50, (x * 7 + y * 13) % 256};
        }
    }
    WriteRgbPng(path, picture);
    ImageFileSystem image(path);
    fipImage reference;
    ASSERT_TRUE(reference.load(path.c_str(), 0));
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            RGBQUAD colour{};
            ASSERT_TRUE(reference.getPixelColor(static_cast<unsigned>(x),
                                                static_cast<unsigned>(4 - y), &colour));
            EXPECT_EQ(ReadRgb(image, x, y), (Rgb{colour.rgbRed, colour.rgbGreen, colour.rgbBlue}));
        }
    }
}

TEST_F(ImageFileSystemTest, GreyscalePngReadsAsEqualComponents) {
    const std::string path = PathOf("grey.png");
    const std::vector<std::vector<int>> samples = {{0, 17, 128}, {200, 254, 255}};
    // A grey ramp palette makes FreeImage write a greyscale PNG.
    WriteIndexedPng(path, samples, {});
    fipImage check;
    ASSERT_TRUE(check.load(path.c_str(), 0));
    ASSERT_EQ(check.getColorType(), FIC_MINISBLACK);

    ImageFileSystem image(path);
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
    WriteIndexedPng(path, indices, palette);
    fipImage check;
    ASSERT_TRUE(check.load(path.c_str(), 0));
    ASSERT_EQ(check.getColorType(), FIC_PALETTE);

    ImageFileSystem image(path);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) {
            EXPECT_EQ(ReadRgb(image, x, y), palette[indices[y][x]])
                << "at (" << x << ", " << y << ")";
        }
    }
}

TEST_F(ImageFileSystemTest, SixteenBitGreyReadsItsHighByteWhateverTheImageRange) {
    const std::string path = PathOf("grey16.png");
    // None of the samples is near the full 16-bit range, so any stretching would show.
    const std::vector<std::vector<int>> samples = {{2570, 5140}, {12850, 2600}};
    WriteGrey16Png(path, samples);
    fipImage check;
    ASSERT_TRUE(check.load(path.c_str(), 0));
    ASSERT_EQ(check.getImageType(), FIT_UINT16);

    ImageFileSystem image(path);
    ASSERT_TRUE(image.IsLoaded());
    EXPECT_EQ(ReadRgb(image, 0, 0), (Rgb{10, 10, 10}));
    EXPECT_EQ(ReadRgb(image, 1, 0), (Rgb{20, 20, 20}));
    EXPECT_EQ(ReadRgb(image, 0, 1), (Rgb{50, 50, 50}));
    EXPECT_EQ(ReadRgb(image, 1, 1), (Rgb{10, 10, 10}));
}

TEST_F(ImageFileSystemTest, CreatedImageStartsBlackAndRoundTripsThroughAFile) {
    const std::string path = PathOf("created.png");
    auto created = ImageFileSystem::Create(path, 4, 3, 24);
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
    EXPECT_THROW(ImageFileSystem::Create(PathOf("a.png"), -1, 3, 24), std::invalid_argument);
    EXPECT_THROW(ImageFileSystem::Create(PathOf("a.png"), 3, -1, 24), std::invalid_argument);
    EXPECT_THROW(ImageFileSystem::Create(PathOf("a.png"), 3, 3, -24), std::invalid_argument);
    auto empty = ImageFileSystem::Create(PathOf("a.png"), 0, 0, 24);
    EXPECT_FALSE(empty->IsLoaded());
}

TEST_F(ImageFileSystemTest, ReadingAPixelLeavesTheFourthComponentAndCountAlone) {
    auto created = ImageFileSystem::Create(PathOf("unused.png"), 1, 1, 24);
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

    auto created = ImageFileSystem::Create(PathOf("never-saved.png"), 5, 4, 24);
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
            const unsigned char* pixel = row + x * image.BytesPerPixel();
            EXPECT_EQ((Rgb{pixel[ImageFileSystem::kRedOffset], pixel[ImageFileSystem::kGreenOffset],
                           pixel[ImageFileSystem::kBlueOffset]}),
                      ReadRgb(image, x, y))
                << x << ", " << y;
        }
    }
    EXPECT_EQ(ImageFileSystem().Row(0), nullptr);
}

TEST_F(ImageFileSystemTest, SaveAfterSaveAsWritesUnderTheOriginalName) {
    const std::string original = PathOf("original.png");
    const std::string other = PathOf("other.png");
    auto image = ImageFileSystem::Create(original, 2, 2, 24);
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

// Small files whose headers declare width x height pixels: a PNG (its IHDR chunk rewritten with
// its CRC-32 recomputed bit by bit), a BMP (its info header rewritten) and a GIF written byte by
// byte, whose screen and first picture take the size (at most 65535 a side).
std::vector<std::string> FilesDeclaring(const std::string& folder, std::uint32_t width,
                                        std::uint32_t height) {
    const std::string png = folder + "/declared.png";
    const std::string bmp = folder + "/declared.bmp";
    const std::string gif = folder + "/declared.gif";
    fipImage(FIT_BITMAP, 2, 2, 24).save(png.c_str(), 0);
    fipImage(FIT_BITMAP, 2, 2, 24).save(bmp.c_str(), 0);
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
            // FreeImage decodes a GIF to learn its size, so one within the limit is not tried.
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

}  // namespace
