// What the program prints and writes, held against copies kept under tests/ordana/saved: the
// help of every module, every refusal of a command line, option value or model, the demo, and
// seeded runs of every extractor, classifier and colour space with a classification of a new
// scene by every model written. A change of any byte shows here (see SavedOutputs.h).

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "SavedOutputs.h"
#include "WorkflowFixtures.h"

namespace {

using ordanatest::Rectangle;
using ordanatest::Rgb;
using ordanatest::TemporaryFolder;
using ordanatest::Words;

std::string RunsText(const std::vector<std::string>& commandLines,
                     const std::filesystem::path& folder) {
    std::string text;
    for (const std::string& line : commandLines) {
        text += ordanatest::RunText(Words(line), folder);
    }
    return text;
}

std::vector<std::string> Prefixed(const std::string& prefix,
                                  const std::vector<std::string>& lines) {
    std::vector<std::string> prefixed;
    for (const std::string& line : lines) {
        prefixed.push_back(prefix + line);
    }
    return prefixed;
}

TEST(SavedOutputsTest, HelpOfTheProgramAndOfEveryModule) {
    TemporaryFolder folder;
    std::vector<std::string> lines = {"--help",
                                      "--version",
                                      "-v",
                                      "--help-module MLP",
                                      "--help-module foo",
                                      "--help-module",
                                      "--help --help-module mlp --chatty true"};
    for (const std::string module :
         {"com",  "wca",  "dft", "dwt", "hog", "mlp", "rbf", "art2", "som", "lvq", "mahd",
          "pntk", "cmyk", "hsi", "hsl", "hsv", "lab", "lch", "luv",  "sch", "xyz", "yiq"}) {
        lines.push_back("--help-module " + module);
    }
    ordanatest::ExpectSavedText("help.txt", RunsText(lines, folder.Path()));
}

// A 40 x 20 scene, red left and blue right, its polygon file, a model trained on it and models
// edited from that one, each with one part the program must refuse.
class SavedRefusalsTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        scene = new TemporaryFolder();
        ASSERT_TRUE(ordanatest::WriteImage(*scene / "scene.png", 40, 20, [](int x, int y) {
            return x < 20 ? Rgb(200, 40 + y, 30) : Rgb(30, 40 + y, 200);
        }));
        ordanatest::WritePolygonFile(
            *scene / "plot.cct", {"red", "blue"}, {"#ff0000", "#0000ff"},
            {{"red", Rectangle(0, 0, 20, 20)}, {"blue", Rectangle(20, 0, 40, 20)}});
        const auto trained = ordanatest::RunOrdana(
            Words("--image scene.png --file plot.cct --experiments 1 --seed 2 --wca --aws 5 --mlp "
                  "--mhidden 3 --mlr 0.3 --mm 0.1 --merr 0.01 --miter 200 --output model_"),
            scene->Path());
        ASSERT_EQ(trained.exitStatus, 0) << trained.output;
        const auto models = ordanatest::FilesWithExtension(scene->Path(), "mlp");
        ASSERT_EQ(models.size(), 1u);
        std::filesystem::rename(models[0], *scene / "model.mlp");
        for (const auto& entry : std::filesystem::directory_iterator(scene->Path())) {
            if (entry.path().filename().string().rfind("model_", 0) == 0) {
                std::filesystem::remove(entry.path());
            }
        }
        const std::string model = ordanatest::ReadText(*scene / "model.mlp");
        const std::string parameters = "\"--wca --aam false --anorm false --aws 5\"";
        using Edit = std::pair<std::string, std::string>;
        const std::string window = "\"window_size\": 5";
        const std::vector<std::pair<std::string, std::vector<Edit>>> edits = {
            {"dft0.mlp", {{parameters, "\"--dft --fcoeff 0 --fws 16\""}}},
            {"broken.mlp", {{parameters, "\"--wca --aws five\""}}},
            {"noflag.mlp", {{parameters, "\"--aws 5\""}}},
            {"four.mlp", {{parameters, "\"--wca --aam true --anorm false --aws 5\""}}},
            {"hog.mlp",
             {{parameters, "\"--hog --hwx 1 --hwy 3 --hbind 1\""}, {window, "\"window_size\": 3"}}},
            {"window7.mlp", {{window, "\"window_size\": 7"}}},
            {"algorithm.mlp", {{"\"Multilayer Perceptron\"", "\"multilayer perceptron\""}}},
            {"pointk.mlp", {{"\"Multilayer Perceptron\"", "\"Point K\""}}},
            {"space.mlp", {{window, window + ", \"color_space\": \"LAB\""}}},
            {"noclasses.mlp", {{"\"classes\": [\"red\", \"blue\"]", "\"classes\": []"}}},
        };
        for (const auto& [name, changes] : edits) {
            std::string text = model;
            for (const auto& [from, to] : changes) {
                const auto at = text.find(from);
                ASSERT_NE(at, std::string::npos) << from;
                text.replace(at, from.size(), to);
            }
            ordanatest::WriteText(*scene / name, text);
        }
        ordanatest::WriteText(*scene / "cut.mlp", model.substr(0, model.size() - 3));
    }
    static void TearDownTestSuite() {
        delete scene;
        scene = nullptr;
    }

    static TemporaryFolder* scene;
};

