// velinspect: pieces shared by the commands (exit codes, escaped text,
// section headers, bounded raw reads, a container opened through the layer).
#ifndef VELINSPECT_COMMON_H
#define VELINSPECT_COMMON_H

#include <cstdint>
#include <fstream>
#include <string>
#include <velfile/velfile.hpp>

#include "exit_codes.h"

namespace velinspect {

// Exit codes of every command, shared with the Python package's command line.
using namespace velfile_exit;

// --- text ---
// Text from a file as the text output shows it (velfile::escape_text): no
// byte of it can act on a terminal. Group paths are made of names in this
// form, and the path parser reads it back.
std::string escaped(const std::string& text);
// Escaped text longer than limit characters keeps its start and its end,
// with "..." in place of the middle.
std::string shortened(const std::string& escapedText, size_t limit);
// Characters of escaped text from byte from on (an escape counts as one).
size_t countChars(const std::string& escapedText, size_t from = 0);
// A character boundary of an escaped text: its byte, and the characters
// before it.
struct TextMark {
  size_t byte = 0, chars = 0;
};
// As shortened() for a text of chars characters, its kept end searched from
// mark on (a boundary at or before it): a long path costs its ends, not its
// length.
std::string shortened(const std::string& escapedText, size_t limit, size_t chars, TextMark mark);
// Names and group paths are shortened past these lengths in text output.
const size_t kNameShown = 200;
const size_t kPathShown = 400;
// A name or string from a file between double quotes, escaped and shortened.
std::string quoted(const std::string& text, size_t limit = kNameShown);
// A group path (whose names are already escaped), shortened.
std::string shownPath(const std::string& path);

std::string hex(uint64_t v);

// --- section headers, read as stored ---
// (decoded by the library: velfile::decode_section_header)
const size_t kHeaderSize = velfile::kSectionHeaderSize;
const size_t kEntrySize = 12;

uint16_t load16(const uint8_t* p, bool bigEndian);
uint32_t load32(const uint8_t* p, bool bigEndian);
// Whether n bytes (fewer than a header, at least one) begin as a header
// does: the magic, and before it the byte-order marker in either order, as
// far as they go.
bool startsLikeHeader(const uint8_t* raw, size_t n);

// Positioned reads that never go past the end of the file.
class RawFile {
 public:
  bool open(const std::string& path, std::string* error);
  uint64_t size() const { return size_; }
  bool read(uint64_t position, void* buffer, size_t n);

 private:
  std::ifstream in_;
  uint64_t size_ = 0;
};

// How the file was cut short, judged from where the chain of sections ends:
// end is the end of section `last`, which starts at lastStart; end may lie
// past the end of the file. Empty when the file ends at end, or with bytes
// that do not begin like a section header.
std::string cutShort(RawFile& file, uint32_t last, uint64_t lastStart, uint64_t end);

// Opens a container through the C++ layer; on failure prints why and
// returns false with *code set.
bool openFile(const std::string& path, velfile::File* file, int* code);
// The exit code for an error of the layer, after printing it: no such group
// or item, or a bad path, is a usage error; anything else is damage.
int report(const velfile::Error& e);

}  // namespace velinspect

#endif
