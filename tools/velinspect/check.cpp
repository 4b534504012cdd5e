// velinspect: the check command. It validates the raw bytes (section headers
// decoded as the library decodes them) and never trusts a number it reads:
// every offset and count is held against the file's size before it is used,
// directories are walked once each, and the walk stops at cycles and at a
// fixed depth.
#include <velfile/velfile.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>
#include <velfile/velfile.hpp>

#include "commands.h"
#include "common.h"

namespace velinspect {

namespace {

const int kMaxDepth = 200;
const size_t kBatch = 256;            // directory entries per read
const size_t kMaxShown = 1000;        // problems printed
const size_t kMaxRegions = 1u << 22;  // blocks remembered for the overlap test
const uint32_t kNone = 0xFFFFFFFFu;
const uint16_t kNameId = 10000;

uint64_t elementSize(uint16_t type) {
  return static_cast<uint64_t>(VelFile::file_SizeOf(type));
}

struct SectionView {
  uint32_t index;
  uint64_t start;
  uint64_t size;
  bool bigEndian;
};

struct Entry {
  uint16_t id, type;
  uint32_t count, value;
  uint8_t rawValue[4];
};

// A span of the file that belongs to one thing.
struct Region {
  enum Kind : uint8_t { kHeader, kDirectory, kValue };
  uint64_t begin;
  uint64_t length;
  uint32_t owner;  // section index (header) or directory index
  uint32_t item;   // item index (value)
  Kind kind;
  uint64_t end() const { return begin + length; }
};

// A directory met by the walk; its path is rebuilt from its parents when a
// message needs it.
struct Directory {
  uint32_t parent;  // kNone for a section group
  uint32_t item;    // index of the reference in the parent, or the section index
};

class Checker {
 public:
  explicit Checker(RawFile& file) : file_(file) {}
  int run(const std::string& name, std::ostream& out, std::ostream& err);
  const std::vector<std::string>& problems() const { return problems_; }
  size_t problemCount() const { return problemCount_; }

 private:
  // Counts a problem; its text is made only when it is shown.
  template <class Text>
  void problem(uint64_t at, Text text);
  std::string path(uint32_t dir) const;
  void walkDirectory(const SectionView& s, uint32_t offset, uint32_t entries, Directory where, int depth,
                     uint64_t referencedAt);
  void checkEntry(const SectionView& s, uint32_t dir, uint32_t index, uint64_t at, const Entry& e, int depth);
  void checkName(const SectionView& s, uint32_t dir, uint64_t at, const Entry& e);
  void checkValue(const SectionView& s, uint32_t dir, uint32_t index, uint64_t at, const Entry& e,
                  uint64_t n);
  void addRegion(Region::Kind kind, uint64_t begin, uint64_t length, uint32_t owner, uint32_t item);
  bool overlapsWalked(uint64_t begin, uint64_t end) const;
  std::string describe(const Region& r) const;
  std::string itemName(uint32_t dir, uint32_t index, const Entry* e) const;
  void checkOverlaps();
  void checkDataGroups(const std::string& name);

