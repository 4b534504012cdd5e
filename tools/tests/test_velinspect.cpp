// velinspect, run as a program on files the library writes and on damaged
// copies of them: its text and JSON output, its exit codes, and the bytes it
// extracts.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "testutil.h"

using namespace VelFile;
using Json = nlohmann::json;
using vt::Bytes;

namespace {

struct Result {
  int code = -1;
  std::string out, err;
  Json json() const { return Json::parse(out); }
};

// A 32-bit field of a library-written file, which is in host order.
uint32_t rd32(const Bytes& b, size_t at) {
  uint32_t v = 0;
  if (at + 4 <= b.size()) std::memcpy(&v, &b[at], 4);
  return v;
}

std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

const float kFloats[3] = {1.5f, -0.1f, 3e8f};
const int16_t kShorts[2] = {-3, 400};
const uint8_t kRaw[5] = {1, 2, 3, 0xFE, 0xFF};

class Velinspect : public vt::VelTest {
 protected:
  Result run(const std::vector<std::string>& args) {
    std::string cmd = VELINSPECT_COMMAND;
    for (const std::string& a : args) cmd += " " + shellQuote(a);
    cmd += " >" + path("stdout") + " 2>" + path("stderr");
    const int status = std::system(cmd.c_str());
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes out = vt::readFile(path("stdout")), err = vt::readFile(path("stderr"));
    r.out.assign(out.begin(), out.end());
    r.err.assign(err.begin(), err.end());
    return r;
  }

  template <class T>
  void put(void* g, uint16_t id, uint16_t type, uint32_t count, const T* value) {
    ASSERT_EQ(0, file_ItemValueWrite(g, id, type, count, vt::cp(value)));
  }

  // A file of two sections (named .A01 so that it can be reopened for one more). Section 0 "Setup" holds an
  // item of every kind, two sub-groups named "Probe" (ids 20 and 22; the first holds "Channel A") and a bulk
  // block recorded by item 30. Section 1 is narrow.
  void writeSample(const std::string& name, const Bytes& block = Bytes(40, 0x5A)) {
    void *f = nullptr, *g = nullptr, *probe = nullptr, *chan = nullptr, *other = nullptr;
    ASSERT_EQ(0, file_Create(vpath(name).c_str(), &f));
    ASSERT_EQ(0, file_GroupCreate(f, &g, 0, u"Setup"));
    const uint32_t seven = 7;
    const double quarter = 2.25;
    const uint8_t bytes[3] = {1, 2, 255};
    const uint32_t quad[2] = {0x11111111, 0x22222222};
    std::array<int32_t, 40> counts;
    for (int i = 0; i < 40; ++i) counts[i] = i * 3 - 5;
    put(g, 1, kTypeUInt32, 1, &seven);
    put(g, 2, kTypeInt16, 2, kShorts);
    put(g, 3, kTypeFloat, 3, kFloats);
    put(g, 4, kTypeDouble, 1, &quarter);
    put(g, 5, kTypeUtf16, 9, u"Hello \u00e9\u4e16");
    put(g, 6, kTypeUtf16, 2, u"A");
    put(g, 7, kTypeNarrow, 7, "narrow");
    put(g, 8, kTypeRaw, 5, kRaw);
    put(g, 9, kTypeInt32, 40, counts.data());
    put(g, 10, kTypeQuad8, 1, quad);
    put(g, 11, kTypeUInt8, 3, bytes);
    ASSERT_EQ(0, file_GroupCreate(g, &probe, 20, u"Probe"));
    const uint32_t ninetyNine = 99;
    put(probe, 1, kTypeUInt32, 1, &ninetyNine);
    ASSERT_EQ(0, file_GroupCreate(probe, &chan, 21, u"Channel A"));
    const float half = 0.5f;
    put(chan, 1, kTypeFloat, 1, &half);
    ASSERT_EQ(0, file_GroupCreate(g, &other, 22, u"Probe"));
    const uint64_t at = file_Allocate(g, static_cast<uint32_t>(block.size()));
    ASSERT_NE(0u, at);
    ASSERT_EQ(0, file_Write(g, at, vt::cp(block.data()), static_cast<uint32_t>(block.size()), nullptr));
    ASSERT_EQ(0, file_ItemOffsetWrite(g, 30, kTypeUInt32, 1, static_cast<uint32_t>(at)));
    ASSERT_EQ(0, file_Close(f));

    ASSERT_EQ(0, file_Open(vpath(name).c_str(), &f));
    ASSERT_EQ(0, file_SetCharacterFormat(f, 1));
    ASSERT_EQ(0, file_GroupCreate(f, &g, 0, u"Second"));
    put(g, 1, kTypeUtf16, 5, u"text");
    ASSERT_EQ(0, file_Close(f));
  }

