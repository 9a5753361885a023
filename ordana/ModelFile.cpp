#include "ordana/ModelFile.h"

#include <fstream>

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

std::shared_ptr<util::Map> ReadModelFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        throw InputError("Cannot open the model file '" + path + "'.");
    }
    // Line breaks are dropped; the tabs of the pretty layout stay.
    std::string text;
    std::string line;
    while (std::getline(in, line)) {
        text += line;
    }
    std::shared_ptr<util::Collection> tree(util::Json().Deserialize(text));
    auto model = std::dynamic_pointer_cast<util::Map>(tree);
    if (!model) {
        throw InputError("The model file '" + path + "' does not hold a JSON object.");
    }
    auto* metadata = dynamic_cast<util::Map*>(model->GetCollection("metadata"));
    if (metadata == nullptr) {
        throw InputError("The model file '" + path + "' has no \"metadata\" map.");
    }
    for (const char* key : {"algorithm_name", "feature_extraction_parameters"}) {
        if (metadata->GetString(key) == nullptr) {
            throw InputError("The metadata of the model file '" + path + "' lack the string \"" +
                             key + "\".");
        }
    }
    for (const char* key : {"classes", "colors"}) {
        if (!IsStringArray(metadata->GetCollection(key))) {
            throw InputError("The metadata of the model file '" + path +
                             "' lack the array of strings \"" + key + "\".");
        }
    }
    if (metadata->Exists("color_space") && metadata->GetString("color_space") == nullptr) {
        throw InputError("The metadata of the model file '" + path +
                         "' hold a \"color_space\" that is not a string.");
    }
    const int* windowSize = metadata->GetInt("window_size");
    if (windowSize == nullptr || *windowSize < 1) {
        throw InputError("The metadata of the model file '" + path +
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
