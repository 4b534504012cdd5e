// velinspect: the tree and dump commands, as text or JSON.
#include <velfile/velfile.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>

#include "commands.h"
#include "walk.h"

namespace velinspect {

namespace {

using Json = nlohmann::ordered_json;

// Strings longer than this are cut in the dump.
const size_t kMaxTextUnits = 4096;
// Elements read through one file_Read call.
const size_t kBatch = 4096;

std::string dumpJson(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string jsonString(const std::string& s) {
  return dumpJson(Json(s));
}

// A float as the shortest decimal that reads back as the same float.
Json floatJson(double v, bool single) {
  if (std::isnan(v)) return "nan";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  if (!single) return v;
  char buf[64];
  const auto end = std::to_chars(buf, buf + sizeof buf, static_cast<float>(v)).ptr;
  double shortest = v;
  std::from_chars(buf, end, shortest);
  return shortest;
}

Json element(uint16_t type, const unsigned char* p) {
  switch (type) {
    case VelFile::kTypeInt8:
      return static_cast<int8_t>(p[0]);
    case VelFile::kTypeUInt8:
      return p[0];
    case VelFile::kTypeInt16:
    case VelFile::kTypeUInt16: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return type == VelFile::kTypeInt16 ? Json(static_cast<int16_t>(v)) : Json(v);
    }
    case VelFile::kTypeInt32:
    case VelFile::kTypeUInt32: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return type == VelFile::kTypeInt32 ? Json(static_cast<int32_t>(v)) : Json(v);
    }
    case VelFile::kTypeFloat: {
      float v;
      std::memcpy(&v, p, 4);
      return floatJson(v, true);
    }
    case VelFile::kTypeDouble: {
      double v;
      std::memcpy(&v, p, 8);
      return floatJson(v, false);
    }
    default: {  // the two 32-bit words of types 8 and 9
      uint32_t w[2];
      std::memcpy(w, p, 8);
      return Json::array({w[0], w[1]});
    }
  }
}

bool isNumber(uint16_t type) {
  return (type >= VelFile::kTypeInt8 && type <= VelFile::kTypeDouble);
}

// Reads the first n bytes of an item's value: from the value field when it
// stands inline, else from the section through the library.
int valueBytes(void* group, uint32_t field, uint64_t total, size_t n, std::vector<unsigned char>* out) {
  out->resize(n);
  if (n == 0) return VelFile::kOk;
  if (total <= 4) {
    std::memcpy(out->data(), &field, n);
    return VelFile::kOk;
  }
  return VelFile::file_ReadBlock(group, field, static_cast<uint32_t>(n),
                                 reinterpret_cast<char*>(out->data()));
}

struct DumpContext {
  size_t maxElements;
  uint64_t fileSize;
};

// The value of one item, decoded by its type, into item["value"].
void decodeValue(const Node& node, uint16_t type, uint32_t count, uint32_t field, const DumpContext& ctx,
                 Json* item) {
  void* group = node.group;
  const uint64_t size = static_cast<uint64_t>(VelFile::file_SizeOf(type));
  const uint64_t total = size * count;
  const bool isText = type == VelFile::kTypeNarrow || type == VelFile::kTypeUtf16;
  const uint64_t shown = std::min<uint64_t>(count, isText ? kMaxTextUnits : ctx.maxElements);
  // Nothing is read or allocated for a value that cannot be in the file.
  const uint64_t end = uint64_t(node.sectionStart) + field + total;
  if (total > 4 && (end > ctx.fileSize || uint64_t(field) + total > UINT32_MAX)) {
    (*item)["error"] = "the value lies outside the file";
    return;
  }
  std::vector<unsigned char> bytes;
  if (isText) {
    const size_t units = static_cast<size_t>(shown);
    const int rc = valueBytes(group, field, total, units * size, &bytes);
    if (rc != VelFile::kOk) {
      (*item)["error"] = resultText(rc);
      return;
    }
    size_t len = 0;
    std::u16string wide;
    for (; len < units; ++len) {
      char16_t u = bytes[len];
      if (size == 2) std::memcpy(&u, &bytes[2 * len], 2);
      if (u == 0) break;
      wide.push_back(u);
    }
    (*item)["value"] = size == 2 ? storedText(wide, VelFile::file_SwapNeeded(group) != 0)
                                 : narrowToUtf8(reinterpret_cast<const char*>(bytes.data()), len);
    if (len == units && units < count) (*item)["truncated"] = true;
    if (len == units && units == count) (*item)["unterminated"] = true;
    return;
  }
  if (!isNumber(type)) {  // raw bytes, and codes without a meaning
    const int rc = valueBytes(group, field, total, static_cast<size_t>(shown), &bytes);
    if (rc != VelFile::kOk) {
      (*item)["error"] = resultText(rc);
      return;
    }
    std::string text;
    for (unsigned char b : bytes) text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
    (*item)["value"] = text;
  } else {
    Json values = Json::array();
    if (total <= 4) {
      unsigned char inlineValue[8] = {};  // room for any element type
      std::memcpy(inlineValue, &field, sizeof field);
      for (uint64_t i = 0; i < shown; ++i) values.push_back(element(type, inlineValue + i * size));
    } else {
      bytes.resize(static_cast<size_t>(std::min<uint64_t>(shown, kBatch) * size));
      for (uint64_t done = 0; done < shown;) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(shown - done, kBatch));
        const int rc = VelFile::file_Read(group, static_cast<uint32_t>(field + done * size), n, type,
                                          reinterpret_cast<char*>(bytes.data()), nullptr);
        if (rc != VelFile::kOk) {
          (*item)["error"] = resultText(rc);
          return;
        }
        for (uint32_t i = 0; i < n; ++i) values.push_back(element(type, &bytes[i * size]));
        done += n;
      }
    }
    (*item)["value"] = values;
  }
  if (shown < count) (*item)["truncated"] = true;
}