  // Library-written files are in host order: positions of their entries.
  static uint32_t sectionDirectory(const Bytes& b, uint32_t start) { return start + rd32(b, start + 20); }
  static size_t entry(uint32_t directory, uint32_t index) { return directory + 12u * index; }
  static uint32_t subDirectory(const Bytes& b, uint32_t directory, uint32_t index) {
    return rd32(b, entry(directory, index) + 8);
  }
  static const Json& item(const Json& group, int id) {
    for (const Json& it : group["items"])
      if (it["id"] == id) return it;
    static const Json none;
    ADD_FAILURE() << "no item " << id;
    return none;
  }
  // A group of the nested document by its path: the steps down to it.
  static const Json* findGroup(const Json& g, const std::string& above, const std::string& path) {
    const std::string here =
        above.empty() ? g["step"].get<std::string>() : above + "/" + g["step"].get<std::string>();
    if (here == path) return &g;
    if (g.contains("groups"))
      for (const Json& c : g["groups"])
        if (const Json* found = findGroup(c, here, path)) return found;
    return nullptr;
  }
  static const Json& groupAt(const Json& dump, const std::string& path) {
    const Json* found = dump.contains("group") ? findGroup(dump["group"], "", path) : nullptr;
    if (dump.contains("sections"))
      for (const Json& s : dump["sections"]) found = found ? found : findGroup(s["group"], "", path);
    static const Json none;
    if (!found) ADD_FAILURE() << "no group " << path;
    return found ? *found : none;
  }
};

// Where item ids land in the sample's section directory.
const uint32_t kFloatsIndex = 3, kProbeIndex = 12, kOtherProbeIndex = 13;

TEST_F(Velinspect, TreeShowsSectionsAndTheirGroups) {
  writeSample("s.A01");
  const Bytes file = vt::readFile(path("s.A01"));
  const uint32_t second = rd32(file, 24);

  const Json tree = run({"tree", path("s.A01"), "--json"}).json();
  ASSERT_EQ(2u, tree["sections"].size());
  EXPECT_EQ(file.size(), tree["size"]);
  const Json& s0 = tree["sections"][0];
  EXPECT_EQ(0, s0["start"]);
  EXPECT_EQ(vt::hostBigEndian() ? "big-endian" : "little-endian", s0["byteOrder"]);
  EXPECT_EQ("utf16", s0["stringFormat"]);
  EXPECT_EQ(15, s0["entries"]);
  EXPECT_EQ(second, s0["size"]);
  EXPECT_EQ("Setup", s0["group"]["name"]);
  EXPECT_EQ(rd32(file, 20), s0["group"]["directory"]);
  const Json& probes = s0["group"]["groups"];
  ASSERT_EQ(2u, probes.size());
  // Two sub-groups share a name, so their steps are the item ids.
  EXPECT_EQ("#20", probes[0]["step"]);
  EXPECT_EQ(20, probes[0]["id"]);
  EXPECT_EQ(3, probes[0]["entries"]);
  EXPECT_EQ("Channel A", probes[0]["groups"][0]["step"]);
  EXPECT_EQ("#22", probes[1]["step"]);
  EXPECT_EQ(1, probes[1]["entries"]);
  EXPECT_FALSE(s0["group"].contains("items")) << "tree leaves the items to dump";
  const Json& s1 = tree["sections"][1];
  EXPECT_EQ(second, s1["start"]);
  EXPECT_EQ("narrow", s1["stringFormat"]);
  EXPECT_EQ("Second", s1["group"]["name"]);
  EXPECT_EQ(file.size() - second, s1["size"]);

  const Result text = run({"tree", path("s.A01")});
  EXPECT_EQ(0, text.code);
  EXPECT_NE(std::string::npos,
            text.out.find("section 1 at " + std::string("0x") +
                          [&] {
                            char b[16];
                            std::snprintf(b, sizeof b, "%x", second);
                            return std::string(b);
                          }() +
                          ": " + s1["byteOrder"].get<std::string>() + ", narrow strings, 2 entries"));
  EXPECT_NE(std::string::npos, text.out.find("\n      0/#20/Channel A \"Channel A\" (#21): 2 items\n"));
}

TEST_F(Velinspect, DumpDecodesEveryItemAsWritten) {
  const Bytes block = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  writeSample("s.A01", block);
  const Bytes file = vt::readFile(path("s.A01"));
  const Result r = run({"dump", path("s.A01"), "--json", "--max-elements", "5"});
  ASSERT_EQ(0, r.code) << r.err;
  const Json dump = r.json();
  const Json& setup = groupAt(dump, "0");
  EXPECT_EQ("Setup", setup["name"]);
  ASSERT_EQ(15u, setup["items"].size());
  EXPECT_EQ("Setup", item(setup, 10000)["value"]);
  EXPECT_EQ(7, item(setup, 1)["value"][0]);
  EXPECT_EQ((std::vector<int>{-3, 400}), item(setup, 2)["value"].get<std::vector<int>>());
  const Json& floats = item(setup, 3);
  EXPECT_EQ("float32", floats["type"]);
  ASSERT_EQ(3u, floats["value"].size());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(kFloats[i], floats["value"][i].get<float>());
  // Where the dump says the floats lie, they lie.
  const size_t at = floats["fileOffset"];
  ASSERT_LE(at + 12, file.size());
  EXPECT_EQ(0, std::memcmp(&file[at], kFloats, 12));
  EXPECT_EQ(2.25, item(setup, 4)["value"][0]);
  EXPECT_EQ("Hello \u00e9\u4e16", item(setup, 5)["value"]);
  EXPECT_EQ("A", item(setup, 6)["value"]);
  EXPECT_FALSE(item(setup, 6).contains("offset")) << "a 2-unit string stands inline";
  EXPECT_EQ("narrow", item(setup, 7)["value"]);
  EXPECT_EQ("char", item(setup, 7)["type"]);
  EXPECT_EQ("010203feff", item(setup, 8)["value"]);
  EXPECT_EQ((std::vector<int>{-5, -2, 1, 4, 7}), item(setup, 9)["value"].get<std::vector<int>>());
  EXPECT_EQ(true, item(setup, 9)["truncated"]);
  EXPECT_EQ(40, item(setup, 9)["count"]);
  EXPECT_EQ(Json::parse("[[286331153, 572662306]]"), item(setup, 10)["value"]);
  EXPECT_EQ((std::vector<int>{1, 2, 255}), item(setup, 11)["value"].get<std::vector<int>>());
  const Json& probe = item(setup, 20);
  EXPECT_EQ("group", probe["type"]);
  EXPECT_EQ(subDirectory(file, sectionDirectory(file, 0), kProbeIndex), probe["offset"]);
  const size_t bulk = item(setup, 30)["value"][0];
  EXPECT_EQ(0, std::memcmp(&file[bulk], block.data(), block.size())) << "item 30 records the bulk block";

  EXPECT_EQ(0.5f, item(groupAt(dump, "0/#20/Channel A"), 1)["value"][0].get<float>());
  EXPECT_EQ("text", item(groupAt(dump, "1"), 1)["value"]) << "a narrow section's string";
  EXPECT_EQ("char", item(groupAt(dump, "1"), 10000)["type"]);

  const Result text = run({"dump", path("s.A01"), "-n", "3"});
  ASSERT_EQ(0, text.code);
  for (const char* line :
       {"\n  [2] id 2 int16 x2 = [-3, 400]\n", "\n  [8] id 8 raw x5 = 01 02 03 ...  at +",
        "\n  [9] id 9 int32 x40 = [-5, -2, 1, ...]  at +", "id 3 float32 x3 = [1.5, -0.1, 300000000.0]",
        "id 5 utf16 x9 = \"Hello \u00e9\u4e16\"", "id 20 group x3  at +",
        "\ngroup 0/#20/Channel A \"Channel A\": 2 items, directory at +"})
    EXPECT_NE(std::string::npos, text.out.find(line)) << line << "\n" << text.out;
}

TEST_F(Velinspect, GroupPathsNameOneGroup) {
  writeSample("s.A01");
  const Json tree = run({"tree", path("s.A01"), "--json"}).json();
  const std::string second = std::to_string(tree["sections"][1]["start"].get<uint32_t>());
  const std::vector<std::pair<std::string, std::string>> paths = {
      {"0/#20/Channel A", "Channel A"}, {"0/Probe/#21", "Channel A"},
      {"0/[12]/[2]", "Channel A"},      {"@0/#22", "Probe"},
      {"@" + second, "Second"},         {"1", "Second"}};
  for (const auto& p : paths) {
    const Result r = run({"dump", path("s.A01"), "--json", "--group", p.first});
    ASSERT_EQ(0, r.code) << p.first << ": " << r.err;
    const Json dump = r.json();
    EXPECT_EQ(p.second, dump["group"]["name"]) << p.first;
    EXPECT_EQ(p.first, dump["path"]);
  }
  // The chosen group and the groups below it, nothing else.
  const Json below = run({"dump", path("s.A01"), "--json", "-g", "0/#20"}).json();
  EXPECT_EQ("Channel A", below["group"]["groups"][0]["step"]);
  EXPECT_TRUE(below["group"]["groups"][0]["groups"].empty());

  for (const char* bad : {"2", "0/Nothing", "0/[3]", "0/#99", "@8"}) {
    const Result r = run({"dump", path("s.A01"), "-g", bad});
    EXPECT_EQ(3, r.code) << bad;
    EXPECT_NE(std::string::npos, r.err.find("velinspect: ")) << bad;
  }
  EXPECT_NE(std::string::npos, run({"dump", path("s.A01"), "-g", "0/[3]"}).err.find("not a group reference"));
  for (const char* bad : {"", "x", "0//a", "0/#x", "0/[1", "-1"})
    EXPECT_EQ(3, run({"dump", path("s.A01"), "-g", bad}).code) << bad;
}

// A file written in the other byte order, built byte by byte: a name, an
// inline int32, three uint16 values out of line, a double and a string. Text
// stands in the writer's byte order, as a writer stores it.
Bytes foreignFile() {
  const bool big = !vt::hostBigEndian();
  vt::Image img(big);
  img.header(5, 64, 184).padTo(40);
  img.u16(0x0102).u16(0x0304).u16(0x0506).padTo(48).f64(-0.75).u16('H').u16('i').u16(0).padTo(64);
  const uint8_t name[4] = {uint8_t(big ? 0 : 'F'), uint8_t(big ? 'F' : 0), 0, 0};
  img.entryInline(10000, kTypeUtf16, 2, name, 4);
  img.entry(1, kTypeInt32, 1, static_cast<uint32_t>(-5));
  img.entry(2, kTypeUInt16, 3, 40);
  img.entry(3, kTypeDouble, 1, 48);
  img.entry(4, kTypeUtf16, 3, 56);
  return img.padTo(184).bytes;
}

TEST_F(Velinspect, ForeignByteOrderIsReadAndChecked) {
  const Bytes foreign = foreignFile();
  vt::writeFile(path("be.dat"), foreign);
  const Json tree = run({"tree", path("be.dat"), "--json"}).json();
  EXPECT_EQ(vt::hostBigEndian() ? "little-endian" : "big-endian", tree["sections"][0]["byteOrder"]);
  EXPECT_EQ("F", tree["sections"][0]["group"]["name"]);
  const Result r = run({"dump", path("be.dat"), "--json"});
  ASSERT_EQ(0, r.code) << r.err;
  const Json dump = r.json();
  const Json& g = dump["sections"][0]["group"];
  EXPECT_EQ("F", item(g, 10000)["value"]);
  EXPECT_EQ(-5, item(g, 1)["value"][0]);
  EXPECT_EQ((std::vector<int>{0x0102, 0x0304, 0x0506}), item(g, 2)["value"].get<std::vector<int>>());
  EXPECT_EQ(-0.75, item(g, 3)["value"][0]);
  EXPECT_EQ("Hi", item(g, 4)["value"]);
  const Result check = run({"check", path("be.dat")});
  EXPECT_EQ(0, check.code) << check.out;

  ASSERT_EQ(0, run({"extract", path("be.dat"), "-g", "0", "--item", "2", "-o", path("u16")}).code);
  const uint16_t expected[3] = {0x0102, 0x0304, 0x0506};
  EXPECT_EQ(Bytes(vt::cp(expected), vt::cp(expected) + 6), vt::readFile(path("u16")))
      << "swapped to host order";
  ASSERT_EQ(0, run({"extract", path("be.dat"), "-g", "0", "--offset", "40", "--size", "6", "--type", "uint16",
                    "-o", path("typed")})
                   .code);
  EXPECT_EQ(vt::readFile(path("u16")), vt::readFile(path("typed")));
  ASSERT_EQ(
      0,
      run({"extract", path("be.dat"), "-g", "0", "--offset", "40", "--size", "6", "-o", path("raw")}).code);
  EXPECT_EQ(Bytes(foreign.begin() + 40, foreign.begin() + 46), vt::readFile(path("raw")));
}

TEST_F(Velinspect, CheckReadsEachSectionInItsOwnByteOrder) {
  // Two uint32 pairs whose blocks overlap, the second one misaligned; a
  // reader that took the fields in the wrong order would see other offsets.
  for (const bool big : {false, true}) {
    vt::Image img(big);
    img.header(3, 56, 128).padTo(40).u32(1).u32(2).u32(3).u32(4);
    img.entryInline(10000, kTypeUtf16, 2, u"F", 4).entry(1, kTypeUInt32, 2, 40).entry(2, kTypeUInt32, 2, 44);
    img.padTo(128);
    vt::writeFile(path("hand"), img.bytes);
    const Result r = run({"check", path("hand")});
    EXPECT_EQ(1, r.code) << big;
    EXPECT_NE(
        std::string::npos,
        r.out.find(
            "0x00000050: 0 item [2] (id 2, uint32 x2): the value (8 bytes at +0x2c) is not 8-aligned\n"))
        << r.out;
    EXPECT_NE(std::string::npos,
              r.out.find("0x0000002c: the value of 0 item [2] overlaps the value of 0 item [1]\n"))
        << r.out;
    EXPECT_NE(std::string::npos, r.out.find(": damaged: 2 problems\n")) << r.out;
  }
}

TEST_F(Velinspect, DeepNestingStopsTheWalk) {
  void *f = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_Create(vpath("deep").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, u"Top"));
  for (int i = 0; i < 205; ++i) ASSERT_EQ(0, file_GroupCreate(g, &g, 1, u"n"));
  ASSERT_EQ(0, file_Close(f));

