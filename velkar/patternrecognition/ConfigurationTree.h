#pragma once

// Checked reading and plain writing of classifier configuration trees (util::Map / util::Array).
// Reading: every accessor names the key path of a missing, mistyped or non-finite value
// ("weights[2][0]") in a std::runtime_error that starts with the owner given to the reader, so a
// damaged model is refused with a precise message before a classifier replaces anything. Reals
// may be written as integers (a hand-edited file); integers must be integers. Writing: new
// nodes are attached to their parent before they are filled, so the tree owns every node at all
// times and nothing leaks when an allocation fails half-way.

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "velkar/util/Array.h"
#include "velkar/util/Collection.h"
#include "velkar/util/Map.h"

namespace velkar::patternrecognition {

class ConfigurationTree {
  public:
    // The most values a table read from a tree may hold: the limit new models are held to.
    static constexpr long long kMaxTableValues = 10'000'000;

    // owner starts every message, e.g. "Self organizing map configuration".
    explicit ConfigurationTree(std::string owner) : owner(std::move(owner)) {}

    [[noreturn]] void Reject(const std::string& key, const std::string& problem) const;

    // The root as a map; std::runtime_error when it is null or an array.
    const util::Map& Root(const util::Collection* root) const;

    const util::Array& ArrayAt(const util::Map& map, const std::string& key) const;
    // Entry index of array, itself an array; path is the array's own key path.
    const util::Array& ArrayAt(const util::Array& array, int index, const std::string& path) const;
    const util::Map& MapAt(const util::Array& array, int index, const std::string& path) const;

    int Int(const util::Map& map, const std::string& key) const;
    int Int(const util::Array& array, int index, const std::string& path) const;
    // A finite real.
    double Real(const util::Map& map, const std::string& key) const;
    double Real(const util::Array& array, int index, const std::string& path) const;

    // Rejects a table of rows x columns values under key beyond kMaxTableValues, naming both
    // sizes; called before anything of that size is allocated.
    void CheckTableSize(const std::string& key, long long rows, long long columns) const;

    // The array under key as finite reals; it must hold exactly `length` entries unless length
    // is negative, and at most kMaxTableValues.
    std::vector<double> Reals(const util::Map& map, const std::string& key, int length) const;
    // The array under key as `rows` arrays of `columns` finite reals, row after row; at most
    // kMaxTableValues of them.
    std::vector<double> RealRows(const util::Map& map, const std::string& key, int rows,
                                 int columns) const;

    // The "tagged_classes" layout: an array of maps with integer "key" (class id) and "value"
    // (index). The indices must be 0 ... size - 1, each once, and the class ids distinct.
    // Returns the class id of every index.
    std::vector<int> TaggedClasses(const util::Map& map, const std::string& key) const;

    static std::string Indexed(const std::string& key, int index);

    static util::Array& PutArray(util::Map& parent, const std::string& key);
    static util::Array& AddArray(util::Array& parent);
    static void AddReals(util::Array& array, const double* values, std::size_t count);
    // rows arrays of rowLength reals each, taken row after row from values.
    static void PutRealRows(util::Map& parent, const std::string& key, const double* values,
                            std::size_t rows, std::size_t rowLength);
    static void PutTaggedClasses(util::Map& parent, const std::string& key,
                                 const std::map<int, int>& taggedClasses);

  private:
    std::string owner;
};

}  // namespace velkar::patternrecognition
