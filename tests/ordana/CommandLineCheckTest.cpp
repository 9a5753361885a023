#include "ordana/CommandLineCheck.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "WorkflowFixtures.h"

namespace {

using velkar::ordana::CheckCommandLine;
using velkar::ordana::ClosestName;

TEST(CommandLineCheckTest, ClosestNameAllowsAThirdOfTheWordInEdits) {
    const std::vector<std::string> names = {"seed", "sampling", "anorm", "aws", "cs-lab", "mlp"};
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"sed", "seed"},           // a deletion
        {"seeed", "seed"},         // an insertion
        {"anrom", "anorm"},        // a swap of neighbours is one edit
        {"CS-LAB", "cs-lab"},      // case does not count
        {"samplign", "sampling"},  // 8 letters allow 2 edits
        {"amorn", std::nullopt},   // 5 letters allow 1 edit; this needs 2
        {"abc", std::nullopt},     // short words allow 1 edit
        {"awz", "aws"},           {"", std::nullopt},
    };
    for (const auto& [word, expected] : cases) {
        EXPECT_EQ(ClosestName(word, names), expected) << word;
    }
    // The first of several at the same distance.
    EXPECT_EQ(ClosestName("mla", {"mlp", "mla2", "mlb"}), "mlp");
}

// What the option library accepts is accepted; the rest is named once.
TEST(CommandLineCheckTest, ReadsTheCommandLineAsTheOptionLibraryDoes) {
    const std::string inputs = "--image a.png --file a.cct --experiments 1 ";
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        // Values after "=", abbreviations, one-letter forms, negative numbers, continued lists.
        {"--image=a.png --file a.cct --exp 1 --wca --aws=5", {}},
        {"-i a.png -f a.cct -e 1 --com --cnx 1 -5 --cny 0 0 --cws 8", {}},
        {inputs + "--wca --aws 5 --mlp --mhidden 8 --mhidden 4 --mlr -0.5 --mm 0 --merr 1e-3 "
                  "--miter 2",
         {}},
        {inputs + "--wca --aws 5 --a2 3",
         {"The option '--a2' is ambiguous: it may be '--a2f2', '--a2a', '--a2b', '--a2c', "
          "'--a2d', '--a2theta' and '--a2rho'."}},
        // Every problem once, in the order met; repetitions after the words.
        {inputs + "--wca --aws 5 --aws 6 -x stray --wca",
         {"Unknown option '-x'; ordana --help lists the options.",
          "The option '--wca' is given more than once.",
          "The option '--aws' is given more than once."}},
        {inputs + "--wca --aws 5 --mahd --mdcc", {"The option '--mdcc' needs a value."}},
        // A word after a known option's value is named, after an unknown one it is its value.
        {inputs + "--wca --aws 5 6", {"The word '6' is neither an option nor the value of one."}},
        {inputs + "--wca --aws 5 --sede 6", {"Unknown option '--sede'; did you mean --seed?"}},
        {"--modelfile m.mlp --image a.png --sampling half --seed 3 --output o_ --chatty false", {}},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(CheckCommandLine(ordanatest::Words(line), true), expected) << line;
    }
}

// For the front end, missing options, missing values and ambiguous abbreviations are left to the
// queries, which report them as its protocol always has; the other mistakes are named.
TEST(CommandLineCheckTest, WithoutEverythingAtOnceOnlyTheNewMistakesAreNamed) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"", {}},
        {"--wca --mlp --mhidden 3 --a2 3 --chatty", {}},
        {"--wca --sed 3", {"Unknown option '--sed'; did you mean --seed?"}},
        {"--modelfile m.mlp --wca",
         {"The option '--wca' is for experiments; a classification run "
          "takes its extraction and its classifier from the model."}},
    };
    for (const auto& [line, expected] : cases) {
        EXPECT_EQ(CheckCommandLine(ordanatest::Words(line), false), expected) << line;
    }
}

}  // namespace