  const Result tree = run({"tree", path("deep"), "--json"});
  EXPECT_EQ(1, tree.code);
  const Json shown = tree.json();
  const Json* node = &shown["sections"][0]["group"];
  int depth = 0;
  while (node->contains("groups") && !(*node)["groups"].empty()) node = &(*node)["groups"][0], ++depth;
  EXPECT_EQ(201, depth);
  EXPECT_EQ("too deep", (*node)["state"]);
  const Result check = run({"check", path("deep")});
  EXPECT_EQ(1, check.code);
  EXPECT_NE(std::string::npos, check.out.find("groups nested more than 200 levels deep")) << check.out;
}

TEST_F(Velinspect, CheckPassesSoundFilesAndLocatesDamage) {
  writeSample("s.A01");
  const Bytes sound = vt::readFile(path("s.A01"));
  const Result ok = run({"check", path("s.A01")});
  EXPECT_EQ(0, ok.code) << ok.out;
  EXPECT_NE(std::string::npos, ok.out.find(": sound: 2 sections, 5 groups, 23 items\n")) << ok.out;

  const uint32_t dir = sectionDirectory(sound, 0);
  auto damaged = [&](const std::string& name, const Bytes& bytes, const std::string& expected) {
    vt::writeFile(path(name), bytes);
    const Result r = run({"check", path(name)});
    EXPECT_EQ(1, r.code) << name << "\n" << r.out;
    EXPECT_NE(std::string::npos, r.out.find(expected)) << name << ": " << expected << "\n" << r.out;
    EXPECT_NE(std::string::npos, r.out.find(": damaged: ")) << name;
    return r;
  };
  auto at = [](size_t offset) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08zx: ", offset);
    return std::string(b);
  };

  Bytes truncated(sound.begin(), sound.begin() + sound.size() / 2);
  damaged("truncated", truncated, at(24) + "section 0: it runs past the end of the file");
  const uint32_t second = rd32(sound, 24);
  for (size_t cut : {8, 20, 35})  // a partial header after the last section
    damaged("cut", Bytes(sound.begin(), sound.begin() + second + cut),
            at(second) + "the file ends " + std::to_string(cut) +
                " bytes into the header of a section after section 0: it was cut short\n");
  auto field = [&](size_t offset, uint32_t value) {
    Bytes b = sound;
    std::memcpy(&b[offset], &value, 4);
    return b;
  };
  damaged("version", field(8, 4), at(8) + "section 0: format version 4, not 3\n");
  damaged("format", field(12, 7),
          at(12) + "section 0: string format 7 is neither 1 (utf16) nor 0 (narrow)\n");
  damaged("reserved", field(second + 32, 1), at(second + 32) + "section 1: the reserved word at +32 is 0x1");
  Bytes trailing = sound;  // bytes that do not start like a header stay a note
  trailing.insert(trailing.end(), 20, 'x');
  vt::writeFile(path("trailing"), trailing);
  EXPECT_NE(std::string::npos,
            run({"check", path("trailing")}).out.find("note: 20 bytes after the last section"));
  EXPECT_EQ(0, run({"check", path("trailing")}).code);

  Bytes outside = sound;
  const size_t floats = entry(dir, kFloatsIndex);
  std::memcpy(&outside[floats + 8], "\xF0\xFF\xFF\x00", 4);
  damaged("outside", outside, at(floats) + "0 item [3] (id 3, float32 x3): the value (12 bytes at +");

  Bytes misaligned = sound;
  const uint32_t moved = rd32(sound, floats + 8) + 4;
  std::memcpy(&misaligned[floats + 8], &moved, 4);
  damaged("misaligned", misaligned, "is not 8-aligned");

  Bytes cycle = sound;  // "Channel A" refers back to the section group
  const uint32_t probeDir = subDirectory(sound, dir, kProbeIndex);
  const uint32_t back[2] = {16, rd32(sound, 20)};
  std::memcpy(&cycle[entry(probeDir, 2) + 4], back, 8);
  damaged("cycle", cycle,
          at(entry(probeDir, 2)) + "0/[12] item [2]: reference cycle: it leads back to the directory of 0");

  Bytes shared = sound;  // the second "Probe" reference takes the first one's directory
  std::memcpy(&shared[entry(dir, kOtherProbeIndex) + 4], &sound[entry(dir, kProbeIndex) + 4], 8);
  damaged("shared", shared,
          at(probeDir) + "the directory of 0/[13] takes the same bytes as the directory of 0/[12]");

  Bytes nameless = sound;
  nameless[entry(probeDir, 0) + 2] = kTypeUInt32;
  damaged("nameless", nameless, at(entry(probeDir, 0)) + "0/[12]: the first item is not a name (uint32)");

  for (const Bytes& unreadable : {Bytes(), Bytes(sound.begin(), sound.begin() + 30), Bytes(100, 'x')}) {
    vt::writeFile(path("unreadable"), unreadable);
    const Result r = run({"check", path("unreadable")});
    EXPECT_EQ(2, r.code) << unreadable.size();
    EXPECT_NE(std::string::npos, r.err.find("is not a container file")) << r.err;
  }
  EXPECT_EQ(2, run({"check", path("missing")}).code);
}

