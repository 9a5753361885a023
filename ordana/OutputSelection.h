#pragma once

// The outputs a classification run writes (--write LIST, names joined by commas): each output is
// a row of ClassificationOutputs(), so that a new output is one more row; without --write every
// row's output is written. A selection answers whether an output is wanted by its name.

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace velkar::ordana {

struct ClassificationOutput {
    // As written in --write.
    std::string name;
    // What it holds.
    std::string description;
};

const std::vector<ClassificationOutput>& ClassificationOutputs();

class OutputSelection {
  public:
    // Every output.
    OutputSelection();
    // The outputs the list names, or every one when there is no list. Throws InputError naming
    // --write for an empty list, an unknown name or a name given twice.
    static OutputSelection Parse(const std::optional<std::string>& list);

    bool Has(const std::string& name) const { return chosen.count(name) != 0; }

  private:
    std::set<std::string> chosen;
};

}  // namespace velkar::ordana