  RawFile& file_;
  std::vector<std::string> problems_;
  size_t problemCount_ = 0;
  std::vector<Directory> dirs_;
  std::map<uint64_t, uint64_t> walked_;                   // directories walked: begin -> end
  std::vector<std::pair<uint64_t, uint32_t>> ancestors_;  // directory position, index
  std::vector<Region> regions_;
  bool regionsDropped_ = false;
  uint64_t items_ = 0;
};

template <class Text>
void Checker::problem(uint64_t at, Text text) {
  ++problemCount_;
  if (problems_.size() >= kMaxShown) return;
  char where[24];
  std::snprintf(where, sizeof where, "0x%08llx: ", static_cast<unsigned long long>(at));
  problems_.push_back(where + text());
}

std::string Checker::path(uint32_t dir) const {
  std::vector<uint32_t> chain;
  for (uint32_t d = dir; dirs_[d].parent != kNone; d = dirs_[d].parent) chain.push_back(dirs_[d].item);
  uint32_t root = dir;
  while (dirs_[root].parent != kNone) root = dirs_[root].parent;
  std::string s = std::to_string(dirs_[root].item);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) s += "/[" + std::to_string(*it) + "]";
  return s;
}

void Checker::addRegion(Region::Kind kind, uint64_t begin, uint64_t length, uint32_t owner, uint32_t item) {
  if (length == 0) return;
  if (regions_.size() >= kMaxRegions) {
    regionsDropped_ = true;
    return;
  }
  regions_.push_back(Region{begin, static_cast<uint32_t>(length), owner, item, kind});
}

bool Checker::overlapsWalked(uint64_t begin, uint64_t end) const {
  auto next = walked_.upper_bound(begin);
  if (next != walked_.end() && next->first < end) return true;
  return next != walked_.begin() && std::prev(next)->second > begin;
}

std::string Checker::itemName(uint32_t dir, uint32_t index, const Entry* e) const {
  std::string s = path(dir) + " item [" + std::to_string(index) + "]";
  if (e)
    s += " (id " + std::to_string(e->id) + ", " + velfile::type_name(e->type) + " x" +
         std::to_string(e->count) + ")";
  return s;
}

void Checker::walkDirectory(const SectionView& s, uint32_t offset, uint32_t entries, Directory where,
                            int depth, uint64_t referencedAt) {
  const uint64_t begin = s.start + offset;
  const uint64_t bytes = uint64_t(entries) * kEntrySize;
  if (dirs_.size() >= kMaxRegions) {
    problem(referencedAt,
            [&] { return "more than " + std::to_string(kMaxRegions) + " groups: the walk stops"; });
    return;
  }
  const uint32_t dir = static_cast<uint32_t>(dirs_.size());
  dirs_.push_back(where);
  auto what = [&] {
    return "the directory of " + path(dir) + " (" + std::to_string(entries) + " entries at +" + hex(offset) +
           ")";
  };
  if (begin + bytes > file_.size()) {
    problem(referencedAt, [&] { return what() + " lies past the end of the file"; });
    return;
  }
  if (offset + bytes > s.size)
    problem(referencedAt, [&] { return what() + " runs past the end of its section"; });
  if (begin % 8 != 0) problem(begin, [&] { return what() + " is not 8-aligned"; });
  addRegion(Region::kDirectory, begin, bytes, dir, 0);
  // A directory overlapping one already walked is reported by the overlap
  // test and not walked: every byte of the file is walked at most once.
  if (overlapsWalked(begin, begin + bytes)) return;
  walked_[begin] = begin + bytes;
  ancestors_.emplace_back(begin, dir);
  items_ += entries;
  std::vector<uint8_t> raw(kBatch * kEntrySize);
  for (uint32_t first = 0; first < entries; first += kBatch) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kBatch, entries - first));
    const uint64_t at = begin + uint64_t(first) * kEntrySize;
    if (!file_.read(at, raw.data(), n * kEntrySize)) {
      problem(at, [&] { return what() + " cannot be read"; });
      break;
    }
    for (uint32_t k = 0; k < n; ++k) {
      const uint8_t* p = &raw[k * kEntrySize];
      Entry e{load16(p, s.bigEndian),
              load16(p + 2, s.bigEndian),
              load32(p + 4, s.bigEndian),
              load32(p + 8, s.bigEndian),
              {p[8], p[9], p[10], p[11]}};
      if (first + k == 0) checkName(s, dir, at, e);
      checkEntry(s, dir, first + k, at + k * kEntrySize, e, depth);
    }
  }
  ancestors_.pop_back();
}

void Checker::checkName(const SectionView& s, uint32_t dir, uint64_t at, const Entry& e) {
  if (e.type != 1 && e.type != 12) {
    problem(at, [&] {
      return path(dir) + ": the first item is not a name (" + velfile::type_name(e.type) + ")";
    });
    return;
  }
  if (e.id != kNameId)
    problem(at, [&] { return path(dir) + ": the name item has id " + std::to_string(e.id) + ", not 10000"; });
  if (e.count == 0) {
    problem(at, [&] { return path(dir) + ": the name item is empty: no terminator"; });
    return;
  }
  const uint64_t unit = elementSize(e.type);
  const uint64_t n = unit * e.count;
  uint8_t last[2] = {1, 1};
  if (n <= 4) {
    std::copy(e.rawValue + n - unit, e.rawValue + n, last);
  } else if (!file_.read(s.start + e.value + n - unit, last, static_cast<size_t>(unit))) {
    return;  // the value check reports it
  }
  if (last[0] != 0 || (unit == 2 && last[1] != 0))
    problem(at, [&] { return path(dir) + ": the name has no terminating zero"; });
}

