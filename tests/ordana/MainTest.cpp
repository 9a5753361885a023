#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"

namespace {

using ordanatest::RunOrdana;

TEST(MainTest, HelpPrintsTheFourTopLevelGroups) {
    auto result = RunOrdana({"--help"});
    EXPECT_EQ(result.exitStatus, 0);
    const auto lines = result.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "Ordana options:");
    for (const char* caption : {"General options:", "Feature extraction options:",
                                "Classification options:", "Color space transformation:"}) {
        EXPECT_TRUE(result.HasLine(caption)) << caption;
    }
    EXPECT_TRUE(result.HasLine("  -h [ --help ]             Displays this text"));
    EXPECT_TRUE(result.HasLine("  -c [ --chatty ] arg       Prints information for UI interface"));
    EXPECT_TRUE(result.HasLine("  --wca                     Windowed Color Average"));
    EXPECT_TRUE(result.HasLine("  --pntk                    Point K algorithm"));
    EXPECT_TRUE(result.HasLine("  --cs-yiq                  RGB to YIQ"));
    // Module groups appear only through --help-module.
    EXPECT_EQ(result.output.find("--aws"), std::string::npos);
    EXPECT_EQ(result.output.find("[TASK]"), std::string::npos);
}

TEST(MainTest, HelpWinsOverHelpModuleAndChatty) {
    auto general = RunOrdana({"--help"});
    auto both = RunOrdana({"--help", "--help-module", "mlp", "--chatty", "true"});
    EXPECT_EQ(both.exitStatus, 0);
    EXPECT_EQ(both.output, general.output);
}

TEST(MainTest, HelpModulePrintsTheGroupOfEveryModule) {
    const std::vector<std::pair<std::string, std::string>> modules = {
        {"wca", "Windowed Color Average options:"},
        {"com", "Co-Occurrence Matrix options:"},
        {"dft", "Discrete Fourier Transform options:"},
        {"dwt", "Wavelets options:"},
        {"hog", "Histogram of Oriented Gradients options:"},
        {"mlp", "Multi Layer Perceptron options:"},
        {"rbf", "Radial Basis Function NN options:"},
        {"art2", "Adaptive Resonance Theory 2 options:"},
        {"som", "Self Organizing Map options:"},
        {"mahd", "Mahalanobis Distance options:"},
        {"pntk", "Point K options:"},
        {"lvq", "Learning Vector Quantization options:"},
        {"cmyk", "CMYK:"},
        {"hsi", "HSI:"},
        {"hsl", "HSL:"},
        {"hsv", "HSV:"},
        {"lab", "LAB:"},
        {"lch", "LCH:"},
        {"luv", "LUV:"},
        {"sch", "SCH:"},
        {"xyz", "XYZ:"},
        {"yiq", "YIQ:"},
    };
    for (const auto& [module, caption] : modules) {
        auto result = RunOrdana({"--help-module", module});
        EXPECT_EQ(result.exitStatus, 0) << module;
        ASSERT_FALSE(result.Lines().empty()) << module;
        EXPECT_EQ(result.Lines().front(), caption) << module;
    }
}

TEST(MainTest, HelpModuleShowsOptionsDefaultsAndTexts) {
    auto wca = RunOrdana({"--help-module", "wca"});
    EXPECT_EQ(wca.output,
              "Windowed Color Average options:\n"
              "  --aws arg             Window size\n"
              "  --anorm arg (=false)  Normalize each pixel\n"
              "  --aam arg (=false)    Add monochromatic band\n");

    auto cmyk = RunOrdana({"--help-module", "cmyk"});
    ASSERT_EQ(cmyk.Lines().size(), 2u);
    EXPECT_EQ(cmyk.Lines()[0], "CMYK:");
    EXPECT_EQ(cmyk.Lines()[1].find_first_not_of(' '), 2u);
    EXPECT_EQ(cmyk.Lines()[1].substr(2, 9), "--cs-cmyk");
    EXPECT_EQ(cmyk.Lines()[1].find_first_not_of(' ', 11), std::string::npos);

    auto mlp = RunOrdana({"--help-module", "mlp"});
    EXPECT_NE(mlp.output.find("Size of each of the hidden layers (comma separated)"),
              std::string::npos);
    EXPECT_NE(mlp.output.find("--miter arg"), std::string::npos);
}

TEST(MainTest, UnknownHelpModuleIsNamed) {
    for (const std::string module : {"MLP", "foo", ""}) {
        auto result = RunOrdana({"--help-module", module});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.output, "Unknown module '" + module + "' in the --help-module option\n");
    }
}

TEST(MainTest, NoArgumentsReportsTheMissingInputs) {
    ordanatest::TemporaryFolder folder;
    auto result = RunOrdana({}, folder.Path());
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.output,
              "[LOGMESSAGE] !Parameter 'image' is required but missing.!\n"
              "[LOGMESSAGE] !Parameter 'file' is required but missing.!\n"
              "[LOGMESSAGE] !Parameter 'file' is required but missing.!\n");
    EXPECT_TRUE(folder.FileNames().empty());
}

