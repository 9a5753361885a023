#pragma once

// Writes a configuration tree (Map / Array) as JSON text and reads such text back. The writer
// is exact: compact text has no whitespace; pretty text puts every object member on its own
// line indented by tabs, keeps arrays on one line with ", " between elements, writes every
// finite double in the shortest form that reads back to the same double, always with a decimal
// point ("3.0", "0.1", "1.0e-09"; non-finite ones as the bare words nan, inf, -inf), and writes
// strings and keys without escaping. Texts with reals in any other decimal form (such as the 12
// fixed decimals of older files) read as before. The reader splits by counting braces, brackets and quotes.
// It rejects text cut short and reads other malformed text as described below. A Json
// object keeps only its pretty flag; it is not meant to be shared between threads.

#include <sstream>
#include <string>
#include <string_view>

#include "velkar/util/Array.h"
#include "velkar/util/Collection.h"
#include "velkar/util/Map.h"

namespace velkar::util {

class Json {
  public:
    // Collections nested deeper than this (the root counts as level 1) make Deserialize
    // return null, which bounds the reader's recursion and its repeated scanning (reading
    // costs at most MaxDepth passes over the text). Serialize writes trees of any depth.
    static constexpr int MaxDepth = 256;

    explicit Json(bool pretty = false) : pretty(pretty) {}

    // The text of the tree, or "" when root is null or neither a Map nor an Array.
    std::string Serialize(const Collection* root) const;

    // A new Map or Array owned by the caller, or null when the trimmed text is empty, does not
    // start with "{" or "[", nests collections deeper than MaxDepth, or holds an object, array
    // or quoted value without its closing character (a text cut short). On other malformed text
    // the reader keeps what its rules yield and drops the rest:
    // - a member without a colon ends the reading of its object; a key shorter than two
    //   characters (no room for its quotes) drops its member;
    // - empty values (trailing commas), quoted values of fewer than three characters (in a
    //   map; an array keeps an empty string "" in its place), and numbers that stream
    //   extraction cannot read at all (unquoted words, out-of-range values) are not stored;
    // - the bare words nan, inf and -inf are read as doubles.
    Collection* Deserialize(const std::string& text) const;

  private:
    void SerializeMap(std::ostringstream& out, const Map* map, int depth) const;
    void SerializeArray(std::ostringstream& out, const Array* array, int depth) const;
    void PrintValue(std::ostringstream& out, const Collection::CollectionItem* item,
                    int depth) const;
    // Both return null when the text nests deeper than MaxDepth below depth or is not closed.
    Map* DeserializeMap(std::string_view text, int depth) const;
    Array* DeserializeArray(std::string_view text, int depth) const;
    // A map for text starting with "{", an array otherwise.
    Collection* DeserializeCollection(std::string_view text, int depth) const;

    bool pretty;
};

}  // namespace velkar::util
