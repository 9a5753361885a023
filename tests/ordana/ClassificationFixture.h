#pragma once

// The classification tests' fixture: a perceptron trained once, on colour averages of windows
// of 5, on a 60 x 40 scene red left and blue right; every test gets a fresh folder with a scene
// of another layout (blue above, red below) and can edit the model's metadata.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "ProgramRun.h"
#include "WorkflowFixtures.h"
#include "ordana/ModelFile.h"
#include "velkar/util/Array.h"
#include "velkar/util/Map.h"

namespace ordanatest {

using velkar::util::Map;

inline velkar::util::Array* Strings(const std::vector<std::string>& values) {
    auto* array = new velkar::util::Array();
    for (const std::string& value : values) {
        array->Add(new std::string(value));
    }
    return array;
}

// A metadata map as the experiments write it; skip leaves one key out.
inline Map* Metadata(const std::string& parameters, int windowSize, const std::string& skip = "",
                     const std::string& algorithmName = "Multilayer Perceptron") {
    auto* metadata = new Map();
    if (skip != "colors") {
        metadata->Put("colors",
                      static_cast<velkar::util::Collection*>(Strings({"#ff0000", "#0000ff"})));
    }
    if (skip != "classes") {
        metadata->Put("classes", static_cast<velkar::util::Collection*>(Strings({"red", "blue"})));
    }
    metadata->Put("algorithm_version", new std::string("2.0"));
    if (skip != "algorithm_name") {
        metadata->Put("algorithm_name", new std::string(algorithmName));
    }
    if (skip != "window_size") {
        metadata->Put("window_size", new int(windowSize));
    }
    if (skip != "feature_extraction_parameters") {
        metadata->Put("feature_extraction_parameters", new std::string(parameters));
    }
    return metadata;
}

inline velkar::imageprocessing::Pixel Red(int x, int y) {
    return Rgb(200 + (x * 3 + y * 5) % 20, 30, 40);
}
inline velkar::imageprocessing::Pixel Blue(int x, int y) {
    return Rgb(30, 40 + (x * 11 + y) % 20, 200);
}

class ClassificationProgramTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        training = new TemporaryFolder();
        ASSERT_TRUE(ordanatest::WriteImage(*training / "training.png", 60, 40, [](int x, int y) {
            return x < 30 ? Red(x, y) : Blue(x, y);
        }));
        ordanatest::WritePolygonFile(
            *training / "training.cct", {"red", "blue"}, {"#ff0000", "#0000ff"},
            {{"red", Rectangle(0, 0, 30, 40)}, {"blue", Rectangle(30, 0, 60, 40)}});
        auto result = ordanatest::RunOrdana({"--image",   (*training / "training.png").string(),
                                             "--file",    (*training / "training.cct").string(),
                                             "--wca",     "--aws",
                                             "5",         "--experiments",
                                             "3",         "--mlp",
                                             "--mhidden", "4",
                                             "--mlr",     "0.3",
                                             "--mm",      "0.1",
                                             "--merr",    "0.001",
                                             "--miter",   "300",
                                             "--seed",    "17"},
                                            training->Path());
        ASSERT_EQ(result.exitStatus, 0) << result.output;
        const auto models = ordanatest::FilesWithExtension(training->Path(), "mlp");
        ASSERT_EQ(models.size(), 1u) << result.output;
        trainedModel = models[0].string();
    }

    static void TearDownTestSuite() {
        delete training;
        training = nullptr;
    }

    void SetUp() override {
        ASSERT_FALSE(trainedModel.empty()) << "training failed";
        std::filesystem::create_directory(folder / "images");
        // Blue above, red below: another layout than the training scene.
        ASSERT_TRUE(ordanatest::WriteImage(
            ImagePath(), 60, 40, [](int x, int y) { return y < 20 ? Blue(x, y) : Red(x, y); }));
    }

    std::string ImagePath() const { return (folder / "images" / "scene.png").string(); }

    ordanatest::ProgramResult Classify(const std::string& model, std::vector<std::string> more) {
        std::vector<std::string> arguments = {"--image", ImagePath(), "--modelfile", model};
        arguments.insert(arguments.end(), more.begin(), more.end());
        return ordanatest::RunOrdana(arguments, folder.Path());
    }

    // The trained model with its metadata replaced.
    std::string ModelWith(Map* metadata, const std::string& name = "edited.mlp") {
        auto model = velkar::ordana::ReadModelFile(trainedModel);
        model->Put("metadata", static_cast<velkar::util::Collection*>(metadata));
        const std::string path = (folder / name).string();
        velkar::ordana::WriteModelFile(path, *model);
        return path;
    }

    std::vector<std::filesystem::path> ResultsFiles() const {
        return ordanatest::FilesWithExtension(folder / "images", "cct");
    }
    std::vector<std::filesystem::path> SegmentationFiles() const {
        return ordanatest::FilesWithExtension(folder.Path(), "cct");
    }

    inline static TemporaryFolder* training = nullptr;
    inline static std::string trainedModel;
    TemporaryFolder folder;
};

}  // namespace ordanatest
