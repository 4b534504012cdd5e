// The C++ layer: items of every type in both byte orders, group paths, the
// walk over hostile trees, shared paths and the error messages.
#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>
#include <velfile/velfile.hpp>

#include "testutil.h"

using velfile::Error;
using velfile::File;
using velfile::Group;
using velfile::NodeState;
using velfile::Reason;
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

const std::vector<ItemCase> kItems = {
    numbers<int8_t>({-5}),
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
    numbers<int32_t>({}),
};

// The stored bytes of host-order elements in the other byte order.
Bytes swapped(uint16_t type, Bytes b) {
  const size_t unit = type == 8 || type == 9 ? 4 : size_t(VelFile::file_SizeOf(type));
  for (size_t i = 0; i + unit <= b.size(); i += unit)
    std::reverse(b.begin() + long(i), b.begin() + long(i + unit));
  return b;
}

class Layer : public vt::VelTest {
 public:
  using VelTest::makeContainer;
  using VelTest::path;
  using VelTest::vpath;

 protected:
  // A one-section file in either byte order: a name item "Gruppe", the
  // items of kItems (id = 1 + index) and a text item 99.
  void writeImage(const std::string& name, bool big) {
    const bool foreign = big != vt::hostBigEndian();
    Image x(big);
    x.header(uint32_t(kItems.size()) + 2, 0, 0).padTo(40);
    std::vector<uint32_t> at;
    auto text = [&](const std::u16string& s) {
      Bytes b(2 * (s.size() + 1));
      std::memcpy(b.data(), s.c_str(), b.size());
      return foreign ? swapped(12, b) : b;
    };
    const std::vector<Bytes> blocks = {text(u"Gruppe"), text(u"L\u00e4nge")};
    for (const Bytes& b : blocks)
      at.push_back(uint32_t(x.size())), x.raw(b).padTo((x.size() + 7) & ~size_t(7));
    for (const ItemCase& c : kItems) {
      at.push_back(uint32_t(x.size()));
      x.raw(foreign ? swapped(c.type, c.host) : c.host).padTo((x.size() + 7) & ~size_t(7));
    }
    const uint32_t dir = uint32_t(x.size());
    x.entry(10000, 12, 7, at[0]);
    for (size_t i = 0; i < kItems.size(); ++i) {
      const ItemCase& c = kItems[i];
      const Bytes stored = foreign ? swapped(c.type, c.host) : c.host;
      if (c.host.size() > 4) {
        x.entry(uint16_t(1 + i), c.type, c.count, at[2 + i]);
      } else {
        x.entryInline(uint16_t(1 + i), c.type, c.count, stored.data(), stored.size());
      }
    }
    x.entry(99, 12, 6, at[1]);
    x.padTo(x.size() + 12 * (kItems.size() + 2));
    x.put32(20, dir);
    x.put32(24, uint32_t(x.size()));
    vt::writeFile(path(name), x.bytes);
  }

  void expectItems(const std::string& name, const std::string& order) {
    File f = File::open(path(name));
    EXPECT_EQ(order, f.sections()[0].byte_order() == velfile::ByteOrder::Big ? "big" : "little");
    Group g = f.group("0");
    EXPECT_EQ("Gruppe", g.name());
    EXPECT_EQ("L\xC3\xA4nge", g.item(99).text());
    for (size_t i = 0; i < kItems.size(); ++i) {
      const ItemCase& c = kItems[i];
      const velfile::Item it = g.item(uint16_t(1 + i));
      EXPECT_EQ(c.type, it.type()) << name << " " << i;
      EXPECT_EQ(c.host, it.bytes()) << name << " " << i;
      if (!c.values.empty()) {
        EXPECT_EQ(c.values, it.as<std::vector<double>>()) << name << " " << i;
      }
    }
    const auto words = g.item(13).as<std::vector<velfile::Words>>();
    EXPECT_EQ((velfile::Words{0x01020304, 0x05060708}), words.at(0)) << name;
  }
};

TEST_F(Layer, ItemsOfEveryTypeInBothByteOrders) {
  writeImage("native.bin", vt::hostBigEndian());
  writeImage("foreign.bin", !vt::hostBigEndian());
  const std::string host = vt::hostBigEndian() ? "big" : "little",
                    other = vt::hostBigEndian() ? "little" : "big";
  expectItems("native.bin", host);
  expectItems("foreign.bin", other);
  {
    File f = File::create(path("written.A01"));
    Group g = f.create_group("Gruppe");
    for (size_t i = 0; i < kItems.size(); ++i)
      g.write_item(uint16_t(1 + i), kItems[i].type, kItems[i].host.data(), kItems[i].count);
    g.write_text(99, "L\xC3\xA4nge");
    f.close();
  }
  expectItems("written.A01", host);
  File f = File::open(path("written.A01"));
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
  EXPECT_EQ("0/[3]", f.group("0").groups().at(2).path());
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
    x.header(uint32_t(c.rootRefs.size() + 1), 40, 144).padTo(40).entryInline(10000, 12, 2, u"R", 4);
    for (const auto& r : c.rootRefs) x.entry(uint16_t(r[0]), 0, r[1], r[2]);
    x.padTo(96).entryInline(10000, 12, 2, u"S", 4).entry(3, 0, c.sRef[0], c.sRef[1]);
    x.entryInline(10000, 12, 2, u"T", 4).padTo(144);
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
  b.close();
  expectAllSlotsFree();
}

