#include "velkar/patternrecognition/ModelTree.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "velkar/util/Array.h"

namespace velkar::patternrecognition {

namespace {

std::string Indexed(const std::string& key, int index) {
    return key + "[" + std::to_string(index) + "]";
}

}  // namespace

ModelTree::ModelTree(const std::shared_ptr<util::Collection>& configuration, std::string name)
    : root(dynamic_cast<const util::Map*>(configuration.get())), owner(std::move(name)) {
    if (root == nullptr) {
        throw std::runtime_error(owner + " configuration: expected a map");
    }
}

void ModelTree::Reject(const std::string& key, const std::string& problem) const {
    throw std::runtime_error(owner + " configuration: \"" + key + "\" " + problem);
}

int ModelTree::Integer(const std::string& key, int minimum, int maximum) const {
    const int* value = root->GetInt(key);
    if (value == nullptr) {
        Reject(key, "is missing or not an integer");
    }
    if (*value < minimum || *value > maximum) {
        Reject(key, "is " + std::to_string(*value) + ", outside " + std::to_string(minimum) +
                        " ... " + std::to_string(maximum));
    }
    return *value;
}

math::Matrix<double> ModelTree::Rows(const std::string& key, int rows, int columns,
                                     std::vector<bool>* emptyRows) const {
    const auto* array = dynamic_cast<const util::Array*>(root->GetCollection(key));
    if (array == nullptr) {
        Reject(key, "is missing or not an array");
    }
    if (array->Size() != rows) {
        Reject(key,
               "has " + std::to_string(array->Size()) + " rows, expected " + std::to_string(rows));
    }
    // Row lengths are checked first, so the sizes read from the tree never allocate more than
    // the tree holds.
    std::vector<const util::Array*> rowArrays;
    std::vector<bool> empty(static_cast<std::size_t>(rows), false);
    for (int r = 0; r < rows; ++r) {
        const auto* row = dynamic_cast<const util::Array*>(array->GetCollection(r));
        if (row == nullptr) {
            Reject(Indexed(key, r), "is not an array");
        }
        if (row->Size() == 0 && emptyRows != nullptr && columns > 0) {
            empty[static_cast<std::size_t>(r)] = true;
        } else if (row->Size() != columns) {
            Reject(Indexed(key, r), "has " + std::to_string(row->Size()) + " values, expected " +
                                        std::to_string(columns));
        }
        rowArrays.push_back(row);
    }
    if (rows > 0 && std::find(empty.begin(), empty.end(), false) == empty.end()) {
        Reject(key, "has no row with values");
    }
    math::Matrix<double> matrix(rows, columns);
    for (int r = 0; r < rows; ++r) {
        const util::Array& row = *rowArrays[static_cast<std::size_t>(r)];
        for (int c = 0; c < columns; ++c) {
            double value = std::numeric_limits<double>::quiet_NaN();
            if (empty[static_cast<std::size_t>(r)]) {
                matrix(r, c) = value;
                continue;
            }
            if (const double* real = row.GetDouble(c)) {
                value = *real;
            } else if (const int* integer = row.GetInt(c)) {
                value = *integer;
            } else {
                Reject(Indexed(Indexed(key, r), c), "is not a number");
            }
            if (!std::isfinite(value)) {
                Reject(Indexed(Indexed(key, r), c), "is not finite");
            }
            matrix(r, c) = value;
        }
    }
    if (emptyRows != nullptr) {
        *emptyRows = std::move(empty);
    }
    return matrix;
}

void ModelTree::PutRows(util::Map& map, const std::string& key, const math::Matrix<double>& matrix,
                        const std::vector<bool>& skipRows) {
    // Each array is attached to its parent before it is filled, so the tree owns every node at
    // all times and nothing leaks if an allocation fails half-way.
    auto* array = new util::Array();
    map.Put(key, array);
    for (int r = 0; r < matrix.Rows(); ++r) {
        auto* row = new util::Array();
        array->Add(row);
        if (static_cast<std::size_t>(r) < skipRows.size() &&
            skipRows[static_cast<std::size_t>(r)]) {
            continue;
        }
        for (int c = 0; c < matrix.Columns(); ++c) {
            row->Add(new double(matrix(r, c)));
        }
    }
}

}  // namespace velkar::patternrecognition
