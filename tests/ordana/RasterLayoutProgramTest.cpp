// The program on rasters of every layout, written through GDAL: the descriptors hold the window
// means of the levels the test computes from the samples (the bands the file gives or --bands
// chooses, deep samples stretched between the percentiles the test finds), windows with pixels
// without data are left out, and a model trained on a 16-bit scene classifies another with the
// stretch it records.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "common/RasterFiles.h"
#include "velkar/imageprocessing/ImageFileSystem.h"

namespace {

using ordanatest::TemporaryFolder;
using ordanatest::Words;
using testsupport::RasterContent;

constexpr int kWidth = 13;
constexpr int kHeight = 11;
constexpr int kWindow = 3;

// A band of levels, row after row.
using Plane = std::vector<double>;

std::string Shortest(double value) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

// The 2nd and 98th percentiles as ranks ceil(p n / 100) - 1 of the sorted samples.
std::pair<double, double> IntegerPercentiles(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const auto rank = [&](long long p) {
        const long long n = static_cast<long long>(samples.size());
        return samples[static_cast<std::size_t>(std::clamp((p * n + 99) / 100 - 1, 0LL, n - 1))];
    };
    return {rank(2), rank(98)};
}

// The same from 4096 bins between the minimum and the maximum: the lower edge of the bin of the
// 2nd percentile's rank, the upper edge of the 98th's.
std::pair<double, double> FloatPercentiles(const std::vector<double>& samples) {
    const auto [lowest, highest] = std::minmax_element(samples.begin(), samples.end());
    const double range = *highest - *lowest;
    std::vector<long long> counts(4096, 0);
    for (const double v : samples) {
        ++counts[static_cast<std::size_t>(
            std::clamp(std::floor(4096.0 * (v - *lowest) / range), 0.0, 4095.0))];
    }
    const long long n = static_cast<long long>(samples.size());
    const auto binOf = [&](long long p) {
        const long long rank = std::clamp((p * n + 99) / 100 - 1, 0LL, n - 1);
        long long below = 0;
        for (std::size_t bin = 0; bin < counts.size(); ++bin) {
            if (below + counts[bin] > rank) {
                return bin;
            }
            below += counts[bin];
        }
        return counts.size() - 1;
    };
    const std::size_t low = binOf(2);
    const std::size_t high = binOf(98);
    return {*lowest + static_cast<double>(low) * range / 4096,
            high == 4095 ? *highest : *lowest + static_cast<double>(high + 1) * range / 4096};
}

Plane Stretched(const std::vector<double>& samples, std::pair<double, double> stretch) {
    Plane levels;
    for (const double v : samples) {
        const double level =
            std::floor(255.0 * (v - stretch.first) / (stretch.second - stretch.first) + 0.5);
        levels.push_back(std::clamp(level, 0.0, 255.0));
    }
    return levels;
}

std::vector<double> BandOf(const RasterContent& content, int band) {
    const std::size_t plane = static_cast<std::size_t>(content.width) * content.height;
    return {content.samples.begin() + static_cast<std::ptrdiff_t>(band * plane),
            content.samples.begin() + static_cast<std::ptrdiff_t>((band + 1) * plane)};
}

RasterContent Sampled(const std::string& driver, int bands, GDALDataType type,
                      const std::function<double(int band, int x, int y)>& sample) {
    RasterContent content = testsupport::RasterOf(driver, kWidth, kHeight, bands, type);
    for (int b = 0; b < bands; ++b) {
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                content.samples.push_back(sample(b, x, y));
            }
        }
    }
    return content;
}

// The rows of a descriptor file: each a class name and its values.
std::vector<std::vector<double>> DescriptorRows(const std::filesystem::path& path) {
    std::vector<std::vector<double>> rows;
    for (const std::string& line : ordanatest::ReadLines(path)) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        std::vector<double> values;
        for (double value = 0.0; words >> value;) {
            values.push_back(value);
        }
        rows.push_back(values);
    }
    return rows;
}

