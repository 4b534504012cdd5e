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
#include <map>
#include <nlohmann/json.hpp>

#include "testutil.h"

using namespace VelFile;
using Json = nlohmann::json;
using vt::Bytes;
using vt::VelString;

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

std::string hex(uint64_t v, const char* format = "0x%llx") {
  char b[24];
  std::snprintf(b, sizeof b, format, static_cast<unsigned long long>(v));
  return b;
}

const float kFloats[3] = {1.5f, -0.1f, 3e8f};
const int16_t kShorts[2] = {-3, 400};
const uint8_t kRaw[5] = {1, 2, 3, 0xFE, 0xFF};

class Velinspect : public vt::VelTest {
 protected:
  // With readOut false, stdout stays in its file (path("stdout")): a child
  // starts as large as this process, so a test that measures the tool's
  // resident size keeps this one small.
  Result run(const std::vector<std::string>& args, bool readOut = true) {
    std::string cmd = VELINSPECT_COMMAND;
    for (const std::string& a : args) cmd += " " + shellQuote(a);
    cmd += " >" + path("stdout") + " 2>" + path("stderr");
    const int status = std::system(cmd.c_str());
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes out = readOut ? vt::readFile(path("stdout")) : Bytes(), err = vt::readFile(path("stderr"));
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
    ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Setup")));
    const uint32_t seven = 7, ninetyNine = 99, quad[2] = {0x11111111, 0x22222222};
    const double quarter = 2.25;
    const float half = 0.5f;
    const uint8_t bytes[3] = {1, 2, 255};
    std::array<int32_t, 40> counts;
    for (int i = 0; i < 40; ++i) counts[i] = i * 3 - 5;
    const struct {
      uint16_t type;
      uint32_t count;
      const void* value;
    } items[] = {{kTypeUInt32, 1, &seven},
                 {kTypeInt16, 2, kShorts},
                 {kTypeFloat, 3, kFloats},
                 {kTypeDouble, 1, &quarter},
                 {kTypeUtf16, 9, VELFILE_TEXT("Hello \u00e9\u4e16")},
                 {kTypeUtf16, 2, VELFILE_TEXT("A")},
                 {kTypeNarrow, 7, "narrow"},
                 {kTypeRaw, 5, kRaw},
                 {kTypeInt32, 40, counts.data()},
                 {kTypeQuad8, 1, quad},
                 {kTypeUInt8, 3, bytes}};
    for (uint16_t i = 0; i < 11; ++i) put(g, i + 1, items[i].type, items[i].count, vt::cp(items[i].value));
    ASSERT_EQ(0, file_GroupCreate(g, &probe, 20, VELFILE_TEXT("Probe")));
    put(probe, 1, kTypeUInt32, 1, &ninetyNine);
    ASSERT_EQ(0, file_GroupCreate(probe, &chan, 21, VELFILE_TEXT("Channel A")));
    put(chan, 1, kTypeFloat, 1, &half);
    ASSERT_EQ(0, file_GroupCreate(g, &other, 22, VELFILE_TEXT("Probe")));
    const uint64_t at = file_Allocate(g, static_cast<uint32_t>(block.size()));
    ASSERT_NE(0u, at);
    ASSERT_EQ(0, file_Write(g, at, vt::cp(block.data()), static_cast<uint32_t>(block.size()), nullptr));
    ASSERT_EQ(0, file_ItemOffsetWrite(g, 30, kTypeUInt32, 1, static_cast<uint32_t>(at)));
    ASSERT_EQ(0, file_Close(f));

    ASSERT_EQ(0, file_Open(vpath(name).c_str(), &f));
    ASSERT_EQ(0, file_SetCharacterFormat(f, 1));
    ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Second")));
    put(g, 1, kTypeUtf16, 5, VELFILE_TEXT("text"));
    ASSERT_EQ(0, file_Close(f));
  }

