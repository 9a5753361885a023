#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <set>
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
    // Beside each option its range and, where it has no default, a value to try first.
    auto wca = RunOrdana({"--help-module", "wca"});
    EXPECT_EQ(wca.output,
              "Windowed Color Average options:\n"
              "  --aws arg             Window size (1 or more; try 5)\n"
              "  --anorm arg (=false)  Normalize each pixel (true or false)\n"
              "  --aam arg (=false)    Add monochromatic band (true or false)\n");

    // A colour space says how its bytes are stored and whether it is safe near neutral colours.
    for (const auto& [space, safe] : std::vector<std::pair<std::string, bool>>{
             {"cmyk", true}, {"xyz", true}, {"yiq", false}, {"lab", false}, {"hsv", false}}) {
        const auto help = RunOrdana({"--help-module", space});
        // The help's lines joined, each run of blanks and line ends read as one blank.
        const std::string text = std::regex_replace(help.output, std::regex(R"(\s+)"), " ");
        EXPECT_NE(text.find(" --cs-" + space + " "), std::string::npos) << text;
        EXPECT_NE(
            text.find(safe ? ". Safe near neutral colours" : ". Not safe near neutral colours"),
            std::string::npos)
            << text;
    }

    auto mlp = RunOrdana({"--help-module", "mlp"});
    EXPECT_NE(mlp.output.find("Size of each of the hidden layers (comma separated)"),
              std::string::npos);
    EXPECT_NE(mlp.output.find("--miter arg"), std::string::npos);
}

TEST(MainTest, NoArgumentsReportsTheMissingInputs) {
    ordanatest::TemporaryFolder folder;
    auto result = RunOrdana({}, folder.Path());
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.errors,
              "ordana: error: Required options are missing: '--image', '--file' and "
              "'--experiments'; a feature extractor ('--com', '--wca', '--dft', '--dwt' or "
              "'--hog').\n");
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
    EXPECT_EQ(result.output, "");
    ASSERT_FALSE(result.Messages().empty());
    EXPECT_EQ(result.Messages()[0], "error: The option '--help-module' needs a value.");
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

TEST_F(CommandLineTest, FailingCommandLinesExitTwoAndWriteNothing) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "Required options are missing: '--image', '--file' and '--experiments'"},
        {{"--chatty"}, "The option '--chatty' needs a value."},
        {{"--help-module"}, "The option '--help-module' needs a value."},
        {Joined(kInputs, {"--wca", "--aws", "0", "--experiments", "1"}), "'--aws': 0"},
        {Joined(kInputs, {"--wca", "--aws", "5", "--experiments", "two"}), "'two'"},
        {Joined(kInputs, {"--wca", "--aws", "5"}),
         "Required options are missing: '--experiments'."},
        {{"--image", "scene.png", "--wca", "--aws", "5", "--experiments", "1"},
         "Required options are missing: '--file'."},
        {Joined(kInputs, {"--experiments", "1", "--chatty", "true"}),
         "[LOGMESSAGE] !No valid extraction algorithm selected.!"},
        {Joined(kInputs, {"--dft", "--fws", "8", "--fcoeff", "0", "--experiments", "1"}),
         "'--fcoeff': 0"},
        {Joined(kInputs, {"--wca", "--aws", "5", "--experiments", "1", "--mlp", "--mhidden", "3"}),
         "'--mlr', '--mm', '--merr' and '--miter' for '--mlp'"},
        {Joined(kInputs,
                Joined({"--wca", "--aws", "5", "--experiments", "1", "--seed", "x"}, kPerceptron)),
         "'x'"},
        {{"--image", "scene.png", "--modelfile", "model.mlp", "--sampling", "tiles"},
         "The sampling method 'tiles' is not one of"},
        {{"--image", "scene.png", "--modelfile", "model.mlp"},
         "Required options are missing: '--sampling'."},
        {{"--modelfile", "model.mlp", "--sampling", "window"},
         "Required options are missing: '--image'."},
    };
    for (const auto& [arguments, message] : cases) {
        std::string line;
        for (const std::string& argument : arguments) {
            line += " " + argument;
        }
        const auto before = folder.FileNames();
        const auto result = Run(arguments);
        EXPECT_EQ(result.exitStatus, 2) << line << "\n" << result.output;
        EXPECT_NE((result.output + result.errors).find(message), std::string::npos)
            << line << "\n"
            << result.output << result.errors;
        EXPECT_EQ(folder.FileNames(), before) << line;
    }
}

