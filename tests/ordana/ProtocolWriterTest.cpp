#include "ordana/ProtocolWriter.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using velkar::ordana::ProtocolWriter;

// Every kind of message with and without --chatty: what reaches standard output and standard
// error. Text that could end a protocol line early is escaped; the status path is not.
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
        {[](const ProtocolWriter& w) { w.Error("bad!\n"); }, "[LOGMESSAGE] !bad\\x21\\x0a!\n",
         "[LOGMESSAGE] !bad\\x21\\x0a!\n", ""},
        {[](const ProtocolWriter& w) { w.Warning("skipped"); }, "[LOGMESSAGE] !skipped!\n",
         "[LOGMESSAGE] !skipped!\n", ""},
        {[](const ProtocolWriter& w) { w.ForPerson("two\nlines"); }, "", "", "two\nlines\n"},
        {[](const ProtocolWriter& w) { w.Wrote("out/a.cct"); }, "", "", "Wrote out/a.cct\n"},
        {[](const ProtocolWriter& w) { w.Answer("help\n"); }, "help\n", "help\n", ""},
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

}  // namespace
