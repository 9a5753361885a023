#pragma once

// Reads and writes the configuration trees of the classifiers whose models are tables of reals
// (Mahalanobis distance, Point K, learning vector quantization): integer keys, and arrays of
// rows, each row an array of reals, on top of the checked reading of ConfigurationTree. Reading
// checks everything before a classifier replaces its model: a missing key, a value of the wrong
// kind, a number out of range, a row of the wrong length or a non-finite real throws
// std::runtime_error naming the classifier and the key
// ("means[2][0]" for the first value of the third row of "means"). Integers are accepted where
// reals are expected, as a hand-edited file may hold them.

#include <memory>
#include <string>
#include <vector>

#include "velkar/math/Matrix.h"
#include "velkar/patternrecognition/ConfigurationTree.h"
#include "velkar/util/Collection.h"
#include "velkar/util/Map.h"

namespace velkar::patternrecognition {

class ModelTree {
  public:
    // The root must be a util::Map; owner names the classifier in messages.
    ModelTree(const std::shared_ptr<util::Collection>& configuration, std::string owner);

    // The integer under key, at least minimum and at most maximum.
    int Integer(const std::string& key, int minimum, int maximum) const;
    // The array under key as rows x columns reals, at most ConfigurationTree::kMaxTableValues
    // of them (refused from the sizes alone). Where emptyRows is given, a row may also be
    // an empty array (but not every row); (*emptyRows)[r] tells which ones were, and their
    // values are NaN.
    math::Matrix<double> Rows(const std::string& key, int rows, int columns,
                              std::vector<bool>* emptyRows = nullptr) const;
    [[noreturn]] void Reject(const std::string& key, const std::string& problem) const;

    // Writes matrix under key as an array of rows; rows with skipRows[r] set become empty arrays.
    static void PutRows(util::Map& map, const std::string& key, const math::Matrix<double>& matrix,
                        const std::vector<bool>& skipRows = {});

  private:
    ConfigurationTree tree;
    const util::Map* root = nullptr;
};

}  // namespace velkar::patternrecognition
