#pragma once

// Ordered node of the configuration tree: items in insertion order, indexed from 0. Getters
// return a pointer into the array (not owned by the caller), or null when the index is out of
// range (negative indices included) or the item holds another kind. Copies are deep.

#include <string>
#include <vector>

#include "velkar/util/Collection.h"

namespace velkar::util {

class Array : public Collection {
  public:
    Array() = default;
    Array(const Array& other);
    Array& operator=(const Array& other);
    ~Array() override;

    void Add(int* value);
    void Add(double* value);
    void Add(bool* value);
    void Add(std::string* value);
    void Add(Collection* value);

    int* GetInt(int index) const;
    double* GetDouble(int index) const;
    bool* GetBool(int index) const;
    std::string* GetString(int index) const;
    Collection* GetCollection(int index) const;

    int Size() const override;
    Collection* Copy() const override;

    const std::vector<CollectionItem*>& Items() const { return items; }

  private:
    // Appends an item; if that fails the item and its value are destroyed.
    void Append(CollectionItem* item);
    const CollectionItem* ItemAt(int index) const;
    void Clear();

    std::vector<CollectionItem*> items;
};

}  // namespace velkar::util
