#include "velkar/util/InvalidParameter.h"

#include <cmath>
#include <sstream>
#include <utility>

namespace velkar::util {

namespace {

// The parameter's own name: a placeholder without the dashes of an option.
std::string OwnName(const std::string& placeholder) {
    const std::string::size_type start = placeholder.find_first_not_of('-');
    return start == std::string::npos ? "" : placeholder.substr(start);
}

std::string Quoted(std::vector<std::string> names) {
    for (std::string& name : names) {
        name = "'" + name + "'";
    }
    return InvalidParameter::Enumeration(names);
}

std::string Message(const std::string& owner, const std::vector<std::string>& parameters,
                    const std::vector<std::string>& values, const std::string& rule) {
    const bool several = parameters.size() > 1;
    return owner + ": invalid value" + (several ? "s" : "") + " for parameter" +
           (several ? "s " : " ") + Quoted(parameters) + ": " +
           InvalidParameter::Enumeration(values) + " (" + rule + ")";
}

}  // namespace

InvalidParameter::InvalidParameter(const std::string& owner, std::vector<std::string> parameters,
                                   std::vector<std::string> values, std::string rule)
    : std::invalid_argument(Message(owner, parameters, values, Render(rule, OwnName))),
      parameters(std::move(parameters)),
      values(std::move(values)),
      rule(std::move(rule)) {}

InvalidParameter::InvalidParameter(const std::string& owner, const std::string& parameter,
                                   const std::string& value, std::string rule)
    : InvalidParameter(owner, std::vector<std::string>{parameter}, std::vector<std::string>{value},
                       std::move(rule)) {}

std::string InvalidParameter::Rule(
    const std::function<std::string(const std::string&)>& rename) const {
    return Render(rule, rename);
}

std::string InvalidParameter::Render(const std::string& rule,
                                     const std::function<std::string(const std::string&)>& rename) {
    std::string text;
    std::string::size_type from = 0;
    while (true) {
        const auto open = rule.find('{', from);
        const auto close = open == std::string::npos ? open : rule.find('}', open);
        if (close == std::string::npos) {
            return text + rule.substr(from);
        }
        text += rule.substr(from, open - from) + rename(rule.substr(open + 1, close - open - 1));
        from = close + 1;
    }
}

void InvalidParameter::Rules::AtLeast(const std::string& parameter, long long value,
                                      long long minimum, const std::string& rule) const {
    if (value < minimum) {
        throw InvalidParameter(owner, parameter, std::to_string(value), rule);
    }
}

void InvalidParameter::Rules::AtMost(const std::string& parameter, long long value,
                                     long long maximum, const std::string& rule) const {
    if (value > maximum) {
        throw InvalidParameter(owner, parameter, std::to_string(value), rule);
    }
}

void InvalidParameter::Rules::Finite(const std::string& parameter, double value) const {
    if (!std::isfinite(value)) {
        throw InvalidParameter(owner, parameter, Text(value), "it must be a finite number");
    }
}

std::string InvalidParameter::Text(double value) {
    std::ostringstream text;
    text << value;
    return text.str();
}

std::string InvalidParameter::Text(const std::vector<int>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "" : ",") + std::to_string(items[i]);
    }
    return text;
}

std::string InvalidParameter::Enumeration(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    }
    return text;
}

}  // namespace velkar::util
