#include "ordana/CommandLineCheck.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "ordana/AlgorithmCatalog.h"
#include "ordana/EchoedInput.h"
#include "ordana/ParameterParser.h"
#include "velkar/util/InvalidParameter.h"

namespace velkar::ordana {

namespace {

struct KnownOption {
    std::string name;
    OptionKind kind = OptionKind::Switch;
    char shortName = 0;
    // Only experiments use it: the extractor, classifier and colour-space flags and options,
    // the polygon file and the repetition count.
    bool experimentOnly = false;
};

const std::vector<KnownOption>& KnownOptions() {
    static const std::vector<KnownOption> options = [] {
        std::vector<KnownOption> known;
        for (const OptionDescription& option : GeneralOptions()) {
            known.push_back({option.name, option.kind, option.shortName,
                             option.name == "file" || option.name == "experiments"});
        }
        const auto addModule = [&known](const Module& module, bool withOptions) {
            known.push_back({module.flag, OptionKind::Switch, 0, true});
            for (const OptionDescription& option : module.options) {
                if (withOptions) {
                    known.push_back({option.name, option.kind, 0, true});
                }
            }
        };
        for (const ExtractorRow& row : ExtractorRows()) {
            addModule(row.module, true);
        }
        for (const ClassifierRow& row : ClassifierRows()) {
            addModule(row.module, true);
        }
        // A colour space's group holds only its flag.
        for (const ColorSpaceRow& row : ColorSpaceRows()) {
            addModule(row.module, false);
        }
        return known;
    }();
    return options;
}

std::vector<std::string> KnownNames() {
    std::vector<std::string> names;
    for (const KnownOption& option : KnownOptions()) {
        names.push_back(option.name);
    }
    return names;
}

std::string Lowered(const std::string& text) {
    std::string lowered = text;
    for (char& c : lowered) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return lowered;
}

// Levenshtein distance with swaps of neighbouring characters counted as one edit.
std::size_t EditDistance(const std::string& a, const std::string& b) {
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1, 0));
    for (std::size_t i = 0; i <= n; ++i) {
        d[i][0] = i;
    }
    for (std::size_t j = 0; j <= m; ++j) {
        d[0][j] = j;
    }
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[n][m];
}

bool IsLongOption(const std::string& token) {
    return token.size() > 2 && token.rfind("--", 0) == 0;
}

bool StartsWithDashAndLetter(const std::string& token) {
    return token.size() >= 2 && token[0] == '-' &&
           std::isalpha(static_cast<unsigned char>(token[1])) != 0;
}

// A word that the option library would read as an option rather than as a value.
bool IsOptionWord(const std::string& token) {
    return IsLongOption(token) || StartsWithDashAndLetter(token);
}

std::string Quoted(const std::string& text) { return "'" + EchoedInput(text) + "'"; }

std::string Hint(const std::optional<std::string>& name) {
    return name ? "; did you mean --" + *name + "?" : "";
}

// The option name resolves to: the option of that exact name, or the only one it abbreviates.
struct Resolution {
    const KnownOption* option = nullptr;
    std::vector<std::string> candidates;
};

Resolution Resolve(const std::string& name) {
    Resolution resolution;
    for (const KnownOption& option : KnownOptions()) {
        if (option.name == name) {
            resolution.option = &option;
            resolution.candidates.clear();
            return resolution;
        }
        if (!name.empty() && option.name.rfind(name, 0) == 0) {
            resolution.candidates.push_back(option.name);
            resolution.option = &option;
        }
    }
    if (resolution.candidates.size() != 1) {
        resolution.option = nullptr;
    }
    return resolution;
}

const KnownOption* ShortOption(char letter) {
    for (const KnownOption& option : KnownOptions()) {
        if (option.shortName != 0 && option.shortName == letter) {
            return &option;
        }
    }
    return nullptr;
}

// What the scan of the words finds.
struct Scan {
    std::vector<std::string> problems;
    // The options given, in order, each once.
    std::vector<const KnownOption*> given;
    std::map<std::string, int> occurrences;
};

class Scanner {
  public:
    Scanner(const std::vector<std::string>& arguments, bool everythingAtOnce)
        : arguments(arguments), everythingAtOnce(everythingAtOnce) {}

