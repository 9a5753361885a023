#include "velkar/util/Array.h"

namespace velkar::util {

Array::Array(const Array& other) : Collection() {
    items.reserve(other.items.size());
    for (const CollectionItem* item : other.items) {
        items.push_back(CopyItem(*item));
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

void Array::Add(int* value) { items.push_back(MakeItem(IntKind, value)); }
void Array::Add(double* value) { items.push_back(MakeItem(DoubleKind, value)); }
void Array::Add(bool* value) { items.push_back(MakeItem(BoolKind, value)); }
void Array::Add(std::string* value) { items.push_back(MakeItem(StringKind, value)); }
void Array::Add(Collection* value) { items.push_back(MakeItem(CollectionKind, value)); }

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
