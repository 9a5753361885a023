#include "ordana/ReportPage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "common/PngDecoder.h"
#include "common/TemporaryFolder.h"
#include "ordana/ReportPageFixtures.h"
#include "ordana/ReportPageReading.h"

namespace {

using velkar::ordana::kPageClassMapBytes;
using velkar::ordana::kPagePhotoBytes;
using velkar::ordana::RenderClassificationPage;
using velkar::ordana::RenderExperimentPage;

// The WCAG contrast ratio of two colours written "#rrggbb" or "#rgb".
double Contrast(const std::string& first, const std::string& second) {
    const auto luminance = [](const std::string& colour) {
        const bool shortForm = colour.size() == 4;
        double sum = 0.0;
        const double weights[] = {0.2126, 0.7152, 0.0722};
        for (int c = 0; c < 3; ++c) {
            const std::string digits =
                shortForm ? std::string(2, colour[1 + c]) : colour.substr(1 + 2 * c, 2);
            const double level = std::stoi(digits, nullptr, 16) / 255.0;
            sum += weights[c] *
                   (level <= 0.04045 ? level / 12.92 : std::pow((level + 0.055) / 1.055, 2.4));
        }
        return sum;
    };
    const double a = luminance(first) + 0.05;
    const double b = luminance(second) + 0.05;
    return std::max(a, b) / std::min(a, b);
}

const std::vector<std::vector<std::string>> kClassNameSets = {
    {"grass", "water", "sand"},
    {"<b>bold</b>", "R&D \"area\"", "it's"},
    {"Wiese", "Gew\xC3\xA4sser"}};

TEST(ReportPageTest, ExperimentPageShowsTheNumbersOfItsReports) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
        for (const auto& names : kClassNameSets) {
            testsupport::TemporaryFolder folder;
            const auto page = reportpage::Experiment(folder.Path(), names, 90, 60, seed);
            const std::string html = RenderExperimentPage(page);
            const std::vector<reportpage::Section> shown = reportpage::PageSections(html);
            EXPECT_EQ(shown, reportpage::ReportSections(page));
            ASSERT_EQ(shown.size(), 4u);
            EXPECT_TRUE(shown[3].rows.empty() && !shown[3].notEvaluated.empty());
            EXPECT_EQ(reportpage::LegendNames(html), names);
            EXPECT_EQ(reportpage::ExternalReferences(html), std::vector<std::string>{});
            EXPECT_EQ(reportpage::ImagesWithoutText(html), std::vector<std::string>{});
            // Every polygon outlined, titled with its number and class.
            const auto titles = reportpage::Pieces(html, "<g><title>", "</title>");
            ASSERT_EQ(titles.size(), page.polygons.size());
            for (std::size_t i = 0; i < titles.size(); ++i) {
                const int c = page.polygons[i].classIndex;
                EXPECT_EQ(reportpage::Unescape(titles[i]),
                          "polygon " + std::to_string(i + 1) + ": " +
                              (c < 0 ? std::string("no class") : names[c]));
            }
            // Every count stays readable on its shade.
            const auto cells = reportpage::Pieces(html, "<td class=\"count", "\" title=");
            EXPECT_GT(cells.size(), 2 * names.size() * (names.size() + 1));
            for (const std::string& cell : cells) {
                const std::size_t background = cell.find("background:") + 11;
                const std::size_t colour = cell.find(";color:") + 7;
                EXPECT_GE(Contrast(cell.substr(background, 7), cell.substr(colour)), 4.5) << cell;
            }
        }
    }
}

TEST(ReportPageTest, InputTextIsEscapedEverywhere) {
    const std::string hostile = "<img src=x onerror=alert(1)>\"'&";
    testsupport::TemporaryFolder folder;
    auto experiment = reportpage::Experiment(folder.Path(), {"a", hostile, "c"}, 40, 30, 4);
    experiment.polygonFile = hostile;
    experiment.imageFile = hostile;
    experiment.parameters.push_back({hostile, hostile});
    experiment.filesWritten.push_back(hostile);
    experiment.sections[0].extraction = hostile;
    experiment.sections[0].classifierName = hostile;
    auto classification = reportpage::Classification({"a", hostile, "c"}, 40, 30, 40, 30, 10, 4);
    classification.imageFile = hostile;
    classification.classMapFile = hostile;
    classification.modelFile = hostile;
    classification.areaUnit = hostile;
    classification.modelParameters.push_back({hostile, hostile});
    classification.filesWritten.push_back(hostile);
    for (const std::string& html :
         {RenderExperimentPage(experiment), RenderClassificationPage(classification)}) {
        EXPECT_EQ(html.find("<img"), std::string::npos);
        EXPECT_EQ(html.find("'&"), std::string::npos);
        EXPECT_NE(html.find("&lt;img src=x onerror=alert(1)&gt;&quot;&#39;&amp;"),
                  std::string::npos);
        EXPECT_EQ(reportpage::ExternalReferences(html), std::vector<std::string>{});
        EXPECT_EQ(reportpage::ImagesWithoutText(html), std::vector<std::string>{});
    }
}