Json itemJson(const Node& node, uint32_t index, const DumpContext& ctx,
              const std::map<uint32_t, const Node*>& subs) {
  Json item;
  item["index"] = index;
  uint16_t id = 0, type = 0;
  uint32_t count = 0, field = 0;
  const int rc = VelFile::file_ItemInfo(node.group, index, &id, &type, &count, &field, nullptr, 0);
  if (rc != VelFile::kOk) {
    item["error"] = resultText(rc);
    return item;
  }
  item["id"] = id;
  item["type"] = typeName(type);
  item["count"] = count;
  if (type == VelFile::kTypeGroup) {
    const auto sub = subs.find(index);
    if (sub != subs.end()) {
      item["group"] = sub->second->name;
      item["path"] = sub->second->path;
    }
  } else {
    decodeValue(node, type, count, field, ctx, &item);
  }
  const uint64_t total = uint64_t(VelFile::file_SizeOf(type)) * count;
  if (type == VelFile::kTypeGroup || total > 4) {
    item["offset"] = field;
    item["fileOffset"] = uint64_t(node.sectionStart) + field;
  }
  return item;
}

std::string where(uint32_t sectionStart, uint32_t offset) {
  return "+" + hex(offset) + " (file " + hex(uint64_t(sectionStart) + offset) + ")";
}

// Numbers, and pairs of words (types 8 and 9), as a list; a single number
// stands alone.
std::string numbers(const Json& v, bool cut) {
  if (v.size() == 1 && !cut && !v[0].is_array()) return dumpJson(v[0]);
  std::string s = "[";
  for (size_t i = 0; i < v.size(); ++i) {
    s += i ? ", " : "";
    s += v[i].is_array() ? numbers(v[i], false) : dumpJson(v[i]);
  }
  return s + (cut ? (v.empty() ? "..." : ", ...") : "") + "]";
}

std::string itemLine(const Json& item) {
  std::string line = "[" + std::to_string(item["index"].get<uint32_t>()) + "]";
  if (!item.contains("id")) return line + " error: " + item["error"].get<std::string>();
  line += " id " + std::to_string(item["id"].get<uint16_t>()) + " " + item["type"].get<std::string>() + " x" +
          std::to_string(item["count"].get<uint32_t>());
  const std::string type = item["type"];
  const bool cut = item.contains("truncated");
  if (item.contains("value")) {
    const Json& v = item["value"];
    line += " = ";
    if (v.is_array()) {
      line += numbers(v, cut);
    } else if (type == "char" || type == "utf16") {
      line += quoted(v.get<std::string>(), SIZE_MAX) + (cut ? "..." : "");
    } else {  // raw bytes as hex pairs
      const std::string h = v;
      for (size_t i = 0; i < h.size(); i += 2) line += (i ? " " : "") + h.substr(i, 2);
      line += cut ? " ..." : "";
    }
  }
  if (item.contains("group"))
    line +=
        " -> " + shownPath(item["path"].get<std::string>()) + " " + quoted(item["group"].get<std::string>());
  if (item.contains("offset"))
    line += "  at +" + hex(item["offset"].get<uint32_t>()) + " (file " +
            hex(item["fileOffset"].get<uint64_t>()) + ")";
  if (item.contains("unterminated")) line += "  (no terminator)";
  if (item.contains("error")) line += "  error: " + item["error"].get<std::string>();
  return line;
}

