// Feeds arbitrary bytes to the JSON reader, then writes what it read and reads that text again.
// For trees whose keys and strings hold no quote, brace or bracket (and whose keys hold no
// colon), the written text must read again and be a fixed point: reading it back and writing
// again gives the same bytes, compact and pretty alike, and the pretty text reads back into the
// same tree. Other trees are written without escapes, so their text may split elsewhere and be
// refused as unclosed; reading it must only not fail in any other way.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "velkar/util/Array.h"
#include "velkar/util/Collection.h"
#include "velkar/util/Json.h"
#include "velkar/util/Map.h"

namespace {

using velkar::util::Array;
using velkar::util::Collection;
using velkar::util::Json;
using velkar::util::Map;

bool HasNoStructure(const std::string& text, bool isKey) {
    return text.find_first_of(isKey ? "\"{}[]:" : "\"{}[]") == std::string::npos;
}

// True when every key and string in the tree survives writing and reading unchanged.
bool IsPlain(const Collection* node) {
    auto plainItem = [](const Collection::CollectionItem* item) {
        if (item->kind == Collection::StringKind) {
            return HasNoStructure(*static_cast<const std::string*>(item->value), false);
        }
        if (item->kind == Collection::CollectionKind) {
            return IsPlain(static_cast<const Collection*>(item->value));
        }
        return true;
    };
    if (const auto* map = dynamic_cast<const Map*>(node)) {
        for (const auto& [key, item] : map->Items()) {
            if (!HasNoStructure(key, true) || !plainItem(item)) {
                return false;
            }
        }
        return true;
    }
    if (const auto* array = dynamic_cast<const Array*>(node)) {
        for (const Collection::CollectionItem* item : array->Items()) {
            if (!plainItem(item)) {
                return false;
            }
        }
        return true;
    }
    return false;
}

void CheckRoundTrip(const Json& json, const std::string& input) {
    std::unique_ptr<Collection> tree(json.Deserialize(input));
    if (tree == nullptr) {
        return;
    }
    std::string written = json.Serialize(tree.get());
    std::unique_ptr<Collection> reread(json.Deserialize(written));
    if (!IsPlain(tree.get())) {
        return;
    }
    if (reread == nullptr) {
        // The writer closes every collection and string of a plain tree where the reader's
        // splitting expects it, and the tree is no deeper than the reader allowed.
        __builtin_trap();
    }
    if (json.Serialize(reread.get()) != written) {
        __builtin_trap();
    }
    // The layout only adds whitespace around values, which reading trims away.
    Json compact(false);
    Json pretty(true);
    std::unique_ptr<Collection> fromPretty(compact.Deserialize(pretty.Serialize(tree.get())));
    if (fromPretty == nullptr ||
        compact.Serialize(fromPretty.get()) != compact.Serialize(tree.get())) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    CheckRoundTrip(Json(false), input);
    CheckRoundTrip(Json(true), input);
    return 0;
}