// Mistakes of the command line are refused before anything is read or written: exit status 2,
// one message on standard error (with --chatty, one protocol line), nothing else, no file and
// no folder. Typos are named with the closest option.
TEST_F(CommandLineTest, MistakesAreRefusedBeforeAnyWorkWithOneMessage) {
    const std::vector<std::string> experiment =
        Joined(kInputs, {"--experiments", "1", "--wca", "--aws", "5"});
    const std::vector<std::string> classification = {"--image",   "scene.png",  "--modelfile",
                                                     "model.mlp", "--sampling", "window"};
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
        bool chatty = false;
    };
    const std::vector<Case> cases = {
        {Joined(experiment, {"--sed", "3"}), "Unknown option '--sed'; did you mean --seed?"},
        {Joined(experiment, {"--cs-Lab"}), "Unknown option '--cs-Lab'; did you mean --cs-lab?"},
        {Joined(experiment, {"--anrom", "true"}),
         "Unknown option '--anrom'; did you mean --anorm?"},
        {Joined(experiment, {"--bogus", "3", "stray"}),
         "Unknown option '--bogus'; ordana --help lists the options."},
        {Joined(experiment, {"--chatty", "true", "--sed", "3"}),
         "Unknown option '--sed'; did you mean --seed?", true},
        {Joined(classification, {"word"}),
         "The word 'word' is neither an option nor the value of one."},
        {Joined(kInputs, {"--experiments", "1", "--wca", "true", "--aws", "5"}),
         "The word 'true' is neither an option nor the value of one ('--wca' takes no value)."},
        {Joined(experiment, {"-seed", "3"}),
         "The word '-seed' has one dash, which only one-letter options take; did you mean "
         "--seed?"},
        {Joined(experiment, {"-s3"}),
         "The word '-s3' has one dash, which only one-letter options take; did you mean '-s 3'?"},
        {Joined(experiment, {"--mahd", "--mahd", "--mdcc", "2"}),
         "The option '--mahd' is given more than once."},
        {Joined(experiment, {"-e", "2"}), "The option '--experiments' is given more than once."},
        {Joined(classification, {"--wca", "--aws", "5", "--cs-hsv", "--file", "plot.cct"}),
         "The options '--wca', '--aws', '--cs-hsv' and '--file' are for experiments; a "
         "classification run takes its extraction and its classifier from the model."},
        {Joined(classification, {"--experiments", "2"}),
         "The option '--experiments' is for experiments; a classification run takes its "
         "extraction and its classifier from the model."},
        {Joined(kInputs, {"--experiments", "1", "--wca", "--mlp", "--mlr", "0.3", "--art2"}),
         "Required options are missing: '--aws' for '--wca'; '--mhidden', '--mm', '--merr' and "
         "'--miter' for '--mlp'; '--a2f2', '--a2a', '--a2b', '--a2c', '--a2d', '--a2theta' and "
         "'--a2rho' for '--art2'."},
        {{"--modelfile", "model.mlp"}, "Required options are missing: '--image' and '--sampling'."},
        {{"--help-module", "MLP"},
         "Unknown module 'MLP' for --help-module; did you mean 'mlp'? The modules are com, wca, "
         "dft, dwt, hog, mlp, rbf, art2, som, lvq, mahd, pntk, cmyk, hsi, hsl, hsv, lab, lch, "
         "luv, sch, xyz and yiq."},
        {{"--help-module", "texture"},
         "Unknown module 'texture' for --help-module. The modules are com, wca, dft, dwt, hog, "
         "mlp, rbf, art2, som, lvq, mahd, pntk, cmyk, hsi, hsl, hsv, lab, lch, luv, sch, xyz and "
         "yiq."},
        {Joined(experiment, {"--output", "missing/deeper/run_"}),
         "The folder 'missing/deeper' of the option '--output' cannot be made: the folder it "
         "would be made in does not exist either."},
        {Joined(classification, {"--output", "plot.cct/run_"}),
         "The folder 'plot.cct' of the option '--output' is a file, not a folder."},
    };
    const auto before = FilesUnder(folder.Path());
    for (const Case& c : cases) {
        std::string line;
        for (const std::string& argument : c.arguments) {
            line += " " + argument;
        }
        const auto result = Run(c.arguments);
        EXPECT_EQ(result.exitStatus, 2) << line;
        if (c.chatty) {
            EXPECT_EQ(result.output,
                      "[TASK] !Setting up!\n[LOGMESSAGE] !" + c.message + "!\n[STATUS] !!\n")
                << line;
            EXPECT_EQ(result.errors, "") << line;
        } else {
            EXPECT_EQ(result.output, "") << line;
            EXPECT_EQ(result.errors, "ordana: error: " + c.message + "\n") << line;
        }
        EXPECT_EQ(FilesUnder(folder.Path()), before) << line;
        EXPECT_FALSE(std::filesystem::exists(folder / "missing")) << line;
    }
}

