// The platform layer: everything that touches the disk goes through here, so
// that tests can replace it (fault injection) and ports can reimplement it.
#ifndef VELFILE_PLATFORM_H
#define VELFILE_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace velfile {

// How a stream is opened. The names follow the C runtime modes they stand for.
enum class OpenMode {
  Read,          // "rb": existing file, read only
  Update,        // "r+b" / "rb+": existing file, read and write, contents kept
  CreateUpdate,  // "wb+": created or truncated, read and write
};

// What an open denies to later opens of the same file, by any process.
// Besides the share modes, a create (CreateUpdate) is refused while any other
// stream of the library has the file open, in any process, so that nothing
// truncates a file under its readers. A refusal for sharing reports EBUSY;
// no permission reports EACCES, a missing file ENOENT.
enum class ShareMode { DenyWrite, DenyNone };

// An open file. Positions are absolute; every call reports success as bool.
class Stream {
 public:
  virtual ~Stream() = default;
  virtual bool seek(uint32_t position) = 0;
  // Reads exactly n bytes at the current position; a short read fails.
  virtual bool read(void* buffer, size_t n) = 0;
  virtual bool write(const void* data, size_t n) = 0;
  virtual bool size(uint64_t* size) = 0;
  // Releases the stream; false when pending data could not be written.
  virtual bool close() = 0;
};

class Platform {
 public:
  virtual ~Platform() = default;
  // Opens a UTF-8 path. On failure returns null and sets *error to an errno
  // value (EACCES also for a sharing violation, as share modes report it).
  virtual std::unique_ptr<Stream> open(const std::string& path, OpenMode mode, ShareMode share,
                                       int* error) = 0;
  // Size of the file at path; false when it does not exist.
  virtual bool fileSize(const std::string& path, uint64_t* size) = 0;
};

// The platform in use, and the operating system's own one.
Platform& platform();
Platform& nativePlatform();
// Replaces the platform (null restores the native one); returns the previous.
Platform* setPlatform(Platform* replacement);

// The library's one UTF-16 decoder: the code point at text[*i], *i moved past
// it. An unpaired surrogate comes back as it is, for the caller to refuse or
// replace.
char32_t nextCodePoint(const char16_t* text, size_t length, size_t* i);
inline bool isSurrogate(char32_t cp) {
  return cp >= 0xD800 && cp <= 0xDFFF;
}

// UTF-16 path to the file system's encoding (UTF-8), as the strict
// utf16ToUtf8: no file name can hold a lone surrogate.
bool pathToNative(const char16_t* path, size_t length, std::string* out);
// UTF-16 to UTF-8 for text shown to people: a lone surrogate becomes U+FFFD.
std::string utf16ToUtf8(const char16_t* text, size_t length);
// UTF-16 to UTF-8, false for a lone surrogate (*out then holds what came
// before it).
bool utf16ToUtf8(const char16_t* text, size_t length, std::string* out);
// UTF-8 to UTF-16; false for bytes that are not UTF-8.
bool utf8ToUtf16(const std::string& text, std::u16string* out);
// Whether a path names a file that takes new sections: its extension (from
// its last dot, after its last separator) is ".A01", in either letter case.
bool hasUpdateExtension(const std::u16string& path);

// Conversion between the narrow character set of the C locale and UTF-16.
// toNarrow stores at most capacity bytes (terminator included) and fails when
// a character cannot be represented exactly or the room is too small.
bool utf16ToNarrow(const char16_t* text, size_t length, char* out, size_t capacity);
// Converts n narrow bytes to at most n UTF-16 units (zero-padded to n).
// Undecodable bytes become U+FFFD. Returns the number of units produced.
size_t narrowToUtf16(const char* bytes, size_t n, char16_t* out);

}  // namespace velfile

#endif