void Checker::checkEntry(const SectionView& s, uint32_t dir, uint32_t index, uint64_t at, const Entry& e,
                         int depth) {
  if (e.type > 13)
    problem(at, [&] { return itemName(dir, index, &e) + ": unknown item type " + std::to_string(e.type); });
  if (e.type != 0) {
    const uint64_t n = elementSize(e.type) * e.count;
    if (n > 4) checkValue(s, dir, index, at, e, n);
    return;
  }
  auto ref = [&] { return itemName(dir, index, nullptr); };
  const uint64_t target = s.start + e.value;
  for (const auto& a : ancestors_) {
    if (a.first == target) {
      problem(at, [&] {
        return ref() + ": reference cycle: it leads back to the directory of " + path(a.second);
      });
      return;
    }
  }
  if (e.count == 0) {
    problem(at, [&] { return ref() + ": the group reference leads to an empty directory: no name item"; });
  } else if (depth + 1 > kMaxDepth) {
    problem(at, [&] {
      return ref() + ": groups nested more than " + std::to_string(kMaxDepth) + " levels deep";
    });
  } else {
    walkDirectory(s, e.value, e.count, Directory{dir, index}, depth + 1, at);
  }
}

void Checker::checkValue(const SectionView& s, uint32_t dir, uint32_t index, uint64_t at, const Entry& e,
                         uint64_t n) {
  const uint64_t begin = s.start + e.value;
  auto what = [&] {
    return itemName(dir, index, &e) + ": the value (" + std::to_string(n) + " bytes at +" + hex(e.value) +
           ")";
  };
  if (begin + n > file_.size()) {
    problem(at, [&] { return what() + " lies past the end of the file"; });
    return;
  }
  if (e.value + n > s.size) problem(at, [&] { return what() + " runs past the end of its section"; });
  if (begin % 8 != 0) problem(at, [&] { return what() + " is not 8-aligned"; });
  addRegion(Region::kValue, begin, n, dir, index);
}

std::string Checker::describe(const Region& r) const {
  switch (r.kind) {
    case Region::kHeader:
      return "the header of section " + std::to_string(r.owner);
    case Region::kDirectory:
      return "the directory of " + path(r.owner);
    case Region::kValue:
      break;
  }
  return "the value of " + itemName(r.owner, r.item, nullptr);
}

void Checker::checkOverlaps() {
  std::sort(regions_.begin(), regions_.end(), [](const Region& a, const Region& b) {
    return a.begin != b.begin ? a.begin < b.begin : a.length > b.length;
  });
  const Region* reach = nullptr;  // the region reaching furthest so far
  for (const Region& r : regions_) {
    if (reach && r.begin < reach->end()) {
      const bool same = r.begin == reach->begin && r.length == reach->length;
      problem(r.begin, [&] {
        return describe(r) + (same ? " takes the same bytes as " : " overlaps ") + describe(*reach);
      });
    }
    if (!reach || r.end() > reach->end()) reach = &r;
  }
  if (regionsDropped_) {
    problem(0, [] {
      return "more than " + std::to_string(kMaxRegions) +
             " blocks: overlaps were looked for among the first only";
    });
  }
}

// Data groups whose counts, sample quantity or entry size make their records
// overlap one another or their point table, or run out of their section:
// bytes the raw walk sees as sound, which the data reader refuses. Checked
// through the library once the rest of the file is sound.
void Checker::checkDataGroups(const std::string& name) {
  try {
    velfile::File f = velfile::File::open(name);
    const size_t sections = f.sections().size();
    for (uint32_t i = 0; i < sections; ++i)
      velfile::walk(f.section_group(i), [&](const velfile::WalkNode& n) {
        if (n.state != velfile::NodeState::Open || !n.group.has_item(10400)) return true;
        try {
          n.group.data();
        } catch (const velfile::Error& e) {
          if (e.reason() != velfile::Reason::Unsupported)
            problem(n.section_start + n.directory, [&] { return std::string(e.what()); });
        }
        return true;
      });
  } catch (const velfile::Error& e) {
    problem(0, [&] { return std::string(e.what()); });
  }
}

