#include "ordana/ProtocolWriter.h"

#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ordana/ConsoleProgress.h"

namespace {

using velkar::ordana::ProtocolWriter;

// Every kind of message with and without --chatty: what reaches standard output and standard
// error. Text that could end a line early is escaped; the status path is not.
TEST(ProtocolWriterTest, EachKindGoesWhereItsReaderIs) {
    struct Case {
        std::function<void(const ProtocolWriter&)> write;
        std::string chattyOut;
        std::string quietOut;
        std::string quietErr;
    };
    const std::vector<Case> cases = {
        {[](const ProtocolWriter& w) { w.Task("Classifying"); }, "[TASK] !Classifying!\n", "", ""},
        {[](const ProtocolWriter& w) { w.Progress(42); }, "[PROGRESS] !42!\n", "", ""},
        {[](const ProtocolWriter& w) { w.Note("Loading model"); }, "[LOGMESSAGE] !Loading model!\n",
         "", ""},
        {[](const ProtocolWriter& w) { w.Status("a!b.cct"); }, "[STATUS] !a!b.cct!\n", "", ""},
        {[](const ProtocolWriter& w) { w.Bare("48"); }, "48\n", "", ""},
        {[](const ProtocolWriter& w) { w.Error("bad!\n"); }, "[LOGMESSAGE] !bad\\x21\\x0a!\n", "",
         "ordana: error: bad!\\x0a\n"},
        {[](const ProtocolWriter& w) { w.Warning("skipped"); }, "[LOGMESSAGE] !skipped!\n", "",
         "ordana: warning: skipped\n"},
        {[](const ProtocolWriter& w) { w.ForPerson("two\nlines"); }, "", "", "two\nlines\n"},
        {[](const ProtocolWriter& w) { w.Wrote("out/a.cct"); }, "", "", "Wrote out/a.cct\n"},
        {[](const ProtocolWriter& w) { w.Result("a.wca-mlp: test global: 1"); }, "",
         "a.wca-mlp: test global: 1\n", ""},
        {[](const ProtocolWriter& w) { w.Answer("help\n"); }, "help\n", "help\n", ""},
        // A person reads each problem once; the front end gets every report.
        {[](const ProtocolWriter& w) {
             w.Error("twice");
             w.Warning("twice");
             w.Error("twice");
         },
         "[LOGMESSAGE] !twice!\n[LOGMESSAGE] !twice!\n[LOGMESSAGE] !twice!\n", "",
         "ordana: error: twice\nordana: warning: twice\n"},
        // Every line clears the progress line first, so that it starts on a fresh line; the
        // line shown is not written again, but is once it was cleared.
        {[](const ProtocolWriter& w) {
             w.ShowProgressLine("Classifying windows: 10%");
             w.ShowProgressLine("Classifying windows: 10%");
             w.Wrote("a.cct");
             w.ShowProgressLine("Classifying windows: 10%");
             w.ShowProgressLine("Classifying windows: 20%");
             w.Result("r");
             w.ClearProgressLine();
             w.ClearProgressLine();
         },
         "", "r\n",
         "\r\033[KClassifying windows: 10%\r\033[KWrote a.cct\n\r\033[KClassifying windows: "
         "10%\r\033[KClassifying windows: 20%\r\033[K"},
    };
    for (std::size_t k = 0; k < cases.size(); ++k) {
        for (bool chatty : {false, true}) {
            std::ostringstream out;
            std::ostringstream err;
            cases[k].write(ProtocolWriter(chatty, out, err));
            EXPECT_EQ(out.str(), chatty ? cases[k].chattyOut : cases[k].quietOut) << k;
            EXPECT_EQ(err.str(), chatty ? "" : cases[k].quietErr) << k;
        }
    }
}

// A step's time: bare on standard output with --chatty, after its label on standard error
// without.
TEST(ProtocolWriterTest, StepTimesFollowTheirLabelForAPerson) {
    const std::regex bare(R"( \d+\.\d{6}s wall, \d+\.\d{6}s user \+ \d+\.\d{6}s system = )"
                          R"(\d+\.\d{6}s CPU \((n/a|\d+\.\d)%\)\n)");
    const std::regex labelled(
        R"(Wavelets \(lab\): \d+\.\d{2}s wall, .*s CPU \((n/a|\d+\.\d)%\)\n)");
    for (bool chatty : {false, true}) {
        std::ostringstream out;
        std::ostringstream err;
        const ProtocolWriter writer(chatty, out, err);
        { const auto timer = writer.TimeStep("Wavelets (lab)"); }
        EXPECT_TRUE(std::regex_match(chatty ? out.str() : err.str(), chatty ? bare : labelled))
            << out.str() << err.str();
        EXPECT_EQ(chatty ? err.str() : out.str(), "");
    }
}

// The time left, as if the rest of the work went at the pace of what is done.
TEST(ProtocolWriterTest, ProgressLinesEstimateTheTimeLeft) {
    const std::vector<std::tuple<double, double, std::string>> cases = {
        {10.0, 0.5, ", about 10 s left"},
        {3.0, 0.25, ", about 9 s left"},
        {60.0, 0.2, ", about 4 min left"},
        {3600.0, 0.25, ", about 3 h left"},
        {5.0, 1.0, ", about 0 s left"},
        {5.0, 0.001, ""},
        {0.0, 0.0, ""},
    };
    for (const auto& [taken, done, expected] : cases) {
        EXPECT_EQ(velkar::ordana::ConsoleProgress::TimeLeft(taken, done), expected)
            << taken << " " << done;
    }
}

}  // namespace