TEST(ReportPageTest, LargePicturesAreScaledIntoTheBudget) {
    struct Case {
        int width, height, mapWidth, mapHeight, noise;
    };
    for (const Case& c : std::vector<Case>{{2000, 2000, 4000, 4000, 120},
                                           {2400, 1000, 2400, 1000, 3},
                                           {300, 200, 300, 200, 20}}) {
        const auto page = reportpage::Classification({"grass", "water", "sand"}, c.width, c.height,
                                                     c.mapWidth, c.mapHeight, c.noise, 9);
        const std::string html = RenderClassificationPage(page);
        EXPECT_LT(html.size(), 5'000'000u) << c.width << " x " << c.height;
        const auto pngs = reportpage::EmbeddedPngs(html);
        ASSERT_EQ(pngs.size(), 2u);
        EXPECT_LE(pngs[0].size(), kPagePhotoBytes);
        EXPECT_LE(pngs[1].size(), kPageClassMapBytes);
        const auto photo = testsupport::DecodePng(pngs[0]);
        const auto map = testsupport::DecodePng(pngs[1]);
        ASSERT_TRUE(photo && map);
        EXPECT_LE(std::max(photo->width, photo->height), 1600);
        EXPECT_LE(std::max(map->width, map->height), 1600);
        // Scaled pictures keep the aspect; small ones stay whole.
        EXPECT_NEAR(static_cast<double>(photo->width) / photo->height,
                    static_cast<double>(c.width) / c.height, 0.01);
        if (c.width <= 1600) {
            EXPECT_EQ(photo->width, c.width);
            EXPECT_EQ(map->width, c.mapWidth);
        }
        // The class map's colours are the legend's, and the middle of each band keeps its class.
        ASSERT_GE(map->palette.size(), 4u);
        for (std::size_t k = 0; k < 3; ++k) {
            EXPECT_EQ(map->palette[1 + k], page.classes[k].colour);
            const std::size_t x = (2 * k + 1) * static_cast<std::size_t>(map->width) / 6;
            EXPECT_EQ(map->pixels[static_cast<std::size_t>(map->height / 2) * map->width + x],
                      1 + k);
        }
        // Both views show the pictures over the image's own coordinates.
        EXPECT_NE(html.find("viewBox=\"0 0 " + std::to_string(c.width) + " " +
                            std::to_string(c.height) + "\""),
                  std::string::npos);
    }
}

TEST(ReportPageTest, DenseOutlinesDoNotOutgrowThePage) {
    // 300 circles of 1000 vertices each, 0.6 image pixels apart, on an image shown at a third of
    // its size: written whole they would add some 4 MB to the page.
    testsupport::TemporaryFolder folder;
    auto page = reportpage::Experiment(folder.Path(), {"a", "b", "c"}, 4800, 3200, 12);
    page.image = reportpage::Scene(4800, 3200, 3, 120, 12);
    page.polygons.clear();
    for (int i = 0; i < 300; ++i) {
        velkar::ordana::PagePolygon circle{{}, i % 3};
        for (int k = 0; k < 1000; ++k) {
            const double angle = 2 * M_PI * k / 1000;
            circle.vertices.push_back(
                {200.0 + 14 * i + 100 * std::cos(angle), 1600.0 + 100 * std::sin(angle)});
        }
        page.polygons.push_back(circle);
    }
    const std::string html = RenderExperimentPage(page);
    EXPECT_LT(html.size(), 5'000'000u);
    EXPECT_EQ(reportpage::Pieces(html, "<g><title>", "</title>").size(), 300u);
}

}  // namespace
