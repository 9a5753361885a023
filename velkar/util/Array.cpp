#include "velkar/util/Array.h"

namespace velkar::util {

Array::Array(const Array& other) : Collection() {
    items.reserve(other.items.size());
    try {
        for (const CollectionItem* item : other.items) {
            items.push_back(CopyItem(*item));
        }
    } catch (...) {
        // The destructor does not run for a half-built object.
        Clear();
        throw;
    }
}

Array& Array::operator=(const Array& other) {
    if (this != &other) {
        Array copy(other);
        Clear();
        items.swap(copy.items);
    }
    return *this;
}

Array::~Array() { Clear(); }

void Array::Clear() {
    for (CollectionItem* item : items) {
        DestroyItem(item);
    }
    items.clear();
}

void Array::Append(CollectionItem* item) {
    try {
        items.push_back(item);
    } catch (...) {
        DestroyItem(item);
        throw;
    }
}

void Array::Add(int* value) { Append(MakeItem(IntKind, value)); }
void Array::Add(double* value) { Append(MakeItem(DoubleKind, value)); }
void Array::Add(bool* value) { Append(MakeItem(BoolKind, value)); }
void Array::Add(std::string* value) { Append(MakeItem(StringKind, value)); }
void Array::Add(Collection* value) { Append(MakeItem(CollectionKind, value)); }

const Collection::CollectionItem* Array::ItemAt(int index) const {
    // Read as unsigned, a negative index is out of range too.
    if (static_cast<unsigned>(index) >= items.size()) {
        return nullptr;
    }
    return items[static_cast<unsigned>(index)];
}

int* Array::GetInt(int index) const { return ValueAs<int>(ItemAt(index), IntKind); }
double* Array::GetDouble(int index) const { return ValueAs<double>(ItemAt(index), DoubleKind); }
bool* Array::GetBool(int index) const { return ValueAs<bool>(ItemAt(index), BoolKind); }
std::string* Array::GetString(int index) const {
    return ValueAs<std::string>(ItemAt(index), StringKind);
}
Collection* Array::GetCollection(int index) const {
    return ValueAs<Collection>(ItemAt(index), CollectionKind);
}

int Array::Size() const { return static_cast<int>(items.size()); }

Collection* Array::Copy() const { return new Array(*this); }

}  // namespace velkar::util