TEST_F(Velinspect, TreeAndDumpSurviveDamage) {
  writeSample("s.A01");
  const Bytes sound = vt::readFile(path("s.A01"));
  const uint32_t dir = sectionDirectory(sound, 0);
  Bytes cycle = sound;
  const uint32_t back[2] = {16, rd32(sound, 20)};
  std::memcpy(&cycle[entry(subDirectory(sound, dir, kProbeIndex), 2) + 4], back, 8);
  vt::writeFile(path("cycle"), cycle);

  const Result tree = run({"tree", path("cycle"), "--json"});
  EXPECT_EQ(1, tree.code);
  const Json shown = tree.json();
  const Json& loop = shown["sections"][0]["group"]["groups"][0]["groups"][0];
  EXPECT_EQ("cycle", loop["state"]);
  EXPECT_EQ("reference cycle: leads back to 0", loop["reason"]);
  const Result dump = run({"dump", path("cycle")});
  EXPECT_EQ(1, dump.code);
  EXPECT_NE(std::string::npos, dump.out.find("group 0/#20/Setup \"Setup\": not shown: reference cycle"))
      << dump.out;

  Bytes outside = sound;  // the float array points past the end of the file
  std::memcpy(&outside[entry(dir, kFloatsIndex) + 8], "\xF0\xFF\xFF\x00", 4);
  vt::writeFile(path("outside"), outside);
  const Result partial = run({"dump", path("outside"), "--json"});
  EXPECT_EQ(1, partial.code);
  const Json partialDump = partial.json();
  const Json& floats = item(groupAt(partialDump, "0"), 3);
  EXPECT_EQ(0u, floats["error"].get<std::string>().find(
                    "the value (12 bytes at +0xfffff0) runs past the end of its section"));

  // Cut files, and a sub-group count of 2^32 - 1: each said where it is met.
  const uint32_t second = rd32(sound, 24), all = 0xFFFFFFFF;
  Bytes huge = sound;
  std::memcpy(&huge[entry(dir, kProbeIndex) + 4], &all, 4);
  const struct {
    const char* name;
    Bytes bytes;
    const char* command;
    const char* expected;
  } cases[] = {
      {"header-cut", Bytes(sound.begin(), sound.begin() + second + 20), "tree",
       "\nthe file ends 20 bytes into the header of a section after section 0: it was cut short\n"},
      {"entry-cut", Bytes(sound.begin(), sound.end() - 28), "tree",
       "\nsection 1 is cut short: the file ends "},
      {"entry-cut", Bytes(sound.begin(), sound.end() - 28), "dump", "\ngroup 1 \"Second\": not shown: "},
      {"huge", huge, "tree", "0/#20 \"Probe\" (#20): its directory (4294967295 entries at offset "},
  };
  for (const auto& c : cases) {
    vt::writeFile(path(c.name), c.bytes);
    const Result r = run({c.command, path(c.name)});
    EXPECT_EQ(1, r.code) << c.name << " " << c.command;
    EXPECT_NE(std::string::npos, r.out.find(c.expected)) << c.name << " " << c.command << "\n" << r.out;
  }

  vt::writeFile(path("truncated"), Bytes(sound.begin(), sound.begin() + 200));
  const Result cut = run({"tree", path("truncated")});
  EXPECT_EQ(2, cut.code);
  EXPECT_NE(std::string::npos, cut.err.find("cannot be read")) << cut.err;
  EXPECT_EQ(2, run({"dump", path("missing")}).code);
  EXPECT_NE(std::string::npos, run({"dump", path("missing")}).err.find("no such file"));
}

