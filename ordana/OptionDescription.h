#pragma once

// One command-line option, described once: its name, the kind of value it takes, its help
// caption, whether it must be given (an optional one has a default), the parameter of the library
// class its value goes to, and the rule its value must meet where the program adds one to those
// of the class. The option groups of the help, the required checks, the parameter strings stored
// in models and the messages that refuse a value all come from these descriptions: a class
// refuses a value by naming its parameter (util::InvalidParameter), and RejectionMessage says
// the same under the option's name.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <boost/program_options/options_description.hpp>
#include <boost/program_options/variables_map.hpp>

namespace velkar::util {
class InvalidParameter;
}

namespace velkar::ordana {

enum class OptionKind { Switch, Boolean, Integer, LongInteger, IntegerList, Real, Text };

class OptionValues;

// The reason the program refuses the value of option, or none; it sees every value of the
// option's module and the number of features the classifier will take (0 for an extractor).
using OptionRule = std::function<std::optional<std::string>(
    const OptionValues& values, const std::string& option, int featureCount)>;

struct OptionDescription {
    // As written after "--".
    std::string name;
    OptionKind kind = OptionKind::Switch;
    std::string caption;
    // The class's parameter the value goes to, which the class names when it refuses the value.
    std::string parameter = {};
    // The value of an absent option, shown in the help as "(=value)"; only optional options have
    // one.
    std::optional<std::string> defaultValue = {};
    OptionRule rule = {};
    // The one-letter form (-h for --help), or 0.
    char shortName = 0;

    bool Required() const { return kind != OptionKind::Switch && !defaultValue; }
};

// Adds the options to the group in their order.
void DeclareOptions(const std::vector<OptionDescription>& options,
                    boost::program_options::options_description& group);

// The values a parse found, by option name and kind.
class OptionValues {
  public:
    explicit OptionValues(boost::program_options::variables_map values);

    bool Has(const std::string& name) const;
    bool Boolean(const std::string& name) const;
    int Integer(const std::string& name) const;
    long long LongInteger(const std::string& name) const;
    std::vector<int> IntegerList(const std::string& name) const;
    double Real(const std::string& name) const;
    std::string Text(const std::string& name) const;

    // The value as parameter strings and messages write it: booleans "true" or "false", lists
    // with their items joined by commas, reals as a stream writes them.
    std::string Written(const OptionDescription& option) const;

    const boost::program_options::variables_map& Map() const { return values; }

  private:
    boost::program_options::variables_map values;
};

// "Parameter '<name>' is required but missing."
std::string MissingParameterMessage(const std::string& name);

// "Invalid value for option '--a': v (rule)." or, for several options, "Invalid values for
// options '--a', '--b' and '--c': x, y and z (rule)."; the values are quoted as user input.
std::string RejectionMessage(const std::vector<std::string>& options,
                             const std::vector<std::string>& values, const std::string& rule);

// The class's refusal under the names of the options: every parameter it names, and every
// "{parameter}" of its rule, becomes the option whose value went to it. None when it names a
// parameter no option feeds.
std::optional<std::string> RejectionMessage(const util::InvalidParameter& error,
                                            const std::vector<OptionDescription>& options);

}  // namespace velkar::ordana
