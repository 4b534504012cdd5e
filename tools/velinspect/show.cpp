// velinspect: the tree and dump commands, as text or JSON. Both walk the
// file through the C++ layer depth-first and print each group as they meet
// it, so memory grows with the depth and the longest name, not with the
// number of groups.
#include <filesystem>
#include <iostream>

#include "commands.h"
#include "common.h"
#include "velfile_json.h"

namespace velinspect {

namespace {

using velfile_json::Json;

std::string dumpJson(const Json& j) {
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
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

// An item as its JSON object gives it, on one line.
std::string itemLine(const Json& item) {
  const std::string type = item["type"];
  std::string line = "[" + std::to_string(item["index"].get<uint32_t>()) + "] id " +
                     std::to_string(item["id"].get<uint16_t>()) + " " + type + " x" +
                     std::to_string(item["count"].get<uint32_t>());
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
  if (item.contains("offset"))
    line += "  at +" + hex(item["offset"].get<uint32_t>()) + " (file " +
            hex(item["fileOffset"].get<uint64_t>()) + ")";
  if (item.contains("unterminated")) line += "  (no terminator)";
  if (item.contains("error")) line += "  error: " + item["error"].get<std::string>();
  return line;
}

std::string sectionLine(const velfile::Section& s) {
  return "section " + std::to_string(s.index()) + " at " + hex(s.start()) + ": " +
         (s.byte_order() == velfile::ByteOrder::Little ? "little-endian" : "big-endian") + ", " +
         (s.string_format() == velfile::StringFormat::Utf16 ? "utf16" : "narrow") + " strings, " +
         std::to_string(s.entries()) + " entries, " + std::to_string(s.size()) + " bytes";
}

bool isOpen(const velfile::WalkNode& n) {
  return n.state == velfile::NodeState::Open;
}

void treeLine(const velfile::WalkNode& n, const std::string& shown) {
  std::cout << std::string(2 * size_t(n.depth) + 2, ' ') << shown << " " << quoted(n.name);
  if (n.depth > 0) std::cout << " (#" << n.id << ")";
  if (!isOpen(n))
    std::cout << ": " << n.reason << "\n";
  else
    std::cout << ": " << n.entries << (n.entries == 1 ? " item\n" : " items\n");
}

// Prints a group's items, one line each; returns false when some value
// could not be read.
bool dumpGroup(const velfile::WalkNode& n, const std::string& shown, const velfile::Section& section,
               const velfile_json::Options& o) {
  std::cout << "group " << shown << " " << quoted(n.name);
  if (!isOpen(n)) {
    std::cout << ": not shown: " << n.reason << "\n\n";
    return true;
  }
  std::cout << ": " << n.entries << (n.entries == 1 ? " item" : " items") << ", directory at "
            << where(section.start(), n.directory) << "\n";
  bool sound = true;
  for (const velfile::Item& it : n.group.items()) {
    const Json item = velfile_json::item_json(n.group, section, it, o);
    sound = sound && !item.contains("error");
    std::cout << "  " << itemLine(item) << "\n";
  }
  std::cout << "\n";
  return sound;
}

// How the file was cut short after or inside its last section, or empty.
// The layer lists the sections it could load; the chain ends where the
// size in the last one's header says.
std::string cutNote(const std::string& file, const std::vector<velfile::Section>& sections) {
  RawFile raw;
  std::string error;
  if (sections.empty() || !raw.open(file, &error)) return std::string();
  const velfile::Section& last = sections.back();
  return cutShort(raw, last.index(), last.start(), uint64_t(last.start()) + last.size());
}

int finish(const std::string& file, bool damaged) {
  if (!damaged) return kExitOk;
  std::cerr << "velinspect: " << file << " is damaged: not everything could be shown (velinspect check "
            << file << " lists the problems)\n";
  return kExitDamaged;
}

// Walks root, printing each group through show(node, shown path); returns
// whether every group was entered and shown. A group's path continues its
// parent's, so its length is counted from there and only its ends are
// scanned for shortening.
template <class Show>
bool walkText(const velfile::Group& root, Show show) {
  bool shown = true;
  std::vector<TextMark> ends;  // where each entered group's path ends
  const bool all = velfile::walk(
      root,
      [&](const velfile::WalkNode& n) {
        const std::string path = n.path();
        const TextMark parent = ends.empty() ? TextMark() : ends.back();
        const TextMark end{path.size(), parent.chars + countChars(path, parent.byte)};
        const size_t keptEnd =
            end.chars > kPathShown ? end.chars - (kPathShown - 3 - (kPathShown - 3) / 2) : 0;
        TextMark from;
        for (auto e = ends.rbegin(); e != ends.rend(); ++e)
          if (e->chars <= keptEnd) {
            from = *e;
            break;
          }
        shown = show(n, shortened(path, kPathShown, end.chars, from)) && shown;
        if (n.state == velfile::NodeState::Open) ends.push_back(end);
        return true;
      },
      [&](const velfile::WalkNode& n) {
        if (n.state == velfile::NodeState::Open) ends.pop_back();
      });
  return all && shown;
}

}  // namespace

int runTree(const std::string& file, bool json) {
  velfile::File f;
  int code = kExitOk;
  if (!openFile(file, &f, &code)) return code;
  const std::vector<velfile::Section> sections = f.sections();
  const std::string cut = cutNote(file, sections);
  if (json) {
    velfile_json::Options o;
    o.items = false;
    const velfile_json::Json extra =
        cut.empty() ? velfile_json::Json::object() : velfile_json::Json{{"cut", cut}};
    return finish(file, !velfile_json::write_file(std::cout, f, o, extra) || !cut.empty());
  }
  std::error_code ec;
  std::cout << file << ": " << sections.size() << (sections.size() == 1 ? " section, " : " sections, ")
            << std::filesystem::file_size(std::filesystem::u8path(file), ec) << " bytes\n";
  bool complete = true;
  for (const velfile::Section& s : sections) {
    std::cout << sectionLine(s) << "\n";
    try {
      complete = walkText(f.section_group(s.index()),
                          [](const velfile::WalkNode& n, const std::string& shown) {
                            treeLine(n, shown);
                            return true;
                          }) &&
                 complete;
    } catch (const velfile::Error& e) {
      std::cout << "  " << s.index() << " " << quoted(s.name()) << ": " << e.what() << "\n";
      complete = false;
    }
  }
  if (!cut.empty()) std::cout << cut << "\n";
  return finish(file, !complete || !cut.empty());
}

int runDump(const DumpOptions& options) {
  velfile::File f;
  int code = kExitOk;
  if (!openFile(options.file, &f, &code)) return code;
  velfile_json::Options o;
  o.max_elements = options.maxElements;
  const std::string cut = options.groupGiven ? std::string() : cutNote(options.file, f.sections());
  if (!cut.empty()) std::cerr << "velinspect: " << cut << "\n";
  bool complete = cut.empty();
  std::vector<velfile::Group> roots;
  try {
    if (options.json)
      return finish(options.file,
                    !(options.groupGiven ? velfile_json::write_group(std::cout, f, options.group, o)
                                         : velfile_json::write_file(std::cout, f, o)) ||
                        !complete);
    if (options.groupGiven) roots.push_back(f.group(options.group));
  } catch (const velfile::Error& e) {
    return report(e);
  }
  auto walkFrom = [&](const velfile::Group& root) {
    const velfile::Section section = root.section();
    complete = walkText(root, [&](const velfile::WalkNode& n,
                                  const std::string& shown) { return dumpGroup(n, shown, section, o); }) &&
               complete;
  };
  for (const velfile::Group& root : roots) walkFrom(root);
  if (!options.groupGiven) {
    for (const velfile::Section& s : f.sections()) {
      velfile::Group root;
      try {
        root = f.section_group(s.index());
      } catch (const velfile::Error& e) {
        std::cout << "group " << s.index() << " " << quoted(s.name()) << ": not shown: " << e.what()
                  << "\n\n";
        complete = false;
      }
      if (root.valid()) walkFrom(root);
    }
  }
  return finish(options.file, !complete);
}

}  // namespace velinspect