    Scan Run() {
        for (position = 0; position < arguments.size(); ++position) {
            const std::string& token = arguments[position];
            if (IsLongOption(token)) {
                LongOption(token);
            } else if (StartsWithDashAndLetter(token) && token.size() > 2) {
                OneDashWord(token);
            } else if (StartsWithDashAndLetter(token)) {
                const KnownOption* option = ShortOption(token[1]);
                if (option == nullptr) {
                    Refuse("Unknown option " + Quoted(token) +
                           "; ordana --help lists the options.");
                } else {
                    Take(*option, std::nullopt);
                }
            } else if (!skippingValues) {
                StrayWord(token);
            }
        }
        return scan;
    }

  private:
    void Refuse(const std::string& problem) {
        scan.problems.push_back(problem);
        skippingValues = true;
        lastSwitch.clear();
    }

    void LongOption(const std::string& token) {
        const std::string::size_type equals = token.find('=');
        const std::string name = token.substr(2, equals == std::string::npos ? equals : equals - 2);
        std::optional<std::string> value;
        if (equals != std::string::npos) {
            value = token.substr(equals + 1);
        }
        const Resolution resolution = Resolve(name);
        if (resolution.option != nullptr) {
            Take(*resolution.option, value);
            return;
        }
        if (resolution.candidates.empty()) {
            const std::optional<std::string> closest = ClosestName(name, KnownNames());
            Refuse("Unknown option " + Quoted("--" + name) +
                   (closest ? Hint(closest) : "; ordana --help lists the options."));
            return;
        }
        if (everythingAtOnce) {
            std::vector<std::string> quoted;
            for (const std::string& candidate : resolution.candidates) {
                quoted.push_back("'--" + candidate + "'");
            }
            Refuse("The option " + Quoted("--" + name) + " is ambiguous: it may be " +
                   util::InvalidParameter::Enumeration(quoted) + ".");
        } else {
            skippingValues = true;
        }
    }

    void OneDashWord(const std::string& token) {
        std::optional<std::string> hint;
        if (const auto closest = ClosestName(token.substr(1), KnownNames())) {
            hint = "--" + *closest;
        } else if (const KnownOption* option = ShortOption(token[1]);
                   option != nullptr && option->kind != OptionKind::Switch) {
            hint = "'" + token.substr(0, 2) + " " + EchoedInput(token.substr(2)) + "'";
        }
        Refuse("The word " + Quoted(token) + " has one dash, which only one-letter options take" +
               (hint ? "; did you mean " + *hint + "?" : "."));
    }

    void StrayWord(const std::string& token) {
        std::string problem =
            "The word " + Quoted(token) + " is neither an option nor the value of one";
        if (!lastSwitch.empty()) {
            problem += " ('--" + lastSwitch + "' takes no value)";
        }
        const std::optional<std::string> closest = ClosestName(token, KnownNames());
        scan.problems.push_back(problem + (closest ? Hint(closest) : "."));
    }

    // The option and the values it takes from the words after it.
    void Take(const KnownOption& option, const std::optional<std::string>& value) {
        skippingValues = false;
        lastSwitch.clear();
        if (scan.occurrences[option.name]++ == 0) {
            scan.given.push_back(&option);
        }
        const auto nextIsValue = [this] {
            return position + 1 < arguments.size() && !IsOptionWord(arguments[position + 1]);
        };
        switch (option.kind) {
            case OptionKind::Switch:
                lastSwitch = option.name;
                return;
            case OptionKind::IntegerList: {
                bool items = value.has_value();
                while (nextIsValue()) {
                    ++position;
                    items = true;
                }
                if (!items && everythingAtOnce) {
                    MissingValue(option);
                }
                return;
            }
            default:
                if (value) {
                    return;
                }
                if (nextIsValue()) {
                    ++position;
                } else if (everythingAtOnce) {
                    MissingValue(option);
                }
        }
    }

    void MissingValue(const KnownOption& option) {
        scan.problems.push_back("The option '--" + option.name + "' needs a value.");
    }

    const std::vector<std::string>& arguments;
    bool everythingAtOnce;
    std::size_t position = 0;
    // Words right after a refused option are taken for its values and not named again.
    bool skippingValues = false;
    // The switch just read, which a stray word may have been meant for.
    std::string lastSwitch;
    Scan scan;
};

// "'--a', '--b' and '--c'".
std::string QuotedOptions(const std::vector<std::string>& names) {
    std::vector<std::string> quoted;
    for (const std::string& name : names) {
        quoted.push_back("'--" + name + "'");
    }
    return util::InvalidParameter::Enumeration(quoted);
}

