// The C++ layer: items of every type in both byte orders, group paths and
// escapes, the walk over hostile trees, shared handles, the error messages,
// data groups (dense arrays read back by range, crafted and hostile tables)
// and module descriptors by name.
#include <velfile/ggate.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cstring>
#include <functional>
#include <numeric>
#include <thread>
#include <velfile/velfile.hpp>

#include "testutil.h"

using velfile::DataGroup;
using velfile::Error;
using velfile::File;
using velfile::Group;
using velfile::Range;
using velfile::Reason;
using velfile::Value;
using vt::Bytes;
using vt::Image;

namespace {

struct ItemCase {
  uint16_t type;
  uint32_t count;
  Bytes host;                  // the elements in host order
  std::vector<double> values;  // as<std::vector<double>>, when the type converts
};

template <class T>
ItemCase numbers(std::vector<T> v) {
  Bytes b(v.size() * sizeof(T));
  if (!v.empty()) std::memcpy(b.data(), v.data(), b.size());
  return {velfile::type_of<T>(), uint32_t(v.size()), b, std::vector<double>(v.begin(), v.end())};
}
ItemCase raw(uint16_t type, uint32_t count, Bytes b) {
  return {type, count, b, {}};
}

const std::vector<ItemCase> kItems = {numbers<int8_t>({-5}),
                                      numbers<uint8_t>({1, 2, 250}),
                                      numbers<int16_t>({-3}),
                                      numbers<uint16_t>({0x0102, 0xA0B0}),
                                      numbers<uint16_t>({1, 2, 3}),
                                      numbers<int32_t>({-9}),
                                      numbers<uint32_t>({1, 0x01020304, 0xFFFFFFFE}),
                                      numbers<float>({1.5f}),
                                      numbers<float>({0.5f, -2.0f}),
                                      numbers<double>({2.75}),
                                      numbers<double>({1.5, -0.25}),
                                      raw(8, 2, vt::bytesOf(std::array<uint32_t, 4>{0x11223344, 5, 6, 7})),
                                      raw(9, 1, vt::bytesOf(std::array<uint32_t, 2>{0x01020304, 0x05060708})),
                                      raw(13, 6, {1, 2, 3, 4, 5, 6}),
                                      raw(13, 3, {9, 8, 7}),
                                      numbers<int32_t>({})};

// Runs f, which must throw velfile::Error for this reason, saying `text`.
void expectError(const std::function<void()>& f, Reason reason, const std::string& text,
                 const std::string& what) {
  try {
    f();
    ADD_FAILURE() << what << ": no error";
  } catch (const Error& e) {
    EXPECT_EQ(int(reason), int(e.reason())) << what << ": " << e.what();
    EXPECT_NE(std::string::npos, std::string(e.what()).find(text)) << what << ": " << e.what();
  }
}

class Layer : public vt::VelTest {};

// Items of every type written through the layer and read back, converted
// where the type allows and as pairs of words for types 8 and 9. Files of the
// other byte order reach the layer through the same reads (the tool's and the
// Python package's foreign-order tests).
TEST_F(Layer, ItemsOfEveryTypeRoundTrip) {
  {
    File f = File::create(path("written.A01"));
    Group g = f.create_group("Gruppe");
    for (size_t i = 0; i < kItems.size(); ++i)
      g.write_item(uint16_t(1 + i), kItems[i].type, kItems[i].host.data(), kItems[i].count);
    g.write_text(99, "L\xC3\xA4nge");
    f.close();
  }
  File f = File::open(path("written.A01"));
  Group g = f.group("0");
  EXPECT_EQ("Gruppe", g.name());
  EXPECT_EQ("L\xC3\xA4nge", g.item(99).text());
  for (size_t i = 0; i < kItems.size(); ++i) {
    const ItemCase& c = kItems[i];
    const velfile::Item it = g.item(uint16_t(1 + i));
    EXPECT_EQ(c.type, it.type()) << i;
    EXPECT_EQ(c.host, it.bytes()) << i;
    if (!c.values.empty()) {
      EXPECT_EQ(c.values, it.as<std::vector<double>>()) << i;
    }
  }
  EXPECT_EQ((velfile::Words{0x01020304, 0x05060708}), g.item(13).as<std::vector<velfile::Words>>().at(0));
  EXPECT_EQ(-5, f.group("0").item(1).as<int8_t>());
  EXPECT_FLOAT_EQ(-9.0f, f.group("0").item(6).as<float>());
}

// A tree with names that need escapes or repeat: each sub-group's path
// leads back to it.
TEST_F(Layer, PathsOfGroupsLeadBackToThem) {
  {
    File f = File::create(path("tree.A01"));
    Group root = f.create_group("Root");
    Group a = root.create_group("a/b", 7);
    root.create_group("twin", 8);
    root.create_group("twin", 9);
    root.create_group("twin", 9);
    a.create_group("#x", 1).write_item(1, int32_t(42));
  }
  File f = File::open(path("tree.A01"));
  std::vector<std::string> paths;
  velfile::walk(f.group("0"), [&](const velfile::WalkNode& n) {
    paths.push_back(n.path());
    EXPECT_EQ(n.name, f.group(n.path()).name());
    return true;
  });
  EXPECT_EQ((std::vector<std::string>{"0", "0/a\\/b", "0/a\\/b/\\#x", "0/#8", "0/[3]", "0/[4]"}), paths);
  EXPECT_EQ(42, f.group("0/a\\/b/#1").item(1).as<int32_t>());
  EXPECT_EQ(42, f.group("@0/[1]/[1]").item(1).as<int32_t>());
  EXPECT_EQ(42, f.group("0/#0x7/#0X1").item(1).as<int32_t>());
  EXPECT_EQ("0/[3]", f.group("0").groups().at(2).path());
  EXPECT_EQ(65535u, velfile::parse_group_path("0/#65535").steps.at(0).number);
  EXPECT_EQ("\xAF\u00C9x", velfile::parse_group_path("0/\\xAF\\u00C9\\x").steps.at(0).name);
  for (const char* bad : {"", "+0", "0/#", "0/#-1", "0/# 1", "0/#65536", "0/[1", "0/[]", "0/[4294967296]"})
    expectError([&] { velfile::parse_group_path(bad); }, Reason::BadPath, "cannot be used", bad);
  // Text as paths show it, and back: escapes for what a terminal would act on.
  const std::pair<const char*, const char*> escapes[] = {
      {"a\\\"\n\r\t/", "a\\\\\\\"\\n\\r\\t/"},
      {"\x1f \x7f\xff\xc3 \xaf\xfa\x80", "\\x1f \\x7f\\xff\\xc3 \\xaf\\xfa\\x80"},
      // The bounds of UTF-8: where each length starts and ends, around the
      // surrogates; overlong forms, surrogates and past U+10FFFF are bytes.
      {"\u07ff\u0800\ud7ff\ue000\U00010000\U0010ffff", "\u07ff\u0800\ud7ff\ue000\U00010000\U0010ffff"},
      {"\xc1\xbf\xe0\x9f\xbf\xed\xa0\x80\xed\xbf\xbf\xf0\x8f\xbf\xbf\xf4\x90\x80\x80",
       "\\xc1\\xbf\\xe0\\x9f\\xbf\\xed\\xa0\\x80\\xed\\xbf\\xbf\\xf0\\x8f\\xbf\\xbf\\xf4\\x90\\x80\\x80"},
      {"\u007f\u0080\u009f\u00a0\u061c\u200e\u200f\u2027\u2028\u202e\u202f\u2066\u2069\ufeff",
       "\\x7f\\u0080\\u009f\u00a0\\u061c\\u200e\\u200f\u2027\\u2028\\u202e\u202f\\u2066\\u2069\\ufeff"}};
  for (const auto& e : escapes) {
    EXPECT_EQ(e.second, velfile::escape_text(e.first));
    EXPECT_EQ(e.first, velfile::parse_group_path("0/" + velfile::escape_step(e.first)).steps.at(0).name);
  }
  EXPECT_EQ("\xF0\x90\x80\x80\xEF\xBF\xBF", velfile::to_utf8(u"\U00010000\uFFFF"));
  // An unpaired surrogate: replaced for people, refused by the strict form.
  const std::u16string lone[] = {u"a\xD800",
                                 u"\xDC00\xD800"
                                 u"b",
                                 u"\xD800\xD800"};
  for (const std::u16string& text : lone) {
    std::string kept = "kept";
    EXPECT_FALSE(velfile::to_utf8_strict(text, &kept));
    EXPECT_EQ("kept", kept);
    EXPECT_NE(std::string::npos, velfile::to_utf8(text).find("\xEF\xBF\xBD"));
  }
  std::string strict;
  EXPECT_TRUE(velfile::to_utf8_strict(u"\U00010000\uFFFF", &strict));
  EXPECT_EQ(velfile::to_utf8(u"\U00010000\uFFFF"), strict);
}

// The header words as the checker gets them, in either writer's order: the
// marker and the last reserved word too, which the library keeps as stored.
TEST(LayerHeader, DecodesEveryWordInItsWritersOrder) {
  const uint32_t words[9] = {0x11223344u, 0, 3, 1, 5, 0x1000, 0x2008, 0x0A0B0C0Du, 0x01020304u};
  for (const bool big : {false, true}) {
    unsigned char raw[velfile::kSectionHeaderSize];
    for (size_t w = 0; w < 9; ++w)
      for (size_t b = 0; b < 4; ++b) raw[4 * w + b] = uint8_t(words[w] >> 8 * (big ? 3 - b : b));
    std::memcpy(raw + 4, "SURD", 4);
    velfile::SectionHeaderFields h;
    EXPECT_TRUE(velfile::decode_section_header(raw, &h));
    EXPECT_EQ(big ? velfile::ByteOrder::Big : velfile::ByteOrder::Little, h.byte_order);
    EXPECT_EQ((std::vector<uint32_t>{0x11223344u, 3, 1, 5, 0x1000, 0x2008, 0x0A0B0C0Du, 0x01020304u}),
              (std::vector<uint32_t>{h.marker, h.version, h.string_format, h.entries, h.directory, h.size,
                                     h.reserved[0], h.reserved[1]}));
    std::memcpy(raw + 4, "cpf", 4);
    EXPECT_TRUE(velfile::decode_section_header(raw, &h));
    std::memcpy(raw + 4, "SURE", 4);
    EXPECT_FALSE(velfile::decode_section_header(raw, &h));
    EXPECT_EQ(0x2008u, h.size);
  }
}

struct WalkCase {
  const char* name;
  std::vector<std::array<uint32_t, 3>> rootRefs;  // id, entries, directory
  std::array<uint32_t, 2> sRef;                   // S's reference: entries, directory
  velfile::WalkLimits limits;
  std::vector<std::string> expected;  // "path state"
};

// Directories: the section group R at 40, S at 96 (its name and one
// reference), T at 120 (its name only).
TEST_F(Layer, WalkReportsEachHostileTreeOnce) {
  velfile::WalkLimits two, shallow;
  two.max_groups = 2;
  shallow.max_depth = 1;
  const std::vector<WalkCase> cases = {
      {"cycle", {{1, 2, 96}}, {3, 40}, {}, {"0 open", "0/S open", "0/S/R cycle"}},
      {"shared", {{1, 2, 96}, {2, 1, 120}}, {1, 120}, {}, {"0 open", "0/S open", "0/S/T open", "0/T shared"}},
      {"too deep", {{1, 2, 96}}, {1, 120}, shallow, {"0 open", "0/S open", "0/S/T too deep"}},
      {"past the end", {{1, 0xFFFFFFFF, 96}}, {1, 120}, two, {"0 open", "0/S error"}},
      {"group limit",
       {{1, 2, 96}, {2, 1, 120}},
       {1, 120},
       two,
       {"0 open", "0/S open", "0/S/T limit", "0/T limit"}},
  };
  for (const WalkCase& c : cases) {
    Image x;
    x.header(uint32_t(c.rootRefs.size() + 1), 40, 144)
        .padTo(40)
        .entryInline(10000, 12, 2, VELFILE_TEXT("R"), 4);
    for (const auto& r : c.rootRefs) x.entry(uint16_t(r[0]), 0, r[1], r[2]);
    x.padTo(96).entryInline(10000, 12, 2, VELFILE_TEXT("S"), 4).entry(3, 0, c.sRef[0], c.sRef[1]);
    x.entryInline(10000, 12, 2, VELFILE_TEXT("T"), 4).padTo(144);
    vt::writeFile(path("walk.bin"), x.bytes);
    File f = File::open(path("walk.bin"));
    std::vector<std::string> got;
    const bool complete = velfile::walk(
        f.group("0"),
        [&](const velfile::WalkNode& n) { return got.push_back(n.path() + " " + state_name(n.state)), true; },
        velfile::WalkLeave(), c.limits);
    EXPECT_EQ(c.expected, got) << c.name;
    EXPECT_FALSE(complete) << c.name;
  }
}

TEST_F(Layer, FilesOnOnePathShareTheLibrarysHandle) {
  makeContainer("shared.bin");
  File a = File::open(path("shared.bin"));
  File b = File::open(path("shared.bin"));
  EXPECT_EQ(a.handle(), b.handle());
  Group g = a.group("0");
  a.close();
  EXPECT_EQ(7u, b.group("0").item(1).as<uint32_t>()) << "the other File keeps the handle";
  EXPECT_THROW(g.name(), Error);

  // An appender beside the reader: its own handle, and the reader goes on
  // seeing the sections that were whole when it opened.
  makeContainer("s.A01");
  File r = File::open(path("s.A01"));
  File w = File::append(path("s.A01"));
  EXPECT_NE(r.handle(), w.handle());
  w.create_group("Added").write_item(1, VelFile::kTypeRaw, "data past the last section", 26);
  EXPECT_EQ(1u, File::open(path("./s.A01")).sections().size());
  w.close();
  EXPECT_EQ(1u, r.sections().size());
  EXPECT_EQ(2u, File::open(path("s.A01")).sections().size());
  b.close();
  r.close();
  expectAllSlotsFree();
}

TEST_F(Layer, ErrorsSayWhatAndWhere) {
  makeContainer("c.bin");
  auto c = [this] { return File::open(path("c.bin")); };
  const struct {
    const char* name;
    std::function<void()> action;
    Reason reason;
    const char* text;  // part of what()
  } cases[] = {
      {"bad path", [&] { File::open(path("missing/x.bin")); }, Reason::NotFound,
       "no such file [file_OpenRead]"},
      {"no directory", [&] { File::create(path("missing/x.bin")); }, Reason::NotFound, "no such directory"},
      {"directory", [&] { File::open(dir_); }, Reason::Invalid, "is a directory"},
      {"second writer",
       [&] {
         makeContainer("2w.A01");
         File a = File::append(path("2w.A01")), b = File::append(path("./2w.A01"));
       },
       Reason::InUse, "a second writer is refused until that File closes [file_Open]"},
      {"foreign file", [&] { vt::writeFile(path("t.txt"), Bytes(100, 'x')), File::open(path("t.txt")); },
       Reason::NotContainer, "not a container file"},
      {"cut file",
       [&] {
         const Bytes b = makeContainer("cut.bin");
         vt::writeFile(path("cut.bin"), Bytes(b.begin(), b.begin() + 60));
         File::open(path("cut.bin")).group("0").items();  // opens; its directory is cut off
       },
       Reason::Io, "cut"},
      {"missing group", [&] { c().group("0/Nope"); }, Reason::NotFound, "group '0' has no sub-group 'Nope'"},
      {"missing section", [&] { c().group("3"); }, Reason::NotFound, "has no section 3 (it has 1)"},
      {"bad group path", [&] { c().group("0/#x"); }, Reason::BadPath, "'#x' is not an item id"},
      {"missing item", [&] { c().group("0").item(5); }, Reason::NotFound, "group '0', item 5 does not exist"},
      {"wrong type", [&] { c().group("0").item(10000).as<float>(); }, Reason::WrongType,
       "is utf16 and cannot be read as float32; read it with text()"},
      {"31st file",
       [&] {
         std::vector<void*> open(30);
         for (size_t i = 0; i < 30; ++i)
           VelFile::file_Create(vpath("f" + std::to_string(i)).c_str(), &open[i]);
         try {
           c();
         } catch (...) {
           for (void* h : open) VelFile::file_Close(h);
           throw;
         }
       },
       Reason::TooManyFiles, "all 30 slots"},
      {"double open", [&] { File r = c(), w = File::create(path("c.bin")); }, Reason::InUse,
       "open for reading"},
      {"double open, another spelling", [&] { File r = c(), w = File::create(path("./c.bin")); },
       Reason::InUse, "open for reading through the layer as '"},
      {"reader beside a writer, another spelling",
       [&] {
         File w = File::create(path("w.A01"));
         w.create_group("a");
         File::open(path("./w.A01"));
       },
       Reason::InUse, "open for writing"},
      {"closed without a group", [&] { File::create(path("e.A01")).close(); }, Reason::Invalid,
       "without any group"},
      {"read-only descriptor",
       [&] {
         c().group("0").write_descriptor("probe", {{"item1", int64_t(1)}});
       },
       Reason::ReadOnly, "takes no descriptor"},
      {"read-only name", [&] { c().group("0").set_name("x"); }, Reason::ReadOnly,
       "it was read from the file"},
      {"narrow section",
       [&] {
         File w = File::create(path("narrow.A01"));
         VelFile::file_SetCharacterFormat(w.handle(), 1);
         w.create_group("S").write_descriptor("channel", {{"item3", std::string("\xE4\xB8\xAD")}});
       },
       Reason::WrongType, "the section's narrow character set lacks"},
      {"use after close",
       [&] {
         File f = c();
         Group g = f.group("0");
         f.close();
         g.items();
       },
       Reason::Closed, "cannot be used after their File is closed"},
      {"append to another file", [&] { File::append(path("c.bin")); }, Reason::Invalid, ".A01"},
      {"second section",
       [&] {
         File f = File::create(path("two.A01"));
         f.create_group("a");
         f.create_group("b");
       },
       Reason::ReadOnly, "one new section per opening"},
      {"read-only group", [&] { c().group("0").write_item(2, int32_t(1)); }, Reason::ReadOnly, "read-only"},
  };
  for (const auto& e : cases) expectError(e.action, e.reason, e.text, e.name);
  expectAllSlotsFree();
}

// A value whose bytes run into the next section is refused, not read, and a
// huge count sizes no allocation.
TEST_F(Layer, ValuesOutsideTheirSectionAreRefused) {
  Image x;
  x.header(3, 48, 80).padTo(40).u32(1).u32(2).entryInline(10000, 12, 2, VELFILE_TEXT("A"), 4);
  x.entry(1, 7, 13, 40).entry(2, 7, 0x40000000, 40).padTo(84);
  x.put32(24, 88);
  x.padTo(88).header(1, 40, 64).padTo(128).entryInline(10000, 12, 2, VELFILE_TEXT("B"), 4).padTo(152);
  vt::writeFile(path("spill.bin"), x.bytes);
  // The first section alone, claiming 1.75 GiB: a file cut short. Item 2's
  // 8 GiB run past the claim, item 1's 104 bytes only past the file's end;
  // neither may be allocated for before it is refused.
  Image cut = x;
  cut.bytes.resize(88);
  cut.put32(24, 0x70000000);
  vt::writeFile(path("cut.bin"), cut.bytes);
  const struct {
    const char* file;
    uint16_t item;
    const char* says;
  } cases[] = {{"spill.bin", 1, "run past the end of its section (88 bytes)"},
               {"spill.bin", 2, "run past the end of its section (88 bytes)"},
               {"cut.bin", 1, "cut short inside their section (88 of 1879048192 bytes present)"},
               {"cut.bin", 2, "run past the end of its section (1879048192 bytes)"}};
  for (const auto& c : cases) {
    File f = File::open(path(c.file));
    const velfile::Item it = f.group("0").item(c.item);
    expectError([&] { it.bytes(); }, Reason::OutsideSection, c.says, c.file);
    expectError([&] { it.as<std::vector<double>>(); }, Reason::OutsideSection, c.says, c.file);
  }
}

// Four threads open, walk and read the same files at once: the layer's lock
// serialises the library's table, and File objects on one path share its
// handle.
TEST_F(Layer, FourThreadsReadSeveralFilesAtOnce) {
  const int kFiles = 3, kItems = 40;
  for (int k = 0; k < kFiles; ++k) {
    File f = File::create(path("t" + std::to_string(k) + ".A01"));
    Group g = f.create_group("S").create_group("Values");
    for (int i = 0; i < kItems; ++i) g.write_item(uint16_t(i), int32_t(1000 * k + i));
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&, t] {
      for (int round = 0; round < 25; ++round) {
        const int k = (t + round) % kFiles;
        try {
          File f = File::open(path("t" + std::to_string(k) + ".A01"));
          int groups = 0;
          velfile::walk(f.group("0"), [&](const velfile::WalkNode&) { return ++groups, true; });
          int64_t sum = 0;
          for (const velfile::Item& it : f.group("0/Values").items())
            if (it.type() == VelFile::kTypeInt32) sum += it.as<int32_t>();
          if (groups != 2 || sum != int64_t(kItems) * 1000 * k + kItems * (kItems - 1) / 2) ++wrong;
        } catch (const Error&) {
          ++wrong;
        }
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(0, wrong.load());
  expectAllSlotsFree();
}

struct RangeCase {
  Range second, first, samples;
};

struct DataCase {
  const char* name;
  int32_t dataClass;
  zor_enumDataType type;
  uint32_t second, first, q;
  int32_t entrySize;              // -1: the writer's choice
  std::vector<uint8_t> markers;   // empty: every point has data
  std::array<uint32_t, 3> shape;  // as DataGroup::shape() gives it
};

// The expected bytes of a ranged read from the dense array.
std::vector<uint8_t> slice(const std::vector<uint8_t>& all, const std::array<uint32_t, 3>& shape, size_t es,
                           const std::vector<uint8_t>& markers, const RangeCase& r) {
  auto len = [](uint32_t total, const Range& x) { return x.count == UINT32_MAX ? total - x.start : x.count; };
  std::vector<uint8_t> out;
  for (uint32_t s = r.second.start; s < r.second.start + len(shape[0], r.second); ++s)
    for (uint32_t f = r.first.start; f < r.first.start + len(shape[1], r.first); ++f) {
      const size_t p = size_t(s) * shape[1] + f;
      for (uint32_t k = r.samples.start; k < r.samples.start + len(shape[2], r.samples); ++k)
        for (size_t b = 0; b < es; ++b)
          out.push_back(!markers.empty() && markers[p] < 3 ? 0 : all[(p * shape[2] + k) * es + b]);
    }
  return out;
}

TEST_F(Layer, WrittenFromDenseArraysAndReadByRange) {
  const std::vector<DataCase> cases = {
      {"class 1 int16", 1, zor_enumDataType(4), 3, 4, 5, -1, {3, 0, 3, 2, 3, 3, 1, 3, 3, 3, 3, 3}, {3, 4, 5}},
      {"class 1 float", 1, zor_enumDataType(10), 2, 2, 3, -1, {}, {2, 2, 3}},
      {"wide entry", 1, zor_enumDataType(4), 3, 4, 3, 12, {3, 3, 1, 3, 0, 3, 3, 3, 3, 2, 3, 3}, {3, 4, 3}},
      {"block int16", 2, zor_enumDataType(4), 3, 2, 4, -1, {}, {3, 2, 4}},
      {"block odd entry", 3, zor_enumDataType(4), 2, 3, 0, 3, {}, {2, 3, 3}},
  };
  const std::vector<RangeCase> ranges = {
      {{}, {}, {}}, {{1, 1}, {1, 1}, {}}, {{1, UINT32_MAX}, {0, 2}, {1, 2}}, {{0, 0}, {}, {}}};
  for (const DataCase& c : cases) {
    CGDataTypeFDD d;
    d.dataClass = c.dataClass;
    d.SetDataType(c.type);
    d.secondPointCount = int32_t(c.second);
    d.firstPointCount = int32_t(c.first);
    d.SetSampleQty(c.q);
    d.pointEntrySize = c.entrySize;
    d.firstAxisFactor = 0.5f;
    const size_t es =
        c.shape[2] == 0 ? 1 : (c.entrySize > 0 && c.entrySize % 2 ? 1 : VelFile::file_SizeOf(c.type));
    std::vector<uint8_t> dense(size_t(c.shape[0]) * c.shape[1] * c.shape[2] * es);
    std::iota(dense.begin(), dense.end(), uint8_t(1));
    {
      File f = File::create(path("data.A01"));
      velfile::Group g = f.create_group("Section").create_group("Scan");
      g.write_data(d, dense.data(), dense.size(), c.markers.empty() ? nullptr : c.markers.data(),
                   c.markers.size());
      f.close();
    }
    {  // the same scan line by line: the same bytes
      File f = File::create(path("lines.A01"));
      velfile::DataWriter w = f.create_group("Section").create_group("Scan").data_writer(d);
      const size_t line = dense.size() / c.second, n = c.markers.empty() ? 0 : c.first;
      for (uint32_t j = 0; j < c.second; ++j)
        w.write_line(j, dense.data() + j * line, line, n ? c.markers.data() + j * n : nullptr, n);
      EXPECT_TRUE(w.complete()) << c.name;
      f.close();
    }
    EXPECT_EQ(vt::readFile(path("data.A01")), vt::readFile(path("lines.A01"))) << c.name;
    File f = File::open(path("data.A01"));
    const DataGroup dg = f.group("0/Scan").data();
    EXPECT_EQ(c.shape, dg.shape()) << c.name;
    EXPECT_EQ(0.5f, dg.axes()[1].factor) << c.name;
    EXPECT_EQ("Scan", dg.group().name()) << c.name;
    if (c.dataClass != 1) {  // a block lies in the file as written: a host may map it
      const velfile::Extent e = dg.block();
      const vt::Bytes file = vt::readFile(path("data.A01"));
      EXPECT_EQ(dense, vt::Bytes(file.begin() + long(e.offset), file.begin() + long(e.offset + e.size)))
          << c.name;
    }
    for (const RangeCase& r : ranges) {
      const std::vector<uint8_t> want = slice(dense, c.shape, es, c.markers, r);
      std::vector<uint8_t> got(want.size() + 1, 0xEE), markers(size_t(c.shape[0]) * c.shape[1], 0xEE);
      dg.read(got.data(), got.size(), markers.data(), r.second, r.first, r.samples);
      got.pop_back();
      EXPECT_EQ(want, got) << c.name << " " << r.second.start << " " << r.first.start << " "
                           << r.samples.start;
      if (r.second.start == 1 && r.second.count == UINT32_MAX && !c.markers.empty()) {
        EXPECT_EQ(c.markers[4], markers[0]) << c.name;  // second 1, first 0
      }
    }
  }
}

// Lines out of order, twice, past the last or of another type are refused;
// a scan ended early keeps its lines and stores the others as points without
// data, by finish() or by a close that says so.
TEST_F(Layer, ScanWrittenLineByLineTakesEachLineOnceInOrder) {
  CGDataTypeFDD d;
  d.dataClass = 1;
  d.SetDataType(zor_eDataTypeInt16);
  d.secondPointCount = 4;
  d.firstPointCount = 3;
  d.SetSampleQty(2);
  const std::vector<int16_t> ones(6, 1), counted = {1, 2, 3, 4, 5, 6};
  for (bool finish : {true, false}) {
    File f = File::create(path("scan.A01"));
    Group root = f.create_group("Section");
    velfile::DataWriter w = root.create_group("Scan").data_writer(d);
    expectError([&] { w.write_line(1, ones); }, Reason::Invalid, "cannot come yet; the next is line 0",
                "ahead");
    w.write_line(0, ones, {3, 0, 3});
    root.create_group("Between").write_item(1, std::vector<double>(9, 1.0));  // bytes between two lines
    expectError([&] { w.write_line(0, ones); }, Reason::Invalid, "line 0 was written already", "twice");
    expectError([&] { w.write_line(1, std::vector<float>(6)); }, Reason::WrongType, "int16", "type");
    expectError([&] { w.write_line(1, std::vector<int16_t>(5)); }, Reason::Invalid, "needs 3 points",
                "short");
    expectError([&] { w.write_lines(1, 4, counted.data(), 48); }, Reason::Invalid, "pass the last", "past");
    w.write_line(1, counted);
    expectError([&] { w.data(); }, Reason::Invalid, "lines 2 to 3 not written", "early");
    if (finish) {
      EXPECT_EQ(2u, w.finish());
      EXPECT_EQ(0u, w.finish());
      f.close();
    } else {
      expectError([&] { f.close(); }, Reason::Invalid, "lines 2 to 3 of 4 not written", "close");
    }
    std::vector<uint8_t> markers;
    const std::vector<int16_t> got =
        File::open(path("scan.A01")).group("0/Scan").data().read<int16_t>(&markers);
    EXPECT_EQ((std::vector<uint8_t>{3, 0, 3, 3, 3, 3, 0, 0, 0, 0, 0, 0}), markers);
    EXPECT_EQ((std::vector<int16_t>{1, 1, 0, 0, 1, 1, 1, 2, 3, 4, 5, 6}),
              std::vector<int16_t>(got.begin(), got.begin() + 12));
  }
}

// A data group of class 1 (or 10) made by hand: its items, a point table of
// 4-byte entries at 40 and the records that follow it.
// Records that lie back to back are read in runs, checked 64 entries at a
// time: entries swapped just after such a block, inside one, across its edge
// and at the end must each still be read from where the table says.
TEST_F(Layer, RecordsOutOfOrderAreReadWhereTheTableSays) {
  std::vector<int64_t> dense(300);  // records of four int16 samples, 8 bytes each
  std::iota(dense.begin(), dense.end(), int64_t(1) << 40);
  {
    CGDataTypeFDD d;
    d.dataClass = 1;
    d.SetDataType(zor_enumDataType(4));
    d.secondPointCount = 3, d.firstPointCount = 100;
    d.SetSampleQty(4);
    File f = File::create(path("order.A01"));
    f.create_group("Section").write_data(d, dense.data(), dense.size() * sizeof(int64_t));
  }
  const auto [start, table, entry] = [&] {
    File f = File::open(path("order.A01"));
    const CGDataTypeFDD d = f.group("0").data().descriptor();  // a copy: the data group is a temporary
    return std::array<uint32_t, 3>{f.sections()[0].start(), uint32_t(d.dataReference),
                                   uint32_t(d.pointEntrySize)};
  }();
  Bytes file = vt::readFile(path("order.A01"));
  for (const auto& [a, b] : {std::pair<int, int>{65, 66}, {100, 101}, {127, 128}, {140, 299}}) {
    std::swap_ranges(file.begin() + start + table + a * entry, file.begin() + start + table + (a + 1) * entry,
                     file.begin() + start + table + b * entry);
    std::swap(dense[size_t(a)], dense[size_t(b)]);
  }
  vt::writeFile(path("order.A01"), file);
  const std::vector<int16_t> got = File::open(path("order.A01")).group("0").data().read<int16_t>();
  ASSERT_EQ(dense.size() * 4, got.size());
  EXPECT_EQ(0, std::memcmp(dense.data(), got.data(), got.size() * 2));
}

struct Crafted {
  int32_t cls = 1;
  uint32_t first = 2, second = 2, q = 2, entry = 4, table = 40;
  std::vector<uint32_t> entries = {72, 0, 2, 76};  // two records of 2 x int16
  std::vector<uint16_t> words = {0x0102, 0x0304, 0x0506, 0x0708};

  std::vector<uint8_t> build(bool big) const {
    Image x(big);
    x.header(9, 88, 0).padTo(40);
    for (uint32_t e : entries) x.u32(e);
    x.padTo(72);
    for (uint16_t w : words) x.u16(w);
    x.padTo(88).entryInline(10000, 12, 2, VELFILE_TEXT("D"), 4);
    x.entry(10400, 6, 1, uint32_t(cls)).entry(10420, 7, 1, first).entry(10410, 7, 1, second);
    x.entry(10430, 7, 1, q).entry(10450, 6, 1, 5).entry(10462, 7, 1, entry).entry(10461, 7, 1, table);
    x.entry(10405, 7, 1, 0);
    x.padTo(88 + 9 * 24);
    x.put32(24, uint32_t(x.size()));
    return x.bytes;
  }
};

TEST_F(Layer, CraftedFilesInBothByteOrdersAndHostileTables) {
  for (bool big : {false, true}) {
    vt::writeFile(path("c.bin"), Crafted().build(big));
    File f = File::open(path("c.bin"));
    std::vector<uint8_t> markers;
    EXPECT_EQ((std::vector<uint16_t>{0x0102, 0x0304, 0, 0, 0, 0, 0x0506, 0x0708}),
              f.group("0").data().read<uint16_t>(&markers));
    EXPECT_EQ((std::vector<uint8_t>{3, 0, 2, 3}), markers);
    Crafted before;  // a record just before the table, two after it
    before.entries = {36, 76, 2, 72};
    vt::writeFile(path("b.bin"), before.build(big));
    EXPECT_EQ((std::vector<uint16_t>{0, 0, 0x0506, 0x0708, 0, 0, 0x0102, 0x0304}),
              File::open(path("b.bin")).group("0").data().read<uint16_t>());
    Crafted v;
    v.cls = 10;
    v.words = {1, 0x0A0B, 0x0C0D, 0};
    v.entries = {72, 1, 0, 78};
    vt::writeFile(path("v.bin"), v.build(big));
    const velfile::Records rec = File::open(path("v.bin")).group("0").data().read_records();
    EXPECT_EQ((std::vector<uint16_t>{1, 0x0A0B, 0x0C0D, 0}), rec.units);
    EXPECT_EQ((std::vector<uint64_t>{0, 3, 3, 3, 4}), rec.starts);
    EXPECT_EQ((std::vector<uint8_t>{3, 1, 0, 3}), rec.markers);
  }
  const std::pair<const char*, std::function<void(Crafted&)>> cases[] = {
      {"table past the section", [](Crafted& c) { c.table = 300; }},
      {"table in the header", [](Crafted& c) { c.table = 8; }},
      {"record past the section", [](Crafted& c) { c.entries[0] = 301; }},
      {"record in the header", [](Crafted& c) { c.entries[3] = 20; }},
      {"record inside the table", [](Crafted& c) { c.entries[0] = 44; }},
      {"counts that overflow", [](Crafted& c) { c.first = c.second = 0x10000; }},
      {"entry size of 2", [](Crafted& c) { c.entry = 2; }},
      {"sample count past the section", [](Crafted& c) { c.q = 0x40000000; }},
      {"variable record past the section", [](Crafted& c) { c.cls = 10, c.words[0] = 0x7FFF; }},
      {"block past the section", [](Crafted& c) { c.cls = 2, c.entry = 80; }},
      {"empty block entries", [](Crafted& c) { c.cls = 2, c.entry = 0, c.first = c.second = 0xFFFFFFFF; }},
  };
  for (const auto& h : cases) {
    Crafted c;
    h.second(c);
    vt::writeFile(path("h.bin"), c.build(false));
    File f = File::open(path("h.bin"));
    expectError(
        [&] {
          c.cls == 10 ? void(f.group("0").data().read_records()) : void(f.group("0").data().read<uint16_t>());
        },
        Reason::OutsideSection, "", h.first);
  }
}

using Values = std::vector<std::pair<std::string, Value>>;

TEST_F(Layer, ChangesUnknownFieldsAndTypedDescriptors) {
  File f = File::create(path("probe.A01"));
  Group g = f.create_group("S").create_group("Probe");
  const Values before = {{"item3", 2.0}, {"item4", 3.0}};
  Values after = before;
  after[1].second = 4.0;
  g.write_descriptor("probe", after, &before);
  EXPECT_EQ("Probe", g.name()) << "a descriptor without a name keeps the group's";
  std::vector<uint16_t> ids;
  for (const velfile::Item& it : g.items()) ids.push_back(it.id());
  EXPECT_EQ((std::vector<uint16_t>{10000, 1, 9999, 4}), ids) << "the name, the unconditional items, item 4";
  const std::vector<std::pair<Values, std::string>> refused = {
      {{{"nope", int64_t(1)}}, "module 'probe' has no such field (it has groupName, item1, layoutVersion"},
      {{{"item1", 0.5}}, "field 'item1'"},
      {{{"groupName", std::string(32, 'x')}}, "at most 31 elements"},
      {{{"points", std::vector<double>{1, 2, 3}}}, "field 'points' of module 'dac'"},
      {{{"points", std::vector<double>(1026, 1.0)}}, "at most 1024 elements"},
      {{{"depthTable", std::vector<double>{1, 2, 3}}}, "field 'depthTable' of module 'data'"},
  };
  for (const auto& c : refused) {
    const std::string module = c.first[0].first == "points"       ? "dac"
                               : c.first[0].first == "depthTable" ? "data"
                                                                  : "gprobe";
    expectError([&] { g.write_descriptor(module, c.first); }, Reason::Invalid, c.second, c.second);
  }
  // An integral real is an integer; a field takes the range of its item's
  // type, so that it reads back as written.
  EXPECT_NO_THROW(g.write_descriptor("probe", {{"item1", double(UINT32_MAX)}}));
  expectError(
      [&] {
        g.write_descriptor("probe", {{"item1", int64_t(-1)}});
      },
      Reason::Invalid, "(uint32: 0 to 4294967295)", "-1 is no uint32");
  expectError(
      [&] {
        g.write_descriptor("gate", {{"item4", int64_t(INT32_MAX) + 1}});
      },
      Reason::Invalid, "(int32: -2147483648 to 2147483647)", "2^31 is no int32");
  expectError(
      [&] {
        g.write_descriptor("scanplan", {{"item2", int64_t(65536)}});
      },
      Reason::Invalid, "(uint16: 0 to 65535)", "2^16 is no uint16");
  for (const int64_t v : {int64_t(INT32_MIN), int64_t(INT32_MAX)})
    EXPECT_NO_THROW(g.write_descriptor("gate", {{"originalPosition", v}})) << v;
  EXPECT_NO_THROW(g.write_descriptor("gate", {{"item6", int64_t(16777216)}}));
  for (const double v : {double(FLT_MAX), -double(FLT_MAX)})  // the float32 range, bounds included
    EXPECT_NO_THROW(g.write_descriptor("gate", {{"item6", v}})) << v;
  expectError(
      [&] {
        g.write_descriptor("gate", {{"item6", int64_t(16777217)}});
      },
      Reason::Invalid, "field 'item6'", "a float32 field rounds 2^24 + 1");
  EXPECT_THROW(g.read_descriptor("sonar"), Error);
  CGGateTypeDescr gate;
  gate.item6 = 12.5f;
  gate.SetOriginalPosition(7);
  Group gg = g.create_group("Gate A");
  gg.write(gate);
  EXPECT_EQ("Gate A", gg.name());
  const CGGateTypeDescr back = gg.read<CGGateTypeDescr>();
  EXPECT_EQ(12.5f, back.item6);
  EXPECT_EQ(7, back.GetOriginalPosition());
  EXPECT_EQ(int64_t(7), std::get<int64_t>(gg.read_descriptor("gate").at(15).second));
}

}  // namespace

// One conversion rule: a value is read as a type only when the type holds it
// (never narrowed, wrapped or clamped), and the refusal names value and type.
TEST_F(Layer, ValuesAreNeverChangedWithoutAWord) {
  const std::vector<float> floats{1.0e38f, -1.0e38f, 3.0f, 2.5f};
  const std::vector<int32_t> ints{70000, -5, 16777217};
  {
    File f = File::create(path("conv.A01"));
    Group g = f.create_group("Values");
    for (size_t i = 0; i < floats.size(); ++i) g.write_item(uint16_t(1 + i), floats[i]);
    for (size_t i = 0; i < ints.size(); ++i) g.write_item(uint16_t(11 + i), ints[i]);
    g.write_item(20, 4000000000u);
    g.write_item(21, std::array<double, 2>{0.5, 1.0e39});  // a contiguous range
  }
  File f = File::open(std::filesystem::path(path("conv.A01")));
  const Group g = f.group(std::string_view("0"));
  auto item = [&](uint16_t id) { return g.item(id); };
  const struct {
    std::function<void()> read;
    const char* says;
  } refused[] = {
      {[&] { item(1).as<int16_t>(); }, "holds 1e+38, which int16 cannot hold (-32768 to 32767)"},
      {[&] { item(1).as<int32_t>(); }, "int32 cannot hold"},
      {[&] { item(1).as<uint8_t>(); }, "uint8 cannot hold"},
      {[&] { item(2).as<int16_t>(); }, "holds -1e+38"},
      {[&] { item(4).as<int32_t>(); }, "holds 2.5, which is not an integer"},
      {[&] { item(11).as<int16_t>(); }, "holds 70000, which int16"},
      {[&] { item(12).as<uint32_t>(); }, "holds -5, which uint32"},
      {[&] { item(13).as<float>(); }, "16777217, which float32 cannot hold exactly"},
      {[&] { item(20).as<int32_t>(); }, "holds 4000000000, which int32"},
      {[&] { item(21).as<std::vector<float>>(); },
       "element 1 of 2 holds 1e+39, which lies outside the range of float32"},
      {[] { velfile::convert<int16_t>(70000.0); }, "the value 70000, which int16 cannot hold"},
  };
  for (const auto& c : refused) expectError(c.read, Reason::WrongType, c.says, c.says);
  EXPECT_EQ(3, item(3).as<int16_t>());
  EXPECT_EQ(double(1.0e38f), item(1).as<double>());
  EXPECT_EQ(16777217.0, item(13).as<double>());
  EXPECT_EQ(4000000000u, item(20).as<uint32_t>());
  EXPECT_EQ(-3, velfile::convert<int16_t>(-3.0));
  EXPECT_EQ(std::vector<float>{0.5f}, std::vector<float>(1, velfile::convert<float>(0.5)));
  int16_t kept = 9;
  const double big = 1e10;
  EXPECT_FALSE(velfile::convert_value(VelFile::kTypeInt16, &kept, VelFile::kTypeDouble, &big));
  EXPECT_EQ(9, kept);
}

// write_data and read take the sample type, converting reads say so, and a
// range outside the data names its axis.
TEST_F(Layer, SampleTypesAreCheckedAndRangesNamed) {
  CGDataTypeFDD d;
  d.dataClass = 1;
  d.secondPointCount = 3, d.firstPointCount = 2;
  d.SetSampleQty(2);
  d.SetDataType(zor_eDataTypeInt16);
  std::vector<int16_t> samples(12);
  std::iota(samples.begin(), samples.end(), int16_t(295));
  File f = File::create(path("typed.A01"));
  Group root = f.create_group("Scans");
  expectError([&] { root.create_group("F").write_data(d, std::vector<float>(6)); }, Reason::WrongType,
              "cannot take samples of type float32 for a descriptor of sample type int16", "floats as int16");
  CGDataTypeFDD untyped = d;
  untyped.SetDataType(zor_enumDataType(-1));
  expectError([&] { root.create_group("U").write_data(untyped, samples.data(), 24); }, Reason::Invalid,
              "without a sample type", "no sample type");
  const DataGroup dg = root.create_group("S").write_data(d, velfile::Samples(samples));
  expectError([&] { dg.read<uint16_t>(); }, Reason::WrongType, "holds elements of type int16, not uint16",
              "uint16 of int16");
  EXPECT_EQ(std::vector<double>(samples.begin(), samples.end()), dg.read_as<double>());
  expectError([&] { dg.read_as<int8_t>(); }, Reason::WrongType, "sample 0 of the range holds 295", "int8");
  EXPECT_EQ(samples, std::get<std::vector<int16_t>>(dg.read_samples()));
  std::array<int16_t, 4> line{};
  EXPECT_EQ(4u, dg.read_into(line, nullptr, {2, 1}));
  EXPECT_EQ(303, line[0]);
  expectError(
      [&] {
        dg.read<int16_t>(nullptr, {2, 2});
      },
      Reason::OutOfRange, "has no second indices 2 to 3: its second axis runs from 0 to 2", "second range");
  expectError([&] { dg.read<int16_t>(nullptr, {}, {}, {3}); }, Reason::OutOfRange,
              "sample axis runs from 0 to 1", "sample range");
  expectError([&] { dg.read(line.data(), 2); }, Reason::Invalid,
              "needs 24 bytes for that range; the buffer has 2", "short buffer");
}

// Names: more than 31 units refused everywhere, never cut; views of a
// closed File throw; iteration and the walk over every section.
TEST_F(Layer, NamesViewsAndIteration) {
  const std::string long40(40, 'n'), long32(32, 'n'), ok31(31, 'k');
  {
    File f = File::create(path("names.A01"));
    expectError([&] { f.create_group(long40); }, Reason::Invalid, "it has 40 characters", "section name");
    Group root = f.create_group("Root");
    expectError([&] { root.create_group(long40); }, Reason::Invalid, "at most 31", "create_group");
    Group g = root.create_group(ok31, 1);
    expectError([&] { g.set_name(long32); }, Reason::Invalid, "it has 32", "set_name");
    CGDataTypeFDD d;
    d.SetDataType(zor_eDataTypeUInt8);
    d.dataClass = 1, d.secondPointCount = d.firstPointCount = 1;
    d.SetSampleQty(1);
    for (size_t i = 0; i < 40; ++i) d.groupName[i] = VelChar('d');
    d.groupName[40] = 0;
    expectError([&] { root.create_group("D", 2).write_data(d, std::vector<uint8_t>{1}); }, Reason::Invalid,
                "it has 40", "descriptor name");
    d.groupName[0] = 0;  // takes the group's
    root.create_group("Data", 4).write_data(d, std::vector<uint8_t>{1});
    std::vector<CGChanTypeDescr> chans;  // copies from a const source change only the copy
    CGChanTypeDescr full;
    std::fill(std::begin(full.item3), std::end(full.item3), VelChar('x'));
    const CGChanTypeDescr& source = full;
    chans.push_back(source);
    EXPECT_EQ(VelChar('x'), full.item3[31]);
    EXPECT_EQ(VelChar(0), chans[0].item3[31]);
    root.create_group("Chan", 3).write(static_cast<const CGChanTypeDescr&>(chans[0]));
  }
  {
    File f = File::append(path("names.A01"));
    f.create_group("Second").create_group("Leaf");
  }
  File f = File::open(path("names.A01"));
  const Group root = f.group("0");
  EXPECT_EQ(ok31, f.group("0/" + ok31).name());
  std::vector<std::string> paths;
  for (const Group& child : root.children()) paths.push_back(child.path());
  EXPECT_EQ((std::vector<std::string>{"0/" + ok31, "0/D", "0/Data", "0/Chan"}), paths);
  uint32_t items = 0;
  for (const velfile::Item& it : root.entries()) items += it.index() == items;
  EXPECT_EQ(root.item_count(), items);
  paths.clear();
  EXPECT_TRUE(velfile::walk(f, [&](const velfile::WalkNode& n) { return paths.push_back(n.path()), true; }));
  EXPECT_EQ((std::vector<std::string>{"0", "0/" + ok31, "0/D", "0/Data", "0/Chan", "1", "1/Leaf"}), paths);
  const velfile::Item item = root.item(10000);
  const DataGroup data = f.group("0/Data").data();
  f.close();
  EXPECT_FALSE(root.valid());
  for (const auto& use : std::vector<std::function<void()>>{
           [&] { root.path(); }, [&] { item.id(); }, [&] { data.shape(); }, [&] { data.descriptor(); }})
    expectError(use, Reason::Closed, "was closed", "a view of a closed File");
}