// Runs that would produce nothing, or something wrong, end with status 2 and one message, and
// leave no file: no window at all, polygon files that say more or less than they hold, rates
// outside their ranges, models that name no extractor or are no regular file.
TEST_F(CommandLineTest, RunsThatWouldProduceNothingUsefulExitTwoAndLeaveNothing) {
    const std::string square = "3\n0 0\n20 0\n20 20\n";
    ordanatest::WriteText(folder / "tiny.cct", "t\n1\nred\n1\nc\n1\nred\n1\n3\n0 0\n3 0\n3 3\n");
    ordanatest::WriteText(folder / "twice.cct", "t\n2\nred\nred\n2\nc\nc\n1\nred\n1\n" + square);
    ordanatest::WriteText(folder / "line.cct", "t\n1\nred\n1\nc\n1\nred\n1\n2\n0 0\n9 9\n");
    ordanatest::WriteText(folder / "spare.cct", "t\n1\nred\n1\nc\n2\nred\nred\n1\n" + square);
    ordanatest::WriteText(folder / "more.cct",
                          "t\n1\nred\n1\nc\n1\nred\n1\n" + square + square);
    ASSERT_TRUE(ordanatest::WriteImage(folder / "dot.png", 1, 1,
                                       [](int, int) { return ordanatest::Rgb(1, 2, 3); }));
    std::string text = ordanatest::ReadText(folder / "model.mlp");
    const std::string key = "\"feature_extraction_parameters\": \"";
    const auto start = text.find(key) + key.size();
    ordanatest::WriteText(folder / "none.mlp",
                          text.substr(0, start) + "--seed 3" + text.substr(text.find('"', start)));
    // The same model with its second class (and colour) taken off its lists.
    for (const std::string list : {"\"classes\": [", "\"colors\": ["}) {
        const auto open = text.find(list) + list.size();
        const auto comma = text.find(',', open);
        text = text.substr(0, comma) + text.substr(text.find(']', open));
    }
    ordanatest::WriteText(folder / "short.mlp", text);
    const std::vector<std::string> wca = {"--experiments", "1", "--wca", "--aws"};
    const auto experiment = [&](const std::string& file, const std::vector<std::string>& more) {
        return Joined({"--image", "scene.png", "--file", file}, Joined(wca, more));
    };
    const auto classify = [](const std::string& image, const std::string& model) {
        return std::vector<std::string>{"--image", image, "--modelfile", model, "--sampling",
                                        "window"};
    };
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {experiment("plot.cct", {"100000"}),
         "The 100000-pixel window of Windowed Color Average is larger than the image"},
        {experiment("tiny.cct", {"5"}),
         "No polygon of 'tiny.cct' gives a window for Windowed Color Average"},
        {experiment("twice.cct", {"5"}), "line 4: the class 'red' is listed twice"},
        {experiment("line.cct", {"5"}), "line 9: polygon 1 has 2 vertices"},
        {experiment("spare.cct", {"5"}), "announces 1 polygons but holds 2 labels"},
        {experiment("more.cct", {"5"}), "line 13: text follows the last of the 1 polygons"},
        {experiment("plot.cct", Joined({"5"}, {"--mlp", "--mhidden", "3", "--mlr", "-1", "--mm",
                                               "0.1", "--merr", "0.01", "--miter", "5"})),
         "'--mlr': -1 (a learning rate must be above 0 and at most 1)"},
        {experiment("plot.cct", Joined({"5"}, {"--mlp", "--mhidden", "3", "--mlr", "1e308",
                                               "--mm", "0.1", "--merr", "0.01", "--miter", "5"})),
         "'--mlr': 1e+308"},
        {experiment("plot.cct", Joined({"5"}, {"--mlp", "--mhidden", "3", "--mlr", "0.3", "--mm",
                                               "1", "--merr", "0.01", "--miter", "5"})),
         "'--mm': 1 (a momentum must be at least 0 and below 1)"},
        {classify("dot.png", "model.mlp"),
         "(1 x 1 pixels) is smaller than the 5-pixel window of the model"},
        {classify("scene.png", "none.mlp"),
         "names no feature extractor in its \"feature_extraction_parameters\" ('--seed 3')"},
        {classify("scene.png", "short.mlp"),
         "lists 1 classes, but its classifier answered class 2 for 16 of the 32 windows: its "
         "\"classes\" list is shorter than the classifier's outputs."},
    };
    const auto before = FilesUnder(folder.Path());
    for (const auto& [arguments, message] : cases) {
        std::string line;
        for (const std::string& argument : arguments) {
            line += " " + argument;
        }
        const auto result = Run(arguments);
        EXPECT_EQ(result.exitStatus, 2) << line << "\n" << result.errors;
        EXPECT_NE(result.errors.find("ordana: error: "), std::string::npos) << line;
        EXPECT_NE(result.errors.find(message), std::string::npos) << line << "\n" << result.errors;
        EXPECT_EQ(FilesUnder(folder.Path()), before) << line;
    }
}