TemporaryFolder* SavedRefusalsTest::scene = nullptr;

const std::string kInputs = "--image scene.png --file plot.cct --experiments 1 ";
const std::string kPerceptron = " --mlr 0.3 --mm 0.1 --merr 0.01 --miter 20";
// Extractors of 12 and of 4000 features.
const std::string kTwelve = "--hog --hwx 1 --hwy 1 --hbind 12 ";
const std::string kMany = "--hog --hwx 20 --hwy 20 --hbind 10 ";

TEST_F(SavedRefusalsTest, CommandLines) {
    std::vector<std::string> lines = {
        "",
        "--chatty true",
        "--chatty",
        "--wca --chatty",
        "--image scene.png --wca --aws 5 --experiments 1",
        "--image scene.png --modelfile model.mlp --sampling tiles",
        "--image scene.png --modelfile model.mlp",
        "--image scene.png --modelfile model.mlp --chatty true",
        "--modelfile model.mlp --sampling window",
        "--modelfile model.mlp --sampling window --chatty true",
        "--image scene.png --modelfile model.mlp --sampling half word",
    };
    for (const std::string& more : Prefixed(
             kInputs,
             {"", "--chatty true", "--wca --aws 5 --experiments two",
              "--wca --aws 5 --experiments -1", "--wca --aws 5 --seed x", "--wca --aws 5 --seed -1",
              "--wca --aws 5 --seed 4294967296", "--wca --aws 0 --chatty true",
              "--wca --aws 5 --anrom true --bogus 3 stray --seed 4 --mlp --mhidden 3" + kPerceptron,
              "--wca --aws 5 --mlp --mhidden 3 --chatty true"})) {
        lines.push_back(more);
    }
    const std::string image = "--image scene.png --file plot.cct --wca --aws 5 --experiments 1";
    lines.push_back("--image scene.png --file plot.cct --wca --experiments 1 --aws !" +
                    std::string(90, '5'));
    lines.push_back("--image scene.png --file plot.cct --wca --experiments 1 --aws %value%");
    lines.push_back(image + " --dwt --wscale 1 --wws 8 --wname " + std::string(100, 'w'));
    ordanatest::ExpectSavedText("command_lines.txt", RunsText(lines, scene->Path()));
}