// The required options a run misses, for the run itself and for every selected module, in one
// message; none when nothing is missing.
std::optional<std::string> MissingOptions(const Scan& scan, bool classifying) {
    const auto given = [&scan](const std::string& name) {
        return scan.occurrences.count(name) != 0;
    };
    std::vector<std::string> parts;
    std::vector<std::string> general;
    const std::vector<std::string> required =
        classifying ? std::vector<std::string>{"image", "sampling"}
                    : std::vector<std::string>{"image", "file", "experiments"};
    for (const std::string& name : required) {
        if (!given(name)) {
            general.push_back(name);
        }
    }
    if (!general.empty()) {
        parts.push_back(QuotedOptions(general));
    }
    if (classifying) {
        return parts.empty() ? std::nullopt
                             : std::optional<std::string>(
                                   "Required options are missing: " + parts.front() + ".");
    }
    bool extractor = false;
    const auto moduleNeeds = [&](const Module& module) {
        if (!given(module.flag)) {
            return;
        }
        std::vector<std::string> missing;
        for (const OptionDescription& option : module.options) {
            if (option.Required() && !given(option.name)) {
                missing.push_back(option.name);
            }
        }
        if (!missing.empty()) {
            parts.push_back(QuotedOptions(missing) + " for '--" + module.flag + "'");
        }
    };
    std::vector<std::string> extractorFlags;
    for (const ExtractorRow& row : ExtractorRows()) {
        extractor = extractor || given(row.module.flag);
        extractorFlags.push_back(row.module.flag);
        moduleNeeds(row.module);
    }
    for (const ClassifierRow& row : ClassifierRows()) {
        moduleNeeds(row.module);
    }
    if (!extractor) {
        std::vector<std::string> quoted;
        for (const std::string& flag : extractorFlags) {
            quoted.push_back("'--" + flag + "'");
        }
        std::string choices = util::InvalidParameter::Enumeration(quoted);
        const std::string::size_type lastAnd = choices.rfind(" and ");
        choices.replace(lastAnd, 5, " or ");
        parts.push_back("a feature extractor (" + choices + ")");
    }
    if (parts.empty()) {
        return std::nullopt;
    }
    std::string message = "Required options are missing: ";
    for (std::size_t k = 0; k < parts.size(); ++k) {
        message += (k == 0 ? "" : "; ") + parts[k];
    }
    return message + ".";
}

}  // namespace

std::optional<std::string> ClosestName(const std::string& word,
                                       const std::vector<std::string>& names) {
    const std::string lowered = Lowered(word);
    const std::size_t allowed = std::max<std::size_t>(1, word.size() / 3);
    std::optional<std::string> closest;
    std::size_t best = allowed + 1;
    for (const std::string& name : names) {
        const std::size_t distance = EditDistance(lowered, Lowered(name));
        if (distance < best) {
            best = distance;
            closest = name;
        }
    }
    return closest;
}

std::vector<std::string> CheckCommandLine(const std::vector<std::string>& arguments,
                                          bool everythingAtOnce) {
    Scan scan = Scanner(arguments, everythingAtOnce).Run();
    std::vector<std::string> problems = std::move(scan.problems);
    for (const KnownOption* option : scan.given) {
        if (scan.occurrences[option->name] > 1 && option->kind != OptionKind::IntegerList) {
            problems.push_back("The option '--" + option->name + "' is given more than once.");
        }
    }
    const bool classifying = scan.occurrences.count("modelfile") != 0;
    if (classifying) {
        std::vector<std::string> refused;
        for (const KnownOption* option : scan.given) {
            if (option->experimentOnly) {
                refused.push_back(option->name);
            }
        }
        if (!refused.empty()) {
            problems.push_back(std::string(refused.size() > 1 ? "The options " : "The option ") +
                               QuotedOptions(refused) + (refused.size() > 1 ? " are" : " is") +
                               " for experiments; a classification run takes its extraction "
                               "and its classifier from the model.");
        }
    }
    // A command line that asks for help but cannot have it is not a run missing its options.
    const bool help =
        scan.occurrences.count("help") != 0 || scan.occurrences.count("help-module") != 0;
    if (everythingAtOnce && !help) {
        if (const auto missing = MissingOptions(scan, classifying)) {
            problems.push_back(*missing);
        }
    }
    return problems;
}

}  // namespace velkar::ordana