// Four experiments started together, with different windows, take numbered names; every file
// of one run (descriptor, results, report, model, page) shares its run's name, and the model
// holds the settings its report names.
TEST_F(CommandLineTest, ConcurrentRunsKeepEachSetUnderOneName) {
    std::string command = "cd " + ordanatest::ShellQuote(folder.Path().string()) + " && (";
    for (const char* window : {"3", "5", "7", "9"}) {
        command += ordanatest::ShellQuote(ORDANA_BINARY) +
                   " --image scene.png --file plot.cct --experiments 1 --seed 1 --wca --aws " +
                   window + " --mahd --mdcc 2 >/dev/null 2>&1 & ";
    }
    ASSERT_EQ(std::system((command + "wait)").c_str()), 0);
    const auto models = ordanatest::FilesWithExtension(folder.Path(), "md");
    ASSERT_EQ(models.size(), 4u);
    std::set<std::string> windows;
    for (const auto& model : models) {
        // "<run name>.wca.md" beside "<run name>.wca", "<run name>.wca-md" and its report.
        const std::string descriptor = model.string().substr(0, model.string().size() - 3);
        const std::string run = descriptor.substr(0, descriptor.size() - 4);
        for (const std::string& file :
             {descriptor, descriptor + "-md", descriptor + "-md.report", run + ".html"}) {
            EXPECT_TRUE(std::filesystem::exists(file)) << file;
        }
        const std::string text = ordanatest::ReadText(model);
        const std::string key = "\"feature_extraction_parameters\": \"";
        const auto start = text.find(key) + key.size();
        const std::string parameters = text.substr(start, text.find('"', start) - start);
        EXPECT_NE(ordanatest::ReadText(descriptor + "-md.report").find(parameters),
                  std::string::npos)
            << parameters;
        windows.insert(parameters);
    }
    EXPECT_EQ(windows.size(), 4u);
}

TEST_F(CommandLineTest, CompletedRunsAndVersion) {
    // Standard output carries the results file's lines after its path; standard error the
    // files written and the summary.
    const auto experiment =
        Run(Joined(kInputs, Joined({"--wca", "--aws", "5", "--experiments", "1", "--seed", "4"},
                                   kPerceptron)));
    EXPECT_EQ(experiment.exitStatus, 0) << experiment.errors;
    EXPECT_TRUE(experiment.Messages().empty()) << experiment.errors;
    const auto results = ordanatest::FilesWithExtension(folder.Path(), "wca-mlp");
    ASSERT_EQ(results.size(), 1u);
    std::string expected;
    for (const std::string& line : ordanatest::ReadLines(results[0])) {
        expected += results[0].filename().string() + ": " + line + "\n";
    }
    EXPECT_EQ(experiment.output, expected);
    EXPECT_NE(experiment.errors.find("Wrote " + results[0].filename().string() + "\n"),
              std::string::npos)
        << experiment.errors;

    const auto classified =
        Run({"--image", "scene.png", "--modelfile", "model.mlp", "--sampling", "half"});
    EXPECT_EQ(classified.exitStatus, 0) << classified.errors;
    EXPECT_EQ(classified.output, "");
    EXPECT_TRUE(classified.Messages().empty()) << classified.errors;

    for (const char* flag : {"--version", "-v"}) {
        const auto version = RunOrdana({flag});
        EXPECT_EQ(version.exitStatus, 0);
        EXPECT_EQ(version.output, "ordana 1.0 (velkar 1.0)\n");
    }
}

TEST_F(CommandLineTest, OutputPrefixTakesEveryFileAndNamesNeverCollide) {
    // The folder "out" does not exist: the first run makes it.
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
        EXPECT_EQ(trained.errors.rfind("Made the folder out\n", 0) == 0, run == 0)
            << trained.errors;
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
    EXPECT_EQ(FilesUnder(folder.Path()).size(), 3u + 2u * 11u);
    std::map<std::string, int> kinds;
    for (const std::string& name : FilesUnder(folder / "out")) {
        ASSERT_EQ(name.rfind("run_", 0), 0u) << name;
        ++kinds[name.substr(name.rfind('.'))];
    }
    EXPECT_EQ(
        kinds,
        (std::map<std::string, int>{
            {".wca", 2}, {".wca-mlp", 2}, {".report", 2}, {".mlp", 2}, {".cct", 4}, {".png", 2},
            {".html", 4}, {".gpkg", 2}, {".legend", 2}}));
}

}  // namespace