  // Library-written files are in host order: positions of their entries.
  static uint32_t sectionDirectory(const Bytes& b, uint32_t start) { return start + rd32(b, start + 20); }
  static size_t entry(uint32_t directory, uint32_t index) { return directory + 12u * index; }
  static uint32_t subDirectory(const Bytes& b, uint32_t directory, uint32_t index) {
    return rd32(b, entry(directory, index) + 8);
  }
  static Json item(const Json& group, int id) {
    for (const Json& it : group["items"])
      if (it["id"] == id) return it;
    ADD_FAILURE() << "no item " << id;
    return Json();
  }
  // One group of a file as dump --json shows it.
  Json group(const std::string& file, const std::string& at, const std::string& elements = "64") {
    const Result r = run({"dump", path(file), "--json", "-g", at, "-n", elements});
    EXPECT_EQ(0, r.code) << at << ": " << r.err;
    EXPECT_TRUE(r.code != 0 || r.json()["path"] == at) << at;
    return r.code == 0 ? r.json()["group"] : Json();
  }

  // Runs of velinspect and what each must print (on either stream) and exit
  // with; the argument after the command names a file of the test's own.
  struct Expected {
    std::vector<std::string> args;
    int code;
    std::vector<std::string> says;
    size_t times = 0;  // when set, how often the first of `says` appears
  };
  void expectRuns(const std::vector<Expected>& runs) {
    for (const Expected& e : runs) {
      std::vector<std::string> args = e.args;
      if (args.size() > 1 && args[1][0] != '-') args[1] = path(args[1]);
      const Result got = run(args);
      const std::string what = args.empty() ? "(none)" : e.args[0] + " " + e.args.back(),
                        all = got.out + got.err;
      EXPECT_EQ(e.code, got.code) << what << "\n" << all;
      for (const std::string& s : e.says)
        EXPECT_NE(std::string::npos, all.find(s)) << what << ": " << s << "\n" << all;
      size_t times = 0;
      for (size_t p = e.times ? all.find(e.says[0]) : std::string::npos; p != std::string::npos;
           p = all.find(e.says[0], p + 1))
        ++times;
      EXPECT_EQ(e.times, times) << what;
      EXPECT_TRUE(e.args.empty() || e.args[0] != "extract" || e.code == 0 || got.out.empty()) << what;
      // A damaged file is summed up as such; JSON stays JSON whatever the damage.
      EXPECT_TRUE(e.args.empty() || e.args[0] != "check" || e.code != 1 ||
                  all.find(": damaged: ") != all.npos);
      if (std::count(args.begin(), args.end(), "--json") && e.code < 2) {
        EXPECT_NO_THROW(Json::parse(got.out)) << what;
      }
    }
  }
};

// Where item ids land in the sample's section directory.
const uint32_t kFloatsIndex = 3, kProbeIndex = 12, kOtherProbeIndex = 13;