struct ErrorCase {
  const char* name;
  std::function<void(Layer&)> action;
  Reason reason;
  const char* text;  // part of what()
};

TEST_F(Layer, ErrorsSayWhatAndWhere) {
  const std::vector<ErrorCase> cases = {
      {"bad path", [](Layer& t) { File::open(t.path("missing/x.bin")); }, Reason::NotFound, "no such file"},
      {"foreign file",
       [](Layer& t) { vt::writeFile(t.path("text.txt"), Bytes(100, 'x')), File::open(t.path("text.txt")); },
       Reason::NotContainer, "not a container file"},
      {"cut file",
       [](Layer& t) {
         Bytes b = t.makeContainer("cut.bin");
         b.resize(60);
         vt::writeFile(t.path("cut.bin"), b);
         File::open(t.path("cut.bin")).group("0").items();  // opens; its directory is cut off
       },
       Reason::Io, "cut"},
      {"missing group", [](Layer& t) { File::open(t.path("c.bin")).group("0/Nope"); }, Reason::NotFound,
       "group '0' has no sub-group 'Nope'"},
      {"missing section", [](Layer& t) { File::open(t.path("c.bin")).group("3"); }, Reason::NotFound,
       "has no section 3 (it has 1)"},
      {"bad group path", [](Layer& t) { File::open(t.path("c.bin")).group("0/#x"); }, Reason::BadPath,
       "'#x' is not an item id"},
      {"missing item", [](Layer& t) { File::open(t.path("c.bin")).group("0").item(5); }, Reason::NotFound,
       "group '0', item 5 does not exist"},
      {"wrong type", [](Layer& t) { File::open(t.path("c.bin")).group("0").item(10000).as<float>(); },
       Reason::WrongType, "is utf16 and cannot be read as float32; read it with text()"},
      {"31st file",
       [](Layer& t) {
         std::vector<void*> open(30);
         for (size_t i = 0; i < 30; ++i)
           VelFile::file_Create(t.vpath("f" + std::to_string(i)).c_str(), &open[i]);
         try {
           File::open(t.path("c.bin"));
         } catch (...) {
           for (void* h : open) VelFile::file_Close(h);
           throw;
         }
       },
       Reason::TooManyFiles, "all 30 slots"},
      {"double open",
       [](Layer& t) {
         File r = File::open(t.path("c.bin"));
         File::create(t.path("c.bin"));
       },
       Reason::InUse, "open for reading"},
      {"use after close",
       [](Layer& t) {
         File f = File::open(t.path("c.bin"));
         Group g = f.group("0");
         f.close();
         g.items();
       },
       Reason::Closed, "cannot be used after their File is closed"},
      {"append to another file", [](Layer& t) { File::append(t.path("c.bin")); }, Reason::Invalid, ".A01"},
      {"second section",
       [](Layer& t) {
         File f = File::create(t.path("two.A01"));
         f.create_group("a");
         f.create_group("b");
       },
       Reason::ReadOnly, "one new section per opening"},
      {"read-only group", [](Layer& t) { File::open(t.path("c.bin")).group("0").write_item(2, int32_t(1)); },
       Reason::ReadOnly, "read-only"},
  };
  makeContainer("c.bin");
  for (const ErrorCase& c : cases) {
    try {
      c.action(*this);
      ADD_FAILURE() << c.name << ": no error";
    } catch (const Error& e) {
      EXPECT_EQ(int(c.reason), int(e.reason())) << c.name << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find(c.text), std::string::npos) << c.name << ": " << e.what();
    }
  }
  expectAllSlotsFree();
}

// A value whose bytes run into the next section is refused, not read.
// A value whose bytes run into the next section is refused, not read, and a
// huge count sizes no allocation.
TEST_F(Layer, ValuesOutsideTheirSectionAreRefused) {
  Image x;
  x.header(3, 48, 80).padTo(40).u32(1).u32(2).entryInline(10000, 12, 2, u"A", 4);
  x.entry(1, 7, 13, 40).entry(2, 7, 0x40000000, 40).padTo(84);
  x.put32(24, 88);
  x.padTo(88).header(1, 40, 64).padTo(128).entryInline(10000, 12, 2, u"B", 4).padTo(152);
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
    for (const std::function<void()>& read :
         std::vector<std::function<void()>>{[&] { it.bytes(); }, [&] { it.as<std::vector<double>>(); }}) {
      try {
        read();
        ADD_FAILURE() << c.file << " " << c.item;
      } catch (const Error& e) {
        EXPECT_EQ(Reason::OutsideSection, e.reason()) << e.what();
        EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
      }
    }
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

}  // namespace
