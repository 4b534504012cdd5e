// Data groups through the C++ layer: written from dense arrays and read back
// by range, crafted files in both byte orders, and tables that point outside
// their section.
#include <numeric>
#include <velfile/velfile.hpp>

#include "testutil.h"

using velfile::DataGroup;
using velfile::Error;
using velfile::File;
using velfile::Range;
using velfile::Reason;
using vt::Image;

namespace {

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

CGDataTypeFDD descriptor(int32_t cls, zor_enumDataType type, uint32_t second, uint32_t first, uint32_t q,
                         int32_t e) {
  CGDataTypeFDD d;
  d.dataClass = cls;
  d.SetDataType(type);
  d.secondPointCount = int32_t(second);
  d.firstPointCount = int32_t(first);
  d.SetSampleQty(q);
  d.pointEntrySize = e;
  d.firstAxisFactor = 0.5f;
  return d;
}

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

class LayerData : public vt::VelTest {};

TEST_F(LayerData, WrittenFromDenseArraysAndReadByRange) {
  const std::vector<DataCase> cases = {
      {"class 1 int16", 1, zor_enumDataType(4), 3, 4, 5, -1, {3, 0, 3, 2, 3, 3, 1, 3, 3, 3, 3, 3}, {3, 4, 5}},
      {"class 1 float", 1, zor_enumDataType(10), 2, 2, 3, -1, {}, {2, 2, 3}},
      {"block int16", 2, zor_enumDataType(4), 3, 2, 4, -1, {}, {3, 2, 4}},
      {"block odd entry", 3, zor_enumDataType(4), 2, 3, 0, 3, {}, {2, 3, 3}},
  };
  const std::vector<RangeCase> ranges = {
      {{}, {}, {}}, {{1, 1}, {1, 1}, {}}, {{1, UINT32_MAX}, {0, 2}, {1, 2}}, {{0, 0}, {}, {}}};
  for (const DataCase& c : cases) {
    CGDataTypeFDD d = descriptor(c.dataClass, c.type, c.second, c.first, c.q, c.entrySize);
    const size_t es =
        c.shape[2] == 0 ? 1 : (c.entrySize > 0 && c.entrySize % 2 ? 1 : VelFile::file_SizeOf(c.type));
    std::vector<uint8_t> dense(size_t(c.shape[0]) * c.shape[1] * c.shape[2] * es);
    std::iota(dense.begin(), dense.end(), uint8_t(1));
    {
      File f = File::create(path("data.A01"));
      velfile::Group g = f.create_group("Section").create_group("Scan");
      g.write_data(d, dense, c.markers);
      f.close();
    }
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

// A data group of class 1 (or 10) made by hand: its items, a point table of
// 4-byte entries at 40 and the records that follow it.
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
    x.padTo(88).entryInline(10000, 12, 2, u"D", 4);
    x.entry(10400, 6, 1, uint32_t(cls)).entry(10420, 7, 1, first).entry(10410, 7, 1, second);
    x.entry(10430, 7, 1, q).entry(10450, 6, 1, 5).entry(10462, 7, 1, entry).entry(10461, 7, 1, table);
    x.entry(10405, 7, 1, 0);
    x.padTo(88 + 9 * 24);
    x.put32(24, uint32_t(x.size()));
    return x.bytes;
  }
};

TEST_F(LayerData, CraftedFilesInBothByteOrdersAndHostileTables) {
  for (bool big : {false, true}) {
    vt::writeFile(path("c.bin"), Crafted().build(big));
    File f = File::open(path("c.bin"));
    std::vector<uint8_t> markers;
    EXPECT_EQ((std::vector<uint16_t>{0x0102, 0x0304, 0, 0, 0, 0, 0x0506, 0x0708}),
              f.group("0").data().read<uint16_t>(&markers));
    EXPECT_EQ((std::vector<uint8_t>{3, 0, 2, 3}), markers);
    Crafted v;
    v.cls = 10;
    v.words = {1, 0x0A0B, 0x0C0D, 0};
    v.entries = {72, 1, 0, 78};
    vt::writeFile(path("v.bin"), v.build(big));
    const velfile::Records rec = File::open(path("v.bin")).group("0").data().read_records();
    EXPECT_EQ((std::vector<uint16_t>{1, 0x0A0B, 0x0C0D, 0}), rec.units);
    EXPECT_EQ((std::vector<uint64_t>{0, 3, 3, 3, 4}), rec.starts);
  }
  struct Hostile {
    const char* name;
    std::function<void(Crafted&)> change;
  };
  const std::vector<Hostile> cases = {
      {"table past the section", [](Crafted& c) { c.table = 300; }},
      {"table in the header", [](Crafted& c) { c.table = 8; }},
      {"record past the section", [](Crafted& c) { c.entries[0] = 301; }},
      {"record in the header", [](Crafted& c) { c.entries[3] = 20; }},
      {"counts that overflow", [](Crafted& c) { c.first = c.second = 0x10000; }},
      {"entry size of 2", [](Crafted& c) { c.entry = 2; }},
      {"sample count past the section", [](Crafted& c) { c.q = 0x40000000; }},
      {"variable record past the section", [](Crafted& c) { c.cls = 10, c.words[0] = 0x7FFF; }},
      {"block past the section", [](Crafted& c) { c.cls = 2, c.entry = 80; }},
      {"empty block entries", [](Crafted& c) { c.cls = 2, c.entry = 0, c.first = c.second = 0xFFFFFFFF; }},
  };
  for (const Hostile& h : cases) {
    Crafted c;
    h.change(c);
    vt::writeFile(path("h.bin"), c.build(false));
    File f = File::open(path("h.bin"));
    try {
      const DataGroup dg = f.group("0").data();
      if (c.cls == 10)
        dg.read_records();
      else
        dg.read<uint16_t>();
      ADD_FAILURE() << h.name;
    } catch (const Error& e) {
      EXPECT_EQ(Reason::OutsideSection, e.reason()) << h.name << ": " << e.what();
    }
  }
}

}  // namespace
