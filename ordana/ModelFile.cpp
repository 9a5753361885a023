#include "ordana/ModelFile.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "ordana/EchoedInput.h"
#include "ordana/InputError.h"
#include "ordana/OutputFile.h"
#include "velkar/util/Array.h"
#include "velkar/util/Json.h"

namespace velkar::ordana {

namespace {

util::Array* NewStringArray(const std::vector<std::string>& values) {
    auto* array = new util::Array();
    for (const std::string& value : values) {
        array->Add(new std::string(value));
    }
    return array;
}

bool IsStringArray(const util::Collection* collection) {
    const auto* array = dynamic_cast<const util::Array*>(collection);
    if (array == nullptr) {
        return false;
    }
    for (int i = 0; i < array->Size(); ++i) {
        if (array->GetString(i) == nullptr) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::shared_ptr<util::Map> ComposeModel(std::shared_ptr<util::Collection> configuration,
                                        patternrecognition::PatternRecognitionAlgorithm& classifier,
                                        const std::vector<std::string>& classes,
                                        const std::vector<std::string>& colors,
                                        const std::string& parameters, int windowSize,
                                        const std::string& colorSpace) {
    auto model = std::dynamic_pointer_cast<util::Map>(configuration);
    if (!model) {
        model = std::make_shared<util::Map>();
    }
    auto* metadata = new util::Map();
    metadata->Put("colors", static_cast<util::Collection*>(NewStringArray(colors)));
    metadata->Put("classes", static_cast<util::Collection*>(NewStringArray(classes)));
    metadata->Put("algorithm_version", new std::string(classifier.Version()));
    metadata->Put("algorithm_name", new std::string(classifier.Name()));
    metadata->Put("window_size", new int(windowSize));
    metadata->Put("feature_extraction_parameters", new std::string(parameters));
    if (!colorSpace.empty()) {
        metadata->Put("color_space", new std::string(colorSpace));
    }
    model->Put("metadata", static_cast<util::Collection*>(metadata));
    return model;
}

std::string WriteModelFile(const std::string& path, const util::Map& model) {
    OutputFile file(path);
    file.Stream() << util::Json(true).Serialize(&model);
    return file.Commit();
}

namespace {

// The text of the model file without its line breaks (the tabs of the pretty layout stay).
// The file is read in blocks, so a file past the limit (or an endless device) is refused once
// the limit is passed, before more of it is held.
std::string ModelText(const std::string& path, std::size_t sizeLimit) {
    const auto tooLarge = [&] {
        return InputError("The model file '" + EchoedPath(path) + "' is larger than " +
                          std::to_string(sizeLimit) + " bytes, more than any model holds.");
    };
    // A directory is no regular file: OpenInputFile names it.
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error) &&
        std::filesystem::file_size(path, error) > sizeLimit && !error) {
        throw tooLarge();
    }
    std::ifstream in = OpenInputFile("model", path);
    std::string text;
    std::string block(1 << 16, '\0');
    std::size_t total = 0;
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        const auto count = static_cast<std::size_t>(in.gcount());
        total += count;
        if (total > sizeLimit) {
            throw tooLarge();
        }
        const char* end = block.data() + count;
        for (const char* from = block.data(); from < end;) {
            const char* lineEnd = std::find(from, end, '\n');
            text.append(from, lineEnd);
            from = lineEnd == end ? end : lineEnd + 1;
        }
    }
    if (in.bad()) {
        throw InputError("Cannot read the model file '" + EchoedPath(path) + "'.");
    }
    return text;
}

}  // namespace

std::shared_ptr<util::Map> ReadModelFile(const std::string& path, std::size_t sizeLimit) {
    const std::string shownPath = EchoedPath(path);
    std::shared_ptr<util::Collection> tree(util::Json().Deserialize(ModelText(path, sizeLimit)));
    auto model = std::dynamic_pointer_cast<util::Map>(tree);
    if (!model) {
        throw InputError("The model file '" + shownPath +
                         "' does not hold a whole JSON object (is it cut short?).");
    }
    auto* metadata = dynamic_cast<util::Map*>(model->GetCollection("metadata"));
    if (metadata == nullptr) {
        throw InputError("The model file '" + shownPath + "' has no \"metadata\" map.");
    }
    for (const char* key : {"algorithm_name", "feature_extraction_parameters"}) {
        if (metadata->GetString(key) == nullptr) {
            throw InputError("The metadata of the model file '" + shownPath +
                             "' lack the string \"" + key + "\".");
        }
    }
    for (const char* key : {"classes", "colors"}) {
        if (!IsStringArray(metadata->GetCollection(key))) {
            throw InputError("The metadata of the model file '" + shownPath +
                             "' lack the array of strings \"" + key + "\".");
        }
    }
    // A class number is a position in "classes", and colour i belongs to class i.
    const int classCount = metadata->GetCollection("classes")->Size();
    const int colourCount = metadata->GetCollection("colors")->Size();
    if (classCount == 0) {
        throw InputError("The metadata of the model file '" + shownPath +
                         "' hold an empty \"classes\" array; the model can name no class.");
    }
    if (colourCount > classCount) {
        throw InputError("The metadata of the model file '" + shownPath + "' hold " +
                         std::to_string(colourCount) + " \"colors\" for " +
                         std::to_string(classCount) + " \"classes\".");
    }
    if (metadata->Exists("color_space") && metadata->GetString("color_space") == nullptr) {
        throw InputError("The metadata of the model file '" + shownPath +
                         "' hold a \"color_space\" that is not a string.");
    }
    const int* windowSize = metadata->GetInt("window_size");
    if (windowSize == nullptr || *windowSize < 1) {
        throw InputError("The metadata of the model file '" + shownPath +
                         "' lack a \"window_size\" of at least 1.");
    }
    return model;
}

util::Map& ModelMetadata(const util::Map& model) {
    return *dynamic_cast<util::Map*>(model.GetCollection("metadata"));
}

std::vector<std::string> StringList(const util::Collection* collection) {
    std::vector<std::string> values;
    const auto* array = dynamic_cast<const util::Array*>(collection);
    for (int i = 0; array != nullptr && i < array->Size(); ++i) {
        if (const std::string* value = array->GetString(i)) {
            values.push_back(*value);
        }
    }
    return values;
}

}  // namespace velkar::ordana