TEST_F(Velinspect, SoundFilesInTreeDumpAndCheck) {
  const Bytes block = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  writeSample("s.A01", block);
  const Bytes file = vt::readFile(path("s.A01"));
  const uint32_t second = rd32(file, 24);
  const std::string host = vt::hostBigEndian() ? "big-endian" : "little-endian";

  // The tree: sections, sub-groups (whose steps are their ids when names
  // repeat), no items.
  const Result tree = run({"tree", path("s.A01"), "--json"});
  EXPECT_EQ(file.size(), tree.json()["size"]);
  for (const std::string& node :
       {"{\"index\":0,\"start\":0,\"byteOrder\":\"" + host +
            "\",\"stringFormat\":\"utf16\",\"entries\":15,\"size\":" + std::to_string(second) +
            ",\"group\":{\"name\":\"Setup\",\"step\":\"0\",\"entries\":15,\"directory\":" +
            std::to_string(rd32(file, 20)) + ",",
        std::string("{\"name\":\"Probe\",\"step\":\"#20\",\"index\":12,\"id\":20,\"entries\":3,"),
        std::string("{\"name\":\"Channel A\",\"step\":\"Channel A\","),
        std::string("{\"name\":\"Probe\",\"step\":\"#22\",\"index\":13,\"id\":22,\"entries\":1,"),
        "{\"index\":1,\"start\":" + std::to_string(second) + ",\"byteOrder\":\"" + host +
            "\",\"stringFormat\":\"narrow\",\"entries\":2,\"size\":" + std::to_string(file.size() - second) +
            ",\"group\":{\"name\":\"Second\","})
    EXPECT_NE(std::string::npos, tree.out.find(node)) << node << "\n" << tree.out;
  EXPECT_EQ(std::string::npos, tree.out.find("\"items\"")) << "tree leaves the items to dump";

  const Json setup = group("s.A01", "0", "5");
  ASSERT_EQ(15u, setup["items"].size());
  // clang-format off
  const std::pair<int, const char*> values[] = {
      {10000, "\"Setup\""}, {1, "[7]"}, {2, "[-3,400]"}, {4, "[2.25]"}, {5, "\"Hello \u00e9\u4e16\""}, {6, "\"A\""},
      {7, "\"narrow\""}, {8, "\"010203feff\""}, {9, "[-5,-2,1,4,7]"}, {10, "[[286331153,572662306]]"},
      {11, "[1,2,255]"}};
  // clang-format on
  for (const auto& v : values) EXPECT_EQ(Json::parse(v.second), item(setup, v.first)["value"]) << v.first;
  const Json floats = item(setup, 3);
  EXPECT_EQ("float32", floats["type"]);
  ASSERT_EQ(3u, floats["value"].size());
  for (int i = 0; i < 3; ++i) EXPECT_EQ(kFloats[i], floats["value"][i].get<float>());
  // Where the dump says the floats lie, they lie.
  const size_t at = floats["fileOffset"];
  ASSERT_LE(at + 12, file.size());
  EXPECT_EQ(0, std::memcmp(&file[at], kFloats, 12));
  EXPECT_FALSE(item(setup, 6).contains("offset")) << "a 2-unit string stands inline";
  EXPECT_EQ("char", item(setup, 7)["type"]);
  EXPECT_EQ(true, item(setup, 9)["truncated"]);
  EXPECT_EQ(40, item(setup, 9)["count"]);
  EXPECT_EQ("group", item(setup, 20)["type"]);
  EXPECT_EQ(subDirectory(file, sectionDirectory(file, 0), kProbeIndex), item(setup, 20)["offset"]);
  const size_t bulk = item(setup, 30)["value"][0];
  EXPECT_EQ(0, std::memcmp(&file[bulk], block.data(), block.size())) << "item 30 records the bulk block";
  EXPECT_EQ(0.5f, item(group("s.A01", "0/#20/Channel A"), 1)["value"][0].get<float>());
  EXPECT_EQ("text", item(group("s.A01", "1"), 1)["value"]) << "a narrow section's string";
  EXPECT_EQ("char", item(group("s.A01", "1"), 10000)["type"]);

  // Group paths of every form name one group: it and the groups below it.
  // clang-format off
  const std::pair<std::string, std::string> paths[] = {
      {"0/#20/Channel A", "Channel A"}, {"0/Probe/#21", "Channel A"}, {"0/[12]/[2]", "Channel A"},
      {"@0/#22", "Probe"}, {"@" + std::to_string(second), "Second"}, {"1", "Second"}};
  // clang-format on
  for (const auto& p : paths) EXPECT_EQ(p.second, group("s.A01", p.first)["name"]) << p.first;
  const Json below = group("s.A01", "0/#20");
  EXPECT_EQ("Channel A", below["groups"][0]["step"]);
  EXPECT_TRUE(below["groups"][0]["groups"].empty());

  std::vector<Expected> runs = {
      {{"tree", "s.A01"},
       0,
       {"section 1 at " + hex(second) + ": " + host + ", narrow strings, 2 entries",
        "\n      0/#20/Channel A \"Channel A\" (#21): 2 items\n"}},
      {{"dump", "s.A01", "-n", "3"},
       0,
       {"\n  [2] id 2 int16 x2 = [-3, 400]\n", "\n  [8] id 8 raw x5 = 01 02 03 ...  at +",
        "\n  [9] id 9 int32 x40 = [-5, -2, 1, ...]  at +", "id 3 float32 x3 = [1.5, -0.1, 300000000.0]",
        "id 5 utf16 x9 = \"Hello \u00e9\u4e16\"", "id 20 group x3  at +",
        "\ngroup 0/#20/Channel A \"Channel A\": 2 items, directory at +"}},
      {{"check", "s.A01"}, 0, {": sound: 2 sections, 5 groups, 23 items\n"}},
      {{"dump", "s.A01", "-g", "0/[3]"}, 3, {"velinspect: ", "not a group reference"}},
      {{}, 3, {}},
      {{"frobnicate"}, 3, {}},
      {{"tree"}, 3, {}},
      {{"dump", "--help"}, 0, {"#ID", "Exit codes"}},
  };
  for (const char* bad : {"2", "0/Nothing", "0/#99", "@8", "", "x", "0//a", "0/#x", "0/[1", "-1"})
    runs.push_back({{"dump", "s.A01", "-g", bad}, 3, {"velinspect: "}});
  expectRuns(runs);
}

