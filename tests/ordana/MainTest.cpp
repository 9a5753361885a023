#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ProgramRun.h"

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
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.output,
              "[LOGMESSAGE] !Parameter 'image' is required but missing.!\n"
              "[LOGMESSAGE] !Parameter 'file' is required but missing.!\n"
              "[LOGMESSAGE] !Parameter 'file' is required but missing.!\n");
    EXPECT_TRUE(folder.FileNames().empty());
}

TEST(MainTest, ChattyRunIsFramedBySetupAndStatus) {
    ordanatest::TemporaryFolder folder;
    auto result = RunOrdana({"--chatty", "true"}, folder.Path());
    EXPECT_EQ(result.exitStatus, 0);
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
    EXPECT_EQ(result.exitStatus, 0);
    ASSERT_FALSE(result.Lines().empty());
    for (const std::string& line : result.Lines()) {
        EXPECT_EQ(line,
                  "[LOGMESSAGE] !the required argument for option '--help-module' is missing!");
    }
}

}  // namespace