TEST_F(SavedRefusalsTest, ExtractorOptions) {
    const std::vector<std::string> lines =
        Prefixed(kInputs, {"--wca",
                           "--wca --aws",
                           "--wca --aws five",
                           "--wca --aws 0",
                           "--wca --aws -3",
                           "--wca --aws 2,3",
                           "--wca --aws 5 --anorm maybe",
                           "--com --cnx 5 --cny 0 --cws 5",
                           "--com --cnx 1 -5 --cny 0 0 --cws 5",
                           "--com --cnx 0 --cny 6 --cws 5",
                           "--com --cnx 1 0 --cny 0 --cws 5",
                           "--com --cnx 1 --cny 0 --cws 0",
                           "--com --cnx --cny 0 --cws 5",
                           "--com --cny 0 --cws 5",
                           "--com --cnx 1 --cws 5",
                           "--wca --aws 3 --com --cnx 5 --cny 0 --cws 5",
                           "--hog --wca --aws 3",
                           "--hog --hwx 0 --hwy 3 --hbind 9",
                           "--hog --hwx 2 --hwy -1 --hbind 9",
                           "--hog --hwx 2 --hwy 3 --hbind 0",
                           "--hog --hwx 1000 --hwy 1000 --hbind 11",
                           "--dft --fws 8",
                           "--dft --fws 0 --fcoeff 4",
                           "--dft --fws 1073741825 --fcoeff 1",
                           "--dft --fws 5 --fcoeff 0",
                           "--dft --fws 5 --fcoeff 81",
                           "--dwt --wws 8 --wscale 1",
                           "--dwt --wws -2 --wscale 1 --wname haar",
                           "--dwt --wws 8 --wscale 0 --wname haar",
                           "--dwt --wws 8 --wscale 4 --wname haar",
                           "--dwt --wws 1 --wscale 1 --wname haar",
                           "--dwt --wws 8 --wscale 1 --wname Haar",
                           "--dwt --wws 8 --wscale 1 --wname db11"});
    ordanatest::ExpectSavedText("extractor_options.txt", RunsText(lines, scene->Path()));
}

TEST_F(SavedRefusalsTest, ClassifierOptions) {
    const std::string wca = "--wca --aws 5 ";
    const std::string rbf = "--rbf --rlr 0.1";
    const std::string art2 = "--art2 --a2a 10 --a2b 10 --a2c 0.1";
    const std::string som = "--som --slrt0 0.5";
    const std::vector<std::string> lines = Prefixed(
        kInputs, {wca + "--mlp",
                  wca + "--mlp --mhidden 4",
                  wca + "--mlp --mhidden 4 --mlr 0.3",
                  wca + "--mlp --mhidden 4 --mlr 0.3 --mm 0.1",
                  wca + "--mlp --mhidden 4 --mlr 0.3 --mm 0.1 --merr 0.1",
                  wca + "--mlp --miter 3 --merr 0.1 --mm 0.1",
                  wca + "--mlp --mhidden 0" + kPerceptron,
                  wca + "--mlp --mhidden 4 0" + kPerceptron,
                  wca + "--mlp --mhidden 4 --mlr 0.3 --mm 0.1 --merr 0.01 --miter -1",
                  wca + "--mlp --mhidden 4 --mlr nan --mm 0.1 --merr 0.01 --miter 5",
                  wca + "--mlp --mhidden 4 --mlr 0.3 --mm 0.1 --merr inf --miter 5",
                  wca + "--mlp --mhidden 8,,4" + kPerceptron,
                  wca + "--mlp --mhidden 2000000000" + kPerceptron,
                  wca + "--mlp --mhidden 2500001" + kPerceptron,
                  wca + "--mlp --mhidden 1000 10000" + kPerceptron,
                  wca + "--mlp --mhidden 3 2000000000" + kPerceptron,
                  kTwelve + rbf + " --rclusters 0 --riter 5",
                  kTwelve + rbf + " --rclusters 3 --riter -1",
                  kTwelve + rbf + " --rclusters 900000 --riter 5",
                  kTwelve + art2 + " --a2f2 0 --a2d 0.9 --a2theta 0.1 --a2rho 0.9",
                  kTwelve + art2 + " --a2f2 5 --a2d 1 --a2theta 0.1 --a2rho 0.9",
                  kTwelve + art2 + " --a2f2 5 --a2d -0.5 --a2theta 0.1 --a2rho 0.9",
                  kTwelve + art2 + " --a2f2 5 --a2d 0.9 --a2theta -0.1 --a2rho 0.9",
                  kTwelve + art2 + " --a2f2 5 --a2d 0.9 --a2theta 0.1 --a2rho 1.5",
                  kTwelve + art2 + " --a2f2 1000000 --a2d 0.9 --a2theta 0.1 --a2rho 0.9",
                  kTwelve + som + " --slat 0 --sradt0 0.5 --siter 5",
                  kTwelve + som + " --slat 4 --sradt0 0.2 --siter 5",
                  kTwelve + som + " --slat 4 --sradt0 0.5 --siter -2",
                  kTwelve + som + " --slat 1000 --sradt0 0.5 --siter 5",
                  wca + "--mahd --mdcc 0",
                  kTwelve + "--mahd --mdcc 1000000",
                  kMany + "--mahd --mdcc 2",
                  wca + "--pntk --pkcc 0 --pkiter 3",
                  wca + "--pntk --pkcc 2 --pkiter -1",
                  kTwelve + "--pntk --pkcc 1000000 --pkiter 3",
                  wca + "--lvq --vqhid 4 --vqout 0 --vqiter 5 --vqalpha 0.1",
                  wca + "--lvq --vqhid 1 --vqout 2 --vqiter 5 --vqalpha 0.1",
                  wca + "--lvq --vqhid 4 --vqout 2 --vqiter 0 --vqalpha 0.1",
                  wca + "--lvq --vqhid 4 --vqout 2 --vqiter 5 --vqalpha nan",
                  kTwelve + "--lvq --vqhid 2000000 --vqout 2 --vqiter 5 --vqalpha 0.1",
                  wca + "--lvq --vqhid 4 --vqiter 5 --vqalpha 0.1",
                  wca + "--pntk --pkcc 2",
                  wca + "--mahd --mdcc 1 --lvq --vqhid 3 --vqout 1 --vqiter 5 --vqalpha 0.1 --pntk "
                        "--pkcc 1 --pkiter 2"});
    ordanatest::ExpectSavedText("classifier_options.txt", RunsText(lines, scene->Path()));
}

