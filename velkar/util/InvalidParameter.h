#pragma once

// Thrown by a constructor whose arguments break a rule of its class. It names the parameters the
// rule is about, as the class declares them, their values as text and the rule in words; in the
// rule, "{name}" stands for a parameter's name and "{--name}" for the same name written as an
// option would be. what() reads "<class>: invalid value for parameter 'p': v (rule)" (or
// "invalid values for parameters 'a', 'b' and 'c': x, y and z (rule)") with the class's own
// names, so that a program can word the same message with the names its user knows.

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace velkar::util {

class InvalidParameter : public std::invalid_argument {
  public:
    InvalidParameter(const std::string& owner, std::vector<std::string> parameters,
                     std::vector<std::string> values, std::string rule);
    InvalidParameter(const std::string& owner, const std::string& parameter,
                     const std::string& value, std::string rule);

    const std::vector<std::string>& Parameters() const { return parameters; }
    const std::vector<std::string>& Values() const { return values; }
    // The rule with every placeholder replaced by rename(placeholder), the placeholder's text
    // between the braces.
    std::string Rule(const std::function<std::string(const std::string&)>& rename) const;

    // Values as the messages quote them: reals as a stream writes them at its default
    // precision ("0.5", "1.2e+07", "nan"), lists with their items joined by commas.
    static std::string Text(double value);
    static std::string Text(const std::vector<int>& items);

    // The rules of one class's parameters, each a check that throws an InvalidParameter of the
    // class naming the parameter: unless minimum <= value, value <= maximum, or the value is a
    // finite number ("it must be a finite number").
    class Rules {
      public:
        explicit Rules(std::string owner) : owner(std::move(owner)) {}
        void AtLeast(const std::string& parameter, long long value, long long minimum,
                     const std::string& rule) const;
        void AtMost(const std::string& parameter, long long value, long long maximum,
                    const std::string& rule) const;
        void Finite(const std::string& parameter, double value) const;

      private:
        std::string owner;
    };

    // "a", "a and b", "a, b and c".
    static std::string Enumeration(const std::vector<std::string>& items);

  private:
    static std::string Render(const std::string& rule,
                              const std::function<std::string(const std::string&)>& rename);

    std::vector<std::string> parameters;
    std::vector<std::string> values;
    std::string rule;
};

}  // namespace velkar::util
