#include "velkar/patternrecognition/ModelTree.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

#include "velkar/util/Array.h"

namespace velkar::patternrecognition {

ModelTree::ModelTree(const std::shared_ptr<util::Collection>& configuration, std::string name)
    : tree(name + " configuration"), root(&tree.Root(configuration.get())) {}

void ModelTree::Reject(const std::string& key, const std::string& problem) const {
    tree.Reject(key, problem);
}

int ModelTree::Integer(const std::string& key, int minimum, int maximum) const {
    const int value = tree.Int(*root, key);
    if (value < minimum || value > maximum) {
        Reject(key, "is " + std::to_string(value) + ", outside " + std::to_string(minimum) +
                        " ... " + std::to_string(maximum));
    }
    return value;
}

math::Matrix<double> ModelTree::Rows(const std::string& key, int rows, int columns,
                                     std::vector<bool>* emptyRows) const {
    tree.CheckTableSize(key, rows, columns);
    const util::Array& array = tree.ArrayAt(*root, key);
    if (array.Size() != rows) {
        Reject(key,
               "has " + std::to_string(array.Size()) + " rows, expected " + std::to_string(rows));
    }
    // Row lengths are checked first, so the sizes read from the tree never allocate more than
    // the tree holds.
    std::vector<bool> empty(static_cast<std::size_t>(rows), false);
    for (int r = 0; r < rows; ++r) {
        const util::Array& row = tree.ArrayAt(array, r, key);
        if (row.Size() == 0 && emptyRows != nullptr && columns > 0) {
            empty[static_cast<std::size_t>(r)] = true;
        } else if (row.Size() != columns) {
            Reject(ConfigurationTree::Indexed(key, r), "has " + std::to_string(row.Size()) +
                                                           " values, expected " +
                                                           std::to_string(columns));
        }
    }
    if (rows > 0 && std::find(empty.begin(), empty.end(), false) == empty.end()) {
        Reject(key, "has no row with values");
    }
    math::Matrix<double> matrix(rows, columns);
    for (int r = 0; r < rows; ++r) {
        const util::Array& row = tree.ArrayAt(array, r, key);
        for (int c = 0; c < columns; ++c) {
            matrix(r, c) = empty[static_cast<std::size_t>(r)]
                               ? std::numeric_limits<double>::quiet_NaN()
                               : tree.Real(row, c, ConfigurationTree::Indexed(key, r));
        }
    }
    if (emptyRows != nullptr) {
        *emptyRows = std::move(empty);
    }
    return matrix;
}

void ModelTree::PutRows(util::Map& map, const std::string& key, const math::Matrix<double>& matrix,
                        const std::vector<bool>& skipRows) {
    util::Array& array = ConfigurationTree::PutArray(map, key);
    for (int r = 0; r < matrix.Rows(); ++r) {
        util::Array& row = ConfigurationTree::AddArray(array);
        const bool skipped =
            static_cast<std::size_t>(r) < skipRows.size() && skipRows[static_cast<std::size_t>(r)];
        if (!skipped && matrix.Columns() > 0) {
            ConfigurationTree::AddReals(row, &matrix(r, 0),
                                        static_cast<std::size_t>(matrix.Columns()));
        }
    }
}

}  // namespace velkar::patternrecognition
