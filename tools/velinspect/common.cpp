// velinspect: shared pieces of the commands.
#include "common.h"

#include <velfile/velfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace velinspect {

std::u16string utf8ToUtf16(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c >> 5) == 0x6 || (c >> 4) == 0xE || (c >> 3) == 0x1E) {
      len = (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : 4;
      cp = c & (0x7F >> len);
      for (size_t k = 1; k < len; ++k) {
        const unsigned char d = i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : 0;
        if ((d >> 6) != 0x2) {
          cp = 0xFFFD;
          len = k;
          break;
        }
        cp = (cp << 6) | (d & 0x3F);
      }
    }
    i += len;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp > 0xFFFF ? 0xFFFD : cp));
    }
  }
  return out;
}

namespace {

void appendUtf8(std::string* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Length of the well-formed UTF-8 sequence at s[i], or 0.
size_t utf8SequenceAt(const unsigned char* s, size_t n, size_t i) {
  const unsigned char c = s[i];
  if (c < 0x80) return 1;
  size_t len = 0;
  uint32_t cp = 0;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2, cp = c & 0x1F;
  } else if ((c >> 4) == 0xE) {
    len = 3, cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4, cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + len > n) return 0;
  for (size_t k = 1; k < len; ++k) {
    if ((s[i + k] >> 6) != 0x2) return 0;
    cp = (cp << 6) | (s[i + k] & 0x3F);
  }
  const bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return len;
}

}  // namespace

std::string utf16ToUtf8(const char16_t* s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    appendUtf8(&out, cp);
  }
  return out;
}

std::string storedText(std::u16string units, bool swapped) {
  if (swapped)
    for (char16_t& u : units) u = static_cast<char16_t>((u >> 8) | (u << 8));
  return utf16ToUtf8(units.data(), units.size());
}

std::string narrowToUtf8(const char* s, size_t n) {
  const unsigned char* u = reinterpret_cast<const unsigned char*>(s);
  bool valid = true;
  for (size_t i = 0; i < n && valid;) {
    const size_t len = utf8SequenceAt(u, n, i);
    valid = len != 0;
    i += len;
  }
  if (valid) return std::string(s, n);
  std::string out;
  for (size_t i = 0; i < n; ++i) appendUtf8(&out, u[i]);
  return out;
}

