// Files exchanged between machines: a fixed corpus of container files with
// known content, written on one machine and read on another of the other byte
// order (or on Windows). Run without arguments it is a test program that
// writes the corpus and reads it back here; with arguments it is one side of
// an exchange (scripts/portability.sh):
//
//   velfile_test_interchange write DIR    write the corpus into DIR
//   velfile_test_interchange verify DIR   read DIR back, exit 1 on a mismatch
//   velfile_test_interchange extend DIR   add a section in this machine's byte
//                                         order to DIR/sections.A01
//
// The corpus is data: files of sections, each a tree of groups holding items
// and bulk blocks, or one group per module. One writer lays it down, one
// verifier reads it back. What "equal" means follows the container rules:
// numbers come back in the reader's byte order; UTF-16 text is never swapped,
// so text written in the other byte order comes back with each unit
// byte-reversed; narrow text and raw bytes come back as written, except that
// an inline raw value (4 bytes or less) of a foreign section has its value
// field reversed as one 32-bit word.
#include <cstdio>

#include "moduletest.h"

using namespace VelFile;
using vt::Bytes;
using vt::VelString;

namespace {

// Mismatches are collected rather than asserted, so that the same checks
// serve the test program and the exchange commands.
struct Report {
  std::vector<std::string> failures;
  std::string where;
  bool check(bool ok, const std::string& what) {
    if (!ok) failures.push_back(where + ": " + what);
    return ok;
  }
  bool code(int actual, const std::string& what) {
    return check(actual == 0, what + " gave " + std::to_string(actual));
  }
  std::string text() const {
    std::string out;
    for (const std::string& f : failures) out += "  " + f + "\n";
    return out;
  }
};

std::string hex(const Bytes& b) {
  std::string out;
  char buf[4];
  for (uint8_t v : b) std::snprintf(buf, sizeof buf, "%02x", v), out += buf;
  return out;
}

// One item of known content; bytes are the elements in host order.
struct ItemCase {
  uint16_t id, type;
  uint32_t count;
  Bytes bytes;
};
// Text with its terminator: UTF-16 from a VelChar literal, narrow from a char one.
template <class C>
ItemCase text(uint16_t id, const C* s) {
  const size_t n = std::char_traits<C>::length(s) + 1;
  return {id, uint16_t(sizeof(C) == 1 ? kTypeNarrow : kTypeUtf16), uint32_t(n),
          Bytes(vt::cp(s), vt::cp(s + n))};
}
// Elements of the item type given as values of T (two 32-bit words make one
// element of types 8 and 9).
template <class T>
ItemCase numbers(uint16_t id, uint16_t type, std::initializer_list<T> values) {
  Bytes b;
  for (T v : values) {
    const Bytes e = vt::bytesOf(v);
    b.insert(b.end(), e.begin(), e.end());
  }
  return {id, type, uint32_t(b.size() / size_t(file_SizeOf(type))), b};
}

// A group of the corpus: items written by value, bulk blocks written by
// offset, sub-groups under their ids.
struct Node {
  VelString name;
  std::vector<ItemCase> items = {}, blocks = {};
  std::vector<std::pair<uint16_t, Node>> subs = {};
};

struct CorpusFile {
  const char* name;
  int charFormat;            // 1: names and UTF-16 values stored narrow (ASCII only)
  std::vector<Node> groups;  // the sections; none: one group per module
};

ItemCase ramp() {  // long enough to be moved in several chunks when progress is asked for
  std::vector<int16_t> v(150000);
  for (uint32_t i = 0; i < v.size(); ++i) v[i] = static_cast<int16_t>(i * 37 - 20000);
  return {9, kTypeInt16, uint32_t(v.size()), Bytes(vt::cp(v.data()), vt::cp(v.data() + v.size()))};
}

const Node kSection = {VELFILE_TEXT("Section"),
                       {numbers<uint32_t>(2, kTypeUInt32, {0x0A0B0C0Du}),
                        numbers<double>(3, kTypeDouble, {2.75}), text(4, VELFILE_TEXT("section text"))}};

// clang-format off
const std::vector<CorpusFile>& corpus() {
  static const std::vector<CorpusFile> files = {
      {"items.bin", 0, {{VELFILE_TEXT("Items \u00c5"), {  // every type, inline and out of line
          numbers<int8_t>(2, kTypeInt8, {-5}), numbers<uint8_t>(3, kTypeUInt8, {1, 2, 3}),
          numbers<int16_t>(4, kTypeInt16, {-1234}), numbers<uint16_t>(5, kTypeUInt16, {0x1234, 0xABCD}),
          numbers<int32_t>(6, kTypeInt32, {-123456789}), numbers<uint32_t>(7, kTypeUInt32, {0x89ABCDEFu}),
          numbers<uint32_t>(8, kTypeQuad8, {0x01020304u, 0x05060708u}),
          numbers<uint32_t>(9, kTypeQuad9, {0x11121314u, 0x15161718u, 0x21222324u, 0x25262728u}),
          numbers<float>(10, kTypeFloat, {3.25f}), numbers<double>(11, kTypeDouble, {-20000000000.5}),
          numbers<int16_t>(20, kTypeInt16, {-3, -2, -1, 0x1234, 0x7FFF}),
          numbers<uint16_t>(21, kTypeUInt16, {1, 0x8001, 0xFFFE}),
          numbers<int32_t>(22, kTypeInt32, {-1, 0x12345678, -0x7FFFFFFF}),
          numbers<uint32_t>(23, kTypeUInt32, {0xDEADBEEFu, 42u}), numbers<float>(24, kTypeFloat, {0.5f, -1.75f, 1.0e20f}),
          numbers<double>(25, kTypeDouble, {1.0 / 3.0, -0.0}), numbers<int8_t>(26, kTypeInt8, {1, -2, 3, -4, 5, -6, 7}),
          numbers<uint8_t>(30, kTypeRaw, {0x11, 0x22, 0x33}), numbers<uint8_t>(31, kTypeRaw, {0x5A}),
          numbers<uint8_t>(32, kTypeRaw, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}), text(40, VELFILE_TEXT("A")),
          text(41, VELFILE_TEXT("Wide text \u00e9\u20ac \U0001D11E")), text(42, "abc"), text(43, "narrow text")},
        {}, {{50, {VELFILE_TEXT("Child"), {numbers<uint32_t>(1, kTypeUInt32, {7u})}, {},
                   {{2, {VELFILE_TEXT("Grandchild"), {numbers<double>(1, kTypeDouble, {0.5}), text(2, VELFILE_TEXT("deep"))}}}}}}}}}},
      // Names and UTF-16 values stored narrow, so never swapped; ASCII only,
      // as the narrow sets of the machines differ.
      {"narrow.bin", 1, {{VELFILE_TEXT("Narrow section"), {text(2, VELFILE_TEXT("plain ascii text")), text(3, VELFILE_TEXT("ab"))},
        {}, {{9, {VELFILE_TEXT("Narrow sub"), {numbers<int32_t>(1, kTypeInt32, {-2})}}}}}}},
      {"bulk.bin", 0, {{VELFILE_TEXT("Bulk"), {}, {
          numbers<int16_t>(1, kTypeInt16, {-1, 2, -3, 0x4142}), numbers<uint16_t>(2, kTypeUInt16, {0xFF00, 0x00FF, 7}),
          numbers<int32_t>(3, kTypeInt32, {-100000, 100000}), numbers<uint32_t>(4, kTypeUInt32, {0x01020304u, 0xA0B0C0D0u, 5u}),
          numbers<uint32_t>(5, kTypeQuad8, {0x01020304u, 0x05060708u}), numbers<float>(6, kTypeFloat, {1.5f, -2.5f}),
          numbers<double>(7, kTypeDouble, {3.0e100, -1.0 / 7.0}), numbers<uint8_t>(8, kTypeRaw, {9, 8, 7, 6, 5}), ramp()}}}},
      {"sections.A01", 0, {kSection}},  // one more section per "extend"
      {"modules.bin", 0, {}},
      {"modules-narrow.bin", 1, {}},
  };
  return files;
}
// clang-format on

