#pragma once

// The command line of ordana. Declares every option in its named group, answers queries about
// single options (each query parses the saved arguments afresh and forgets the parse), prints the
// general help and the help of one module, and builds the extractors, colour transformations and
// classifiers that the options select. Errors met by a query or a builder are reported through
// the writer and the query answers as for an absent option.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "ordana/AlgorithmBuilder.h"
#include "ordana/AlgorithmCatalog.h"
#include "ordana/ProtocolWriter.h"

namespace velkar::featureextraction {
class FeatureExtractionAlgorithm;
}
namespace velkar::imageprocessing {
class ColorSpaceTransformation;
}

namespace velkar::ordana {

// The extractors selected on a command line, in build order, with the parameter string of each
// keyed by the extractor's Name().
struct ExtractionSelection {
    std::vector<std::shared_ptr<featureextraction::FeatureExtractionAlgorithm>> algorithms;
    std::map<std::string, std::string> parameters;
};

class ParameterParser : public AlgorithmBuilder {
  public:
    ParameterParser(int argc, const char* const* argv, const ProtocolWriter& protocol = Protocol());
    ~ParameterParser() override;

    // The writer the parser reports through.
    const ProtocolWriter& Writer() const { return protocol; }

    bool HelpRequested();
    void PrintHelp();
    bool VersionRequested();
    void PrintVersion() const;
    // Names, as log lines, every option no group declares and every stray word; the run goes
    // on without them.
    void ReportUnknownOptions() const;
    // True once a query or a builder has reported a problem of the command line (a malformed
    // or missing value, a value an algorithm cannot use).
    bool ProblemReported() const { return problemReported; }
    bool IsChatty();
    bool HasModelFile();
    std::string ModelFile();
    std::string SamplingMethod();
    int Experiments();
    std::string ImageFile();
    // The value of --image without reporting its absence: none when it is absent.
    std::optional<std::string> GivenImageFile();
    std::string PolygonFile();
    std::string PolygonFileName();
    // The value of --output, the prefix of every output file; empty when absent.
    std::string OutputPrefix();
    // The value of --seed; a value outside the generator's seeds throws InputError.
    std::optional<unsigned> RandomSeed();

    // Throws std::runtime_error with MissingParameterMessage for the first name, in the given
    // order, that holds no value.
    static void RequireParameters(const boost::program_options::variables_map& variables,
                                  const std::vector<std::string>& names);

    ExtractionSelection FeatureExtractionAlgorithms();
    // The extractor a stored parameter string selects, or none; reportErrors false keeps the
    // reasons for none from the log.
    std::shared_ptr<featureextraction::FeatureExtractionAlgorithm> FeatureExtractionFromParameters(
        const std::string& parameters, bool reportErrors = true) override;
    std::vector<std::shared_ptr<imageprocessing::ColorSpaceTransformation>> ColorTransformations();

    std::vector<std::string> SelectedAlgorithms() override;
    std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> RestoreAlgorithm(
        const std::string& name, std::shared_ptr<util::Collection> configuration) override;
    std::shared_ptr<patternrecognition::PatternRecognitionAlgorithm> CreateAlgorithm(
        const std::string& key, int inputSize) override;

  private:
    using OptionGroup = boost::program_options::options_description;

    void DeclareOptions();
    OptionGroup& AddGroup(const std::string& caption);
    const OptionGroup& Group(const std::string& caption) const;

    // Parses the saved arguments against "Allowed options" in the library's default style.
    boost::program_options::variables_map ParseAllowed() const;
    boost::program_options::variables_map ParseAllowed(
        const std::vector<std::string>& tokens) const;
    std::vector<std::string> WithoutGeneralShortOptions(
        const std::vector<std::string>& tokens) const;
    // Parses tokens against one module group alone, long options only.
    boost::program_options::variables_map ParseModule(const std::string& caption,
                                                      const std::vector<std::string>& tokens) const;
    // Reads a string option, empty when absent; a required one reports its absence.
    std::string StringOption(const std::string& name, bool required);

    // Parses one module's options and checks them by kind (see CheckKinds).
    OptionValues ReadModule(const Module& module, const std::vector<std::string>& tokens) const;
    // Options whose values are integer lists (written comma-joined in parameter strings).
    bool IsIntegerListOption(const std::string& name) const;

    // Reports a problem of the command line and remembers that there was one.
    void Report(const std::string& text);

    const ProtocolWriter& protocol;
    std::vector<std::string> arguments;
    bool chatty = false;
    bool problemReported = false;
    std::string polygonFileName;
    std::map<std::string, std::unique_ptr<OptionGroup>> groups;
    OptionGroup allowedOptions;
    OptionGroup ordanaOptions;
};

}  // namespace velkar::ordana