// --- tree ---

Json nodeJson(const Node& n) {
  Json j;
  j["name"] = n.name;
  j["path"] = n.path;
  if (!n.isSection) {
    j["id"] = n.id;
    j["index"] = n.index;
  }
  j["items"] = n.entries;
  if (n.directoryKnown) j["directory"] = n.directory;
  if (n.state != Node::kOpen) {
    j["status"] = stateName(n.state);
    j["note"] = n.note;
    return j;
  }
  if (!n.note.empty()) j["note"] = n.note;
  j["groups"] = Json::array();
  for (const Node& c : n.children) j["groups"].push_back(nodeJson(c));
  return j;
}

void printNode(const Node& n, int depth) {
  std::cout << std::string(2 * depth + 2, ' ') << shownPath(n.path) << " " << quoted(n.name);
  if (!n.isSection) std::cout << " (#" << n.id << ")";
  if (n.state != Node::kOpen) {
    std::cout << ": " << n.note << "\n";
    return;
  }
  std::cout << ": " << n.entries << (n.entries == 1 ? " item" : " items");
  if (!n.note.empty()) std::cout << "; " << n.note;
  std::cout << "\n";
  for (const Node& c : n.children) printNode(c, depth + 1);
}

std::string sectionLine(const Section& s) {
  std::string line = "section " + std::to_string(s.index) + " at " + hex(s.start) + ": ";
  if (!s.headerRead) return line + "header unreadable, " + std::to_string(s.entries) + " entries";
  return line + byteOrderName(s.header) + ", " + stringFormatName(s.header.stringFormat) + " strings, " +
         std::to_string(s.entries) + " entries, " + std::to_string(s.header.size) + " bytes";
}

struct Opened {
  Container container;
  RawFile raw;
};

// Opens the file through the library and for its headers; prints why not.
int openBoth(const std::string& file, Opened* o) {
  std::string message;
  const int code = o->container.open(file, &message);
  if (code != kExitOk) {
    std::cerr << "velinspect: " << message << "\n";
    return code;
  }
  if (!o->raw.open(file, &message)) {
    std::cerr << "velinspect: cannot open " << file << ": " << message << "\n";
    return kExitUnreadable;
  }
  return kExitOk;
}

// --- dump ---

// Every line after the first moved right by n spaces.
std::string indented(const std::string& text, size_t n) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\n') out.append(n, ' ');
  }
  return out;
}

// Writes the dump as it goes, one group and one item at a time, so that
// memory does not grow with the file. The JSON is laid out as dump(2) would.
class DumpWriter {
 public:
  DumpWriter(const DumpContext& ctx, bool json) : ctx_(ctx), json_(json) {}
  bool bad() const { return bad_; }

  void begin(const std::string& file) {
    if (json_) std::cout << "{\n  \"file\": " << jsonString(file) << ",\n  \"groups\": [";
  }
  void end() {
    if (json_) std::cout << (firstGroup_ ? "]" : "\n  ]") << "\n}\n";
  }

  void group(const Node& n) {
    const char* separator = firstGroup_ ? "\n    " : ",\n    ";
    firstGroup_ = false;
    if (n.state != Node::kOpen) {
      if (json_) {
        const Json j = {{"path", n.path}, {"name", n.name}, {"status", stateName(n.state)}, {"note", n.note}};
        std::cout << separator << indented(text(j), 4);
      } else {
        std::cout << "group " << shownPath(n.path) << " " << quoted(n.name) << ": not shown: " << n.note
                  << "\n\n";
      }
      return;
    }
    if (json_) {
      Json head;
      head["path"] = n.path;
      head["name"] = n.name;
      head["sectionStart"] = n.sectionStart;
      if (n.directoryKnown) head["directory"] = n.directory;
      std::string h = text(head);
      h.erase(h.size() - 2);  // the closing "\n}": the items follow
      std::cout << separator << indented(h, 4) << ",\n      \"items\": [";
    } else {
      std::cout << "group " << shownPath(n.path) << " " << quoted(n.name) << ": " << n.entries
                << (n.entries == 1 ? " item" : " items");
      if (n.directoryKnown) std::cout << ", directory at " << where(n.sectionStart, n.directory);
      std::cout << "\n";
    }
    std::map<uint32_t, const Node*> subs;
    for (const Node& c : n.children) subs[c.index] = &c;
    for (uint32_t i = 0; i < n.entries; ++i) {
      const Json item = itemJson(n, i, ctx_, subs);
      if (item.contains("error")) bad_ = true;
      if (json_)
        std::cout << (i ? ",\n        " : "\n        ") << indented(text(item), 8);
      else
        std::cout << "  " << itemLine(item) << "\n";
    }
    std::cout << (json_ ? (n.entries ? "\n      ]\n    }" : "]\n    }") : "\n");
    for (const Node& c : n.children) group(c);
  }