const uint16_t kWriterItem = 1;  // type 3: 1 when the writer was big-endian

// --- the writer ---

void writeGroup(void* g, const Node& n, Report& r) {
  for (const ItemCase& s : n.items)
    r.code(file_ItemValueWrite(g, s.id, s.type, s.count, vt::cp(s.bytes.data())),
           "item " + std::to_string(s.id));
  for (const ItemCase& s : n.blocks) {
    const uint64_t at = file_Allocate(g, uint32_t(s.bytes.size()));
    int32_t progress = 0;
    r.code(file_Write(g, at, vt::cp(s.bytes.data()), uint32_t(s.bytes.size()), &progress), "block");
    r.code(file_ItemOffsetWrite(g, s.id, s.type, s.count, uint32_t(at)), "block " + std::to_string(s.id));
  }
  for (const auto& sub : n.subs) {
    void* s = nullptr;
    if (r.code(file_GroupCreate(g, &s, sub.first, sub.second.name.c_str()), "sub-group"))
      writeGroup(s, sub.second, r);
  }
}

// A section in this machine's byte order, marked with it.
void* newSection(void* file, const VelString& name, Report& r) {
  void* g = nullptr;
  const uint8_t big = vt::hostBigEndian() ? 1 : 0;
  r.code(file_GroupCreate(file, &g, 0, name.c_str()), "section");
  r.code(file_ItemValueWrite(g, kWriterItem, kTypeUInt8, 1, vt::cp(&big)), "writer item");
  return g;
}

