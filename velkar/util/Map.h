#pragma once

// Keyed node of the configuration tree: std::string keys in plain byte-wise order ("B" before
// "a"), each at most once. Put replaces and destroys an earlier value of any kind. Getters
// return a pointer into the map (not owned by the caller), or null when the key is absent or
// holds another kind; a lookup never inserts. Copies are deep.

#include <map>
#include <string>

#include "velkar/util/Collection.h"

namespace velkar::util {

class Map : public Collection {
  public:
    Map() = default;
    Map(const Map& other);
    Map& operator=(const Map& other);
    ~Map() override;

    void Put(const std::string& key, int* value);
    void Put(const std::string& key, double* value);
    void Put(const std::string& key, bool* value);
    void Put(const std::string& key, std::string* value);
    void Put(const std::string& key, Collection* value);

    int* GetInt(const std::string& key) const;
    double* GetDouble(const std::string& key) const;
    bool* GetBool(const std::string& key) const;
    std::string* GetString(const std::string& key) const;
    Collection* GetCollection(const std::string& key) const;

    bool Exists(const std::string& key) const;
    int Size() const override;
    Collection* Copy() const override;

    const std::map<std::string, CollectionItem*>& Items() const { return items; }

  private:
    // Stores item under key, destroying an earlier one; if that fails the item is destroyed.
    void Store(const std::string& key, CollectionItem* item);
    const CollectionItem* Find(const std::string& key) const;
    void Clear();

    std::map<std::string, CollectionItem*> items;
};

}  // namespace velkar::util
