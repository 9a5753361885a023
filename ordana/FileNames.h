#pragma once

// Names of the files the workflows write. Every output file carries the local time to the
// second: base + "_" + "%Y-%m-%d_%H-%M-%S" + "." + extension, so two runs within one second
// write to the same name.

#include <string>

namespace velkar::ordana {

std::string TimestampedFileName(const std::string& base, const std::string& extension);

// The path up to and including its last '/', or empty when it has none.
std::string DirectoryPrefix(const std::string& path);

// Where the outputs that belong beside an input file go: the --output prefix when one is given,
// otherwise the input's folder.
std::string OutputPrefixFor(const std::string& outputPrefix, const std::string& inputFile);

// The image's file name without its folder and its last extension ("data/scene.png" gives
// "scene"), which the files of its classification start with.
std::string ImageStem(const std::string& imagePath);

// Makes the folder of an --output prefix ("runs/" of "runs/a_") when it does not exist and its
// parent does, one level as mkdir makes it. Returns the folder made, or empty when it was there
// or the prefix names none; throws InputError naming the option when the folder cannot be made
// or is not a folder.
std::string MakeOutputFolder(const std::string& outputPrefix);

// The path after its last separator, or the whole path when it has none. Output paths split at
// '/' only; the polygon file's name also splits at '\', so that a path written on another
// system still names its file.
std::string LastPathComponent(const std::string& path, const char* separators = "/");

}  // namespace velkar::ordana
