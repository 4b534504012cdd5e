// velfile_json: the JSON form of a container file's tree.
#include "velfile_json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace velfile_json {

namespace {

// Values up to this size are read whole through the layer; of a larger one
// only the elements shown are read.
const uint64_t kReadWhole = 1 << 16;

std::string text(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string hex(uint64_t v) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
  return buf;
}

// Whether the n bytes are well-formed UTF-8.
bool validUtf8(const unsigned char* s, size_t n) {
  for (size_t i = 0; i < n;) {
    const unsigned char c = s[i];
    const size_t len = c < 0x80                 ? 1
                       : c >= 0xC2 && c <= 0xDF ? 2
                       : (c >> 4) == 0xE        ? 3
                       : c >= 0xF0 && c <= 0xF4 ? 4
                                                : 0;
    if (len == 0 || i + len > n) return false;
    uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (size_t k = 1; k < len; ++k) {
      if ((s[i + k] >> 6) != 0x2) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += len;
  }
  return true;
}

// A float as the shortest decimal that reads back as the same float.
Json floatJson(double v, bool single) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  return single ? velfile::decimal_of(static_cast<float>(v)) : v;
}

template <class T>
T load(const unsigned char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

Json element(uint16_t type, const unsigned char* p) {
  switch (type) {
    case VelFile::kTypeInt8:
      return load<int8_t>(p);
    case VelFile::kTypeUInt8:
      return p[0];
    case VelFile::kTypeInt16:
      return load<int16_t>(p);
    case VelFile::kTypeUInt16:
      return load<uint16_t>(p);
    case VelFile::kTypeInt32:
      return load<int32_t>(p);
    case VelFile::kTypeUInt32:
      return load<uint32_t>(p);
    case VelFile::kTypeFloat:
      return floatJson(load<float>(p), true);
    case VelFile::kTypeDouble:
      return floatJson(load<double>(p), false);
    default:  // the two 32-bit words of types 8 and 9
      return Json::array({load<uint32_t>(p), load<uint32_t>(p + 4)});
  }
}

// The first n elements of an item's value in host order, UTF-16 units
// included. Throws velfile::Error for a value that does not lie inside its
// section, or cannot be read.
std::vector<uint8_t> firstElements(const velfile::Group& group, const velfile::Item& item, uint64_t n) {
  const uint64_t size = static_cast<uint64_t>(VelFile::file_SizeOf(item.type()));
  if (size * item.count() <= kReadWhole) {
    std::vector<uint8_t> all = item.bytes();
    all.resize(static_cast<size_t>(n * size));
    return all;
  }
  // The layer reads a value whole: it is asked where the value lies
  // (which it checks), and the elements shown are read directly.
  item.extent();
  std::vector<uint8_t> out(static_cast<size_t>(n * size));
  std::lock_guard<std::recursive_mutex> lock(velfile::library_mutex());
  void* handle = group.handle();
  const int rc = VelFile::file_Read(handle, item.value_field(), static_cast<uint32_t>(n), item.type(),
                                    reinterpret_cast<char*>(out.data()), nullptr);
  if (rc != VelFile::kOk)
    throw velfile::Error(velfile::Reason::Io, rc, "file_Read", "", "", item.id(),
                         "the value cannot be read (result " + std::to_string(rc) + ")");
  if (item.type() == VelFile::kTypeUtf16 && VelFile::file_SwapNeeded(handle))
    for (size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
  return out;
}

void decodeValue(const velfile::Group& group, const velfile::Item& item, const Options& o, Json* j) {
  const uint16_t type = item.type();
  const uint64_t size = static_cast<uint64_t>(VelFile::file_SizeOf(type));
  const uint32_t count = item.count();
  const bool isText = type == VelFile::kTypeNarrow || type == VelFile::kTypeUtf16;
  const uint64_t shown = std::min<uint64_t>(count, isText ? o.max_text : o.max_elements);
  const std::vector<uint8_t> bytes = firstElements(group, item, shown);
  if (isText) {
    size_t len = 0;
    std::u16string units;
    for (; len < shown; ++len) {
      const char16_t u = size == 2 ? load<char16_t>(&bytes[2 * len]) : bytes[len];
      if (u == 0) break;
      units.push_back(u);
    }
    (*j)["value"] = size == 2 ? velfile::to_utf8(units)
                              : narrow_to_utf8(reinterpret_cast<const char*>(bytes.data()), len);
    if (len == shown && shown < count) (*j)["truncated"] = true;
    if (len == shown && shown == count) (*j)["unterminated"] = true;
    return;
  }
  if (type < VelFile::kTypeInt8 || type > VelFile::kTypeDouble) {  // raw bytes, codes without a meaning
    std::string h;
    for (const uint8_t b : bytes) h += "0123456789abcdef"[b >> 4], h += "0123456789abcdef"[b & 15];
    (*j)["value"] = h;
  } else {
    Json values = Json::array();
    for (uint64_t i = 0; i < shown; ++i)
      values.push_back(element(type, &bytes[static_cast<size_t>(i * size)]));
    (*j)["value"] = std::move(values);
  }
  if (shown < count) (*j)["truncated"] = true;
}

// The step that names a group in its path: the last one, past the last
// slash that no backslash takes literally.
std::string lastStep(const std::string& path) {
  for (size_t i = path.size(); i-- > 0;) {
    if (path[i] != '/') continue;
    size_t slashes = 0;
    while (slashes < i && path[i - 1 - slashes] == '\\') ++slashes;
    if (slashes % 2 == 0) return path.substr(i + 1);
  }
  return path;
}

// Writes groups as the walk meets them.
class TreeWriter {
 public:
  TreeWriter(std::ostream& out, const Options& options) : out_(out), options_(options) {}
  bool complete() const { return complete_; }

  void walk(const velfile::Group& root, const velfile::Section& section) {
    section_ = &section;
    const bool all = velfile::walk(
        root, [this](const velfile::WalkNode& n) { return enter(n); },
        [this](const velfile::WalkNode& n) { leave(n); }, options_.limits);
    complete_ = complete_ && all;
  }

 private:
  bool enter(const velfile::WalkNode& n) {
    if (!open_.empty()) {
      out_ << (open_.back() ? "\n" : ",\n");
      open_.back() = false;
    }
    Json head;
    head["name"] = n.name;
    head["step"] = step(n);
    if (n.depth > 0) {
      head["index"] = n.index;
      head["id"] = n.id;
    }
    head["entries"] = n.entries;
    head["directory"] = n.directory;
    if (n.state != velfile::NodeState::Open) {
      head["state"] = velfile::state_name(n.state);
      head["reason"] = n.reason;
    }
    std::string h = text(head);
    h.pop_back();  // the closing brace: leave() writes it
    out_ << h;
    if (n.state != velfile::NodeState::Open) return false;
    if (options_.items) items(n.group);
    out_ << ",\"groups\":[";
    open_.push_back(true);
    return true;
  }

  void leave(const velfile::WalkNode& n) {
    if (n.state == velfile::NodeState::Open) {
      open_.pop_back();
      out_ << "]";
    }
    out_ << "}";
  }

  void items(const velfile::Group& g) {
    std::vector<velfile::Item> list;
    try {
      list = g.items();
    } catch (const velfile::Error& e) {
      out_ << ",\"error\":" << text(Json(e.what()));
      complete_ = false;
      return;
    }
    out_ << ",\"items\":[";
    for (size_t i = 0; i < list.size(); ++i) {
      const Json j = item_json(g, *section_, list[i], options_);
      if (j.contains("error")) complete_ = false;
      out_ << (i ? ",\n" : "\n") << text(j);
    }
    out_ << "]";
  }

  std::ostream& out_;
  const Options& options_;
  const velfile::Section* section_ = nullptr;
  std::vector<bool> open_;  // per open group: no sub-group written yet
  bool complete_ = true;
};

std::string byteOrderName(velfile::ByteOrder order) {
  return order == velfile::ByteOrder::Little ? "little-endian" : "big-endian";
}

}  // namespace

std::string step(const velfile::WalkNode& node) {
  return node.depth == 0 ? node.path() : lastStep(node.path());
}

std::string narrow_to_utf8(const char* s, size_t n) {
  const auto* u = reinterpret_cast<const unsigned char*>(s);
  if (validUtf8(u, n)) return std::string(s, n);
  return velfile::to_utf8(std::u16string(u, u + n));  // Latin-1: each byte is its code point
}

Json item_json(const velfile::Group& group, const velfile::Section& section, const velfile::Item& item,
               const Options& options) {
  Json j;
  j["index"] = item.index();
  j["id"] = item.id();
  j["type"] = velfile::type_name(item.type());
  j["count"] = item.count();
  const uint64_t bytes = uint64_t(VelFile::file_SizeOf(item.type())) * item.count();
  if (item.type() != VelFile::kTypeGroup) {
    try {
      decodeValue(group, item, options, &j);
    } catch (const velfile::Error& e) {
      j["error"] = e.reason() == velfile::Reason::OutsideSection
                       ? "the value (" + std::to_string(bytes) + " bytes at +" + hex(item.value_field()) +
                             ") runs past the end of its section"
                       : std::string(e.what());
    }
  }
  if (item.out_of_line()) {
    j["offset"] = item.value_field();
    j["fileOffset"] = uint64_t(section.start()) + item.value_field();
  }
  return j;
}

bool write_file(std::ostream& out, const velfile::File& file, const Options& options, const Json& extra) {
  std::error_code ec;
  const uint64_t size = std::filesystem::file_size(std::filesystem::u8path(file.path()), ec);
  out << "{\"file\":" << text(Json(file.path())) << ",\"size\":" << (ec ? 0 : size) << ",\"sections\":[";
  TreeWriter writer(out, options);
  bool complete = true;
  const std::vector<velfile::Section> sections = file.sections();
  for (const velfile::Section& s : sections) {
    Json head;
    head["index"] = s.index();
    head["start"] = s.start();
    head["byteOrder"] = byteOrderName(s.byte_order());
    head["stringFormat"] = s.string_format() == velfile::StringFormat::Utf16 ? "utf16" : "narrow";
    head["entries"] = s.entries();
    head["size"] = s.size();
    std::string h = text(head);
    h.pop_back();
    out << (s.index() ? ",\n" : "\n") << h << ",\"group\":";
    velfile::Group root;
    try {
      root = file.section_group(s.index());
    } catch (const velfile::Error& e) {
      out << text(Json{{"name", s.name()},
                       {"step", std::to_string(s.index())},
                       {"state", velfile::state_name(velfile::NodeState::Error)},
                       {"reason", e.what()}});
      complete = false;
    }
    if (root.valid()) writer.walk(root, s);
    out << "}";
  }
  out << "]";
  for (const auto& member : extra.items())
    out << ",\n" << text(Json(member.key())) << ":" << text(member.value());
  out << "}\n";
  return complete && writer.complete();
}

bool write_group(std::ostream& out, const velfile::File& file, const std::string& path,
                 const Options& options) {
  const velfile::Group root = file.group(path);
  const velfile::Section section = root.section();
  out << "{\"file\":" << text(Json(file.path())) << ",\"path\":" << text(Json(path)) << ",\"group\":";
  TreeWriter writer(out, options);
  writer.walk(root, section);
  out << "}\n";
  return writer.complete();
}

}  // namespace velfile_json
