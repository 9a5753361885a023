#pragma once

// A file the program writes, whole or not at all: the text goes to a temporary file in the same
// folder, and Commit renames it to its name once everything is written. A write that fails (a
// full disk, a folder removed meanwhile) or an object destroyed before Commit leaves no file
// behind, neither a partial one nor a temporary one.

#include <fstream>
#include <string>

namespace velkar::ordana {

class OutputFile {
  public:
    // Throws std::runtime_error naming path when the folder does not take a new file.
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::ostream& Stream() { return out; }
    const std::string& Path() const { return path; }

    // Closes the text and moves it to its name, replacing nothing but an earlier file of that
    // name; throws std::runtime_error naming the path when any write failed.
    void Commit();

  private:
    std::string path;
    std::string temporaryPath;
    std::ofstream out;
    bool committed = false;
};

}  // namespace velkar::ordana