// A module's corpus descriptor: a fresh one written into a scratch group,
// every item patterned and read back. Both machines make it the same way.
vt::Module::Ptr corpusDescriptor(const vt::Module& m, void* scratch) {
  auto fresh = m.fresh();
  void *a = nullptr, *b = nullptr;
  file_GroupCreate(scratch, &a, 1, VELFILE_TEXT("M"));
  file_GroupCreate(scratch, &b, 2, VELFILE_TEXT("Pattern"));  // the name a module takes from its group
  m.write(a, nullptr, fresh.get());
  vt::patternItems(a, b);
  auto d = m.fresh();
  m.read(b, d.get());
  return d;
}

// A file of one section and one group to write into; removed when done.
struct Scratch {
  std::string path;
  void *file = nullptr, *section = nullptr;
  explicit Scratch(const std::string& p) : path(p) {
    file_Create(vt::V(path).c_str(), &file);
    file_GroupCreate(file, &section, 0, VELFILE_TEXT("S"));
  }
  ~Scratch() {
    file_Close(file);
    std::remove(path.c_str());
  }
};

void writeFile(const std::string& dir, const CorpusFile& c, const std::string& scratch, Report& r) {
  void* f = nullptr;
  if (!r.code(file_Create(vt::V(dir + "/" + c.name).c_str(), &f), "create")) return;
  r.code(file_SetCharacterFormat(f, c.charFormat), "character format");
  for (const Node& n : c.groups) writeGroup(newSection(f, n.name, r), n, r);
  if (c.groups.empty()) {
    void* section = newSection(f, VELFILE_TEXT("Modules"), r);
    for (const vt::Module& m : vt::modules()) {
      Scratch s(scratch + "/scratch.bin");
      void* g = nullptr;
      r.code(file_GroupCreate(section, &g, 1, vt::V(m.name).c_str()), "module group");
      r.code(m.write(g, nullptr, corpusDescriptor(m, s.section).get()), std::string(m.name) + " write");
    }
  }
  r.code(file_Close(f), "close");
}

// --- the verifier ---

struct Verifier {
  Report& r;
  bool swapped = false;  // the section was written in the other byte order
  bool narrowText = false;

  // UTF-16 text as this machine reads it.
  Bytes wanted(const Bytes& utf16) const {
    return swapped && !narrowText ? vt::reversedElements(utf16, kTypeUtf16) : utf16;
  }

  void group(void* g, const Node& n, uint32_t first) {
    VelChar name[64] = {};
    r.code(file_GroupNameGet(g, name, 64), "group name");
    r.check(text(0, name).bytes == wanted(text(0, n.name.c_str()).bytes), "group name");
    r.check(file_ItemNbrGet(g) == first + n.items.size() + n.blocks.size() + n.subs.size(), "item count");
    uint32_t i = first;
    for (const ItemCase& s : n.items) item(g, i++, s);
    for (const ItemCase& s : n.blocks) block(g, i++, s);
    for (const auto& sub : n.subs) {
      uint32_t key = 0;
      void* s = nullptr;
      file_ItemInfo(g, i++, nullptr, nullptr, nullptr, &key, nullptr, 0);
      if (r.code(file_GroupOpen(g, &s, key), "sub-group")) group(s, sub.second, 1);
    }
  }

