// velinspect: pieces shared by the commands (exit codes, text conversion,
// section headers, bounded raw reads, a container opened through the library).
#ifndef VELINSPECT_COMMON_H
#define VELINSPECT_COMMON_H

#include <cstdint>
#include <fstream>
#include <string>

namespace velinspect {

// Exit codes of every command.
enum Exit : int {
  kExitOk = 0,
  kExitDamaged = 1,     // the file has problems; what could be read was shown
  kExitUnreadable = 2,  // the file cannot be opened or is no container at all
  kExitUsage = 3,       // bad arguments, or no such group or item
  kExitOutput = 4,      // the output cannot be written
  kExitAborted = 5,     // the run could not complete (out of memory, or an unexpected error)
};

// --- text ---
std::u16string utf8ToUtf16(const std::string& s);
// Unpaired surrogates become U+FFFD.
std::string utf16ToUtf8(const char16_t* s, size_t n);
// UTF-16 text as a writer stored it: in its own byte order, which is the
// section's. The library hands text over as stored, so text from a section
// in the other byte order comes with its units swapped.
std::string storedText(std::u16string units, bool swapped);
// Narrow text in the writer's code page: kept when it is valid UTF-8,
// otherwise taken byte by byte as Latin-1.
std::string narrowToUtf8(const char* s, size_t n);

// Text from a file as the text output shows it, so that no byte of it can act
// on a terminal: a backslash and a double quote get a backslash, \n \r \t
// stand for those controls, any other control character and every byte that
// is not part of valid UTF-8 is \xNN, and C1 controls and the characters that
// break or reorder lines (U+2028, U+2029, direction marks) are \uXXXX.
// Group paths are made of names in this form, and the path parser reads it.
std::string escaped(const std::string& text);
// Reads the escape at text[i] (a backslash) into *out; returns the number of
// characters it takes. A backslash before any other character takes it
// literally.
size_t unescapeAt(const std::string& text, size_t i, std::string* out);
// Escaped text longer than limit characters keeps its start and its end,
// with "..." in place of the middle.
std::string shortened(const std::string& escapedText, size_t limit);
// Names and group paths are shortened past these lengths in text output.
const size_t kNameShown = 200;
const size_t kPathShown = 400;
// A name or string from a file between double quotes, escaped and shortened.
std::string quoted(const std::string& text, size_t limit = kNameShown);
// A group path (whose names are already escaped), shortened.
std::string shownPath(const std::string& path);

std::string hex(uint64_t v);
std::string typeName(uint16_t type);
// A type as typeName() gives it, or its number (0 to 65535).
bool parseType(const std::string& text, uint16_t* type);
// "result 2 (reading failed or the data lies outside the file)".
std::string resultText(int code);

// --- section headers, read as stored ---
const size_t kHeaderSize = 36;
const size_t kEntrySize = 12;

struct Header {
  uint8_t firstByte = 0;
  bool bigEndian = false;  // the order its fields are read in
  uint32_t marker = 0, version = 0, stringFormat = 0, entries = 0, dirOffset = 0, size = 0;
};

bool hostBigEndian();
uint16_t load16(const uint8_t* p, bool bigEndian);
uint32_t load32(const uint8_t* p, bool bigEndian);
// "SURD" or "cpf\0" at offset 4.
bool magicAccepted(const uint8_t* raw);
// The fields of a 36-byte header, in the byte order its first byte names
// (0x44 little-endian, 0x11 big-endian, anything else the host's opposite).
Header decodeHeader(const uint8_t* raw);
// Whether n bytes (fewer than a header, at least one) begin as a header
// does: the magic, and before it the byte-order marker in either order, as
// far as they go.
bool startsLikeHeader(const uint8_t* raw, size_t n);
std::string byteOrderName(const Header& h);
std::string stringFormatName(uint32_t format);

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

// A container file opened through the library, closed when it goes.
class Container {
 public:
  Container() = default;
  Container(const Container&) = delete;
  Container& operator=(const Container&) = delete;
  ~Container();
  // Opens path; on failure returns the exit code and sets *message.
  int open(const std::string& path, std::string* message);
  void* handle() const { return file_; }

 private:
  void* file_ = nullptr;
};

}  // namespace velinspect

#endif
