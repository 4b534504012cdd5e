// velinspect: shared pieces of the commands.
#include "common.h"

#include <velfile/velfile.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <vector>

namespace velinspect {

std::string escaped(const std::string& text) {
  return velfile::escape_text(text);
}

namespace {

// Bytes of the shown character at s[i] of escaped text: an escape, or one
// UTF-8 sequence (escaped text is valid UTF-8).
size_t charLength(const std::string& s, size_t i) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  if (c == '\\' && i + 1 < s.size()) return s[i + 1] == 'x' ? 4 : s[i + 1] == 'u' ? 6 : 2;
  return c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
}

}  // namespace

size_t countChars(const std::string& escapedText, size_t from) {
  size_t chars = 0;
  for (size_t i = from; i < escapedText.size(); i += charLength(escapedText, i)) ++chars;
  return chars;
}

std::string shortened(const std::string& escapedText, size_t limit, size_t chars, TextMark mark) {
  if (chars <= limit || limit < 5) return escapedText;
  const size_t head = (limit - 3) / 2, tail = limit - 3 - head;
  size_t headEnd = 0;
  for (size_t k = 0; k < head; ++k) headEnd += charLength(escapedText, headEnd);
  size_t tailStart = mark.byte;
  for (size_t k = mark.chars; k < chars - tail; ++k) tailStart += charLength(escapedText, tailStart);
  return escapedText.substr(0, headEnd) + "..." + escapedText.substr(tailStart);
}

std::string shortened(const std::string& escapedText, size_t limit) {
  return shortened(escapedText, limit, countChars(escapedText), TextMark());
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

uint16_t load16(const uint8_t* p, bool bigEndian) {
  return static_cast<uint16_t>(bigEndian ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0]);
}

uint32_t load32(const uint8_t* p, bool bigEndian) {
  if (bigEndian) return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

bool startsLikeHeader(const uint8_t* raw, size_t n) {
  if (n == 0) return false;
  if (n >= 8) {
    uint8_t whole[kHeaderSize] = {};
    std::memcpy(whole, raw, std::min(n, kHeaderSize));
    velfile::SectionHeaderFields h;
    return velfile::decode_section_header(whole, &h);
  }
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
  velfile::SectionHeaderFields h;
  if (!velfile::decode_section_header(raw, &h) || end + h.size <= size) return std::string();
  return "the section after " + section + " (at " + hex(end) +
         ") is cut short before its name: the file ends " + std::to_string(size - end) + " bytes into its " +
         std::to_string(h.size) + " bytes";
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

bool openFile(const std::string& path, velfile::File* file, int* code) {
  try {
    *file = velfile::File::open(path);
    return true;
  } catch (const velfile::Error& e) {
    std::cerr << "velinspect: " << e.what() << "\n";
    *code = e.reason() == velfile::Reason::Memory ? kExitAborted : kExitUnreadable;
    return false;
  }
}

int report(const velfile::Error& e) {
  std::cerr << "velinspect: " << e.what() << "\n";
  switch (e.reason()) {
    case velfile::Reason::BadPath:
    case velfile::Reason::NotFound:
    case velfile::Reason::WrongType:
      return kExitUsage;
    case velfile::Reason::Memory:
      return kExitAborted;
    default:
      return kExitDamaged;
  }
}

}  // namespace velinspect
