#include "velkar/util/Collection.h"

#include <stdexcept>

namespace velkar::util {

Collection::CollectionItem* Collection::MakeItem(int kind, void* value) {
    if (value == nullptr) {
        throw std::invalid_argument("A configuration value must not be null");
    }
    return new CollectionItem{kind, value};
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
    return new CollectionItem{item.kind, copy};
}

void Collection::DestroyItem(CollectionItem* item) {
    if (item == nullptr) {
        return;
    }
    switch (item->kind) {
        case IntKind:
            delete static_cast<int*>(item->value);
            break;
        case DoubleKind:
            delete static_cast<double*>(item->value);
            break;
        case BoolKind:
            delete static_cast<bool*>(item->value);
            break;
        case StringKind:
            delete static_cast<std::string*>(item->value);
            break;
        case CollectionKind:
            delete static_cast<Collection*>(item->value);
            break;
        default:
            break;
    }
    delete item;
}

}  // namespace velkar::util