struct Layout {
    std::string file;
    RasterContent content;
    std::string options;
    // The levels every band used gives, in the order used.
    std::function<std::vector<Plane>(const RasterContent&)> levels;
    // What the run says it read, or empty for a plain picture that says nothing.
    std::string said;
    // Pixels absent in the file (where the first band holds the no-data value).
    std::optional<double> noData = std::nullopt;
};

TEST(RasterLayoutProgramTest, DescriptorsHoldTheLevelsOfEveryLayout) {
    std::mt19937 random(41);
    const auto uniform = [&random](double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random);
    };
    const auto byte = [&](int, int, int) { return std::floor(uniform(1, 256)); };
    const auto asIs = [](std::vector<int> order) {
        return [order](const RasterContent& content) {
            std::vector<Plane> planes;
            for (const int band : order) {
                planes.push_back(BandOf(content, band));
            }
            return planes;
        };
    };
    std::vector<Layout> layouts;
    layouts.push_back({"rgb.png", Sampled("PNG", 3, GDT_Byte, byte), "", asIs({0, 1, 2}), ""});
    layouts.push_back({"grey.png", Sampled("PNG", 1, GDT_Byte, byte), "", asIs({0, 0, 0}), ""});
    RasterContent palette =
        Sampled("PNG", 1, GDT_Byte, [&](int, int, int) { return std::floor(uniform(0, 4)); });
    palette.palette = {{10, 20, 30}, {200, 0, 90}, {0, 255, 1}, {77, 66, 55}};
    layouts.push_back({"palette.png", palette, "",
                       [](const RasterContent& content) {
                           std::vector<Plane> planes(3);
                           for (const double index : content.samples) {
                               for (std::size_t c = 0; c < 3; ++c) {
                                   planes[c].push_back(
                                       content.palette[static_cast<std::size_t>(index)][c]);
                               }
                           }
                           return planes;
                       },
                       ""});
    RasterContent rgba = Sampled("PNG", 4, GDT_Byte, byte);
    rgba.colours = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand, GCI_AlphaBand};
    layouts.push_back({"rgba.png", rgba, "", asIs({0, 1, 2}), ""});
    RasterContent four = Sampled("GTiff", 4, GDT_Byte, byte);
    four.options = {"INTERLEAVE=BAND"};
    layouts.push_back(
        {"four.tif", four, "--bands 4,2,3,1", asIs({3, 1, 2, 0}), "bands 4, 2, 3, 1 of 4"});
    layouts.push_back({"four_default.tif", four, "", asIs({0, 1, 2, 3}), "bands 1, 2, 3, 4 of 4"});
    RasterContent deep =
        Sampled("GTiff", 1, GDT_UInt16, [&](int, int, int) { return std::floor(uniform(0, 60000)); });
    const auto deepStretch = IntegerPercentiles(deep.samples);
    layouts.push_back({"deep.tif", deep, "",
                       [deepStretch](const RasterContent& content) {
                           const Plane levels = Stretched(content.samples, deepStretch);
                           return std::vector<Plane>{levels, levels, levels};
                       },
                       "bands 1, 1, 1 of 1, band 1 stretched from " + Shortest(deepStretch.first) +
                           " to " + Shortest(deepStretch.second)});
    layouts.push_back({"deep_set.tif", deep, "--bands 1 --stretch 1000,30000",
                       [](const RasterContent& content) {
                           return std::vector<Plane>{Stretched(content.samples, {1000, 30000})};
                       },
                       "bands 1 of 1, band 1 stretched from 1000 to 30000"});
    RasterContent real = Sampled("GTiff", 2, GDT_Float32, [&](int band, int, int) {
        return static_cast<double>(static_cast<float>(uniform(-3, 5) * (band + 1)));
    });
    const auto realStretch0 = FloatPercentiles(BandOf(real, 0));
    const auto realStretch1 = FloatPercentiles(BandOf(real, 1));
    layouts.push_back({"real.tif", real, "",
                       [=](const RasterContent& content) {
                           return std::vector<Plane>{Stretched(BandOf(content, 0), realStretch0),
                                                     Stretched(BandOf(content, 1), realStretch1)};
                       },
                       "bands 1, 2 of 2, band 1 stretched from " + Shortest(realStretch0.first) +
                           " to " + Shortest(realStretch0.second) + ", band 2 stretched from " +
                           Shortest(realStretch1.first) + " to " + Shortest(realStretch1.second)});
    // A no-data border: the first column and the last row hold 0 in every band.
    RasterContent border = Sampled("GTiff", 3, GDT_Byte, [&](int, int x, int y) {
        return x == 0 || y == kHeight - 1 ? 0.0 : std::floor(uniform(1, 256));
    });
    border.noData = 0;
    layouts.push_back({"border.tif", border, "", asIs({0, 1, 2}), "", 0.0});

    for (const Layout& layout : layouts) {
        SCOPED_TRACE(layout.file);
        TemporaryFolder folder;
        ASSERT_TRUE(testsupport::WriteRaster((folder / layout.file).string(), layout.content));
        ordanatest::WritePolygonFile(folder / "plot.cct", {"a", "b"}, {"", ""},
                                     {{"a", ordanatest::Rectangle(0, 0, kWidth, kHeight)}});
        const auto result =
            ordanatest::RunOrdana(Words("--image " + layout.file +
                                        " --file plot.cct --experiments 0 --chatty true "
                                        "--wca --aws 3 " +
                                        layout.options),
                                  folder.Path());
        ASSERT_EQ(result.exitStatus, 0) << result.output;
        std::vector<std::string> reads;
        std::vector<std::string> warnings;
        for (const std::string& line : ordanatest::Payloads(result.output, "LOGMESSAGE")) {
            (line.find("is read as") != std::string::npos ? reads : warnings).push_back(line);
        }
        EXPECT_EQ(reads, layout.said.empty()
                             ? std::vector<std::string>{}
                             : std::vector<std::string>{"The image '" + layout.file +
                                                        "' is read as " + layout.said + "."});

        const std::vector<Plane> planes = layout.levels(layout.content);
        std::vector<std::vector<double>> expected;
        long long absentWindows = 0;
        for (int x = 0; x + kWindow <= kWidth; x += kWindow) {
            for (int y = 0; y + kWindow <= kHeight; y += kWindow) {
                std::vector<double> means(planes.size(), 0.0);
                bool absent = false;
                for (int j = y; j < y + kWindow; ++j) {
                    for (int i = x; i < x + kWindow; ++i) {
                        const std::size_t p = static_cast<std::size_t>(j) * kWidth + i;
                        absent = absent ||
                                 (layout.noData && layout.content.samples[p] == *layout.noData);
                        for (std::size_t b = 0; b < planes.size(); ++b) {
                            means[b] += planes[b][p] / (kWindow * kWindow);
                        }
                    }
                }
                if (absent) {
                    ++absentWindows;
                } else {
                    expected.push_back(means);
                }
            }
        }
        const auto files = ordanatest::FilesWithExtension(folder.Path(), "wca");
        ASSERT_EQ(files.size(), 1u);
        const auto rows = DescriptorRows(files[0]);
        ASSERT_EQ(rows.size(), expected.size());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            ASSERT_EQ(rows[r].size(), expected[r].size()) << "row " << r;
            for (std::size_t k = 0; k < rows[r].size(); ++k) {
                EXPECT_NEAR(rows[r][k], expected[r][k], 1e-9) << "row " << r << ", band " << k;
            }
        }
        if (absentWindows > 0) {
            EXPECT_NE(std::find(warnings.begin(), warnings.end(),
                                std::to_string(absentWindows) +
                                    " windows of Windowed Color Average in the class 'a' of "
                                    "'plot.cct' hold pixels without data in '" +
                                    layout.file + "'; they are left out."),
                      warnings.end())
                << result.output;
        } else {
            EXPECT_EQ(result.output.find("without data"), std::string::npos) << result.output;
        }
    }
}