TEST(MainTest, ChattyRunIsFramedBySetupAndStatus) {
    ordanatest::TemporaryFolder folder;
    auto result = RunOrdana({"--chatty", "true"}, folder.Path());
    EXPECT_EQ(result.exitStatus, 2);
    const auto lines = result.Lines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "[TASK] !Setting up!");
    EXPECT_EQ(lines[lines.size() - 2], "[LOGMESSAGE] !No valid extraction algorithm selected.!");
    EXPECT_EQ(lines.back(), "[STATUS] !!");
    EXPECT_EQ(result.CountLines("[LOGMESSAGE] !Parameter 'file' is required but missing.!"), 2);
    EXPECT_TRUE(folder.FileNames().empty());
}

TEST(MainTest, HelpModuleWithoutValueDoesNotEnterHelp) {
    ordanatest::TemporaryFolder folder;
    auto result = RunOrdana({"--help-module"}, folder.Path());
    EXPECT_EQ(result.exitStatus, 2);
    ASSERT_FALSE(result.Lines().empty());
    for (const std::string& line : result.Lines()) {
        EXPECT_EQ(line,
                  "[LOGMESSAGE] !the required argument for option '--help-module' is missing!");
    }
}

// A scene, its polygon file and a model trained on it, shared by the command-line tables.
class CommandLineTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        scene = new ordanatest::TemporaryFolder();
        ASSERT_TRUE(ordanatest::WriteImage(*scene / "scene.png", 40, 20, [](int x, int y) {
            return x < 20 ? ordanatest::Rgb(200, 40 + y, 30) : ordanatest::Rgb(30, 40 + y, 200);
        }));
        ordanatest::WritePolygonFile(*scene / "plot.cct", {"red", "blue"}, {"#ff0000", "#0000ff"},
                                     {{"red", ordanatest::Rectangle(0, 0, 20, 20)},
                                      {"blue", ordanatest::Rectangle(20, 0, 40, 20)}});
        const auto trained = RunOrdana(
            {"--image", "scene.png", "--file", "plot.cct", "--experiments", "1",  "--seed", "2",
             "--wca",   "--aws",     "5",      "--mlp",    "--mhidden",     "3",  "--mlr",  "0.3",
             "--mm",    "0.1",       "--merr", "0.01",     "--miter",       "200"},
            scene->Path());
        ASSERT_EQ(trained.exitStatus, 0) << trained.output;
        model = ordanatest::FilesWithExtension(scene->Path(), "mlp").at(0).string();
    }
    static void TearDownTestSuite() {
        delete scene;
        scene = nullptr;
    }

    // Every test runs in a fresh folder holding copies of the scene and the model.
    void SetUp() override {
        for (const char* name : {"scene.png", "plot.cct"}) {
            std::filesystem::copy_file(*scene / name, folder / name);
        }
        std::filesystem::copy_file(model, folder / "model.mlp");
    }

    ordanatest::ProgramResult Run(const std::vector<std::string>& arguments) {
        return RunOrdana(arguments, folder.Path());
    }

    static ordanatest::TemporaryFolder* scene;
    static std::string model;
    ordanatest::TemporaryFolder folder;
};

ordanatest::TemporaryFolder* CommandLineTest::scene = nullptr;
std::string CommandLineTest::model;

const std::vector<std::string> kInputs = {"--image", "scene.png", "--file", "plot.cct"};
const std::vector<std::string> kPerceptron = {
    "--mlp", "--mhidden", "3", "--mlr", "0.3", "--mm", "0.1", "--merr", "0.01", "--miter", "50"};

std::vector<std::string> Joined(std::vector<std::string> first,
                                const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

TEST_F(CommandLineTest, FailingCommandLinesExitTwoAndWriteNothing) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "Parameter 'image' is required but missing."},
        {{"--chatty"}, "the required argument for option '--chatty' is missing"},
        {{"--help-module"}, "the required argument for option '--help-module' is missing"},
        {Joined(kInputs, {"--wca", "--aws", "0", "--experiments", "1"}), "'--aws': 0"},
        {Joined(kInputs, {"--wca", "--aws", "5", "--experiments", "two"}), "'two'"},
        {Joined(kInputs, {"--wca", "--aws", "5"}), "Parameter 'experiments' is required"},
        {{"--image", "scene.png", "--wca", "--aws", "5", "--experiments", "1"},
         "Parameter 'file' is required but missing."},
        {Joined(kInputs, {"--experiments", "1", "--chatty", "true"}),
         "No valid extraction algorithm selected."},
        {Joined(kInputs, {"--dft", "--fws", "8", "--fcoeff", "0", "--experiments", "1"}),
         "'--fcoeff': 0"},
        {Joined(kInputs, {"--wca", "--aws", "5", "--experiments", "1", "--mlp", "--mhidden", "3"}),
         "Parameter 'mlr' is required but missing."},
        {Joined(kInputs,
                Joined({"--wca", "--aws", "5", "--experiments", "1", "--seed", "x"}, kPerceptron)),
         "'x'"},
        {{"--image", "scene.png", "--modelfile", "model.mlp", "--sampling", "tiles"},
         "The sampling method 'tiles' is not one of"},
        {{"--image", "scene.png", "--modelfile", "model.mlp"}, "The sampling method '' is not"},
        {{"--modelfile", "model.mlp", "--sampling", "window"},
         "Parameter 'image' is required but missing."},
    };
    for (const auto& [arguments, message] : cases) {
        std::string line;
        for (const std::string& argument : arguments) {
            line += " " + argument;
        }
        const auto before = folder.FileNames();
        const auto result = Run(arguments);
        EXPECT_EQ(result.exitStatus, 2) << line << "\n" << result.output;
        EXPECT_NE(result.output.find(message), std::string::npos) << line << "\n" << result.output;
        EXPECT_EQ(folder.FileNames(), before) << line;
    }
}

