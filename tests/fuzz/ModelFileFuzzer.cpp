// Feeds arbitrary bytes to the model file reader through a file. The reader either rejects the
// text with an InputError or returns a model whose metadata holds everything the classification
// run reads: the algorithm name and parameter string, at least one class name and no more colour
// names than classes, and a window size of at least 1; the classifier it names then restores its
// state from it or refuses it. A model whose keys and strings hold no JSON structure characters
// (as every model the program writes) must also read back after writing it again.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>

#include "TemporaryFile.h"
#include "ordana/AlgorithmCatalog.h"
#include "ordana/InputError.h"
#include "ordana/ModelFile.h"
#include "velkar/util/Array.h"
#include "velkar/util/Collection.h"
#include "velkar/util/Map.h"

namespace {

using fuzzing::TemporaryFile;

const std::string& InputPath() {
    static const TemporaryFile input("modelfile-fuzz");
    return input.path;
}

const std::string& RewrittenPath() {
    static const TemporaryFile rewritten("modelfile-fuzz-rewritten");
    return rewritten.path;
}

bool HasNoStructure(const std::string& text, const char* structure) {
    return text.find_first_of(structure) == std::string::npos;
}

// True when every key and string of the tree survives writing and reading unchanged.
bool IsPlain(const velkar::util::Collection* node) {
    using velkar::util::Collection;
    auto plainItem = [](const Collection::CollectionItem* item) {
        if (item->kind == Collection::StringKind) {
            return HasNoStructure(*static_cast<const std::string*>(item->value), "\"{}[]");
        }
        if (item->kind == Collection::CollectionKind) {
            return IsPlain(static_cast<const Collection*>(item->value));
        }
        return true;
    };
    if (const auto* map = dynamic_cast<const velkar::util::Map*>(node)) {
        for (const auto& [key, item] : map->Items()) {
            if (!HasNoStructure(key, "\"{}[]:") || !plainItem(item)) {
                return false;
            }
        }
        return true;
    }
    if (const auto* array = dynamic_cast<const velkar::util::Array*>(node)) {
        for (const Collection::CollectionItem* item : array->Items()) {
            if (!plainItem(item)) {
                return false;
            }
        }
        return true;
    }
    return false;
}

void Check(const velkar::util::Map& model) {
    const velkar::util::Map& metadata = velkar::ordana::ModelMetadata(model);
    const int* windowSize = metadata.GetInt("window_size");
    if (metadata.GetString("algorithm_name") == nullptr ||
        metadata.GetString("feature_extraction_parameters") == nullptr || windowSize == nullptr ||
        *windowSize < 1) {
        __builtin_trap();
    }
    const auto* classes = metadata.GetCollection("classes");
    const auto* colors = metadata.GetCollection("colors");
    if (classes == nullptr || colors == nullptr ||
        static_cast<int>(velkar::ordana::StringList(classes).size()) != classes->Size() ||
        static_cast<int>(velkar::ordana::StringList(colors).size()) != colors->Size()) {
        __builtin_trap();
    }
    // A class number is a position in the classes, and colour i belongs to class i.
    if (classes->Size() == 0 || colors->Size() > classes->Size()) {
        __builtin_trap();
    }
}

// The classifier the model names restores its state or refuses it; sizes the file declares
// never allocate more than the file holds, so no allocation fails on an input this small.
void Restore(const std::shared_ptr<velkar::util::Map>& model) {
    const std::string name = *velkar::ordana::ModelMetadata(*model).GetString("algorithm_name");
    for (const velkar::ordana::ClassifierRow& row : velkar::ordana::ClassifierRows()) {
        if (row.displayName != name || !row.restore) {
            continue;
        }
        try {
            row.restore()->SetConfiguration(model);
        } catch (const std::bad_alloc&) {
            __builtin_trap();
        } catch (const std::exception&) {
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(InputPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::shared_ptr<velkar::util::Map> model;
    try {
        model = velkar::ordana::ReadModelFile(InputPath());
    } catch (const velkar::ordana::InputError&) {
        return 0;
    }
    Check(*model);
    Restore(model);
    if (!IsPlain(model.get())) {
        return 0;
    }
    // The writer never replaces a file: the rewritten model goes beside the placeholder.
    const std::string rewritten = velkar::ordana::WriteModelFile(RewrittenPath(), *model);
    try {
        Check(*velkar::ordana::ReadModelFile(rewritten));
    } catch (const velkar::ordana::InputError&) {
        // What the reader accepted, the writer must write readably.
        __builtin_trap();
    }
    std::filesystem::remove(rewritten);
    return 0;
}
