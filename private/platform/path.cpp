#include "platform.h"

namespace velfile {

namespace {

void putUtf8(char32_t cp, std::string* out) {
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

// Encodes UTF-16 as UTF-8; a lone surrogate fails, or becomes U+FFFD when
// lenient.
bool encode(const char16_t* text, size_t length, bool lenient, std::string* out) {
  out->clear();
  for (size_t i = 0; i < length;) {
    char32_t cp = nextCodePoint(text, length, &i);
    if (isSurrogate(cp)) {
      if (!lenient) return false;
      cp = 0xFFFD;
    }
    putUtf8(cp, out);
  }
  return true;
}

}  // namespace

char32_t nextCodePoint(const char16_t* text, size_t length, size_t* i) {
  const char32_t cp = text[(*i)++];
  if (cp >= 0xD800 && cp <= 0xDBFF && *i < length && text[*i] >= 0xDC00 && text[*i] <= 0xDFFF)
    return 0x10000 + ((cp - 0xD800) << 10) + (text[(*i)++] - 0xDC00);
  return cp;
}

bool pathToNative(const char16_t* path, size_t length, std::string* out) {
  return utf16ToUtf8(path, length, out);
}

bool utf16ToUtf8(const char16_t* text, size_t length, std::string* out) {
  return encode(text, length, false, out);
}

std::string utf16ToUtf8(const char16_t* text, size_t length) {
  std::string out;
  encode(text, length, true, &out);
  return out;
}

bool utf8ToUtf16(const std::string& text, std::u16string* out) {
  out->clear();
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const unsigned char b = s[i];
    const int extra = b < 0x80             ? 0
                      : (b & 0xE0) == 0xC0 ? 1
                      : (b & 0xF0) == 0xE0 ? 2
                      : (b & 0xF8) == 0xF0 ? 3
                                           : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= n + (extra == 0 ? 1 : 0)) return false;
    char32_t cp = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || isSurrogate(cp)) return false;
    if (cp >= 0x10000) {
      out->push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out->push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out->push_back(static_cast<char16_t>(cp));
    }
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

bool hasUpdateExtension(const std::u16string& path) {
  const size_t sep = path.find_last_of(u"/\\");
  const size_t dot = path.find_last_of(u'.');
  if (dot == std::u16string::npos || (sep != std::u16string::npos && dot < sep) || path.size() - dot != 4)
    return false;
  return (path[dot + 1] == u'A' || path[dot + 1] == u'a') && path[dot + 2] == u'0' && path[dot + 3] == u'1';
}

}  // namespace velfile
