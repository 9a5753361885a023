// Opens report pages in headless Chromium, as a person would open them from disk: the page must
// load with nothing from outside (no file, no network) and no console message, its DOM must hold
// the accuracy reports' counts and figures and name every class, and a screenshot must show the
// picture. Pages with planted faults prove that each of these checks can fail; the pages that
// real runs of the program write are held against the files the same runs wrote.

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "common/ChildProcess.h"
#include "common/PngDecoder.h"
#include "common/TemporaryFolder.h"
#include "ordana/PolygonFile.h"
#include "ordana/ReportPage.h"
#include "ordana/ReportPageFixtures.h"
#include "ordana/ReportPageReading.h"

namespace {

using velkar::ordana::RenderClassificationPage;
using velkar::ordana::RenderExperimentPage;

constexpr const char* kChromium = "/usr/bin/chromium";

struct BrowserRun {
    std::string output;
    std::string log;
    int exitStatus = -1;
};

// One Chromium run with a fresh profile; its standard error (the browser's log, with every
// console message and every file it reads through a file: URL) is kept apart from its output.
BrowserRun RunChromium(const std::vector<std::string>& arguments) {
    testsupport::TemporaryFolder folder;
    const std::string profile = (folder / "profile").string();
    const std::string logPath = (folder / "chromium.log").string();
    std::vector<std::string> command = {kChromium,
                                        "--headless",
                                        "--no-sandbox",
                                        "--disable-gpu",
                                        "--disable-quic",
                                        "--no-first-run",
                                        "--disable-background-networking",
                                        "--disable-component-update",
                                        "--disable-sync",
                                        "--hide-scrollbars",
                                        "--user-data-dir=" + profile,
                                        "--enable-logging=stderr",
                                        "--v=0",
                                        "--vmodule=file_url_loader_factory=1"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const testsupport::ChildResult child = testsupport::RunInChild({}, [&command, &logPath] {
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(log, STDERR_FILENO);
        std::vector<char*> argv;
        for (std::string& argument : command) {
            argv.push_back(argument.data());
        }
        argv.push_back(nullptr);
        // A browser that hangs is ended rather than holding up the suite.
        alarm(120);
        execv(kChromium, argv.data());
        return 127;
    });
    return {child.output, reportpage::ReadFile(logPath), child.exitStatus};
}

// What is wrong with the page as the browser loads it: console messages, files it reads besides
// the page, references to anything outside it, pictures without a text alternative.
struct LoadedPage {
    std::string dom;
    std::vector<std::string> problems;
};

LoadedPage LoadPage(const std::filesystem::path& page) {
    const std::string url = "file://" + page.string();
    const BrowserRun run = RunChromium({"--dump-dom", url});
    LoadedPage loaded{run.output, {}};
    if (run.exitStatus != 0 || run.output.find("</html>") == std::string::npos) {
        loaded.problems.push_back("the browser exited with " + std::to_string(run.exitStatus) +
                                  " and no page; log:\n" + run.log);
    }
    const std::string fileLoad = "FileURLLoader::Start: ";
    bool pageRead = false;
    for (const std::string& line : reportpage::Split(run.log, '\n')) {
        if (line.find(":CONSOLE") != std::string::npos) {
            loaded.problems.push_back("console: " + line);
        }
        if (const std::size_t at = line.find(fileLoad); at != std::string::npos) {
            const std::string loadedUrl = line.substr(at + fileLoad.size());
            if (loadedUrl == url) {
                pageRead = true;
            } else {
                loaded.problems.push_back("loads " + loadedUrl);
            }
        }
    }
    // Proof that the log names what the browser reads: the page itself must be there.
    if (!pageRead) {
        loaded.problems.push_back("the log does not show the page being read");
    }
    for (const std::string& reference : reportpage::ExternalReferences(run.output)) {
        loaded.problems.push_back("refers to " + reference);
    }
    for (const std::string& image : reportpage::ImagesWithoutText(run.output)) {
        loaded.problems.push_back("no text alternative: " + image);
    }
    return loaded;
}

// The standard deviation of the grey levels of the screenshot's rectangle where the pages put
// the top of their first picture (below the title, from the left margin; the pictures of these
// pages are 480 x 360 pixels).
double PictureDeviation(const std::filesystem::path& page) {
    testsupport::TemporaryFolder folder;
    const std::filesystem::path shot = folder / "shot.png";
    const BrowserRun run = RunChromium(
        {"--screenshot=" + shot.string(), "--window-size=1200,900", "file://" + page.string()});
    const std::string bytes = reportpage::ReadFile(shot.string());
    const auto png = testsupport::DecodePng(std::vector<unsigned char>(bytes.begin(), bytes.end()));
    if (!png || png->channels < 3 || png->width < 480 || png->height < 500) {
        ADD_FAILURE() << "no usable screenshot; browser log:\n" << run.log;
        return 0.0;
    }
    double sum = 0.0;
    double squares = 0.0;
    int count = 0;
    for (int y = 230; y < 470; ++y) {
        for (int x = 60; x < 440; ++x) {
            const unsigned char* pixel =
                png->pixels.data() + (static_cast<std::size_t>(y) * png->width + x) * png->channels;
            const double grey = 0.299 * pixel[0] + 0.587 * pixel[1] + 0.114 * pixel[2];
            sum += grey;
            squares += grey * grey;
            ++count;
        }
    }
    const double mean = sum / count;
    return std::sqrt(std::max(0.0, squares / count - mean * mean));
}

// Gray levels of a picture with noise vary by far more than this; a blank or missing one by 0.
constexpr double kShownPicture = 8.0;

class ReportPageBrowserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (access(kChromium, X_OK) != 0) {
            GTEST_SKIP() << "Chromium is not installed at " << kChromium
                         << ": the report pages were not checked in a browser (./quickstart.sh "
                            "test installs it)";
        }
    }