TEST_F(SavedRefusalsTest, Models) {
    std::vector<std::string> lines;
    for (const std::string model :
         {"absent.mlp", "dft0.mlp", "broken.mlp", "noflag.mlp", "four.mlp", "hog.mlp",
          "window7.mlp", "algorithm.mlp", "pointk.mlp", "space.mlp", "noclasses.mlp", "cut.mlp"}) {
        for (const std::string chatty : {"", " --chatty true"}) {
            lines.push_back("--image scene.png --sampling window --modelfile " + model + chatty);
        }
    }
    lines.push_back("--image absent.png --sampling window --modelfile model.mlp --chatty true");
    ordanatest::ExpectSavedText("models.txt", RunsText(lines, scene->Path()));
}

// The demo's two runs, seeded, on the scenes its tool makes.
TEST(SavedRunsTest, Demo) {
    TemporaryFolder folder;
    ASSERT_EQ(std::system((ordanatest::ShellQuote(MAKE_DEMO_SCENES_BINARY) + " " +
                           ordanatest::ShellQuote(folder.Path().string()) + " 2>/dev/null")
                              .c_str()),
              0);
    const std::set<std::string> inputs = {"training.png", "training.cct", "scene.png",
                                          "scene_truth.cct"};
    std::string text = ordanatest::RunText(
        Words("--image training.png --file training.cct --experiments 3 --wca --aws 5 --aam true "
              "--mlp --mhidden 8 --mlr 0.3 --mm 0.1 --merr 0.5 --miter 300 --seed 1"),
        folder.Path());
    const auto models = ordanatest::FilesWithExtension(folder.Path(), "mlp");
    ASSERT_EQ(models.size(), 1u) << text;
    text +=
        ordanatest::RunText({"--image", "scene.png", "--modelfile", models[0].filename().string(),
                             "--sampling", "window", "--chatty", "true"},
                            folder.Path());
    ordanatest::ExpectSavedText("demo.txt", text + ordanatest::FilesText(folder.Path(), inputs));
}

