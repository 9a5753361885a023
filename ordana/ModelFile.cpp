#include "ordana/ModelFile.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <optional>
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
                                        const std::string& colorSpace, const BandRequest& bands) {
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
    if (bands.numbers) {
        auto* numbers = new util::Array();
        for (const int number : *bands.numbers) {
            numbers->Add(new int(number));
        }
        metadata->Put("bands", static_cast<util::Collection*>(numbers));
    }
    if (bands.stretches) {
        auto* stretches = new util::Array();
        for (const auto& stretch : *bands.stretches) {
            auto* pair = new util::Array();
            if (stretch) {
                pair->Add(new double(stretch->low));
                pair->Add(new double(stretch->high));
            }
            stretches->Add(static_cast<util::Collection*>(pair));
        }
        metadata->Put("stretch", static_cast<util::Collection*>(stretches));
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

// A number of an array, written as an integer or a real.
std::optional<double> NumberAt(const util::Array& array, int index) {
    if (const double* real = array.GetDouble(index)) {
        return *real;
    }
    if (const int* whole = array.GetInt(index)) {
        return *whole;
    }
    return std::nullopt;
}

void CheckBandRecord(const util::Map& metadata, const std::string& shownPath) {
    const auto refuse = [&shownPath](const std::string& what) {
        return InputError("The metadata of the model file '" + shownPath + "' hold " + what + ".");
    };
    int bandCount = -1;
    if (metadata.Exists("bands")) {
        const auto* bands = dynamic_cast<const util::Array*>(metadata.GetCollection("bands"));
        bool valid = bands != nullptr && bands->Size() > 0;
        for (int i = 0; valid && i < bands->Size(); ++i) {
            valid = bands->GetInt(i) != nullptr && *bands->GetInt(i) >= 1;
        }
        if (!valid) {
            throw refuse("\"bands\" that are not a list of band numbers from 1");
        }
        bandCount = bands->Size();
    }
    if (!metadata.Exists("stretch")) {
        return;
    }
    const auto* stretches = dynamic_cast<const util::Array*>(metadata.GetCollection("stretch"));
    if (stretches == nullptr || stretches->Size() != bandCount) {
        throw refuse("a \"stretch\" that is not a list of one pair per band of \"bands\"");
    }
    for (int i = 0; i < stretches->Size(); ++i) {
        const auto* pair = dynamic_cast<const util::Array*>(stretches->GetCollection(i));
        if (pair != nullptr && pair->Size() == 0) {
            continue;
        }
        double low = 0.0;
        double high = 0.0;
        bool valid = pair != nullptr && pair->Size() == 2;
        if (valid) {
            const std::optional<double> first = NumberAt(*pair, 0);
            const std::optional<double> second = NumberAt(*pair, 1);
            valid = first.has_value() && second.has_value();
            low = first.value_or(0.0);
            high = second.value_or(0.0);
        }
        if (!valid || !std::isfinite(low) || !std::isfinite(high) || low > high) {
            throw refuse("a \"stretch\" whose item " + std::to_string(i + 1) +
                         " is neither [] nor [low, high] with low not above high");
        }
    }
}

}  // namespace

BandRequest ModelBands(const util::Map& metadata) {
    BandRequest request;
    if (const auto* bands = dynamic_cast<const util::Array*>(metadata.GetCollection("bands"))) {
        request.numbers.emplace();
        for (int i = 0; i < bands->Size(); ++i) {
            request.numbers->push_back(*bands->GetInt(i));
        }
    }
    if (const auto* stretches =
            dynamic_cast<const util::Array*>(metadata.GetCollection("stretch"))) {
        request.stretches.emplace();
        for (int i = 0; i < stretches->Size(); ++i) {
            const auto& pair = *dynamic_cast<const util::Array*>(stretches->GetCollection(i));
            if (pair.Size() == 2) {
                request.stretches->push_back(RasterFile::Stretch{*NumberAt(pair, 0), *NumberAt(pair, 1)});
            } else {
                request.stretches->push_back(std::nullopt);
            }
        }
    }
    return request;
}

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
    CheckBandRecord(*metadata, shownPath);
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
