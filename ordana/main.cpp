// ordana: classifies the polygonal regions of raster images. Without --modelfile it runs train
// and test experiments on a labelled image; with one it classifies a new image. With --chatty it
// frames the run with "[TASK] !Setting up!" and "[STATUS] !<results file>!" for a front end.
// Exit status: 0 on every normal path (help and missing options included), 2 when an input file
// or option value cannot be used, 1 when the library fails during a workflow or memory runs out.

#include <exception>
#include <iostream>
#include <new>
#include <string>

#include "ordana/ClassificationRun.h"
#include "ordana/ExperimentRunner.h"
#include "ordana/InputError.h"
#include "ordana/ParameterParser.h"
#include "velkar/util/Random.h"

int main(int argc, char** argv) {
    using namespace velkar::ordana;

    ParameterParser parser(argc, argv);
    if (parser.HelpRequested()) {
        parser.PrintHelp();
        return 0;
    }
    if (parser.IsChatty()) {
        std::cout << "[TASK] !Setting up!" << std::endl;
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
    } catch (const std::bad_alloc&) {
        LogMessage("The run needs more memory than the system gives it; it was stopped.");
        exitCode = 1;
    } catch (const InputError& error) {
        LogMessage(error.what());
        exitCode = 2;
    } catch (const std::exception& error) {
        LogMessage(error.what());
        exitCode = 1;
    }

    if (parser.IsChatty()) {
        std::cout << "[STATUS] !" << status << "!" << std::endl;
    }
    return exitCode;
}