  void item(void* g, uint32_t index, const ItemCase& s) {
    const std::string what = "item " + std::to_string(s.id);
    uint16_t id = 0, type = 0;
    uint32_t count = 0, value = 0;
    r.code(file_ItemInfo(g, index, &id, &type, &count, &value, nullptr, 0), what);
    const uint16_t stored = narrowText && s.type == kTypeUtf16 ? uint16_t(kTypeNarrow) : s.type;
    if (!r.check(id == s.id && type == stored && count == s.count, what + " id, type or count")) return;
    Bytes got(s.bytes.size() + 8, 0xEE), want = s.bytes;
    char* buffer = vt::mp(got.data());
    uint32_t delivered = 0;
    if (s.type == kTypeQuad8 || s.type == kTypeQuad9) {  // no conversion reads these: read as a block
      r.code(file_Read(g, value, count, type, buffer, nullptr), what);
    } else if (s.type == kTypeRaw) {
      r.code(file_IndexValueRead(g, index, kTypeRaw, buffer, &delivered), what);
      if (want.size() <= 4) {  // the value field as it stands: reversed as one word when foreign
        want.resize(4, 0);
        if (swapped) std::reverse(want.begin(), want.end());
        if (s.count == 1) want.resize(1);  // a single element is converted: its first byte
      }
    } else if (s.type == kTypeUtf16 || s.type == kTypeNarrow) {  // stored narrow: widened, never swapped
      r.code(file_IndexValueRead(g, index, s.type, buffer, &delivered), what);
      if (s.type == kTypeUtf16) want = wanted(want);
    } else {
      r.code(file_IndexBlockRead(g, index, s.type, buffer), what);
    }
    got.resize(want.size());
    r.check(got == want, what + " reads " + hex(got) + ", expected " + hex(want));
  }

  // file_Read swaps by type, file_ReadBlock gives the bytes as the writer
  // laid them down.
  void block(void* g, uint32_t index, const ItemCase& s) {
    const std::string what = "block " + std::to_string(s.id);
    uint32_t count = 0, offset = 0;
    uint16_t type = 0;
    r.code(file_ItemInfo(g, index, nullptr, &type, &count, &offset, nullptr, 0), what);
    if (!r.check(type == s.type && count == s.count, what + " type or count")) return;
    Bytes got(s.bytes.size());
    int32_t progress = -1;
    r.code(file_Read(g, offset, s.count, s.type, vt::mp(got.data()), &progress), what);
    r.check(got == s.bytes && progress >= 0, what + " through file_Read");
    r.code(file_ReadBlock(g, offset, uint32_t(got.size()), vt::mp(got.data())), what);
    r.check(got == (swapped ? vt::reversedElements(s.bytes, s.type) : s.bytes),
            what + " through file_ReadBlock");
  }

  // What the module writes from the descriptor read off the exchanged group
  // and from the corpus descriptor: the same items, the same values.
  void module(void* g, const vt::Module& m, const std::string& scratch) {
    Scratch s(scratch + "/scratch.bin");
    auto got = m.fresh();
    void *a = nullptr, *b = nullptr;
    if (!r.code(m.read(g, got.get()), "module read")) return;
    file_GroupCreate(s.section, &a, 3, VELFILE_TEXT("M"));
    file_GroupCreate(s.section, &b, 4, VELFILE_TEXT("M"));
    r.code(m.write(a, nullptr, corpusDescriptor(m, s.section).get()), "rewrite");
    r.code(m.write(b, nullptr, got.get()), "rewrite");
    // A module that does not name its group leaves the scratch name alone.
    r.check(vt::listing(a, swapped && !narrowText, VELFILE_TEXT("M")) == vt::listing(b), "items differ");
  }
};

