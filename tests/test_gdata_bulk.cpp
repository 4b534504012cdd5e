// The data group's bulk data on disk: point tables pointing at the right
// records, blocks, and the refusals that write nothing.
#include <velfile/gdata.h>

#include "moduletest.h"

namespace {

using D = CGDataTypeFDD;
using vt::Bytes;

uint64_t addr(const void* p) {
  return reinterpret_cast<uintptr_t>(p);
}

// A 32-bit value as the writing machine stored it.
uint32_t rd32(const Bytes& b, size_t at) {
  uint32_t v = 0xDEADBEEF;
  if (at + 4 <= b.size()) std::memcpy(&v, &b[at], 4);
  return v;
}

// The layout written one point at a time: a reservation and a write per
// record, a write per table entry. The module must put the same bytes on disk.
int perPoint(D& d) {
  void* h = d.GetDataGroupHandle();
  const bool variable = d.dataClass == 10;
  const uint32_t n = uint32_t(d.firstPointCount) * uint32_t(d.secondPointCount);
  const uint32_t e = uint32_t(d.pointEntrySize);
  const uint32_t s = uint32_t(d.sampleSize) * d.GetSampleQty();
  const uint64_t* points = reinterpret_cast<const uint64_t*>(uintptr_t(d.dataReference));
  auto size = [&](uint64_t p) {
    return variable ? (2u * *reinterpret_cast<const uint16_t*>(uintptr_t(p)) + 1) * 2 : s;
  };
  const uint64_t table = VelFile::file_Allocate(h, n * e);
  uint64_t cursor = 0;
  if (variable) {
    uint32_t total = 0;
    for (uint32_t i = 0; i < n; ++i) total += points[i] >= 3 ? size(points[i]) : 0;
    cursor = VelFile::file_Allocate(h, total);
  }
  int rc = 0;
  std::vector<char> entry(e, 0);
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t v = uint32_t(points[i]);
    if (points[i] >= 3) {
      const uint64_t at = variable ? cursor : VelFile::file_Allocate(h, s);
      cursor += variable ? size(points[i]) : 0;
      rc |= VelFile::file_Write(h, at, reinterpret_cast<const char*>(uintptr_t(points[i])), size(points[i]),
                                nullptr);
      v = uint32_t(at);
    }
    std::memcpy(entry.data(), &v, 4);
    rc |= VelFile::file_Write(h, table + uint64_t(i) * e, entry.data(), e, nullptr);
  }
  d.dataReference = table;
  const uint32_t low = uint32_t(table);
  return rc | VelFile::file_ItemValueWrite(d.GetGroupHandle(), 10461, 7, 1, vt::cp(&low));
}

class GDataBulk : public vt::ModuleTest {
 protected:
  // Writes d's data into a fresh file by `how`; returns the file's bytes and
  // leaves the descriptor as written in written_.
  Bytes fileWith(
      D d, int (*how)(D&) = [](D& x) { return gdata_WriteDataClassData(nullptr, &x); }) {
    void* g = writeGroup();
    d.SetGroupHandle(g);
    d.SetDataGroupHandle(g);
    EXPECT_EQ(0, how(d));
    EXPECT_EQ(0, VelFile::file_Close(file_));
    file_ = nullptr;
    written_ = d;
    return vt::readFile(path("module.bin"));
  }
  void expectSameAsPerPoint(const D& d) {
    const Bytes mine = fileWith(d);
    const uint64_t placed = written_.dataReference;
    EXPECT_EQ(fileWith(d, perPoint), mine);
    EXPECT_EQ(written_.dataReference, placed);
  }
  static D pointData(int32_t dataClass, int32_t a, int32_t b, int32_t entrySize, const void* points,
                     int32_t sampleSize = 0, uint32_t qty = 0) {
    D d;
    d.dataClass = dataClass;
    d.firstPointCount = a;
    d.secondPointCount = b;
    d.pointEntrySize = entrySize;
    d.dataReference = addr(points);
    d.sampleSize = sampleSize;
    d.SetSampleQty(qty);
    return d;
  }

  D written_;
};