int Checker::run(const std::string& name, std::ostream& out, std::ostream& err) {
  const uint64_t size = file_.size();
  uint8_t raw[kHeaderSize];
  velfile::SectionHeaderFields h;
  auto header = [&](uint64_t at) {
    return at + kHeaderSize <= size && file_.read(at, raw, kHeaderSize) &&
           velfile::decode_section_header(raw, &h);
  };
  if (!header(0)) {
    err << "velinspect: " << name << " is not a container file: no section header at offset 0\n";
    return kExitUnreadable;
  }
  uint64_t position = 0, lastStart = 0;
  uint32_t index = 0;
  bool chainBroken = false;
  while (header(position)) {
    const std::string section = "section " + std::to_string(index);
    if (h.marker != 0x11223344u) {
      problem(position, [&] {
        return section + ": the byte-order marker " + hex(h.marker) + " is not 0x11223344 in either order";
      });
    }
    if (h.version != 3)
      problem(position + 8,
              [&] { return section + ": format version " + std::to_string(h.version) + ", not 3"; });
    if (h.string_format > 1) {
      problem(position + 12, [&] {
        return section + ": string format " + std::to_string(h.string_format) +
               " is neither 1 (utf16) nor 0 (narrow)";
      });
    }
    for (size_t k = 0; k < 2; ++k) {
      const size_t at = 28 + 4 * k;
      const uint32_t word = h.reserved[k];
      if (word != 0)
        problem(position + at, [&] {
          return section + ": the reserved word at +" + std::to_string(at) + " is " + hex(word) + ", not 0";
        });
    }
    addRegion(Region::kHeader, position, kHeaderSize, index, 0);
    if (h.size < kHeaderSize) {
      problem(position + 24, [&] {
        return section + ": the section size " + std::to_string(h.size) +
               " is smaller than its header; the sections after it cannot be found";
      });
      chainBroken = true;
    } else if (h.size % 8 != 0) {
      problem(position + 24, [&] {
        return section + ": the section size " + std::to_string(h.size) + " is not a multiple of 8";
      });
    }
    if (position + h.size > size) {
      problem(position + 24, [&] {
        return section + ": it runs past the end of the file (" + std::to_string(h.size) + " bytes from " +
               hex(position) + ", the file has " + std::to_string(size) + ")";
      });
      chainBroken = true;
    }
    const SectionView s{index, position, h.size, h.byte_order == velfile::ByteOrder::Big};
    if (h.entries == 0) {
      problem(position + 16, [&] { return section + ": its group has no entries: no name item"; });
    } else {
      walkDirectory(s, h.directory, h.entries, Directory{kNone, index}, 0, position + 20);
    }
    ++index;
    if (chainBroken) break;
    lastStart = position;
    position += h.size;
  }
  // A partial header after the last section is the mark of a cut file.
  const std::string cut = chainBroken ? std::string() : cutShort(file_, index - 1, lastStart, position);
  if (!cut.empty()) problem(position, [&] { return cut; });
  checkOverlaps();
  if (problemCount_ == 0) checkDataGroups(name);
  for (const std::string& p : problems_) out << p << "\n";
  if (problemCount_ > problems_.size())
    out << "... and " << problemCount_ - problems_.size() << " more problems\n";
  if (!chainBroken && cut.empty() && position < size)
    out << "note: " << size - position << " bytes after the last section belong to no section\n";
  if (problemCount_ == 0) {
    out << name << ": sound: " << index << (index == 1 ? " section, " : " sections, ") << dirs_.size()
        << (dirs_.size() == 1 ? " group, " : " groups, ") << items_ << " items\n";
    return kExitOk;
  }
  out << name << ": damaged: " << problemCount_ << (problemCount_ == 1 ? " problem\n" : " problems\n");
  return kExitDamaged;
}

}  // namespace

int runCheck(const std::string& file) {
  RawFile raw;
  std::string error;
  if (!raw.open(file, &error)) {
    std::cerr << "velinspect: cannot open " << file << ": " << error << "\n";
    return kExitUnreadable;
  }
  return Checker(raw).run(file, std::cout, std::cerr);
}

CheckReport checkFile(const std::string& file) {
  CheckReport report;
  RawFile raw;
  std::string error;
  if (!raw.open(file, &error)) {
    report.code = kExitUnreadable;
    report.error = "cannot open " + file + ": " + error;
    return report;
  }
  std::ostringstream out, err;
  Checker checker(raw);
  report.code = checker.run(file, out, err);
  report.problems = checker.problems();
  if (checker.problemCount() > report.problems.size())
    report.problems.push_back("... and " + std::to_string(checker.problemCount() - report.problems.size()) +
                              " more problems");
  report.error = err.str();
  const std::string prefix = "velinspect: ";
  if (report.error.compare(0, prefix.size(), prefix) == 0) report.error.erase(0, prefix.size());
  while (!report.error.empty() && report.error.back() == '\n') report.error.pop_back();
  return report;
}

}  // namespace velinspect