// A value whose bytes run out of its section into the next section's header
// is not read by any command: each says so as check does, and exits 1.
TEST_F(Velinspect, ValuesOutsideTheirSectionAreNotRead) {
  writeSample("s.A01");
  Bytes file = vt::readFile(path("s.A01"));
  const uint32_t end = rd32(file, 24), at = end - 4;
  std::memcpy(&file[entry(sectionDirectory(file, 0), kFloatsIndex) + 8], &at, 4);
  vt::writeFile(path("over"), file);
  char h[16];
  std::snprintf(h, sizeof h, "0x%x", at);
  const std::string value = "(12 bytes at +" + std::string(h) + ") runs past the end of its section",
                    item = "0 item [3] (id 3, float32 x3): the value " + value;
  const std::vector<std::pair<std::vector<std::string>, std::string>> runs = {
      {{"extract", path("over"), "-g", "0", "--item", "3", "-o", "-"}, item},
      {{"extract", path("over"), "-g", "0", "--index", "3", "-o", "-"}, item},
      {{"extract", path("over"), "-g", "0", "--offset", std::to_string(at), "--size", "12", "-o", "-"},
       "0: the block " + value},
      {{"check", path("over")}, item},
      {{"dump", path("over")}, "(file " + std::string(h) + ")  error: the value " + value}};
  for (const auto& r : runs) {
    const Result got = run(r.first);
    EXPECT_EQ(1, got.code) << r.first[0] << " " << r.first.back();
    EXPECT_NE(std::string::npos, (got.out + got.err).find(r.second)) << r.second << "\n"
                                                                     << got.out << got.err;
    EXPECT_TRUE(r.first[0] != "extract" || got.out.empty());
  }
}