// Experiments with the options, seeded, on a 48 x 32 scene of two classes in four polygons;
// then every model written classifies a scene of another layout.
std::string SeededRun(const std::string& options, const std::string& sampling, bool chatty) {
    TemporaryFolder folder;
    const auto colour = [](int x, int y, bool red) {
        const int texture = (x * 7 + y * 3) % 16;
        return red ? Rgb(190 + texture, 40 + (x + y) % 9, 50) : Rgb(40, 60 + texture, 180 + y % 5);
    };
    EXPECT_TRUE(ordanatest::WriteImage(folder / "training.png", 48, 32,
                                       [&](int x, int y) { return colour(x, y, x < 24); }));
    EXPECT_TRUE(ordanatest::WriteImage(folder / "scene.png", 48, 32,
                                       [&](int x, int y) { return colour(x, y, y >= 16); }));
    ordanatest::WritePolygonFile(folder / "training.cct", {"red", "blue"}, {"#ff0000", "#0000ff"},
                                 {{"red", Rectangle(0, 0, 24, 16)},
                                  {"blue", Rectangle(24, 0, 48, 16)},
                                  {"red", Rectangle(0, 16, 24, 32)},
                                  {"blue", Rectangle(24, 16, 48, 32)}});
    const std::set<std::string> inputs = {"training.png", "training.cct", "scene.png"};
    const std::string chat = chatty ? " --chatty true" : "";
    std::string text = ordanatest::RunText(
        Words("--image training.png --file training.cct --experiments 2 --seed 3 " + options +
              chat),
        folder.Path());
    std::vector<std::filesystem::path> models;
    for (const std::string extension : {"mlp", "rbf", "art2", "som", "lvq", "md", "pk"}) {
        for (const auto& model : ordanatest::FilesWithExtension(folder.Path(), extension)) {
            models.push_back(model.filename());
        }
    }
    EXPECT_FALSE(models.empty()) << text;
    for (std::size_t k = 0; k < models.size(); ++k) {
        text += ordanatest::RunText(
            Words("--image scene.png --sampling " + sampling + " --output c" + std::to_string(k) +
                  "_ --modelfile " + models[k].string() + chat),
            folder.Path());
    }
    return text + ordanatest::FilesText(folder.Path(), inputs);
}

TEST(SavedRunsTest, EveryExtractor) {
    const std::string mlp = " --mlp --mhidden 4 --mlr 0.3 --mm 0.1 --merr 0.01 --miter 50";
    std::string text;
    for (const std::string extractor :
         {"--wca --aws 4 --aam true", "--com --cnx 1 --cny 0 --cws 8", "--dft --fws 8 --fcoeff 4",
          "--dwt --wws 8 --wscale 2 --wname db2", "--hog --hwx 2 --hwy 2 --hbind 4"}) {
        text += SeededRun(extractor + mlp, "half", false);
    }
    ordanatest::ExpectSavedText("every_extractor.txt", text);
}

TEST(SavedRunsTest, EveryClassifier) {
    const std::string classifiers =
        "--wca --aws 4 --mlp --mhidden 4 --mlr 0.3 --mm 0.1 --merr 0.01 --miter 50 "
        "--rbf --rlr 0.1 --rclusters 2 --riter 20 "
        "--art2 --a2f2 4 --a2a 10 --a2b 10 --a2c 0.1 --a2d 0.9 --a2theta 0.1 --a2rho 0.9 "
        "--som --slat 3 --sradt0 0.5 --slrt0 0.5 --siter 50 "
        "--lvq --vqhid 4 --vqout 2 --vqiter 20 --vqalpha 0.2 --mahd --mdcc 2 "
        "--pntk --pkcc 2 --pkiter 5";
    ordanatest::ExpectSavedText("every_classifier.txt", SeededRun(classifiers, "window", true) +
                                                            SeededRun(classifiers, "half", false));
}

TEST(SavedRunsTest, EveryColourSpace) {
    ordanatest::ExpectSavedText(
        "every_colour_space.txt",
        SeededRun("--wca --aws 4 --mahd --mdcc 2 --cs-cmyk --cs-hsi --cs-hsl --cs-hsv --cs-lab "
                  "--cs-lch --cs-luv --cs-sch --cs-xyz --cs-yiq",
                  "window", true));
}

}  // namespace
