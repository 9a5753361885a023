#include "ordana/OptionDescription.h"

#include <utility>

#include <boost/program_options/value_semantic.hpp>

#include "ordana/EchoedInput.h"
#include "velkar/util/InvalidParameter.h"

namespace velkar::ordana {

namespace po = boost::program_options;

namespace {

// The value semantic of a kind, with the default of an optional option.
const po::value_semantic* Semantic(const OptionDescription& option) {
    const std::optional<std::string>& given = option.defaultValue;
    switch (option.kind) {
        case OptionKind::Switch:
            return nullptr;
        case OptionKind::Boolean: {
            auto* value = po::value<bool>();
            return given ? value->default_value(*given == "true", *given) : value;
        }
        case OptionKind::Integer: {
            auto* value = po::value<int>();
            return given ? value->default_value(std::stoi(*given), *given) : value;
        }
        case OptionKind::LongInteger: {
            auto* value = po::value<long long>();
            return given ? value->default_value(std::stoll(*given), *given) : value;
        }
        case OptionKind::IntegerList:
            return po::value<std::vector<int>>()->multitoken()->composing();
        case OptionKind::Real: {
            auto* value = po::value<double>();
            return given ? value->default_value(std::stod(*given), *given) : value;
        }
        case OptionKind::Text: {
            auto* value = po::value<std::string>();
            return given ? value->default_value(*given) : value;
        }
    }
    return nullptr;
}

}  // namespace

void DeclareOptions(const std::vector<OptionDescription>& options, po::options_description& group) {
    for (const OptionDescription& option : options) {
        const std::string name =
            option.shortName == 0 ? option.name : option.name + "," + option.shortName;
        const po::value_semantic* semantic = Semantic(option);
        if (semantic == nullptr) {
            group.add_options()(name.c_str(), option.caption.c_str());
        } else {
            group.add_options()(name.c_str(), semantic, option.caption.c_str());
        }
    }
}

OptionValues::OptionValues(po::variables_map values) : values(std::move(values)) {}

bool OptionValues::Has(const std::string& name) const {
    return values.count(name) != 0 && !values[name].empty();
}

bool OptionValues::Boolean(const std::string& name) const { return values[name].as<bool>(); }

int OptionValues::Integer(const std::string& name) const { return values[name].as<int>(); }

long long OptionValues::LongInteger(const std::string& name) const {
    return values[name].as<long long>();
}

std::vector<int> OptionValues::IntegerList(const std::string& name) const {
    return values[name].as<std::vector<int>>();
}

double OptionValues::Real(const std::string& name) const { return values[name].as<double>(); }

std::string OptionValues::Text(const std::string& name) const {
    return values[name].as<std::string>();
}

std::string OptionValues::Written(const OptionDescription& option) const {
    switch (option.kind) {
        case OptionKind::Switch:
            return "";
        case OptionKind::Boolean:
            return Boolean(option.name) ? "true" : "false";
        case OptionKind::Integer:
            return std::to_string(Integer(option.name));
        case OptionKind::LongInteger:
            return std::to_string(LongInteger(option.name));
        case OptionKind::IntegerList:
            return util::InvalidParameter::Text(IntegerList(option.name));
        case OptionKind::Real:
            return util::InvalidParameter::Text(Real(option.name));
        case OptionKind::Text:
            return Text(option.name);
    }
    return "";
}

std::string MissingParameterMessage(const std::string& name) {
    return "Parameter '" + name + "' is required but missing.";
}

std::string RejectionMessage(const std::vector<std::string>& options,
                             const std::vector<std::string>& values, const std::string& rule) {
    std::vector<std::string> quoted;
    for (const std::string& option : options) {
        quoted.push_back("'--" + option + "'");
    }
    std::vector<std::string> echoed;
    for (const std::string& value : values) {
        echoed.push_back(EchoedInput(value));
    }
    const bool several = options.size() > 1;
    return std::string("Invalid value") + (several ? "s" : "") + " for option" +
           (several ? "s " : " ") + util::InvalidParameter::Enumeration(quoted) + ": " +
           util::InvalidParameter::Enumeration(echoed) + " (" + rule + ").";
}

std::optional<std::string> RejectionMessage(const util::InvalidParameter& error,
                                            const std::vector<OptionDescription>& options) {
    const auto optionOf = [&options](const std::string& parameter) -> const OptionDescription* {
        for (const OptionDescription& option : options) {
            if (!option.parameter.empty() && option.parameter == parameter) {
                return &option;
            }
        }
        return nullptr;
    };
    std::vector<std::string> names;
    for (const std::string& parameter : error.Parameters()) {
        const OptionDescription* option = optionOf(parameter);
        if (option == nullptr) {
            return std::nullopt;
        }
        names.push_back(option->name);
    }
    bool known = true;
    // A placeholder may be written with the dashes of an option ("{--dx}"); they are kept.
    const std::string rule = error.Rule([&](const std::string& placeholder) {
        const std::string::size_type start = placeholder.find_first_not_of('-');
        const OptionDescription* option =
            start == std::string::npos ? nullptr : optionOf(placeholder.substr(start));
        known = known && option != nullptr;
        return option == nullptr ? placeholder : placeholder.substr(0, start) + option->name;
    });
    if (!known) {
        return std::nullopt;
    }
    return RejectionMessage(names, error.Values(), rule);
}

}  // namespace velkar::ordana
