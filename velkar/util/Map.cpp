#include "velkar/util/Map.h"

#include <tuple>

namespace velkar::util {

Map::Map(const Map& other) : Collection() {
    try {
        for (const auto& [key, item] : other.items) {
            Store(key, CopyItem(*item));
        }
    } catch (...) {
        // The destructor does not run for a half-built object.
        Clear();
        throw;
    }
}

Map& Map::operator=(const Map& other) {
    if (this != &other) {
        Map copy(other);
        Clear();
        items.swap(copy.items);
    }
    return *this;
}

Map::~Map() { Clear(); }

void Map::Clear() {
    for (auto& entry : items) {
        DestroyItem(entry.second);
    }
    items.clear();
}

void Map::Store(const std::string& key, CollectionItem* item) {
    std::map<std::string, CollectionItem*>::iterator position;
    bool inserted = false;
    try {
        std::tie(position, inserted) = items.emplace(key, item);
    } catch (...) {
        DestroyItem(item);
        throw;
    }
    if (!inserted) {
        DestroyItem(position->second);
        position->second = item;
    }
}

void Map::Put(const std::string& key, int* value) { Store(key, MakeItem(IntKind, value)); }
void Map::Put(const std::string& key, double* value) { Store(key, MakeItem(DoubleKind, value)); }
void Map::Put(const std::string& key, bool* value) { Store(key, MakeItem(BoolKind, value)); }
void Map::Put(const std::string& key, std::string* value) {
    Store(key, MakeItem(StringKind, value));
}
void Map::Put(const std::string& key, Collection* value) {
    Store(key, MakeItem(CollectionKind, value));
}

const Collection::CollectionItem* Map::Find(const std::string& key) const {
    auto position = items.find(key);
    return position == items.end() ? nullptr : position->second;
}

int* Map::GetInt(const std::string& key) const { return ValueAs<int>(Find(key), IntKind); }
double* Map::GetDouble(const std::string& key) const {
    return ValueAs<double>(Find(key), DoubleKind);
}
bool* Map::GetBool(const std::string& key) const { return ValueAs<bool>(Find(key), BoolKind); }
std::string* Map::GetString(const std::string& key) const {
    return ValueAs<std::string>(Find(key), StringKind);
}
Collection* Map::GetCollection(const std::string& key) const {
    return ValueAs<Collection>(Find(key), CollectionKind);
}

bool Map::Exists(const std::string& key) const { return items.count(key) != 0; }

int Map::Size() const { return static_cast<int>(items.size()); }

Collection* Map::Copy() const { return new Map(*this); }

}  // namespace velkar::util
