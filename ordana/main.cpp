// ordana: classifies the polygonal regions of raster images. Without --modelfile it runs train
// and test experiments on a labelled image; with one it classifies a new image. With --chatty it
// frames the run with "[TASK] !Setting up!" and "[STATUS] !<results file>!" for a front end.
// Exit status: 0 when the run completed its work (and for help and version), 2 when the command
// line or an input file cannot be used, 1 when the library fails during a run.

#include <exception>
#include <iostream>
#include <new>
#include <string>

#include "ordana/ClassificationRun.h"
#include "ordana/ExperimentRunner.h"
#include "ordana/InputError.h"
#include "ordana/OutputFile.h"
#include "ordana/ParameterParser.h"
#include "velkar/util/Random.h"

int main(int argc, char** argv) {
    using namespace velkar::ordana;

    ParameterParser parser(argc, argv);
    if (parser.HelpRequested()) {
        parser.PrintHelp();
        return 0;
    }
    if (parser.VersionRequested()) {
        parser.PrintVersion();
        return 0;
    }
    const bool chatty = parser.IsChatty();
    if (chatty) {
        std::cout << "[TASK] !Setting up!" << std::endl;
    }
    parser.ReportUnknownOptions();
    // A person at the console learns on standard error which files the run wrote; a front end
    // reads the protocol instead.
    if (!chatty) {
        OutputFile::SetAnnouncer(
            [](const std::string& path) { std::cerr << "Wrote " << path << std::endl; });
    }

    std::string status;
    int exitCode = 0;
    try {
        // Seeded once, before anything draws, so that the same seed repeats the run exactly.
        if (const auto seed = parser.RandomSeed()) {
            velkar::util::Seed(*seed);
        }
        if (parser.HasModelFile()) {
            status = ClassifyImage(parser);
        } else {
            RunExperimentMode(parser);
        }
    } catch (const InputError& error) {
        if (*error.what() != '\0') {
            LogMessage(error.what());
        }
        exitCode = 2;
    } catch (const std::bad_alloc&) {
        LogMessage("The run needs more memory than this machine gives it.");
        exitCode = 1;
    } catch (const std::exception& error) {
        LogMessage(error.what());
        exitCode = 1;
    }
    if (exitCode == 0 && parser.ProblemReported()) {
        exitCode = 2;
    }

    if (parser.IsChatty()) {
        std::cout << "[STATUS] !" << status << "!" << std::endl;
    }
    return exitCode;
}