// Files the format allows that cost a careless reader its memory: a chain of
// 198 groups with long names whose deepest holds many sub-groups. Every
// command ends, its output and its resident size bounded by the depth and the
// longest name, not by the number of groups times their path length.
#if defined(__SANITIZE_ADDRESS__)
const long kMaxResidentKiB = 1 << 20;  // the sanitizer's quarantine and shadow come on top
#else
const long kMaxResidentKiB = 64 << 10;
#endif

TEST_F(Velinspect, LongChainsStayBounded) {
  const struct {
    size_t name;  // characters of each level's name; the leaves take it too when shared
    bool shared;
    int leaves;
    std::vector<std::string> args;
    size_t maxOutput;
  } cases[] = {{1000, false, 8000, {"tree"}, 8 << 20},
               {1000, false, 8000, {"tree", "--json"}, 4 << 20},
               {1000, false, 8000, {"dump"}, 8 << 20},
               {1000, false, 8000, {"dump", "--json"}, 4 << 20},
               {4096, true, 1000, {"tree", "--json"}, 16 << 20}};
  size_t built = 0;
  for (const auto& c : cases) {
    if (built != c.name) {
      void *f = nullptr, *g = nullptr, *leaf = nullptr;
      ASSERT_EQ(0, file_Create(vpath("chain").c_str(), &f));
      ASSERT_EQ(0, file_GroupCreate(f, &g, 0, u"S"));
      for (int level = 0; level < 198; ++level)
        ASSERT_EQ(0, file_GroupCreate(g, &g, 1, std::u16string(c.name, char16_t(u'a' + level % 26)).c_str()));
      for (int i = 0; i < c.leaves; ++i) {
        const std::u16string name = c.shared
                                        ? std::u16string(c.name, u'z')
                                        : u"g" + std::u16string(size_t(i % 7 + 1), u'0' + char16_t(i % 10));
        ASSERT_EQ(0, file_GroupCreate(g, &leaf, static_cast<uint16_t>(i), name.c_str()));
      }
      ASSERT_EQ(0, file_Close(f));
      built = c.name;
    }
    std::vector<std::string> args = c.args;
    args.insert(args.begin() + 1, path("chain"));
    const auto start = std::chrono::steady_clock::now();
    const Result r = run(args);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(0, r.code) << c.args[0] << " " << c.name << ": " << r.err;
    EXPECT_LT(r.out.size(), c.maxOutput) << c.args[0] << " " << c.name;
    EXPECT_LT(seconds, 120) << c.args[0] << " " << c.name;
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    std::printf("%s %s on %zu-character names: %.1f s, %zu bytes out, largest resident size so far %ld KiB\n",
                c.args[0].c_str(), c.args.size() > 1 ? c.args[1].c_str() : "", c.name, seconds, r.out.size(),
                usage.ru_maxrss);
    EXPECT_LT(usage.ru_maxrss, kMaxResidentKiB) << "KiB";
  }
}

