#pragma once

// Reads a command line once, before anything is read or built, for the mistakes that would
// otherwise change a run without a word or be named again by every query. Each kind of mistake
// is one message:
// - an option no group declares and a word that is neither an option nor the value of one,
//   named with the closest known option when there is one ("did you mean --seed?"); the
//   words right after an unknown option are taken for its values;
// - a word of one dash and more than one letter ("-seed" would be read as "-s eed");
// - an option given more than once (lists such as --mhidden may be continued);
// - in a classification run, every option that only experiments use: the model decides them;
// - with everythingAtOnce, every required option that the run and its selected modules miss,
//   a value missing after the last option, and abbreviations that fit several options. Without
//   it these are left to the queries, which report them as the front end's protocol always has.
// Options are recognised as the option library reads them: "--name", "--name=value", unique
// abbreviations of a name, and the one-letter forms of the general options.

#include <optional>
#include <string>
#include <vector>

namespace velkar::ordana {

std::vector<std::string> CheckCommandLine(const std::vector<std::string>& arguments,
                                          bool everythingAtOnce);

// The name closest to word, compared without regard to case: the first at the smallest edit
// distance (insertions, deletions, substitutions and swaps of neighbours), when that distance
// is at most a third of the word's length, and at least 1; none otherwise.
std::optional<std::string> ClosestName(const std::string& word,
                                       const std::vector<std::string>& names);

}  // namespace velkar::ordana
