// Feeds arbitrary bytes to the polygon file reader through a file, with and without the check
// that labels name classes. The reader either rejects the text with an InputError or returns a
// content that keeps its promises: polygon i has id i, at most the vertex limit, and with the
// check a label from the class list; there is one colour per class.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "TemporaryFile.h"
#include "ordana/InputError.h"
#include "ordana/PolygonFile.h"

namespace {

using fuzzing::TemporaryFile;

const std::string& InputPath() {
    static const TemporaryFile input("polygonfile-fuzz");
    return input.path;
}

void Check(const velkar::ordana::PolygonFileContent& content, bool requireKnownLabels) {
    if (content.colors.size() != content.classes.size()) {
        __builtin_trap();
    }
    for (std::size_t i = 0; i < content.polygons.size(); ++i) {
        const auto& polygon = *content.polygons[i];
        if (polygon.Id() != static_cast<int>(i) ||
            polygon.Size() > velkar::ordana::kMaxPolygonVertices) {
            __builtin_trap();
        }
        if (requireKnownLabels && std::find(content.classes.begin(), content.classes.end(),
                                            polygon.Class()) == content.classes.end()) {
            __builtin_trap();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        std::ofstream out(InputPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    for (bool requireKnownLabels : {true, false}) {
        try {
            Check(velkar::ordana::ReadPolygonFile(InputPath(), requireKnownLabels),
                  requireKnownLabels);
        } catch (const velkar::ordana::InputError&) {
        }
    }
    return 0;
}
