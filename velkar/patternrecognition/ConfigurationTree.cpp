#include "velkar/patternrecognition/ConfigurationTree.h"

#include <cmath>
#include <set>
#include <stdexcept>

namespace velkar::patternrecognition {

namespace {

// Reals may be written as integers in a hand-edited file; both are accepted as reals.
const double* RealOrNull(const double* real, const int* integer, double& storage) {
    if (real != nullptr) {
        return real;
    }
    if (integer != nullptr) {
        storage = *integer;
        return &storage;
    }
    return nullptr;
}

}  // namespace

void ConfigurationTree::Reject(const std::string& key, const std::string& problem) const {
    throw std::runtime_error(owner + ": \"" + key + "\" " + problem);
}

std::string ConfigurationTree::Indexed(const std::string& key, int index) {
    return key + "[" + std::to_string(index) + "]";
}

const util::Map& ConfigurationTree::Root(const util::Collection* root) const {
    const auto* map = dynamic_cast<const util::Map*>(root);
    if (map == nullptr) {
        throw std::runtime_error(owner + ": expected a map");
    }
    return *map;
}

const util::Array& ConfigurationTree::ArrayAt(const util::Map& map, const std::string& key) const {
    const auto* array = dynamic_cast<const util::Array*>(map.GetCollection(key));
    if (array == nullptr) {
        Reject(key, map.Exists(key) ? "is not an array" : "is missing");
    }
    return *array;
}

const util::Array& ConfigurationTree::ArrayAt(const util::Array& array, int index,
                                              const std::string& path) const {
    const auto* inner = dynamic_cast<const util::Array*>(array.GetCollection(index));
    if (inner == nullptr) {
        Reject(Indexed(path, index), "is not an array");
    }
    return *inner;
}

const util::Map& ConfigurationTree::MapAt(const util::Array& array, int index,
                                          const std::string& path) const {
    const auto* inner = dynamic_cast<const util::Map*>(array.GetCollection(index));
    if (inner == nullptr) {
        Reject(Indexed(path, index), "is not a map");
    }
    return *inner;
}

int ConfigurationTree::Int(const util::Map& map, const std::string& key) const {
    const int* value = map.GetInt(key);
    if (value == nullptr) {
        Reject(key, map.Exists(key) ? "is not an integer" : "is missing");
    }
    return *value;
}

int ConfigurationTree::Int(const util::Array& array, int index, const std::string& path) const {
    const int* value = array.GetInt(index);
    if (value == nullptr) {
        Reject(Indexed(path, index), "is not an integer");
    }
    return *value;
}

double ConfigurationTree::Real(const util::Map& map, const std::string& key) const {
    double storage = 0.0;
    const double* value = RealOrNull(map.GetDouble(key), map.GetInt(key), storage);
    if (value == nullptr) {
        Reject(key, map.Exists(key) ? "is not a number" : "is missing");
    }
    if (!std::isfinite(*value)) {
        Reject(key, "is not a finite number");
    }
    return *value;
}

double ConfigurationTree::Real(const util::Array& array, int index, const std::string& path) const {
    double storage = 0.0;
    const double* value = RealOrNull(array.GetDouble(index), array.GetInt(index), storage);
    if (value == nullptr) {
        Reject(Indexed(path, index), "is not a number");
    }
    if (!std::isfinite(*value)) {
        Reject(Indexed(path, index), "is not a finite number");
    }
    return *value;
}

void ConfigurationTree::CheckTableSize(const std::string& key, long long rows,
                                       long long columns) const {
    if (rows > 0 && columns > 0 && rows > kMaxTableValues / columns) {
        Reject(key, "describes " + std::to_string(rows) + " x " + std::to_string(columns) +
                        " values, more than the " + std::to_string(kMaxTableValues) +
                        " a model may hold");
    }
}

std::vector<double> ConfigurationTree::Reals(const util::Map& map, const std::string& key,
                                             int length) const {
    const util::Array& array = ArrayAt(map, key);
    CheckTableSize(key, 1, length >= 0 ? length : array.Size());
    if (length >= 0 && array.Size() != length) {
        Reject(key, "has " + std::to_string(array.Size()) + " entries, expected " +
                        std::to_string(length));
    }
    std::vector<double> values;
    values.reserve(array.Size());
    for (int i = 0; i < array.Size(); ++i) {
        values.push_back(Real(array, i, key));
    }
    return values;
}

std::vector<double> ConfigurationTree::RealRows(const util::Map& map, const std::string& key,
                                                int rows, int columns) const {
    CheckTableSize(key, rows, columns);
    const util::Array& array = ArrayAt(map, key);
    if (array.Size() != rows) {
        Reject(key,
               "has " + std::to_string(array.Size()) + " rows, expected " + std::to_string(rows));
    }
    // Every row is checked before the whole table is allocated, so the table is never larger
    // than the tree that describes it.
    for (int r = 0; r < rows; ++r) {
        const util::Array& row = ArrayAt(array, r, key);
        if (row.Size() != columns) {
            Reject(Indexed(key, r), "has " + std::to_string(row.Size()) + " entries, expected " +
                                        std::to_string(columns));
        }
    }
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns));
    for (int r = 0; r < rows; ++r) {
        const util::Array& row = ArrayAt(array, r, key);
        for (int c = 0; c < columns; ++c) {
            values.push_back(Real(row, c, Indexed(key, r)));
        }
    }
    return values;
}