// A file written in the other byte order, built byte by byte: a name, an
// inline int32, three uint16 values out of line, a double and a string. Text
// stands in the writer's byte order, as a writer stores it.
TEST_F(Velinspect, ForeignByteOrderIsReadAndChecked) {
  const bool big = !vt::hostBigEndian();
  vt::Image img(big);
  img.header(5, 64, 184).padTo(40);
  img.u16(0x0102).u16(0x0304).u16(0x0506).padTo(48).f64(-0.75).u16('H').u16('i').u16(0).padTo(64);
  const uint8_t name[4] = {uint8_t(big ? 0 : 'F'), uint8_t(big ? 'F' : 0), 0, 0};
  img.entryInline(10000, kTypeUtf16, 2, name, 4).entry(1, kTypeInt32, 1, static_cast<uint32_t>(-5));
  img.entry(2, kTypeUInt16, 3, 40).entry(3, kTypeDouble, 1, 48).entry(4, kTypeUtf16, 3, 56);
  const Bytes foreign = img.padTo(184).bytes;
  vt::writeFile(path("be.dat"), foreign);
  const Json tree = run({"tree", path("be.dat"), "--json"}).json();
  EXPECT_EQ(big ? "big-endian" : "little-endian", tree["sections"][0]["byteOrder"]);
  EXPECT_EQ("F", tree["sections"][0]["group"]["name"]);
  const Json g = group("be.dat", "0");
  const std::pair<int, const char*> values[] = {
      {10000, "\"F\""}, {1, "[-5]"}, {2, "[258,772,1286]"}, {3, "[-0.75]"}, {4, "\"Hi\""}};
  for (const auto& v : values) EXPECT_EQ(Json::parse(v.second), item(g, v.first)["value"]) << v.first;
  const Result check = run({"check", path("be.dat")});
  EXPECT_EQ(0, check.code) << check.out;

  // Values by item and typed blocks are swapped to host order, raw blocks not.
  const uint16_t words[3] = {0x0102, 0x0304, 0x0506};
  const std::pair<std::vector<std::string>, Bytes> extracts[] = {
      {{"--item", "2"}, Bytes(vt::cp(words), vt::cp(words) + 6)},
      {{"--offset", "40", "--size", "6", "--type", "uint16"}, Bytes(vt::cp(words), vt::cp(words) + 6)},
      {{"--offset", "40", "--size", "6"}, Bytes(foreign.begin() + 40, foreign.begin() + 46)}};
  for (const auto& e : extracts) {
    std::vector<std::string> args = {"extract", path("be.dat"), "-g", "0", "-o", path("out")};
    args.insert(args.end(), e.first.begin(), e.first.end());
    ASSERT_EQ(0, run(args).code) << e.first.back();
    EXPECT_EQ(e.second, vt::readFile(path("out"))) << e.first.back();
  }
}

