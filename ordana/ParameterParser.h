#pragma once

// The command line of ordana. Declares every option in its named group, answers queries about
// single options (each query parses the saved arguments afresh and forgets the parse), prints the
// general help and the help of one module, and reads a module's options for AlgorithmFactory.
// Errors met by a query are reported through the writer and the query answers as for an absent
// option.

#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "ordana/AlgorithmCatalog.h"
#include "ordana/ProtocolWriter.h"

namespace velkar::ordana {

class ParameterParser {
  public:
    ParameterParser(int argc, const char* const* argv, const ProtocolWriter& protocol = Protocol());
    ~ParameterParser();

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
    // The value of a text option, none when it is absent (--bands, --stretch).
    std::optional<std::string> GivenText(const std::string& name);
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

    // What AlgorithmFactory reads the options with: the saved arguments, tokens parsed against
    // the general options and the selector flags, and one module's values checked by kind (see
    // CheckKinds); the last two throw on a command line they cannot read.
    const std::vector<std::string>& Arguments() const { return arguments; }
    boost::program_options::variables_map ParseAllowed(
        const std::vector<std::string>& tokens) const;
    OptionValues ReadModule(const Module& module, const std::vector<std::string>& tokens) const;
    // Reports, when report is true, an error met while reading the command line or building
    // from it (the option library's with the user's input it quotes clipped); running out of
    // memory is no such error and is thrown on. Called while error is being handled.
    void HandleError(const std::exception& error, bool report = true);

  private:
    using OptionGroup = boost::program_options::options_description;

    void DeclareOptions();
    OptionGroup& AddGroup(const std::string& caption);
    const OptionGroup& Group(const std::string& caption) const;

    // Parses the saved arguments against "Allowed options" in the library's default style.
    boost::program_options::variables_map ParseAllowed() const;
    std::vector<std::string> WithoutGeneralShortOptions(
        const std::vector<std::string>& tokens) const;
    // Parses tokens against one module group alone, long options only.
    boost::program_options::variables_map ParseModule(const std::string& caption,
                                                      const std::vector<std::string>& tokens) const;
    // Reads a string option, empty when absent; a required one reports its absence.
    std::string StringOption(const std::string& name, bool required);

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