// A 16-bit 4-band scene, low in band 4 on the left and high on the right: the model records
// every band's percentiles; a second scene, all high in band 4 and narrower in range, is read
// with them (its own would spread its noise over all levels), its first column without data
// leaves the windows there unknown and black; a picture of three bands is refused by name.
TEST(RasterLayoutProgramTest, ModelsCarryTheirBandsAndStretchesToTheScenesTheyClassify) {
    TemporaryFolder folder;
    std::mt19937 random(5);
    const auto noise = [&random](double centre) {
        return std::floor(centre + std::uniform_real_distribution<double>(-40, 40)(random));
    };
    RasterContent training;
    training.width = 40;
    training.height = 20;
    training.bands = 4;
    training.type = GDT_UInt16;
    training.options = {"INTERLEAVE=BAND", "TILED=YES", "BLOCKXSIZE=16", "BLOCKYSIZE=16"};
    for (int b = 0; b < 4; ++b) {
        for (int y = 0; y < 20; ++y) {
            for (int x = 0; x < 40; ++x) {
                training.samples.push_back(noise(b < 3 ? 1500 + 300 * b : x < 20 ? 1000 : 9000));
            }
        }
    }
    ASSERT_TRUE(testsupport::WriteRaster((folder / "training.tif").string(), training));
    ordanatest::WritePolygonFile(folder / "plot.cct", {"low", "high"}, {"#0000ff", "#ff0000"},
                                 {{"low", ordanatest::Rectangle(0, 0, 20, 20)},
                                  {"high", ordanatest::Rectangle(20, 0, 40, 20)}});
    const auto trained = ordanatest::RunOrdana(
        Words("--image training.tif --file plot.cct --experiments 1 --seed 3 --wca --aws 5 --mlp "
              "--mhidden 4 --mlr 0.3 --mm 0.1 --merr 0.01 --miter 300 --output model_"),
        folder.Path());
    ASSERT_EQ(trained.exitStatus, 0) << trained.output;
    const auto models = ordanatest::FilesWithExtension(folder.Path(), "mlp");
    ASSERT_EQ(models.size(), 1u);
    std::string stretches;
    std::string said;
    for (int b = 0; b < 4; ++b) {
        const auto [low, high] = IntegerPercentiles(BandOf(training, b));
        stretches +=
            std::string(b == 0 ? "" : ", ") + "[" + Shortest(low) + ".0, " + Shortest(high) + ".0]";
        said += ", band " + std::to_string(b + 1) + " stretched from " + Shortest(low) + " to " +
                Shortest(high);
    }
    const std::string model = ordanatest::ReadText(models[0]);
    EXPECT_NE(model.find("\"bands\": [1, 2, 3, 4]"), std::string::npos) << model;
    EXPECT_NE(model.find("\"stretch\": [" + stretches + "]"), std::string::npos) << model;

    RasterContent scene = training;
    scene.width = 25;
    scene.height = 10;
    scene.noData = 0;
    scene.samples.clear();
    for (int b = 0; b < 4; ++b) {
        for (int y = 0; y < 10; ++y) {
            for (int x = 0; x < 25; ++x) {
                scene.samples.push_back(x == 0 ? 0 : noise(b < 3 ? 1500 + 300 * b : 9000));
            }
        }
    }
    ASSERT_TRUE(testsupport::WriteRaster((folder / "scene.tif").string(), scene));
    const auto result = ordanatest::RunOrdana(
        Words("--image scene.tif --modelfile " + models[0].filename().string() +
              " --sampling window --chatty true"),
        folder.Path());
    ASSERT_EQ(result.exitStatus, 0) << result.output;
    const auto messages = ordanatest::Payloads(result.output, "LOGMESSAGE");
    const std::vector<std::string> expected = {
        "The image 'scene.tif' is read as bands 1, 2, 3, 4 of 4" + said + ".",
        "2 of the 10 windows hold pixels without data in 'scene.tif'; they stay unknown."};
    for (const std::string& line : expected) {
        EXPECT_NE(std::find(messages.begin(), messages.end(), line), messages.end())
            << line << "\n"
            << result.output;
    }
    const auto results = ordanatest::FilesWithExtension(folder.Path(), "cct");
    std::filesystem::path resultsFile;
    for (const auto& path : results) {
        if (path.filename().string().rfind("scene_results_", 0) == 0) {
            resultsFile = path;
        }
    }
    ASSERT_FALSE(resultsFile.empty());
    const auto lines = ordanatest::ReadLines(resultsFile);
    // The 10 labels come before the polygon count and 10 polygons of 5 lines: x-major, two rows
    // of windows.
    ASSERT_GE(lines.size(), 61u);
    const std::vector<std::string> labels(lines.end() - 61, lines.end() - 51);
    EXPECT_EQ(labels, (std::vector<std::string>{"unknown", "unknown", "high", "high", "high",
                                                "high", "high", "high", "high", "high"}));
    std::filesystem::path picture = resultsFile;
    const velkar::imageprocessing::ImageFileSystem map(picture.replace_extension(".png").string());
    ASSERT_EQ(map.Width(), 25);
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 25; ++x) {
            EXPECT_EQ(map.Pixel(x, y, 0), x < 5 ? 0 : 255) << x << ", " << y;
        }
    }
    // The class map's GeoTIFF went with the run.
    for (const std::string& name : folder.FileNames()) {
        EXPECT_TRUE(name.find(".tif") == std::string::npos || name == "training.tif" ||
                    name == "scene.tif")
            << name;
    }

    ASSERT_TRUE(ordanatest::WriteImage(folder / "rgb.png", 25, 10,
                                       [](int x, int y) { return ordanatest::Rgb(x, y, 7); }));
    const std::string run =
        "--image rgb.png --sampling window --modelfile " + models[0].filename().string();
    const std::vector<std::pair<std::string, std::string>> refusals = {
        {run, "The model file '" + models[0].filename().string() +
                  "' records bands the image cannot give: band 4 does not exist: 'rgb.png' has "
                  "3 bands."},
        {run + " --bands 1,2,3",
         "The image 'rgb.png' is read as bands 1, 2, 3 of 3, which gives 3 features per window, "
         "but the model file '" +
             models[0].filename().string() +
             "' takes 4 (it was trained on 4 bands); choose the bands with '--bands'."},
        {"--image training.tif --file plot.cct --experiments 0 --wca --aws 5 --bands 2,5",
         "Invalid value for option '--bands': 2,5 (band 5 does not exist: 'training.tif' has 4 "
         "bands)."},
        {"--image training.tif --file plot.cct --experiments 0 --wca --aws 5 --bands 2,,1",
         "Invalid value for option '--bands': 2,,1 (a list of band numbers from 1, separated by "
         "commas, such as 4,3,2)."},
        {"--image training.tif --file plot.cct --experiments 0 --wca --aws 5 --stretch 9,1",
         "Invalid value for option '--stretch': 9,1 (two numbers LOW,HIGH, LOW not above HIGH, "
         "such as 100,3000)."},
        {"--image training.tif --file plot.cct --experiments 0 --wca --aws 5 --cs-lab",
         "The colour space lab needs an image of exactly 3 bands, red, green and blue; the image "
         "has 4 (choose three with '--bands')."},
        {"--image training.tif --file plot.cct --experiments 0 --wca --aws 5 --aam true",
         "The image 'training.tif' is read as bands 1, 2, 3, 4 of 4" + said +
             ": The color average's monochromatic band (aam) needs exactly 3 bands, red, green "
             "and blue; the image has 4."},
    };
    for (const auto& [line, message] : refusals) {
        const auto before = folder.FileNames().size();
        const auto refused = ordanatest::RunOrdana(Words(line + " --chatty true"), folder.Path());
        EXPECT_EQ(refused.exitStatus, 2) << line;
        const auto lines = ordanatest::Payloads(refused.output, "LOGMESSAGE");
        EXPECT_NE(std::find(lines.begin(), lines.end(), message), lines.end()) << line << "\n"
                                                                               << refused.output;
        EXPECT_EQ(folder.FileNames().size(), before) << line;
    }
}

}  // namespace