void verifyFile(const std::string& dir, const CorpusFile& c, const std::string& scratch, Report& r) {
  void* f = nullptr;
  if (!r.code(file_Open(vt::V(dir + "/" + c.name).c_str(), &f), "open")) return;
  const uint32_t sections = file_ItemNbrGet(f);
  const bool extensible = c.groups.size() == 1 && std::string(c.name).find(".A01") != std::string::npos;
  r.check(extensible ? sections >= 1 && sections <= 9 : sections == 1,
          "section count " + std::to_string(sections));
  for (uint32_t i = 0; i < sections && i < 9; ++i) {
    uint32_t key = 0;
    void* g = nullptr;
    uint8_t big = 0;
    file_ItemInfo(f, i, nullptr, nullptr, nullptr, &key, nullptr, 0);
    if (!r.code(file_GroupOpen(f, &g, key), "section")) continue;
    r.code(file_IndexBlockRead(g, kWriterItem, kTypeUInt8, vt::mp(&big)), "writer item");
    Verifier v{r, (big != 0) != vt::hostBigEndian(), c.charFormat != 0};
    r.check(file_SwapNeeded(g) == (v.swapped ? 1 : 0), "swap flag follows the writer's byte order");
    if (!c.groups.empty()) {
      v.group(g, c.groups[0], 2);
      continue;
    }
    v.group(g, {VELFILE_TEXT("Modules"), {}, {}, {}}, 2 + uint32_t(vt::modules().size()));
    for (uint32_t k = 0; k < vt::modules().size(); ++k) {
      const std::string where = r.where;
      r.where += " " + std::string(vt::modules()[k].name);
      void* mg = nullptr;
      file_ItemInfo(g, k + 2, nullptr, nullptr, nullptr, &key, nullptr, 0);
      if (r.code(file_GroupOpen(g, &mg, key), "module group")) v.module(mg, vt::modules()[k], scratch);
      r.where = where;
    }
  }
  r.code(file_Close(f), "close");
}

// Opens DIR/sections.A01 for update and adds one section in this machine's order.
void extendSections(const std::string& dir, Report& r) {
  void* f = nullptr;
  if (!r.code(file_Open(vt::V(dir + "/sections.A01").c_str(), &f), "open for update")) return;
  writeGroup(newSection(f, kSection.name, r), kSection, r);
  r.code(file_Close(f), "close");
}

void run(const std::string& verb, const std::string& dir, const std::string& scratch, Report& r) {
  for (const CorpusFile& c : corpus()) {
    r.where = c.name;
    if (verb == "write") writeFile(dir, c, scratch, r);
    if (verb == "verify") verifyFile(dir, c, scratch, r);
  }
  r.where = "sections.A01";
  if (verb == "extend") extendSections(dir, r);
}

class Interchange : public vt::VelTest {};

TEST_F(Interchange, CorpusReadsBackOnTheMachineThatWroteItAndEachOpeningAddsASection) {
  Report r;
  run("write", dir_, dir_, r);
  ASSERT_TRUE(r.failures.empty()) << r.text();
  run("extend", dir_, dir_, r);
  run("extend", dir_, dir_, r);
  run("verify", dir_, dir_, r);
  EXPECT_TRUE(r.failures.empty()) << r.text();
  void* f = nullptr;
  ASSERT_EQ(0, file_Open(vpath("sections.A01").c_str(), &f));
  EXPECT_EQ(3u, file_ItemNbrGet(f));
  EXPECT_EQ(0, file_Close(f));
}

int g_diagnostics = 0;

int command(const std::string& verb, const std::string& dir) {
  // The value pattern makes some modules report (a text cut to its field):
  // counted, not printed.
  SetDiagnosticHook([](const char*, int) { ++g_diagnostics; });
  Report r;
  const std::string scratch = dir + "/scratch-" + (vt::hostBigEndian() ? "be" : "le");
  std::filesystem::create_directories(scratch);
  run(verb, dir, scratch, r);
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
  std::printf("%s %s on a %s-endian machine: %zu mismatch(es), %d diagnostic report(s)\n", verb.c_str(),
              dir.c_str(), vt::hostBigEndian() ? "big" : "little", r.failures.size(), g_diagnostics);
  std::fputs(r.text().c_str(), stdout);
  return r.failures.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3) {
    const std::string verb = argv[1];
    if (verb == "write" || verb == "verify" || verb == "extend") return command(verb, argv[2]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