// Damaged copies of the sample, and hand-made files: each command says where
// the damage is and exits 1 (2 when the file cannot be read at all).
TEST_F(Velinspect, DamageIsLocatedAndSurvived) {
  writeSample("s.A01");
  const Bytes sound = vt::readFile(path("s.A01"));
  const uint32_t dir = sectionDirectory(sound, 0), second = rd32(sound, 24);
  const uint32_t probeDir = subDirectory(sound, dir, kProbeIndex);
  const size_t floats = entry(dir, kFloatsIndex);
  auto with = [&](size_t offset, const void* value, size_t n = 4) {
    Bytes b = sound;
    std::memcpy(&b[offset], value, n);
    return b;
  };
  auto word = [&](size_t offset, uint32_t value) { return with(offset, &value); };
  auto at = [](size_t offset) { return hex(offset, "0x%08llx: "); };
  const uint32_t back[2] = {16, rd32(sound, 20)};  // "Channel A" refers back to the section group
  const uint32_t over = second - 4;                // floats running into the next section's header
  const uint16_t kUInt32 = kTypeUInt32;            // the type of a name item that is none
  // The second section's header cut after the other magic.
  Bytes cutOther(sound.begin(), sound.begin() + second + 4);
  cutOther.insert(cutOther.end(), {'c', 'p', 'f'});
  Bytes trailing = sound;
  trailing.insert(trailing.end(), 20, 'x');
  // Two uint32 pairs whose blocks overlap, the second one misaligned, in
  // either byte order: a reader that took the fields in the wrong order
  // would see other offsets.
  auto hand = [](bool big) {
    vt::Image img(big);
    img.header(3, 56, 128).padTo(40).u32(1).u32(2).u32(3).u32(4);
    img.entryInline(10000, kTypeUtf16, 2, VELFILE_TEXT("F"), 4)
        .entry(1, kTypeUInt32, 2, 40)
        .entry(2, kTypeUInt32, 2, 44);
    return img.padTo(128).bytes;
  };
  vt::Image tail;  // a value after the directory, up to the section's end
  tail.header(2, 40, 72).padTo(40).entryInline(10000, kTypeUtf16, 2, VELFILE_TEXT("T"), 4);
  tail.entry(1, kTypeUInt32, 2, 64).u32(5).u32(6);
  void *f = nullptr, *g = nullptr;  // 205 levels of nesting
  ASSERT_EQ(0, file_Create(vpath("deep").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Top")));
  for (int i = 0; i < 205; ++i) ASSERT_EQ(0, file_GroupCreate(g, &g, 1, VELFILE_TEXT("n")));
  ASSERT_EQ(0, file_Close(f));

  const std::map<std::string, Bytes> files = {
      {"half", Bytes(sound.begin(), sound.begin() + sound.size() / 2)},
      {"cut8", Bytes(sound.begin(), sound.begin() + second + 8)},
      {"cut20", Bytes(sound.begin(), sound.begin() + second + 20)},
      {"cut35", Bytes(sound.begin(), sound.begin() + second + 35)},
      {"cut-other", cutOther},
      {"entry-cut", Bytes(sound.begin(), sound.end() - 28)},
      {"truncated", Bytes(sound.begin(), sound.begin() + 200)},
      {"version", word(8, 4)},
      {"format", word(12, 7)},
      {"reserved", word(second + 32, 1)},
      {"trailing", trailing},
      {"outside", word(floats + 8, 0xFFFFF0)},
      {"over", word(floats + 8, over)},
      {"misaligned", word(floats + 8, rd32(sound, floats + 8) + 4)},
      {"cycle", with(entry(probeDir, 2) + 4, back, 8)},
      {"shared", with(entry(dir, kOtherProbeIndex) + 4, &sound[entry(dir, kProbeIndex) + 4], 8)},
      {"nameless", with(entry(probeDir, 0) + 2, &kUInt32, 2)},
      {"huge", word(entry(dir, kProbeIndex) + 4, 0xFFFFFFFF)},
      {"empty", {}},
      {"short", Bytes(sound.begin(), sound.begin() + 30)},
      {"noise", Bytes(100, 'x')},
      {"little", hand(false)},
      {"big", hand(true)},
      {"tail", tail.bytes}};
  for (const auto& file : files) vt::writeFile(path(file.first), file.second);
  vt::writeFile(path("abandoned.A01"), sound);  // a section added, then abandoned
  ASSERT_EQ(0, file_Open(vpath("abandoned.A01").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Abandoned")));
  ASSERT_EQ(0, file_Abandon(f));
  const std::string cutShort = "bytes into the header of a section after section 0: it was cut short\n";
  const std::string value = "(12 bytes at +" + hex(over) + ") runs past the end of its section",
                    overItem = "0 item [3] (id 3, float32 x3): the value " + value;
  const std::vector<std::string> overlap = {
      "0x00000050: 0 item [2] (id 2, uint32 x2): the value (8 bytes at +0x2c) is not 8-aligned\n",
      "0x0000002c: the value of 0 item [2] overlaps the value of 0 item [1]\n", ": damaged: 2 problems\n"};
  const std::vector<Expected> runs = {
      {{"check", "half"}, 1, {at(24) + "section 0: it runs past the end of the file"}},
      {{"check", "cut8"}, 1, {at(second) + "the file ends 8 " + cutShort}},
      {{"check", "cut20"}, 1, {at(second) + "the file ends 20 " + cutShort}},
      {{"check", "cut35"}, 1, {at(second) + "the file ends 35 " + cutShort}},
      {{"check", "cut-other"}, 1, {at(second) + "the file ends 7 " + cutShort}},
      {{"tree", "cut20"}, 1, {"\nthe file ends 20 " + cutShort}},
      {{"tree", "entry-cut"}, 1, {"\nsection 1 is cut short: the file ends "}},
      {{"dump", "entry-cut"}, 1, {"\ngroup 1 \"Second\": not shown: "}},
      {{"tree", "truncated"}, 2, {"cannot be read"}},
      {{"check", "version"}, 1, {at(8) + "section 0: format version 4, not 3\n"}},
      {{"check", "format"}, 1, {at(12) + "section 0: string format 7 is neither 1 (utf16) nor 0 (narrow)\n"}},
      {{"check", "reserved"}, 1, {at(second + 32) + "section 1: the reserved word at +32 is 0x1"}},
      {{"check", "trailing"}, 0, {"note: 20 bytes after the last section"}},
      {{"check", "tail"}, 0, {": sound: 1 section"}},
      {{"check", "abandoned.A01"},
       0,
       {" bytes after the last section belong to no section\n", ": sound: 2 sections"}},
      {{"check", "outside"}, 1, {at(floats) + "0 item [3] (id 3, float32 x3): the value (12 bytes at +"}},
      {{"dump", "outside", "--json"},
       1,
       {"\"error\":\"the value (12 bytes at +0xfffff0) runs past the end of its section"}},
      // A value running into the next section's header is not read by any command.
      {{"extract", "over", "-g", "0", "--item", "3", "-o", "-"}, 1, {overItem}},
      {{"extract", "over", "-g", "0", "--index", "3", "-o", "-"}, 1, {overItem}},
      {{"extract", "over", "-g", "0", "--offset", std::to_string(over), "--size", "12", "-o", "-"},
       1,
       {"0: the block " + value}},
      {{"check", "over"}, 1, {overItem}},
      {{"dump", "over"}, 1, {"(file " + hex(over) + ")  error: the value " + value}},
      {{"check", "misaligned"}, 1, {"is not 8-aligned", ": damaged: "}},
      {{"check", "cycle"},
       1,
       {at(entry(probeDir, 2)) + "0/[12] item [2]: reference cycle: it leads back to the directory of 0"}},
      {{"tree", "cycle", "--json"},
       1,
       {"\"state\":\"cycle\",\"reason\":\"reference cycle: leads back to its ancestor at depth 0\""}},
      {{"dump", "cycle"}, 1, {"group 0/#20/Setup \"Setup\": not shown: reference cycle"}},
      {{"check", "shared"},
       1,
       {at(probeDir) + "the directory of 0/[13] takes the same bytes as the directory of 0/[12]"}},
      {{"check", "nameless"}, 1, {at(entry(probeDir, 0)) + "0/[12]: the first item is not a name (uint32)"}},
      {{"tree", "huge"}, 1, {"0/#20 \"Probe\" (#20): its directory (4294967295 entries at offset "}},
      {{"check", "empty"}, 2, {"is not a container file"}},
      {{"check", "short"}, 2, {"is not a container file"}},
      {{"check", "noise"}, 2, {"is not a container file"}},
      {{"check", "missing"}, 2, {}},
      {{"dump", "missing"}, 2, {"no such file"}},
      {{"check", "little"}, 1, overlap},
      {{"check", "big"}, 1, overlap},
      {{"tree", "deep", "--json"}, 1, {"{\"name\":\"n\",", "\"state\":\"too deep\""}, 201},
      {{"check", "deep"}, 1, {"groups nested more than 200 levels deep"}},
  };
  expectRuns(runs);
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
  using Commands = std::vector<std::vector<std::string>>;
  // 8000 short-named leaves (the case a tool that kept every path ran out of memory on), then 500 leaves that
  // share a 4096-character name.
  for (const size_t name : {1000, 4096}) {
    const bool shared = name == 4096;
    void *f = nullptr, *g = nullptr, *leaf = nullptr;
    ASSERT_EQ(0, file_Create(vpath("chain").c_str(), &f));
    ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("S")));
    for (int level = 0; level < 198; ++level)
      ASSERT_EQ(0,
                file_GroupCreate(g, &g, 1, VelString(name, VelChar(VELFILE_TEXT('a') + level % 26)).c_str()));
    for (int i = 0; i < (shared ? 500 : 8000); ++i) {
      const VelString leafName =
          shared ? VelString(name, VELFILE_TEXT('z'))
                 : VELFILE_TEXT("g") + VelString(size_t(i % 7 + 1), VELFILE_TEXT('0') + VelChar(i % 10));
      ASSERT_EQ(0, file_GroupCreate(g, &leaf, static_cast<uint16_t>(i), leafName.c_str()));
    }
    ASSERT_EQ(0, file_Close(f));
    for (const auto& command : shared
                                   ? Commands{{"tree", "--json"}}
                                   : Commands{{"tree"}, {"tree", "--json"}, {"dump"}, {"dump", "--json"}}) {
      std::vector<std::string> args = command;
      args.insert(args.begin() + 1, path("chain"));
      const auto start = std::chrono::steady_clock::now();
      const Result r = run(args, false);
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const uintmax_t out = std::filesystem::file_size(path("stdout"));
      rusage usage{};
      getrusage(RUSAGE_CHILDREN, &usage);
      const std::string what = command[0] + (command.size() > 1 ? " --json" : "") + " on " +
                               std::to_string(name) + "-character names";
      std::printf("%s: %.1f s, %ju bytes out, largest resident size so far %ld KiB\n", what.c_str(), seconds,
                  out, usage.ru_maxrss);
      EXPECT_EQ(0, r.code) << what << ": " << r.err;
      EXPECT_LT(out, uintmax_t(8 << 20)) << what;
      EXPECT_LT(seconds, 120) << what;
      EXPECT_LT(usage.ru_maxrss, kMaxResidentKiB) << what << " (KiB)";
    }
  }
}

// Names and strings a hostile writer chose reach the text output escaped and
// shortened, never as bytes a terminal acts on; the path shown takes the
// group back.
TEST_F(Velinspect, TextFromTheFileIsShownEscaped) {
  const std::string n1000(1000, 'n');
  // Escapes and UTF-8 sequences of each length, cut between characters.
  const char* shown[] = {"\\x01", "\\u0085", "\\t", "\u00a0", "\u0800", "\U00010000"};
  auto mixed = [&](size_t from, size_t to) {
    std::string s;
    for (size_t k = from; k < to; ++k) s += shown[k % 6];
    return s;
  };
  VelString mixedName;
  for (int k = 0; k < 50; ++k) mixedName += VELFILE_TEXT("\x01\u0085\t\u00a0\u0800\U00010000");
  struct Case {
    VelString name;
    std::string given, line;  // --group for it, its line in tree
  };
  const std::vector<Case> cases = {
      {VELFILE_TEXT("x\n  0 \"Fake\": 9 items\x1b[2J"), "0/x\\n  0 \\\"Fake\\\": 9 items\\x1b[2J",
       "  0/x\\n  0 \\\"Fake\\\": 9 items\\x1b[2J \"x\\n  0 \\\"Fake\\\": 9 items\\x1b[2J\" (#1): 1 item\n"},
      {VELFILE_TEXT("a/b\\c\t"), "0/a\\/b\\\\c\\t", "  0/a\\/b\\\\c\\t \"a/b\\\\c\\t\" (#2): 1 item\n"},
      {VELFILE_TEXT("#\u009b2J\u202e\x7f\u00e9"), "0/\\#\\u009b2J\\u202e\\x7f\u00e9",
       "  0/\\#\\u009b2J\\u202e\\x7f\u00e9 \"#\\u009b2J\\u202e\\x7f\u00e9\" (#3): 1 item\n"},
      {VelString(1000, VELFILE_TEXT('n')), "0/" + n1000,
       "  0/" + n1000.substr(0, 196) + "..." + n1000.substr(0, 199) + " \"" + n1000.substr(0, 98) + "..." +
           n1000.substr(0, 99) + "\" (#4): 1 item\n"},
      {mixedName, "0/" + mixed(0, 300),
       "  0/" + mixed(0, 300) + " \"" + mixed(0, 98) + "..." + mixed(201, 300) + "\" (#5): 1 item\n"}};
  void *f = nullptr, *g = nullptr, *sub = nullptr;
  ASSERT_EQ(0, file_Create(vpath("hostile").c_str(), &f));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("S")));
  put(g, 1, kTypeUtf16, 7, VELFILE_TEXT("v\x1b[2J\n"));
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
  const std::string offset = std::to_string(item(group("s.A01", "0"), 30)["value"][0].get<uint32_t>());
  const Bytes input = vt::readFile(path("s.A01")), keep = {'k'},
              floats(vt::cp(kFloats), vt::cp(kFloats) + 12);
  // A failed extract leaves its output as it was; the input is never an output.
  vt::writeFile(path("keep"), keep);
  std::filesystem::permissions(path("keep"), std::filesystem::perms(0640));
  std::filesystem::create_symlink(path("keep"), path("link"));
  std::filesystem::create_symlink(path("s.A01"), path("inlink"));
  std::filesystem::create_hard_link(path("s.A01"), path("hard"));
  const uint32_t end = rd32(input, 24);  // a block up to the section's end
  const Bytes section(input.begin(), input.begin() + end);
  const std::vector<std::string> three = {"-g", "0", "--item", "3"}, none = {"-g", "0", "--item", "999"},
                                 past = {"-g",   "0",      "--offset",
                                         offset, "--size", std::to_string(block.size() + (1 << 20))};
  const struct {
    std::vector<std::string> args;
    std::string out;
    int code;
    Bytes wrote;
    const char* says = "";
  } runs[] = {{{"-g", "0", "--offset", offset, "--size", std::to_string(block.size())}, "block", 0, block},
              {{"-g", "0", "--offset", "0", "--size", std::to_string(end)}, "section", 0, section},
              {three, "value", 0, floats},
              {{"-g", "0", "--item", "2"}, "value", 0, Bytes(vt::cp(kShorts), vt::cp(kShorts) + 4)},
              {{"-g", "0", "--index", "8"}, "value", 0, Bytes(kRaw, kRaw + 5)},
              {{"-g", "0", "--item", "7"}, "value", 0, Bytes({'n', 'a', 'r', 'r', 'o', 'w', 0})},
              {{"-g", "0/#20/Channel A", "--item", "10000"},
               "value",
               0,
               Bytes(vt::cp(VELFILE_TEXT("Channel A")), vt::cp(VELFILE_TEXT("Channel A")) + 20)},
              {{"-g", "0", "--item", "20"}, "x", 3, {}, "is a group reference"},
              {{"-g", "0", "--item", "77"}, "x", 3, {}},
              {{"-g", "0", "--offset", "8", "--size", "6", "--type", "7"}, "x", 3, {}},  // not whole elements
              {{"-g", "0", "--item", "3", "--offset", "8"}, "x", 3, {}},
              {none, "keep", 3, keep},
              {none, "link", 3, keep},
              {past, "link", 1, keep},
              {past, "new", 1, {}},
              {three, "s.A01", 3, input},
              {three, "inlink", 3, input},
              {three, "hard", 3, input},
              {three, "/dev/null", 0, {}},
              {{"-g", "0", "--offset", offset, "--size", std::to_string(block.size())}, "/dev/full", 4, {}},
              {three, "no/such/dir", 4, {}},
              {three, "link", 0, floats}};
  for (const auto& r : runs) {
    std::vector<std::string> args = {"extract", path("s.A01"), "-o", r.out[0] == '/' ? r.out : path(r.out)};
    args.insert(args.end(), r.args.begin(), r.args.end());
    const Result got = run(args);
    const std::string what = r.out + " " + r.args[2];
    EXPECT_EQ(r.code, got.code) << what << ": " << got.err;
    EXPECT_NE(std::string::npos, got.err.find(r.says)) << what << ": " << got.err;
    EXPECT_TRUE(r.wrote.empty() || r.wrote == vt::readFile(args[3])) << what;
    EXPECT_EQ(&r == &runs[std::size(runs) - 1] ? floats : keep, vt::readFile(path("keep"))) << what;
    EXPECT_TRUE(input == vt::readFile(path("s.A01")) && std::filesystem::is_symlink(path("link"))) << what;
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
  vt::writeFile(path("got"), {'x'});
  std::system((std::string(VELINSPECT_COMMAND) + " extract " + path("s.A01") +
               " -g 0 --item 3 -o /dev/stdout 2>/dev/null >>" + path("got"))
                  .c_str());
  Bytes appended = {'x'};
  appended.insert(appended.end(), floats.begin(), floats.end());
  EXPECT_EQ(appended, vt::readFile(path("got"))) << "standard output named by a link is written through it";
}

}  // namespace