namespace {

// Characters shown as \uXXXX although they are valid: C1 controls, and those
// that break a line or reorder the text around them.
bool hiddenCharacter(uint32_t cp) {
  return (cp >= 0x80 && cp <= 0x9F) || cp == 0x061C || cp == 0x200E || cp == 0x200F ||
         (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0xFEFF;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The value of the n hex digits at text[i], or -1.
long hexAt(const std::string& text, size_t i, size_t n) {
  if (i + n > text.size()) return -1;
  long v = 0;
  for (size_t k = 0; k < n; ++k) {
    const int d = hexDigit(text[i + k]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

}  // namespace

std::string escaped(const std::string& text) {
  const unsigned char* u = reinterpret_cast<const unsigned char*>(text.data());
  std::string out;
  char buf[8];
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = u[i];
    const size_t len = utf8SequenceAt(u, text.size(), i);
    if (len == 1 && c >= 0x20 && c != 0x7F && c != '\\' && c != '"') {
      out.push_back(static_cast<char>(c));
    } else if (len == 1 && (c == '\\' || c == '"' || c == '\n' || c == '\r' || c == '\t')) {
      out.push_back('\\');
      out.push_back(c == '\n' ? 'n' : c == '\r' ? 'r' : c == '\t' ? 't' : static_cast<char>(c));
    } else if (len <= 1) {  // a control character, or a byte outside valid UTF-8
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    } else {
      uint32_t cp = c & (0x7F >> len);
      for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (u[i + k] & 0x3F);
      if (hiddenCharacter(cp)) {
        std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
        out += buf;
      } else {
        out.append(text, i, len);
      }
    }
    i += len ? len : 1;
  }
  return out;
}

size_t unescapeAt(const std::string& text, size_t i, std::string* out) {
  if (i + 1 >= text.size()) {
    out->push_back('\\');
    return 1;
  }
  const char c = text[i + 1];
  const long byte = c == 'x' ? hexAt(text, i + 2, 2) : -1;
  const long cp = c == 'u' ? hexAt(text, i + 2, 4) : -1;
  if (byte >= 0) {
    out->push_back(static_cast<char>(byte));
    return 4;
  }
  if (cp >= 0) {
    appendUtf8(out, static_cast<uint32_t>(cp));
    return 6;
  }
  out->push_back(c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c);
  return 2;
}

std::string shortened(const std::string& escapedText, size_t limit) {
  // Where each shown character starts: an escape, or one UTF-8 sequence.
  const unsigned char* u = reinterpret_cast<const unsigned char*>(escapedText.data());
  const size_t n = escapedText.size();
  std::vector<size_t> starts;
  for (size_t i = 0; i < n;) {
    starts.push_back(i);
    size_t len = std::max<size_t>(1, utf8SequenceAt(u, n, i));
    if (u[i] == '\\')
      len = escapedText.compare(i, 2, "\\x") == 0 ? 4 : escapedText.compare(i, 2, "\\u") == 0 ? 6 : 2;
    i += len;
  }
  if (starts.size() <= limit || limit < 5) return escapedText;
  const size_t head = (limit - 3) / 2, tail = limit - 3 - head;
  return escapedText.substr(0, starts[head]) + "..." + escapedText.substr(starts[starts.size() - tail]);
}

std::string quoted(const std::string& text, size_t limit) {
  return "\"" + shortened(escaped(text), limit) + "\"";
}

std::string shownPath(const std::string& path) {
  return shortened(path, kPathShown);
}

std::string hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

std::string typeName(uint16_t type) {
  static const char* const kNames[] = {"group",  "char",  "int8",  "uint8",   "int16",   "uint16", "int32",
                                       "uint32", "quad8", "quad9", "float32", "float64", "utf16",  "raw"};
  if (type < sizeof kNames / sizeof kNames[0]) return kNames[type];
  return "type" + std::to_string(type);
}

bool parseType(const std::string& text, uint16_t* type) {
  for (uint16_t t = 0; t <= VelFile::kTypeRaw; ++t) {
    if (text == typeName(t)) {
      *type = t;
      return true;
    }
  }
  const std::string digits = text.compare(0, 4, "type") == 0 ? text.substr(4) : text;
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const unsigned long v = std::stoul(digits);
  if (v > 0xFFFF) return false;
  *type = static_cast<uint16_t>(v);
  return true;
}

std::string resultText(int code) {
  const char* what = "unexpected result";
  switch (code) {
    case VelFile::kErrMemory:
      what = "out of memory";
      break;
    case VelFile::kErrIo:
      what = "reading failed, or the data lies outside the file";
      break;
    case VelFile::kErrNotFound:
      what = "no such group or item";
      break;
    case VelFile::kErrCannotOpen:
      what = "cannot open";
      break;
    case VelFile::kErrNoName:
      what = "index past the end";
      break;
  }
  return "result " + std::to_string(code) + " (" + what + ")";
}

bool hostBigEndian() {
  const uint16_t probe = 0x0102;
  uint8_t first;
  std::memcpy(&first, &probe, 1);
  return first == 0x01;
}

uint16_t load16(const uint8_t* p, bool bigEndian) {
  return static_cast<uint16_t>(bigEndian ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0]);
}

uint32_t load32(const uint8_t* p, bool bigEndian) {
  if (bigEndian) return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

bool magicAccepted(const uint8_t* raw) {
  return std::memcmp(raw + 4, "SURD", 4) == 0 || std::memcmp(raw + 4, "cpf\0", 4) == 0;
}

Header decodeHeader(const uint8_t* raw) {
  Header h;
  h.firstByte = raw[0];
  h.bigEndian = raw[0] == 0x11 || (raw[0] != 0x44 && !hostBigEndian());
  h.marker = load32(raw, h.bigEndian);
  h.version = load32(raw + 8, h.bigEndian);
  h.stringFormat = load32(raw + 12, h.bigEndian);
  h.entries = load32(raw + 16, h.bigEndian);
  h.dirOffset = load32(raw + 20, h.bigEndian);
  h.size = load32(raw + 24, h.bigEndian);
  return h;
}

bool startsLikeHeader(const uint8_t* raw, size_t n) {
  if (n == 0) return false;
  if (n >= 8) return magicAccepted(raw);
  const uint8_t little[8] = {0x44, 0x33, 0x22, 0x11, 'S', 'U', 'R', 'D'};
  const uint8_t big[8] = {0x11, 0x22, 0x33, 0x44, 'S', 'U', 'R', 'D'};
  const uint8_t* marker = raw[0] == 0x44 ? little : big;
  for (size_t i = 0; i < n; ++i) {
    const bool otherMagic = i >= 4 && raw[i] == "cpf"[i - 4] && std::memcmp(raw + 4, "cpf", i - 4) == 0;
    if (raw[i] != marker[i] && !otherMagic) return false;
  }
  return true;
}

std::string cutShort(RawFile& file, uint32_t last, uint64_t lastStart, uint64_t end) {
  const uint64_t size = file.size();
  const std::string section = "section " + std::to_string(last);
  if (end > size)
    return section + " is cut short: the file ends " + std::to_string(size - lastStart) + " bytes into its " +
           std::to_string(end - lastStart) + " bytes";
  uint8_t raw[kHeaderSize];
  const size_t n = static_cast<size_t>(std::min<uint64_t>(size - end, kHeaderSize));
  if (n == 0 || !file.read(end, raw, n)) return std::string();
  if (n < kHeaderSize) {
    if (!startsLikeHeader(raw, n)) return std::string();
    return "the file ends " + std::to_string(n) + " bytes into the header of a section after " + section +
           ": it was cut short";
  }
  // A whole header that the library did not list: its section is cut.
  const Header h = decodeHeader(raw);
  if (!magicAccepted(raw) || end + h.size <= size) return std::string();
  return "the section after " + section + " (at " + hex(end) +
         ") is cut short before its name: the file ends " + std::to_string(size - end) + " bytes into its " +
         std::to_string(h.size) + " bytes";
}

std::string byteOrderName(const Header& h) {
  if (h.firstByte == 0x44) return "little-endian";
  if (h.firstByte == 0x11) return "big-endian";
  return std::string("unknown marker ") + hex(h.firstByte) + ", read " + (h.bigEndian ? "big" : "little") +
         "-endian";
}

std::string stringFormatName(uint32_t format) {
  if (format == 1) return "utf16";
  if (format == 0) return "narrow";
  return "unknown " + std::to_string(format);
}

bool RawFile::open(const std::string& path, std::string* error) {
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(path, ec);
  if (ec) {
    *error = ec.message();
    return false;
  }
  in_.open(path, std::ios::binary);
  if (!in_) {
    *error = "cannot open for reading";
    return false;
  }
  size_ = size;
  return true;
}

bool RawFile::read(uint64_t position, void* buffer, size_t n) {
  if (position > size_ || n > size_ - position) return false;
  if (n == 0) return true;
  in_.clear();
  in_.seekg(static_cast<std::streamoff>(position));
  in_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(n));
  return static_cast<size_t>(in_.gcount()) == n;
}

Container::~Container() {
  if (file_) VelFile::file_Close(file_);
}

int Container::open(const std::string& path, std::string* message) {
  const std::u16string wide = utf8ToUtf16(path);
  if (wide.size() > 259) {
    *message = "cannot open " + path + ": the path is longer than 259 UTF-16 units";
    return kExitUnreadable;
  }
  const std::basic_string<VelChar> name(wide.begin(), wide.end());
  const int rc = VelFile::file_Open(name.c_str(), &file_);
  if (rc == VelFile::kOk) return kExitOk;
  file_ = nullptr;
  std::error_code ec;
  if (rc == VelFile::kErrCannotOpen && !std::filesystem::exists(path, ec)) {
    *message = "cannot open " + path + ": no such file";
  } else if (rc == VelFile::kErrCannotOpen) {
    *message = "cannot open " + path + " for reading";
  } else if (rc == VelFile::kErrNotFound) {
    *message = path + " is not a container file: no section header at offset 0";
  } else {
    *message =
        path + " cannot be read: " + resultText(rc) +
        "; a section runs past the end of the file or a section name is damaged (see: velinspect check)";
  }
  return kExitUnreadable;
}

}  // namespace velinspect