    std::filesystem::path Write(const std::string& name, const std::string& html) {
        const std::filesystem::path path = folder / name;
        std::ofstream(path, std::ios::binary) << html;
        return path;
    }

    testsupport::TemporaryFolder folder;
    const std::vector<std::string> names = {"grass", "water & reed", "<sand>"};
};

TEST_F(ReportPageBrowserTest, ExperimentPageShowsItsReportsOffline) {
    const auto experiment = reportpage::Experiment(folder.Path(), names, 480, 360, 21);
    const std::filesystem::path page = Write("scene.html", RenderExperimentPage(experiment));
    const LoadedPage loaded = LoadPage(page);
    EXPECT_EQ(loaded.problems, std::vector<std::string>{});

    EXPECT_EQ(reportpage::PageSections(loaded.dom), reportpage::ReportSections(experiment));
    EXPECT_EQ(reportpage::LegendNames(loaded.dom), names);
    EXPECT_GT(PictureDeviation(page), kShownPicture);
}

TEST_F(ReportPageBrowserTest, ClassificationPageShowsItsPicturesOffline) {
    const auto classification = reportpage::Classification(names, 480, 360, 480, 360, 30, 22);
    const std::filesystem::path page =
        Write("results.html", RenderClassificationPage(classification));
    const LoadedPage loaded = LoadPage(page);
    EXPECT_EQ(loaded.problems, std::vector<std::string>{});
    EXPECT_EQ(reportpage::LegendNames(loaded.dom), names);
    EXPECT_GT(PictureDeviation(page), kShownPicture);
}

