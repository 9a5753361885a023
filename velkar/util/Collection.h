#pragma once

// Abstract node of the configuration tree. A node holds typed values (32-bit int, double,
// bool, std::string, or a nested Collection) each stored as an owned heap object inside a
// CollectionItem. Values handed to a node must come from `new`; the node owns and deletes them.
// The concrete nodes are Map (keys in byte-wise order) and Array (insertion order); a caller
// finds which one it holds with dynamic_cast. Not thread-safe.

#include <string>

namespace velkar::util {

class Collection {
  public:
    enum Kind : int {
        IntKind = 0,
        DoubleKind = 1,
        BoolKind = 2,
        StringKind = 3,
        CollectionKind = 4
    };

    struct CollectionItem {
        int kind;
        void* value;
    };

    virtual int Size() const = 0;
    // A deep copy of the node, of the same kind, owned by the caller.
    virtual Collection* Copy() const = 0;
    virtual ~Collection() = default;

  protected:
    // A new item holding a fresh heap copy of the item's value.
    static CollectionItem* CopyItem(const CollectionItem& item);
    // Deletes the item's value by its kind, then the item.
    static void DestroyItem(CollectionItem* item);
    // Wraps an owned value in a new item; a null value is rejected with std::invalid_argument.
    static CollectionItem* MakeItem(int kind, void* value);

    // Typed access to an item's value: null when the item is missing or of another kind.
    template <typename T>
    static T* ValueAs(const CollectionItem* item, int kind) {
        if (item == nullptr || item->kind != kind) {
            return nullptr;
        }
        return static_cast<T*>(item->value);
    }
};

}  // namespace velkar::util