TEST_F(CommandLineTest, CompletedRunsVersionAndUnknownOptions) {
    const auto experiment =
        Run(Joined(kInputs, Joined({"--wca", "--aws", "5", "--experiments", "1", "--seed", "4",
                                    "--anrom", "true", "--bogus", "3", "stray"},
                                   kPerceptron)));
    EXPECT_EQ(experiment.exitStatus, 0) << experiment.output;
    EXPECT_EQ(ordanatest::Payloads(experiment.output, "LOGMESSAGE"),
              (std::vector<std::string>{"Unknown option '--anrom true' is ignored.",
                                        "Unknown option '--bogus 3 stray' is ignored."}));
    const auto classified =
        Run({"--image", "scene.png", "--modelfile", "model.mlp", "--sampling", "half", "word"});
    EXPECT_EQ(classified.exitStatus, 0) << classified.output;
    EXPECT_EQ(ordanatest::Payloads(classified.output, "LOGMESSAGE"),
              (std::vector<std::string>{"The word 'word' is not an option and is ignored."}));

    for (const char* flag : {"--version", "-v"}) {
        const auto version = RunOrdana({flag});
        EXPECT_EQ(version.exitStatus, 0);
        EXPECT_EQ(version.output, "ordana 1.0 (velkar 1.0)\n");
    }
}

// Files written under the folder, relative names, sorted.
std::vector<std::string> FilesUnder(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            names.push_back(std::filesystem::relative(entry.path(), folder).string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(CommandLineTest, OutputPrefixTakesEveryFileAndNamesNeverCollide) {
    std::filesystem::create_directory(folder / "out");
    const auto experiment = Joined(kInputs, Joined({"--wca", "--aws", "5", "--experiments", "1",
                                                    "--seed", "4", "--output", "out/run_"},
                                                   kPerceptron));
    const auto classification =
        std::vector<std::string>{"--image",    "scene.png", "--modelfile", "model.mlp",
                                 "--sampling", "window",    "--output",    "out/run_"};
    // Twice each, within a second or two: nothing replaces anything.
    for (int run = 0; run < 2; ++run) {
        const auto trained = Run(experiment);
        ASSERT_EQ(trained.exitStatus, 0) << trained.output;
        const auto classified = Run(classification);
        ASSERT_EQ(classified.exitStatus, 0) << classified.output;
        // Standard error names every file written.
        for (const auto* result : {&trained, &classified}) {
            std::istringstream lines(result->errors);
            for (std::string line; std::getline(lines, line);) {
                if (line.rfind("Wrote ", 0) == 0) {
                    EXPECT_TRUE(std::filesystem::exists(folder / line.substr(6))) << line;
                    EXPECT_EQ(line.substr(6, 8), "out/run_") << line;
                }
            }
        }
        EXPECT_NE(trained.errors.find("Multilayer Perceptron on out/run_plot.cct_"),
                  std::string::npos)
            << trained.errors;
        EXPECT_NE(trained.errors.find("window split: overall accuracy 1, kappa 1; recall red 1, "
                                      "blue 1"),
                  std::string::npos)
            << trained.errors;
    }
    // Nothing new beside the inputs; under the prefix, two of every file.
    EXPECT_EQ(FilesUnder(folder.Path()).size(), 3u + 2u * 9u);
    std::map<std::string, int> kinds;
    for (const std::string& name : FilesUnder(folder / "out")) {
        ASSERT_EQ(name.rfind("run_", 0), 0u) << name;
        ++kinds[name.substr(name.rfind('.'))];
    }
    EXPECT_EQ(
        kinds,
        (std::map<std::string, int>{
            {".wca", 2}, {".wca-mlp", 2}, {".report", 2}, {".mlp", 2}, {".cct", 4}, {".png", 2},
            {".gpkg", 2}, {".legend", 2}}));
}

}  // namespace
