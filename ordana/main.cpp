// ordana: classifies the polygonal regions of raster images. Without --modelfile it runs train
// and test experiments on a labelled image; with one it classifies a new image. With --chatty it
// frames the run with "[TASK] !Setting up!" and "[STATUS] !<results file>!" for a front end.
// Exit status: 0 when the run completed its work (and for help and version), 2 when the command
// line or an input file cannot be used (an unknown option or module name, a stray word, a
// missing or refused value: the command line is checked before anything is read), 1 when the
// library fails during a run, 130 and 143 when SIGINT or SIGTERM ends it.

#include <exception>
#include <new>
#include <string>

#include "ordana/AlgorithmFactory.h"
#include "ordana/ClassificationRun.h"
#include "ordana/ExperimentRunner.h"
#include "ordana/FileNames.h"
#include "ordana/InputError.h"
#include "ordana/Interruption.h"
#include "ordana/OutputFile.h"
#include "ordana/ParameterParser.h"
#include "ordana/ProtocolWriter.h"
#include "velkar/util/Random.h"

int main(int argc, char** argv) {
    using namespace velkar::ordana;

    Interruption::Install();
    ProtocolWriter& protocol = Protocol();
    ParameterParser parser(argc, argv, protocol);
    AlgorithmFactory factory(parser);
    if (parser.HelpRequested()) {
        parser.PrintHelp();
        return parser.ProblemReported() ? 2 : 0;
    }
    if (parser.VersionRequested()) {
        parser.PrintVersion();
        return 0;
    }
    protocol.SetChatty(parser.ChattyRequested());
    protocol.Task("Setting up");
    OutputFile::SetAnnouncer([&protocol](const std::string& path) { protocol.Wrote(path); });

    std::string status;
    int exitCode = 0;
    try {
        // Mistakes of the command line are named before anything is read, built or written.
        if (!parser.CheckCommandLine()) {
            throw InputError::AlreadyReported();
        }
        const std::string folder = MakeOutputFolder(parser.OutputPrefix());
        if (!folder.empty()) {
            protocol.ForPerson("Made the folder " + folder);
        }
        // Seeded once, before anything draws, so that the same seed repeats the run exactly.
        if (const auto seed = parser.RandomSeed()) {
            velkar::util::Seed(*seed);
        }
        if (parser.HasModelFile()) {
            status = RunClassificationMode(parser, factory, protocol);
        } else {
            RunExperimentMode(parser, factory, protocol);
        }
    } catch (const InputError& error) {
        if (*error.what() != '\0') {
            protocol.Error(error.what());
        }
        exitCode = 2;
    } catch (const std::bad_alloc&) {
        protocol.Error("The run needs more memory than this machine gives it.");
        exitCode = 1;
    } catch (const std::exception& error) {
        protocol.Error(error.what());
        exitCode = 1;
    }
    if (exitCode == 0 && parser.ProblemReported()) {
        exitCode = 2;
    }
    // Only a run that completes leaves its files: a set without its report or model (a full
    // disk, a classifier that failed) would be taken for a whole one.
    if (exitCode != 0) {
        const std::size_t removed = OutputFile::RemoveCommitted();
        if (removed > 0) {
            protocol.ForPerson("Removed the " + std::to_string(removed) +
                               " files this run wrote, as it did not complete.");
            status.clear();
        }
    }

    protocol.Status(status);
    return exitCode;
}