 private:
  static std::string text(const Json& j) { return j.dump(2, ' ', false, Json::error_handler_t::replace); }

  const DumpContext& ctx_;
  bool json_;
  bool firstGroup_ = true;
  bool bad_ = false;
};

// How the file was cut short after or inside its last section, or empty.
std::string cutNote(const std::vector<Section>& sections, RawFile& raw) {
  if (sections.empty() || !sections.back().headerRead) return std::string();
  const Section& last = sections.back();
  return cutShort(raw, last.index, last.start, uint64_t(last.start) + last.header.size);
}

int finish(const std::string& file, bool damaged) {
  if (!damaged) return kExitOk;
  std::cerr << "velinspect: " << file << " is damaged: not everything could be shown (velinspect check "
            << file << " lists the problems)\n";
  return kExitDamaged;
}

}  // namespace

int runTree(const std::string& file, bool json) {
  Opened o;
  const int code = openBoth(file, &o);
  if (code != kExitOk) return code;
  Walker walker(o.container.handle(), &o.raw);
  const std::vector<Section> sections = walker.sections();
  Json doc;
  doc["file"] = file;
  doc["size"] = o.raw.size();
  doc["sections"] = Json::array();
  if (!json)
    std::cout << file << ": " << sections.size() << (sections.size() == 1 ? " section, " : " sections, ")
              << o.raw.size() << " bytes\n";
  for (const Section& s : sections) {
    const Node root = walker.sectionTree(s);
    if (!json) {
      std::cout << sectionLine(s) << "\n";
      printNode(root, 0);
      continue;
    }
    Json j;
    j["index"] = s.index;
    j["start"] = s.start;
    if (s.headerRead) {
      j["byteOrder"] = byteOrderName(s.header);
      j["stringFormat"] = stringFormatName(s.header.stringFormat);
    }
    j["entries"] = s.entries;
    if (s.headerRead) j["size"] = s.header.size;
    j["group"] = nodeJson(root);
    doc["sections"].push_back(std::move(j));
  }
  const std::string cut = cutNote(sections, o.raw);
  if (!cut.empty()) {
    if (json)
      doc["cut"] = cut;
    else
      std::cout << cut << "\n";
  }
  if (json) std::cout << doc.dump(2, ' ', false, Json::error_handler_t::replace) << "\n";
  return finish(file, walker.incomplete() || !cut.empty());
}

int runDump(const DumpOptions& options) {
  GroupPath path;
  std::string error;
  if (options.groupGiven && !parseGroupPath(options.group, &path, &error)) {
    std::cerr << "velinspect: " << error << "\n";
    return kExitUsage;
  }
  Opened o;
  const int code = openBoth(options.file, &o);
  if (code != kExitOk) return code;
  Walker walker(o.container.handle(), &o.raw);
  std::vector<Node> roots;
  if (!options.groupGiven) {
    for (const Section& s : walker.sections()) roots.push_back(walker.sectionTree(s));
  } else {
    roots.emplace_back();
    const int rc = walker.resolve(path, options.group, true, &roots.back(), &error);
    if (rc != kExitOk) {
      std::cerr << "velinspect: " << error << "\n";
      return rc;
    }
  }
  const std::string cut = options.groupGiven ? std::string() : cutNote(walker.sections(), o.raw);
  if (!cut.empty()) std::cerr << "velinspect: " << cut << "\n";
  const DumpContext ctx{options.maxElements, o.raw.size()};
  DumpWriter writer(ctx, options.json);
  writer.begin(options.file);
  for (const Node& root : roots) writer.group(root);
  writer.end();
  return finish(options.file, walker.incomplete() || writer.bad() || !cut.empty());
}

}  // namespace velinspect
