// Feeds arbitrary bytes to the descriptor file reader through a file. The first byte chooses the
// feature count (0 to 7); the rest is the file. The reader either rejects the text with an error
// naming file and line, or returns patterns that each hold exactly that many values and a class
// number inside the class list whose name is the pattern's class name.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "TemporaryFile.h"
#include "ordana/ExperimentRunner.h"

namespace {

const std::string& InputPath() {
    static const fuzzing::TemporaryFile input("descriptorfile-fuzz");
    return input.path;
}

const std::vector<std::string> kClasses = {"water", "forest", "field"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    const int featureCount = data[0] % 8;
    {
        std::ofstream out(InputPath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    velkar::ordana::PatternSet patterns;
    try {
        patterns = velkar::ordana::LoadPatterns(InputPath(), featureCount, kClasses);
    } catch (const std::runtime_error& error) {
        if (std::string(error.what()).find(InputPath()) == std::string::npos) {
            __builtin_trap();
        }
        return 0;
    }
    for (const auto& pattern : *patterns) {
        const int classNumber = pattern->Class();
        if (static_cast<int>(pattern->Descriptors()->size()) != featureCount || classNumber < 0 ||
            classNumber >= static_cast<int>(kClasses.size()) ||
            kClasses[static_cast<std::size_t>(classNumber)] != pattern->ClassName()) {
            __builtin_trap();
        }
    }
    return 0;
}
