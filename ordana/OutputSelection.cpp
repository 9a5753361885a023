#include "ordana/OutputSelection.h"

#include "ordana/EchoedInput.h"
#include "ordana/InputError.h"
#include "ordana/OptionDescription.h"

namespace velkar::ordana {

const std::vector<ClassificationOutput>& ClassificationOutputs() {
    static const std::vector<ClassificationOutput> outputs = {
        {"grid", "the processing file: every window's four corners"},
        {"labels", "the results file: every window's class and corners"},
        {"map", "the class map: every window's class as a square of colour (GeoTIFF or PNG)"},
        {"gpkg", "the GeoPackage: every window's square and the regions of one class"},
        {"legend", "the legend: each class's windows, pixels and area"},
        {"page", "the report page"},
    };
    return outputs;
}

OutputSelection::OutputSelection() {
    for (const ClassificationOutput& output : ClassificationOutputs()) {
        chosen.insert(output.name);
    }
}

OutputSelection OutputSelection::Parse(const std::optional<std::string>& list) {
    OutputSelection selection;
    if (!list) {
        return selection;
    }
    std::string known;
    for (const ClassificationOutput& output : ClassificationOutputs()) {
        known += (known.empty() ? "\"" : ", \"") + output.name + "\"";
    }
    const auto refuse = [&list, &known](const std::string& why) {
        return InputError(RejectionMessage({"write"}, {*list},
                                           why + "; the outputs are " + known +
                                               ", joined by commas"));
    };
    selection.chosen.clear();
    for (std::size_t start = 0;;) {
        const std::size_t comma = list->find(',', start);
        const std::string name =
            list->substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        bool found = false;
        for (const ClassificationOutput& output : ClassificationOutputs()) {
            found = found || output.name == name;
        }
        if (!found) {
            throw refuse(name.empty() ? "an output name is empty"
                                      : "\"" + EchoedInput(name) + "\" is no output");
        }
        if (!selection.chosen.insert(name).second) {
            throw refuse("\"" + EchoedInput(name) + "\" is named twice");
        }
        if (comma == std::string::npos) {
            return selection;
        }
        start = comma + 1;
    }
}

}  // namespace velkar::ordana
