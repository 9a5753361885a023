#pragma once

// A file the program writes, whole or not at all, and never in place of an existing file: the
// text goes to a temporary file in the same folder, and Commit gives it its name once everything
// is written. When a file of that name exists already, "_2", "_3", ... is put before the
// extension instead. A write that fails (a full disk, a folder removed meanwhile) or an object
// destroyed before Commit leaves no file behind, neither a partial one nor a temporary one.
// Every committed path is passed to the announcer, when one is set (the program tells the user
// what it wrote). The temporary file, and after the commit the final one, is removed on an
// interrupt (see Interruption).

#include <cstddef>
#include <fstream>
#include <functional>
#include <string>

namespace velkar::ordana {

// The pattern of the temporary file for path, in the same folder: the name with its end
// replaced by ".part-XXXXXX", so that it is never longer than the final name and a name that
// just fits the file system's limit can still be written (names of up to 12 characters get
// six X characters only, after a dot where that fits). OutputFile fills the six X characters
// from the process id and a counter.
std::string TemporaryPattern(const std::string& path);

class OutputFile {
  public:
    // Throws std::runtime_error naming path when the folder does not take a new file.
    explicit OutputFile(std::string path);
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::ostream& Stream() { return out; }
    // Where the text goes until Commit, for writers that write the file themselves (GDAL);
    // they must have closed it before Commit.
    const std::string& TemporaryPath() const { return temporaryPath; }

    // Closes the text and gives it the requested name, or the first free numbered variant of
    // it; returns the name given. Throws std::runtime_error naming the path when any write
    // failed.
    std::string Commit();

    // Removes every file committed so far by this process and forgets them; returns how many
    // were removed. A run that fails leaves none of its files.
    static std::size_t RemoveCommitted();

    // Called with the path of every file committed from now on; an empty function stops it.
    static void SetAnnouncer(std::function<void(const std::string&)> announcer);

  private:
    std::string path;
    std::string temporaryPath;
    std::ofstream out;
    bool committed = false;
    // Where the temporary name is registered for removal on an interrupt (see Interruption).
    int interruptSlot = -1;
};

// path with "_" and the number put before its extension (path itself for number 1); the
// extension is what follows the last '.' of the file name, and a name without one gets the
// number at its end.
std::string NumberedVariant(const std::string& path, int number);

}  // namespace velkar::ordana