// Names and strings a hostile writer chose reach the text output escaped and
// shortened, never as bytes a terminal acts on; the path shown takes the
// group back.
TEST_F(Velinspect, TextFromTheFileIsShownEscaped) {
  const std::string n1000(1000, 'n');
  struct Case {
    std::u16string name;
    std::string given, line;  // --group for it, its line in tree
  };
  const std::vector<Case> cases = {
      {u"x\n  0 \"Fake\": 9 items\x1b[2J", "0/x\\n  0 \\\"Fake\\\": 9 items\\x1b[2J",
       "  0/x\\n  0 \\\"Fake\\\": 9 items\\x1b[2J \"x\\n  0 \\\"Fake\\\": 9 items\\x1b[2J\" (#1): 1 item\n"},
      {u"a/b\\c\t", "0/a\\/b\\\\c\\t", "  0/a\\/b\\\\c\\t \"a/b\\\\c\\t\" (#2): 1 item\n"},
      {u"#\u009b2J\u202e\x7f\u00e9", "0/\\#\\u009b2J\\u202e\\x7f\u00e9",
       "  0/\\#\\u009b2J\\u202e\\x7f\u00e9 \"#\\u009b2J\\u202e\\x7f\u00e9\" (#3): 1 item\n"},
      {std::u16string(1000, u'n'), "0/" + n1000,
       "  0/" + n1000.substr(0, 196) + "..." + n1000.substr(0, 199) + " \"" + n1000.substr(0, 98) + "..." +
           n1000.substr(0, 99) + "\" (#4): 1 item\n"}};
  void *f = nullptr, *g = nullptr, *sub = nullptr;
  ASSERT_EQ(0, file_Create(vpath("hostile").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, u"S"));
  put(g, 1, kTypeUtf16, 7, u"v\x1b[2J\n");
  put(g, 2, kTypeNarrow, 3, "\xff\x9b");
  for (size_t i = 0; i < cases.size(); ++i)
    ASSERT_EQ(0, file_GroupCreate(g, &sub, static_cast<uint16_t>(i + 1), cases[i].name.c_str()));
  ASSERT_EQ(0, file_Close(f));

  const Result tree = run({"tree", path("hostile")}), dump = run({"dump", path("hostile")});
  for (const Case& c : cases) {
    EXPECT_NE(std::string::npos, tree.out.find(c.line)) << c.line << "\n" << tree.out;
    const Result one = run({"dump", path("hostile"), "--json", "-g", c.given});
    EXPECT_EQ(0, one.code) << c.given << ": " << one.err;
  }
  EXPECT_EQ("x\n  0 \"Fake\": 9 items\x1b[2J",
            run({"tree", path("hostile"), "--json"}).json()["sections"][0]["group"]["groups"][0]["name"]);
  EXPECT_NE(std::string::npos, dump.out.find("utf16 x7 = \"v\\x1b[2J\\n\"")) << dump.out;
  EXPECT_NE(std::string::npos, dump.out.find("char x3 = \"\u00ff\\u009b\"")) << dump.out;
  for (const std::string* out : {&tree.out, &dump.out})
    for (const char c : *out) ASSERT_TRUE(c == '\n' || (c >= 0x20 && c != 0x7f) || (c & 0x80)) << int(c);
}