// The demo's scenes through the program: an experiment, then a classification of the other
// scene with its model. Each run's page loads cleanly, shows its picture and names every class;
// the experiment page's matrices and figures are those of the .report file the run wrote, and
// the classification legend's windows are the labels of its results file.
TEST_F(ReportPageBrowserTest, PagesOfRealRunsShowWhatTheRunsWrote) {
    ASSERT_EQ(std::system((ordanatest::ShellQuote(MAKE_DEMO_SCENES_BINARY) + " " +
                           ordanatest::ShellQuote(folder.Path().string()) + " >/dev/null 2>&1")
                              .c_str()),
              0);
    const auto experiment = ordanatest::RunOrdana(
        ordanatest::Words("--image training.png --file training.cct --experiments 2 --seed 7 "
                          "--wca --aws 5 --aam true --mlp --mhidden 4 --mlr 0.3 --mm 0.1 --merr "
                          "0.5 --miter 40"),
        folder.Path());
    ASSERT_EQ(experiment.exitStatus, 0) << experiment.output << experiment.errors;
    const auto reports = ordanatest::FilesWithExtension(folder.Path(), "report");
    const auto experimentPages = ordanatest::FilesWithExtension(folder.Path(), "html");
    const auto models = ordanatest::FilesWithExtension(folder.Path(), "mlp");
    ASSERT_EQ(reports.size(), 1u);
    ASSERT_EQ(experimentPages.size(), 1u);
    ASSERT_EQ(models.size(), 1u);
    EXPECT_NE(experiment.errors.find("Wrote " + experimentPages[0].filename().string()),
              std::string::npos)
        << experiment.errors;
    const std::vector<std::string> classes = {"water", "forest", "field", "urban"};

    const LoadedPage experimentPage = LoadPage(experimentPages[0]);
    EXPECT_EQ(experimentPage.problems, std::vector<std::string>{});
    const auto reportSections = reportpage::ReadReport(reportpage::ReadFile(reports[0].string()));
    ASSERT_EQ(reportSections.size(), 2u);
    EXPECT_EQ(reportSections[0].rows.size(), classes.size());
    EXPECT_EQ(reportpage::PageSections(experimentPage.dom), reportSections);
    EXPECT_EQ(reportpage::LegendNames(experimentPage.dom), classes);
    EXPECT_GT(PictureDeviation(experimentPages[0]), kShownPicture);

    const auto classification =
        ordanatest::RunOrdana({"--image", "scene.png", "--modelfile", models[0].filename().string(),
                               "--sampling", "half"},
                              folder.Path());
    ASSERT_EQ(classification.exitStatus, 0) << classification.output << classification.errors;
    std::vector<std::filesystem::path> classificationPages;
    for (const auto& page : ordanatest::FilesWithExtension(folder.Path(), "html")) {
        if (page.filename().string().rfind("scene_results_", 0) == 0) {
            classificationPages.push_back(page);
        }
    }
    ASSERT_EQ(classificationPages.size(), 1u);
    std::filesystem::path resultsFile = classificationPages[0];
    resultsFile.replace_extension(".cct");
    std::map<std::string, long long> labels;
    for (const auto& window :
         velkar::ordana::ReadPolygonFile(resultsFile.string(), false).polygons) {
        ++labels[window->Class()];
    }
    const LoadedPage classificationPage = LoadPage(classificationPages[0]);
    EXPECT_EQ(classificationPage.problems, std::vector<std::string>{});
    const auto legend = reportpage::LegendRows(classificationPage.dom);
    ASSERT_EQ(legend.size(), classes.size());
    for (std::size_t c = 0; c < classes.size(); ++c) {
        ASSERT_EQ(legend[c].size(), 4u);
        EXPECT_EQ(legend[c][0], classes[c]);
        EXPECT_EQ(legend[c][1], std::to_string(labels[classes[c]])) << classes[c];
        // Without a georeference the area is counted in pixels.
        EXPECT_EQ(legend[c][3], legend[c][2]) << classes[c];
    }
    EXPECT_GT(PictureDeviation(classificationPages[0]), kShownPicture);
}

TEST_F(ReportPageBrowserTest, BrokenPagesAreCaught) {
    const std::string html =
        RenderExperimentPage(reportpage::Experiment(folder.Path(), names, 480, 360, 23));
    const auto plant = [&html](const std::string& element) {
        std::string broken = html;
        broken.insert(broken.find("<body>") + 6, element);
        return broken;
    };
    struct Case {
        std::string name;
        std::string html;
        std::vector<std::string> problems;
    };
    for (const Case& c : std::vector<Case>{
             {"missing picture",
              plant("<img src=\"missing.png\" alt=\"a picture\">"),
              {"loads file://", "refers to"}},
             {"style",
              plant("<p style=\"background:url(paper.png)\">text</p>"),
              {"loads file://", "refers to"}},
             {"console", plant("<script>console.error('broken')</script>"), {"console: "}},
             {"no alt",
              plant("<img src=\"data:image/png;base64,AAAA\">"),
              {"no text alternative"}}}) {
        const LoadedPage loaded = LoadPage(Write("broken.html", c.html));
        for (const std::string& expected : c.problems) {
            EXPECT_TRUE(std::any_of(loaded.problems.begin(), loaded.problems.end(),
                                    [&expected](const std::string& problem) {
                                        return problem.rfind(expected, 0) == 0;
                                    }))
                << c.name << ": nothing starts with " << expected;
        }
    }
    // A picture of one colour, nothing drawn on it.
    auto blank = reportpage::Classification(names, 480, 360, 480, 360, 0, 24);
    blank.image = reportpage::Scene(480, 360, 1, 0, 24);
    EXPECT_LT(PictureDeviation(Write("blank.html", RenderClassificationPage(blank))), 1.0);
}

}  // namespace
