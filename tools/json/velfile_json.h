// velfile_json: the JSON form of a container file's tree, written over the
// C++ layer (docs/json.md describes the document).
//
// The document nests: each group carries its name, its step in the path and
// its items, and holds its sub-groups, so no full path is repeated. It is
// written as the walk goes, one group and one item at a time: memory grows
// with the depth, the longest name and the widest directory, not with the
// size of the file.
#ifndef VELFILE_JSON_H
#define VELFILE_JSON_H

#include <cstddef>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <velfile/velfile.hpp>

namespace velfile_json {

using Json = nlohmann::ordered_json;

struct Options {
  bool items = true;         // each group's items, with their values
  size_t max_elements = 16;  // elements shown of a numeric or raw value
  size_t max_text = 4096;    // code units shown of a string
  velfile::WalkLimits limits;
};

// One item: "index", "id", "type", "count"; its "value" (numbers and word
// pairs as an array, strings as UTF-8, raw bytes as hex), "truncated" when
// cut, "unterminated" for a string without its zero, or "error" when the
// value cannot be read (one that does not lie inside its section is not
// read); "offset" (in the section) and "fileOffset" for a value that does not
// stand in the directory entry. section is the group's section.
Json item_json(const velfile::Group& group, const velfile::Section& section, const velfile::Item& item,
               const Options& options);

// Writes {"file", "size", "sections": [...]}, every section with its tree,
// then the members of extra (what a host adds, such as velinspect's "cut").
// Returns whether every group was entered and every value read.
bool write_file(std::ostream& out, const velfile::File& file, const Options& options,
                const Json& extra = Json::object());

// Writes {"file", "path", "group": {...}}: the group a path names and the
// groups below it. Throws velfile::Error when the path names no group.
bool write_group(std::ostream& out, const velfile::File& file, const std::string& path,
                 const Options& options);

// The step that names a walk node's group in its path: the last one, the
// whole path for the group the walk started from.
std::string step(const velfile::WalkNode& node);

// Text as JSON and text output show it: UTF-16 units (unpaired surrogates
// become U+FFFD), and narrow text in the writer's code page, kept when it is
// valid UTF-8, otherwise taken byte by byte as Latin-1.
std::string utf16_to_utf8(const char16_t* units, size_t n);
std::string narrow_to_utf8(const char* bytes, size_t n);

}  // namespace velfile_json

#endif
