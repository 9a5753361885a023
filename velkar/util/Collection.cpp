#include "velkar/util/Collection.h"

#include <stdexcept>

namespace velkar::util {

namespace {

void DeleteValue(int kind, void* value) {
    switch (kind) {
        case Collection::IntKind:
            delete static_cast<int*>(value);
            break;
        case Collection::DoubleKind:
            delete static_cast<double*>(value);
            break;
        case Collection::BoolKind:
            delete static_cast<bool*>(value);
            break;
        case Collection::StringKind:
            delete static_cast<std::string*>(value);
            break;
        case Collection::CollectionKind:
            delete static_cast<Collection*>(value);
            break;
        default:
            break;
    }
}

// Wraps a value that is already owned by the tree; if the wrapper cannot be allocated the value
// is freed, so that no path leaks what a caller handed over.
Collection::CollectionItem* Wrap(int kind, void* value) {
    try {
        return new Collection::CollectionItem{kind, value};
    } catch (...) {
        DeleteValue(kind, value);
        throw;
    }
}

}  // namespace

Collection::CollectionItem* Collection::MakeItem(int kind, void* value) {
    if (value == nullptr) {
        throw std::invalid_argument("A configuration value must not be null");
    }
    return Wrap(kind, value);
}

Collection::CollectionItem* Collection::CopyItem(const CollectionItem& item) {
    void* copy = nullptr;
    switch (item.kind) {
        case IntKind:
            copy = new int(*static_cast<int*>(item.value));
            break;
        case DoubleKind:
            copy = new double(*static_cast<double*>(item.value));
            break;
        case BoolKind:
            copy = new bool(*static_cast<bool*>(item.value));
            break;
        case StringKind:
            copy = new std::string(*static_cast<std::string*>(item.value));
            break;
        case CollectionKind:
            copy = static_cast<Collection*>(item.value)->Copy();
            break;
        default:
            throw std::logic_error("Unknown configuration value kind");
    }
    return Wrap(item.kind, copy);
}

void Collection::DestroyItem(CollectionItem* item) {
    if (item == nullptr) {
        return;
    }
    DeleteValue(item->kind, item->value);
    delete item;
}

}  // namespace velkar::util