std::vector<int> ConfigurationTree::TaggedClasses(const util::Map& map,
                                                  const std::string& key) const {
    const util::Array& array = ArrayAt(map, key);
    const int count = array.Size();
    std::vector<int> classIds(count, 0);
    std::vector<bool> indexUsed(count, false);
    std::set<int> seenIds;
    for (int i = 0; i < count; ++i) {
        const std::string entryKey = Indexed(key, i);
        const util::Map& entry = MapAt(array, i, key);
        const int* classId = entry.GetInt("key");
        const int* index = entry.GetInt("value");
        if (classId == nullptr || index == nullptr) {
            Reject(entryKey, "needs integer \"key\" and \"value\"");
        }
        if (*index < 0 || *index >= count) {
            Reject(entryKey, "maps to index " + std::to_string(*index) + ", outside [0, " +
                                 std::to_string(count) + ")");
        }
        if (!seenIds.insert(*classId).second) {
            Reject(entryKey, "repeats class " + std::to_string(*classId));
        }
        if (indexUsed[*index]) {
            Reject(entryKey, "repeats index " + std::to_string(*index));
        }
        indexUsed[*index] = true;
        classIds[*index] = *classId;
    }
    return classIds;
}

util::Array& ConfigurationTree::PutArray(util::Map& parent, const std::string& key) {
    auto* array = new util::Array();
    parent.Put(key, array);
    return *array;
}

util::Array& ConfigurationTree::AddArray(util::Array& parent) {
    auto* array = new util::Array();
    parent.Add(array);
    return *array;
}

void ConfigurationTree::AddReals(util::Array& array, const double* values, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        array.Add(new double(values[i]));
    }
}

void ConfigurationTree::PutRealRows(util::Map& parent, const std::string& key, const double* values,
                                    std::size_t rows, std::size_t rowLength) {
    util::Array& table = PutArray(parent, key);
    for (std::size_t r = 0; r < rows; ++r) {
        AddReals(AddArray(table), values + r * rowLength, rowLength);
    }
}

void ConfigurationTree::PutTaggedClasses(util::Map& parent, const std::string& key,
                                         const std::map<int, int>& taggedClasses) {
    util::Array& tagged = PutArray(parent, key);
    for (const auto& [classId, index] : taggedClasses) {
        auto* entry = new util::Map();
        tagged.Add(entry);
        entry->Put("key", new int(classId));
        entry->Put("value", new int(index));
    }
}

}  // namespace velkar::patternrecognition