TEST_F(GDataBulk, TablePointsAtItsRecords) {
  const char record[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const uint64_t fixed[] = {0, addr(record), 2};
  const Bytes file = fileWith(pointData(1, 3, 1, 4, fixed, 2, 4));
  const uint32_t table = uint32_t(written_.dataReference);
  EXPECT_EQ(0u, rd32(file, table));
  EXPECT_EQ(2u, rd32(file, table + 8));
  EXPECT_EQ(table + 16, rd32(file, table + 4));  // the record's own block after the table
  EXPECT_EQ(0, std::memcmp(record, &file[table + 16], 8));
}

// Layouts that take each path of the batched writer: contiguous records,
// scattered and unaligned ones, padded entries, records larger than the
// staging area, and enough points to fill it several times.
TEST_F(GDataBulk, SameBytesAsWritingPointByPoint) {
  std::vector<char> pool(400000);
  for (size_t i = 0; i < pool.size(); ++i) pool[i] = char(i * 7 + 3);
  auto at = [&](size_t offset) { return addr(&pool[offset]); };

  std::vector<uint64_t> pts;
  for (size_t i = 0; i < 50; ++i) pts.push_back(at(i * 64));
  expectSameAsPerPoint(pointData(1, 10, 5, 4, pts.data(), 4, 16));
  // 5-byte records: scattered, backwards, repeated, between markers; 8-byte entries.
  pts = {at(900), 0, at(17), at(17), 2, at(5), 1, at(3000), at(3005), at(3010)};
  expectSameAsPerPoint(pointData(1, 5, 2, 8, pts.data(), 1, 5));
  pts = {at(0), at(70000), at(250000), 0};
  expectSameAsPerPoint(pointData(1, 2, 2, 4, pts.data(), 2, 35000));
  pts.clear();
  for (size_t i = 0; i < 6000; ++i) pts.push_back(i % 7 == 0 ? i % 3 : at((i * 977) % 390000));
  expectSameAsPerPoint(pointData(1, 6000, 1, 4, pts.data(), 12, 1));

  auto record = [&](size_t offset, uint16_t m) {
    std::memcpy(&pool[offset], &m, 2);
    return at(offset);
  };
  pts = {record(0, 2), record(10, 3), 0, record(5000, 0), record(200, 40000), 2};
  for (size_t i = 0; i < 3000; ++i)
    pts.push_back(i % 5 ? record(300000 + (i % 50) * 40, uint16_t(i % 9)) : 1);
  expectSameAsPerPoint(pointData(10, 3006, 1, 64, pts.data()));  // a staging area larger than a direct run
}

TEST_F(GDataBulk, RefusedLayoutsWriteNothing) {
  const uint64_t pts[4] = {};
  struct Case {
    const char* why;
    int32_t dataClass, a, b, entrySize, sampleSize;
    uint32_t qty;
  } cases[] = {{"class 4", 4, 2, 2, 4, 1, 1},
               {"entry below 4", 10, 2, 2, 3, 1, 1},
               {"point count", 1, 0x10000, 0x10000, 4, 1, 1},
               {"table size", 10, 0x40000000, 1, 4, 1, 1},
               {"record size", 1, 2, 2, 4, 0x10000, 0x10000},
               {"block size", 3, 2, 2, -1, 1, 1}};
  for (const Case& c : cases) {
    D d = pointData(c.dataClass, c.a, c.b, c.entrySize, pts, c.sampleSize, c.qty);
    void* g = writeGroup();
    d.SetGroupHandle(g);
    d.SetDataGroupHandle(g);
    const uint64_t before = VelFile::file_Allocate(g, 1);
    EXPECT_EQ(2, gdata_WriteDataClassData(nullptr, &d)) << c.why;
    EXPECT_EQ(before + 8, VelFile::file_Allocate(g, 1)) << c.why;
    EXPECT_EQ(addr(pts), d.dataReference) << c.why;
    EXPECT_EQ(1u, VelFile::file_ItemNbrGet(g)) << c.why;  // only its name
    VelFile::file_Close(file_);
    file_ = nullptr;
  }
  EXPECT_EQ(2, gdata_WriteDataClassData(nullptr, nullptr));
}

}  // namespace