TEST_F(Velinspect, ExtractWritesValuesAndBlocksByteForByte) {
  // A block of more than one copy slab, with an odd size.
  Bytes block((5u << 20) + 3);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7 + (i >> 12));
  writeSample("s.A01", block);
  const Json dump = run({"dump", path("s.A01"), "--json", "-g", "0"}).json();
  const uint32_t offset = item(groupAt(dump, "0"), 30)["value"][0];

  ASSERT_EQ(0, run({"extract", path("s.A01"), "-g", "0", "--offset", std::to_string(offset), "--size",
                    std::to_string(block.size()), "-o", path("block")})
                   .code);
  EXPECT_TRUE(block == vt::readFile(path("block")));

  const std::vector<std::pair<std::vector<std::string>, Bytes>> values = {
      {{"-g", "0", "--item", "3"}, Bytes(vt::cp(kFloats), vt::cp(kFloats) + 12)},
      {{"-g", "0", "--item", "2"}, Bytes(vt::cp(kShorts), vt::cp(kShorts) + 4)},
      {{"-g", "0", "--index", "8"}, Bytes(kRaw, kRaw + 5)},
      {{"-g", "0", "--item", "7"}, Bytes({'n', 'a', 'r', 'r', 'o', 'w', 0})},
      {{"-g", "0/#20/Channel A", "--item", "10000"}, Bytes(vt::cp(u"Channel A"), vt::cp(u"Channel A") + 20)}};
  for (const auto& v : values) {
    std::vector<std::string> args = {"extract", path("s.A01"), "-o", path("value")};
    args.insert(args.end(), v.first.begin(), v.first.end());
    const Result r = run(args);
    ASSERT_EQ(0, r.code) << v.first[3] << ": " << r.err;
    EXPECT_EQ(v.second, vt::readFile(path("value"))) << v.first[3];
  }

  const Result ref = run({"extract", path("s.A01"), "-g", "0", "--item", "20", "-o", path("x")});
  EXPECT_EQ(3, ref.code);
  EXPECT_NE(std::string::npos, ref.err.find("is a group reference")) << ref.err;
  EXPECT_EQ(3, run({"extract", path("s.A01"), "-g", "0", "--item", "77", "-o", path("x")}).code);
  EXPECT_EQ(3, run({"extract", path("s.A01"), "-g", "0", "--offset", "8", "--size", "6", "--type", "7", "-o",
                    path("x")})
                   .code)
      << "6 bytes are no whole number of 32-bit elements";
  EXPECT_EQ(3,
            run({"extract", path("s.A01"), "-g", "0", "--item", "3", "--offset", "8", "-o", path("x")}).code);
  // A failed extract leaves its output as it was; the input is never an output.
  const Bytes input = vt::readFile(path("s.A01")), keep = {'k'},
              floats(vt::cp(kFloats), vt::cp(kFloats) + 12);
  vt::writeFile(path("keep"), keep);
  std::filesystem::permissions(path("keep"), std::filesystem::perms(0640));
  std::filesystem::create_symlink(path("keep"), path("link"));
  std::filesystem::create_symlink(path("s.A01"), path("inlink"));
  std::filesystem::create_hard_link(path("s.A01"), path("hard"));
  const std::vector<std::string> none = {"--item", "999"},
                                 past = {"--offset", std::to_string(offset), "--size",
                                         std::to_string(block.size() + (1 << 20))};
  const struct {
    std::string out;
    std::vector<std::string> args;
    int code;
    Bytes kept;
  } outputs[] = {{"keep", none, 3, keep},
                 {"link", none, 3, keep},
                 {"link", past, 1, keep},
                 {"new", past, 1, keep},
                 {"s.A01", {"--item", "3"}, 3, keep},
                 {"inlink", {"--item", "3"}, 3, keep},
                 {"hard", {"--item", "3"}, 3, keep},
                 {"/dev/null", {"--item", "3"}, 0, keep},
                 {"link", {"--item", "3"}, 0, floats}};
  for (const auto& o : outputs) {
    std::vector<std::string> args = {"extract", path("s.A01"), "-g",
                                     "0",       "-o",          o.out[0] == '/' ? o.out : path(o.out)};
    args.insert(args.end(), o.args.begin(), o.args.end());
    const Result r = run(args);
    EXPECT_EQ(o.code, r.code) << o.out << " " << o.args[0] << ": " << r.err;
    EXPECT_EQ(o.kept, vt::readFile(path("keep"))) << o.out << " " << o.args[0];
    EXPECT_TRUE(input == vt::readFile(path("s.A01")) && std::filesystem::is_symlink(path("link")));
  }
  EXPECT_FALSE(std::filesystem::exists(path("new")));
  EXPECT_EQ(std::filesystem::perms(0640), std::filesystem::status(path("keep")).permissions());
  for (const auto& e : std::filesystem::directory_iterator(path(".")))
    EXPECT_EQ(std::string::npos, e.path().string().find(".velinspect-")) << "a temporary file is left";
  ASSERT_EQ(0, ::mkfifo(path("fifo").c_str(), 0600));
  std::system(("cat " + path("fifo") + " >" + path("got") + " & " + VELINSPECT_COMMAND + " extract " +
               path("s.A01") + " -g 0 --item 3 -o " + path("fifo") + " 2>/dev/null; wait")
                  .c_str());
  EXPECT_EQ(floats, vt::readFile(path("got"))) << "a pipe is written directly";
  EXPECT_EQ(4, run({"extract", path("s.A01"), "-g", "0", "--item", "3", "-o", path("no/such/dir")}).code);
}

TEST_F(Velinspect, CommandLineErrorsAndHelp) {
  EXPECT_EQ(3, run({}).code);
  EXPECT_EQ(3, run({"frobnicate"}).code);
  EXPECT_EQ(3, run({"tree"}).code);
  const Result help = run({"dump", "--help"});
  EXPECT_EQ(0, help.code);
  EXPECT_NE(std::string::npos, help.out.find("#ID"));
  EXPECT_NE(std::string::npos, help.out.find("Exit codes"));
}

}  // namespace
