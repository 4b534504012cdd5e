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
// What "equal" means follows the container rules: numbers come back in the
// reader's byte order; UTF-16 text is never swapped, so text written in the
// other byte order comes back with each unit byte-reversed; narrow text and
// raw bytes come back as written, except that an inline raw value (4 bytes or
// less) of a foreign section has its value field reversed as one 32-bit word.
#include <velfile/gchan.h>
#include <velfile/gcontour.h>
#include <velfile/gdac.h>
#include <velfile/gdata.h>
#include <velfile/ggate.h>
#include <velfile/ginfo.h>
#include <velfile/gmesh.h>
#include <velfile/gpatch.h>
#include <velfile/gprobe.h>
#include <velfile/grefadj.h>
#include <velfile/gspec2d.h>
#include <velfile/gspec3d.h>
#include <velfile/gspecdef.h>
#include <velfile/gspecdim.h>
#include <velfile/gspecinf.h>
#include <velfile/gspecmat.h>
#include <velfile/gspecsim.h>
#include <velfile/gsubchan.h>
#include <velfile/gweld.h>
#include <velfile/gweldfill.h>
#include <velfile/gweldscanplan.h>
#include <velfile/velfile.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <sstream>

#include "testutil.h"

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
  bool code(int expected, int actual, const std::string& what) {
    return check(expected == actual, what + " gave " + std::to_string(actual));
  }
};

std::string ascii(const VelString& s) {
  std::string out;
  for (VelChar c : s) out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
  return out;
}

std::string hex(const Bytes& b) {
  std::string out;
  char buf[4];
  for (uint8_t v : b) {
    std::snprintf(buf, sizeof buf, "%02x", v);
    out += buf;
  }
  return out;
}

Bytes textBytes(const VelString& s) {
  return Bytes(reinterpret_cast<const uint8_t*>(s.c_str()),
               reinterpret_cast<const uint8_t*>(s.c_str() + s.size() + 1));
}

// Reverses every element of a host-order buffer: the bytes the other byte
// order would have written. Written out here on purpose instead of using the
// library's own swapping.
Bytes foreignBytes(const Bytes& host, uint16_t type) {
  size_t step = 1;
  if (type == kTypeInt16 || type == kTypeUInt16 || type == kTypeUtf16) step = 2;
  if (type == kTypeInt32 || type == kTypeUInt32 || type == kTypeFloat || type == kTypeQuad8 ||
      type == kTypeQuad9)
    step = 4;  // the two words of types 8 and 9 each on their own
  if (type == kTypeDouble) step = 8;
  Bytes out(host);
  for (size_t at = 0; at + step <= out.size(); at += step)
    std::reverse(out.begin() + at, out.begin() + at + step);
  return out;
}

VelString swappedText(const VelString& s, bool swapped) {
  if (!swapped) return s;
  VelString out(s);
  for (VelChar& c : out) c = static_cast<VelChar>(((c & 0xFF) << 8) | ((c >> 8) & 0xFF));
  return out;
}

template <class T>
Bytes hostBytes(std::initializer_list<T> values) {
  Bytes out;
  for (T v : values) {
    const Bytes b = vt::bytesOf(v);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

// One item of known content; bytes are the elements in host order.
struct ItemCase {
  uint16_t id;
  uint16_t type;
  uint32_t count;
  Bytes bytes;
};

ItemCase text(uint16_t id, const VelString& s) {
  return {id, kTypeUtf16, uint32_t(s.size() + 1), textBytes(s)};
}
ItemCase narrow(uint16_t id, const std::string& s) {
  return {id, kTypeNarrow, uint32_t(s.size() + 1), Bytes(s.c_str(), s.c_str() + s.size() + 1)};
}
// Elements of the item type, given as values of T (two 32-bit words make one
// element of types 8 and 9).
template <class T>
ItemCase numbers(uint16_t id, uint16_t type, std::initializer_list<T> values) {
  const Bytes bytes = hostBytes(values);
  return {id, type, uint32_t(bytes.size() / size_t(file_SizeOf(type))), bytes};
}

const VelString kWideText = VT_TEXT("Wide text \u00e9\u20ac \U0001D11E");

// The items of the "Items" section: every type, inline and out of line.
std::vector<ItemCase> itemCases() {
  return {
      numbers<int8_t>(2, kTypeInt8, {-5}),
      numbers<uint8_t>(3, kTypeUInt8, {1, 2, 3}),
      numbers<int16_t>(4, kTypeInt16, {-1234}),
      numbers<uint16_t>(5, kTypeUInt16, {0x1234, 0xABCD}),
      numbers<int32_t>(6, kTypeInt32, {-123456789}),
      numbers<uint32_t>(7, kTypeUInt32, {0x89ABCDEFu}),
      numbers<uint32_t>(8, kTypeQuad8, {0x01020304u, 0x05060708u}),
      numbers<uint32_t>(9, kTypeQuad9, {0x11121314u, 0x15161718u, 0x21222324u, 0x25262728u}),
      numbers<float>(10, kTypeFloat, {3.25f}),
      numbers<double>(11, kTypeDouble, {-20000000000.5}),
      numbers<int16_t>(20, kTypeInt16, {-3, -2, -1, 0x1234, 0x7FFF}),
      numbers<uint16_t>(21, kTypeUInt16, {1, 0x8001, 0xFFFE}),
      numbers<int32_t>(22, kTypeInt32, {-1, 0x12345678, -0x7FFFFFFF}),
      numbers<uint32_t>(23, kTypeUInt32, {0xDEADBEEFu, 42u}),
      numbers<float>(24, kTypeFloat, {0.5f, -1.75f, 1.0e20f}),
      numbers<double>(25, kTypeDouble, {1.0 / 3.0, -0.0}),
      numbers<int8_t>(26, kTypeInt8, {1, -2, 3, -4, 5, -6, 7}),
      numbers<uint8_t>(30, kTypeRaw, {0x11, 0x22, 0x33}),
      numbers<uint8_t>(31, kTypeRaw, {0x5A}),
      numbers<uint8_t>(32, kTypeRaw, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}),
      text(40, VT_TEXT("A")),
      text(41, kWideText),
      narrow(42, "abc"),
      narrow(43, "narrow text"),
  };
}

// Bulk blocks of the "Bulk" section, one per element type; the last one is
// long enough to be moved in several chunks when progress is asked for.
std::vector<ItemCase> bulkCases() {
  std::vector<ItemCase> cases = {
      numbers<int16_t>(1, kTypeInt16, {-1, 2, -3, 0x4142}),
      numbers<uint16_t>(2, kTypeUInt16, {0xFF00, 0x00FF, 7}),
      numbers<int32_t>(3, kTypeInt32, {-100000, 100000}),
      numbers<uint32_t>(4, kTypeUInt32, {0x01020304u, 0xA0B0C0D0u, 5u}),
      numbers<uint32_t>(5, kTypeQuad8, {0x01020304u, 0x05060708u}),
      numbers<float>(6, kTypeFloat, {1.5f, -2.5f}),
      numbers<double>(7, kTypeDouble, {3.0e100, -1.0 / 7.0}),
      numbers<uint8_t>(8, kTypeRaw, {9, 8, 7, 6, 5}),
  };
  ItemCase ramp{9, kTypeInt16, 150000, {}};
  for (uint32_t i = 0; i < ramp.count; ++i) {
    const Bytes b = vt::bytesOf(static_cast<int16_t>(i * 37 - 20000));
    ramp.bytes.insert(ramp.bytes.end(), b.begin(), b.end());
  }
  cases.push_back(ramp);
  return cases;
}

const uint16_t kWriterItem = 1;  // type 3: 1 when the writer was big-endian

// --- writing ---

class Writer {
 public:
  Writer(const std::string& path, Report& r, int charFormat = 0) : r_(r) {
    r_.code(0, file_Create(vt::V(path).c_str(), &file_), "create " + path);
    if (charFormat) r_.code(0, file_SetCharacterFormat(file_, charFormat), "character format");
  }
  ~Writer() { r_.code(0, file_Close(file_), "close"); }
  void* section(const VelString& name) {
    void* g = nullptr;
    r_.code(0, file_GroupCreate(file_, &g, 0, name.c_str()), "section " + ascii(name));
    markWriter(g);
    return g;
  }
  void* file() const { return file_; }

  void markWriter(void* g) {
    const uint8_t big = vt::hostBigEndian() ? 1 : 0;
    r_.code(0, file_ItemValueWrite(g, kWriterItem, kTypeUInt8, 1, vt::cp(&big)), "writer item");
  }
  void items(void* g, const std::vector<ItemCase>& cases) {
    for (const ItemCase& s : cases)
      r_.code(0, file_ItemValueWrite(g, s.id, s.type, s.count, vt::cp(s.bytes.data())),
              "item " + std::to_string(s.id));
  }
  void blocks(void* g, const std::vector<ItemCase>& cases) {
    for (const ItemCase& s : cases) {
      const uint32_t size = static_cast<uint32_t>(s.bytes.size());
      const uint64_t at = file_Allocate(g, size);
      int32_t progress = 0;
      r_.check(at != 0, "allocate block " + std::to_string(s.id));
      r_.code(0, file_Write(g, at, vt::cp(s.bytes.data()), size, &progress), "write block");
      r_.code(0, file_ItemOffsetWrite(g, s.id, s.type, s.count, static_cast<uint32_t>(at)), "block item");
    }
  }

 private:
  Report& r_;
  void* file_ = nullptr;
};

// --- reading ---

class Reader {
 public:
  Reader(const std::string& path, Report& r) : r_(r) {
    r_.code(0, file_Open(vt::V(path).c_str(), &file_), "open " + path);
  }
  ~Reader() {
    if (file_) r_.code(0, file_Close(file_), "close");
  }
  bool ok() const { return file_ != nullptr; }
  uint32_t sections() { return file_ItemNbrGet(file_); }

  // Opens the index-th section and learns from it whether it is foreign.
  void* section(uint32_t index, const VelString& name) {
    uint32_t key = 0;
    void* g = nullptr;
    if (!r_.code(0, file_ItemInfo(file_, index, nullptr, nullptr, nullptr, &key, nullptr, 0),
                 "section info") ||
        !r_.code(0, file_GroupOpen(file_, &g, key), "open section"))
      return nullptr;
    uint8_t big = 0;
    r_.code(0, file_IndexBlockRead(g, kWriterItem, kTypeUInt8, reinterpret_cast<char*>(&big)), "writer item");
    swapped = (big != 0) != vt::hostBigEndian();
    r_.check(file_SwapNeeded(g) == (swapped ? 1 : 0), "swap flag follows the writer's byte order");
    expectName(g, name);
    return g;
  }
  // A sub-group; its name is checked unless null (a module names its group).
  void* sub(void* parent, uint32_t index, const VelChar* name) {
    uint32_t key = 0;
    void* g = nullptr;
    r_.code(0, file_ItemInfo(parent, index, nullptr, nullptr, nullptr, &key, nullptr, 0), "sub-group info");
    r_.code(0, file_GroupOpen(parent, &g, key), "open sub-group");
    if (g && name) expectName(g, name);
    return g;
  }
  void expectName(void* g, const VelString& name) {
    VelChar buf[64] = {};
    r_.code(0, file_GroupNameGet(g, buf, 64), "group name");
    r_.check(VelString(buf) == swappedText(name, swapped && !narrowStrings),
             "group name " + ascii(buf) + " for " + ascii(name));
  }

  // Checks the items of a group from index `first` on against the cases.
  void items(void* g, uint32_t first, const std::vector<ItemCase>& cases) {
    r_.check(file_ItemNbrGet(g) >= first + cases.size(), "item count");
    for (uint32_t i = 0; i < cases.size(); ++i) item(g, first + i, cases[i]);
  }
  void item(void* g, uint32_t index, const ItemCase& s) {
    const std::string what = "item " + std::to_string(s.id);
    uint16_t id = 0, type = 0;
    uint32_t count = 0, value = 0;
    r_.code(0, file_ItemInfo(g, index, &id, &type, &count, &value, nullptr, 0), what);
    const uint16_t storedType = narrowStrings && s.type == kTypeUtf16 ? uint16_t(kTypeNarrow) : s.type;
    if (!r_.check(id == s.id && type == storedType && count == s.count, what + " id, type or count")) return;
    const size_t n = s.bytes.size();
    Bytes got(n + 8, 0xEE);
    char* buffer = reinterpret_cast<char*>(got.data());
    uint32_t delivered = 0;
    Bytes want = s.bytes;
    switch (s.type) {
      case kTypeQuad8:  // no conversion reads these: they are read as a block
      case kTypeQuad9:
        r_.code(0, file_Read(g, value, count, type, buffer, nullptr), what);
        break;
      case kTypeRaw:
        r_.code(0, file_IndexValueRead(g, index, kTypeRaw, buffer, &delivered), what);
        if (n <= 4) {
          // The value field as it stands: reversed as one word when foreign.
          want.resize(4, 0);
          if (swapped) std::reverse(want.begin(), want.end());
          if (n == 1) want.resize(1);  // a single element is converted: its first byte
        }
        break;
      case kTypeUtf16:
      case kTypeNarrow:
        // Text stored narrow comes back widened and never swapped.
        r_.code(0, file_IndexValueRead(g, index, s.type, buffer, &delivered), what);
        if (s.type == kTypeUtf16 && swapped && !narrowStrings) want = foreignBytes(want, kTypeUtf16);
        break;
      default:
        r_.code(0, file_IndexBlockRead(g, index, s.type, buffer), what);
    }
    got.resize(want.size());
    r_.check(got == want, what + " reads " + hex(got) + ", expected " + hex(want));
  }

  // Bulk blocks: file_Read swaps by type, file_ReadBlock gives the bytes as
  // the writer laid them down.
  void blocks(void* g, uint32_t first, const std::vector<ItemCase>& cases) {
    for (uint32_t i = 0; i < cases.size(); ++i) {
      const ItemCase& s = cases[i];
      const std::string what = "block " + std::to_string(s.id);
      uint32_t count = 0, offset = 0;
      uint16_t type = 0;
      r_.code(0, file_ItemInfo(g, first + i, nullptr, &type, &count, &offset, nullptr, 0), what);
      if (r_.check(type == s.type && count == s.count, what + " type or count")) block(g, offset, s, what);
    }
  }
  void block(void* g, uint32_t offset, const ItemCase& s, const std::string& what) {
    Bytes got(s.bytes.size());
    int32_t progress = -1;
    r_.code(0, file_Read(g, offset, s.count, s.type, reinterpret_cast<char*>(got.data()), &progress), what);
    r_.check(got == s.bytes && progress >= 0, what + " through file_Read");
    r_.code(0,
            file_ReadBlock(g, offset, static_cast<uint32_t>(got.size()), reinterpret_cast<char*>(got.data())),
            what);
    r_.check(got == (swapped ? foreignBytes(s.bytes, s.type) : s.bytes), what + " through file_ReadBlock");
  }

  bool swapped = false;
  bool narrowStrings = false;

 private:
  Report& r_;
  void* file_ = nullptr;
};

// --- the container corpus ---

void writeItems(const std::string& dir, const std::string&, Report& r) {
  Writer w(dir + "/items.bin", r);
  void* g = w.section(VT_TEXT("Items \u00c5"));
  w.items(g, itemCases());
  void *child = nullptr, *grandchild = nullptr;
  r.code(0, file_GroupCreate(g, &child, 50, VT_TEXT("Child")), "child");
  w.items(child, {numbers<uint32_t>(1, kTypeUInt32, {7u})});
  r.code(0, file_GroupCreate(child, &grandchild, 2, VT_TEXT("Grandchild")), "grandchild");
  w.items(grandchild, {numbers<double>(1, kTypeDouble, {0.5}), text(2, VT_TEXT("deep"))});
}

void verifyItems(const std::string& dir, const std::string&, Report& r) {
  Reader rd(dir + "/items.bin", r);
  if (!rd.ok()) return;
  void* g = rd.section(0, VT_TEXT("Items \u00c5"));
  if (!g) return;
  const std::vector<ItemCase> cases = itemCases();
  // name, writer, the cases, then the child's reference
  r.check(file_ItemNbrGet(g) == cases.size() + 3, "item count of the section");
  for (uint32_t i = 0; i < cases.size(); ++i) rd.item(g, i + 2, cases[i]);
  // Inline arrays come back as the value field itself, out-of-line ones as
  // the block's offset.
  uint32_t field = 0, offset = 0, count = 0;
  r.code(0, file_IndexValueRead(g, 5, kTypeUInt16, reinterpret_cast<char*>(&field), &count), "inline pair");
  uint32_t pair = 0;
  std::memcpy(&pair, cases[3].bytes.data(), 4);
  r.check(field == pair && count == 1, "inline pair as one field");
  file_ItemInfo(g, 12, nullptr, nullptr, nullptr, &offset, nullptr, 0);
  r.code(0, file_IndexValueRead(g, 12, kTypeInt16, reinterpret_cast<char*>(&field), &count), "array");
  r.check(field == offset && count == 5, "an out-of-line array reads as its offset");
  void* child = rd.sub(g, cases.size() + 2, VT_TEXT("Child"));
  if (!child) return;
  rd.items(child, 1, {numbers<uint32_t>(1, kTypeUInt32, {7u})});
  void* grandchild = rd.sub(child, 2, VT_TEXT("Grandchild"));
  if (grandchild) rd.items(grandchild, 1, {numbers<double>(1, kTypeDouble, {0.5}), text(2, VT_TEXT("deep"))});
}

// Narrow mode: names and UTF-16 values are stored in the narrow character set
// and so are never swapped. ASCII only: the narrow sets of the machines differ.
std::vector<ItemCase> narrowCases() {
  return {text(2, VT_TEXT("plain ascii text")), text(3, VT_TEXT("ab"))};
}

void writeNarrow(const std::string& dir, const std::string&, Report& r) {
  Writer w(dir + "/narrow.bin", r, 1);
  void* g = w.section(VT_TEXT("Narrow section"));
  w.items(g, narrowCases());
  void* sub = nullptr;
  r.code(0, file_GroupCreate(g, &sub, 9, VT_TEXT("Narrow sub")), "sub-group");
  w.items(sub, {numbers<int32_t>(1, kTypeInt32, {-2})});
}

void verifyNarrow(const std::string& dir, const std::string&, Report& r) {
  Reader rd(dir + "/narrow.bin", r);
  if (!rd.ok()) return;
  rd.narrowStrings = true;
  void* g = rd.section(0, VT_TEXT("Narrow section"));
  if (!g) return;
  for (uint32_t i = 0; i < 2; ++i) rd.item(g, i + 2, narrowCases()[i]);
  void* sub = rd.sub(g, 4, VT_TEXT("Narrow sub"));
  if (sub) rd.items(sub, 1, {numbers<int32_t>(1, kTypeInt32, {-2})});
}

void writeBulk(const std::string& dir, const std::string&, Report& r) {
  Writer w(dir + "/bulk.bin", r);
  w.blocks(w.section(VT_TEXT("Bulk")), bulkCases());
}

void verifyBulk(const std::string& dir, const std::string&, Report& r) {
  Reader rd(dir + "/bulk.bin", r);
  if (!rd.ok()) return;
  void* g = rd.section(0, VT_TEXT("Bulk"));
  if (g) rd.blocks(g, 2, bulkCases());
}

// Data groups with their bulk data, placed by the data module: a point table
// with sample records (data class 1) and one block (data class 2). The
// module copies the bytes from memory; the reader swaps them by data type.
const ItemCase kRecordA = numbers<int16_t>(0, kTypeInt16, {-1, 0x1234, 7});
const ItemCase kRecordB = numbers<int16_t>(0, kTypeInt16, {100, -200, 0x7F00});
const ItemCase kBlock = numbers<uint32_t>(0, kTypeUInt32, {1u, 0x01020304u, 0xFFFF0000u, 4u, 5u, 0x80000000u});

struct DataPtr : std::unique_ptr<CGDataTypeFDD, void (*)(CGDataTypeFDD*)> {
  DataPtr() : unique_ptr(gdata_Allocate(1, nullptr), [](CGDataTypeFDD* d) { gdata_Delete(d); }) {}
};

void writeData(const std::string& dir, const std::string&, Report& r) {
  Writer w(dir + "/data.bin", r);
  void* section = w.section(VT_TEXT("Data"));
  void *table = nullptr, *block = nullptr;
  r.code(0, file_GroupCreate(section, &table, 1, VT_TEXT("Table data")), "group");
  DataPtr d;
  d->dataClass = 1;
  d->firstPointCount = 2;
  d->secondPointCount = 2;
  d->pointEntrySize = 4;
  d->SetDataType(zor_eDataTypeInt16);
  d->SetSampleQty(3);
  d->sampleSize = 2;
  const uint64_t points[4] = {0, reinterpret_cast<uintptr_t>(kRecordA.bytes.data()), 2,
                              reinterpret_cast<uintptr_t>(kRecordB.bytes.data())};
  d->dataReference = reinterpret_cast<uintptr_t>(points);
  r.code(0, gdata_WriteGroupInfo(table, nullptr, d.get(), 0), "table data");

  r.code(0, file_GroupCreate(section, &block, 2, VT_TEXT("Block data")), "group");
  DataPtr b;
  b->dataClass = 2;
  b->firstPointCount = 3;
  b->secondPointCount = 2;
  b->pointEntrySize = 4;
  b->SetDataType(zor_eDataTypeUInt32);
  b->SetSampleQty(1);
  b->sampleSize = 4;
  b->dataReference = reinterpret_cast<uintptr_t>(kBlock.bytes.data());
  r.code(0, gdata_WriteGroupInfo(block, nullptr, b.get(), 0), "block data");
}

void verifyData(const std::string& dir, const std::string&, Report& r) {
  Reader rd(dir + "/data.bin", r);
  if (!rd.ok()) return;
  void* section = rd.section(0, VT_TEXT("Data"));
  if (!section) return;
  void* table = rd.sub(section, 2, nullptr);
  DataPtr d;
  if (table && r.code(0, gdata_ReadGroupInfo(table, d.get()), "read table group")) {
    r.check(d->dataClass == 1 && d->firstPointCount == 2 && d->secondPointCount == 2 &&
                d->pointEntrySize == 4 && d->GetDataType() == zor_eDataTypeInt16 && d->GetSampleQty() == 3 &&
                d->sampleSize == 2,
            "table descriptor");
    uint32_t entries[4] = {};
    r.code(0,
           file_Read(table, uint32_t(d->dataReference), 4, kTypeUInt32, reinterpret_cast<char*>(entries),
                     nullptr),
           "point table");
    r.check(entries[0] == 0 && entries[2] == 2, "markers of points without data");
    rd.block(table, entries[1], kRecordA, "record A");
    rd.block(table, entries[3], kRecordB, "record B");
  }
  void* block = rd.sub(section, 3, nullptr);
  DataPtr b;
  if (block && r.code(0, gdata_ReadGroupInfo(block, b.get()), "read block group")) {
    r.check(b->dataClass == 2 && b->GetDataType() == zor_eDataTypeUInt32, "block descriptor");
    rd.block(block, uint32_t(b->dataReference), kBlock, "data block");
  }
}

// A ".A01" file gains one section per opening, each in its writer's order.
std::vector<ItemCase> sectionCases() {
  return {numbers<uint32_t>(2, kTypeUInt32, {0x0A0B0C0Du}), numbers<double>(3, kTypeDouble, {2.75}),
          text(4, VT_TEXT("section text"))};
}

VelString sectionName(uint32_t index) {
  return VT_TEXT("Section ") + VelString(1, VelChar('1' + index));
}

void writeSections(const std::string& dir, const std::string&, Report& r) {
  Writer w(dir + "/sections.A01", r);
  w.items(w.section(sectionName(0)), sectionCases());
}

void extendSections(const std::string& dir, Report& r) {
  void* f = nullptr;
  if (!r.code(0, file_Open(vt::V(dir + "/sections.A01").c_str(), &f), "open for update")) return;
  void* g = nullptr;
  const uint32_t index = file_ItemNbrGet(f);
  if (r.code(0, file_GroupCreate(f, &g, 0, sectionName(index).c_str()), "new section")) {
    const uint8_t big = vt::hostBigEndian() ? 1 : 0;
    r.code(0, file_ItemValueWrite(g, kWriterItem, kTypeUInt8, 1, vt::cp(&big)), "writer item");
    for (const ItemCase& s : sectionCases())
      r.code(0, file_ItemValueWrite(g, s.id, s.type, s.count, vt::cp(s.bytes.data())), "item");
  }
  r.code(0, file_Close(f), "close");
}

void verifySections(const std::string& dir, const std::string&, Report& r) {
  Reader rd(dir + "/sections.A01", r);
  if (!rd.ok()) return;
  const uint32_t n = rd.sections();
  r.check(n >= 1 && n <= 9, "section count " + std::to_string(n));
  for (uint32_t i = 0; i < n && i < 9; ++i) {
    void* g = rd.section(i, sectionName(i));
    if (g) rd.items(g, 2, sectionCases());
  }
}

// --- group modules ---
//
// A module's corpus descriptor is found without knowing its fields: the items
// that a default descriptor writes are rewritten with a value pattern (same
// ids, types and counts) and read back through the module. Both machines make
// it the same way. The verdict compares what the module writes from the
// descriptor read off the exchanged file with what it writes from the
// corpus descriptor: the same items, the same values.

// Scratch files on this machine, each with a section and a sub-group to
// write a module's group into.
class Scratch {
 public:
  explicit Scratch(const std::string& dir) : dir_(dir) {}
  ~Scratch() {
    for (int i = 1; i <= n_; ++i) std::remove(name(i).c_str());
  }
  struct File {
    std::string path;
    void* file;
    void* group;
  };
  // A module that does not name its group leaves it with kScratchName.
  static constexpr const VelChar* kScratchName = VT_TEXT("M");
  File create(const VelChar* groupName = kScratchName) {
    File f{name(++n_), nullptr, nullptr};
    void* s = nullptr;
    file_Create(vt::V(f.path).c_str(), &f.file);
    file_GroupCreate(f.file, &s, 0, VT_TEXT("S"));
    file_GroupCreate(s, &f.group, 1, groupName);
    return f;
  }
  // Closes the file and opens it again for reading.
  static void reopen(File* f) {
    file_Close(f->file);
    void* s = nullptr;
    uint32_t key = 0;
    f->group = nullptr;
    file_Open(vt::V(f->path).c_str(), &f->file);
    file_GroupOpen(f->file, &s, 0);
    file_ItemInfo(s, 1, nullptr, nullptr, nullptr, &key, nullptr, 0);
    file_GroupOpen(s, &f->group, key);
  }

 private:
  std::string name(int i) const { return dir_ + "/scratch" + std::to_string(i) + ".bin"; }
  std::string dir_;
  int n_ = 0;
};

// Rewrites the items of a group (from index 1: the name item exists already)
// into another with patterned values; the layout version is kept.
void patternItems(void* from, void* to) {
  const uint32_t n = file_ItemNbrGet(from);
  for (uint32_t i = 1; i < n; ++i) {
    uint16_t id = 0, type = 0;
    uint32_t count = 0, key = 0;
    file_ItemInfo(from, i, &id, &type, &count, &key, nullptr, 0);
    if (type == kTypeGroup) {
      VelChar name[64] = {};
      void *a = nullptr, *b = nullptr;
      file_ItemInfo(from, i, nullptr, nullptr, nullptr, nullptr, name, 64);
      file_GroupOpen(from, &a, key);
      file_GroupCreate(to, &b, id, name);
      if (a && b) patternItems(a, b);
      continue;
    }
    if (id == kItemLayoutVersion) {
      int32_t v = 0;
      file_IndexBlockRead(from, i, kTypeInt32, reinterpret_cast<char*>(&v));
      file_ItemValueWrite(to, id, kTypeInt32, 1, vt::cp(&v));
      continue;
    }
    if (type == kTypeUtf16 || type == kTypeNarrow) {
      const VelString s = VT_TEXT("T") + vt::V(std::to_string(id)) + VT_TEXT("xyz");
      file_ItemValueWrite(to, id, kTypeUtf16, uint32_t(s.size() + 1), vt::cp(s.c_str()));
      continue;
    }
    // Small values, so that enumerations and flags stay in range; every one
    // differs between byte orders in its multi-byte types.
    const size_t size = static_cast<size_t>(file_SizeOf(type));
    Bytes v(size * count);
    for (uint32_t e = 0; e < count; ++e) {
      const uint32_t k = (id + e) % 3 + 1;
      uint8_t* p = &v[e * size];
      if (type == kTypeFloat) {
        const float f = 0.5f + float(k);
        std::memcpy(p, &f, 4);
      } else if (type == kTypeDouble) {
        const double d = 0.25 + k;
        std::memcpy(p, &d, 8);
      } else if (size == 2) {
        const uint16_t u = static_cast<uint16_t>(k);
        std::memcpy(p, &u, 2);
      } else if (size >= 4) {
        const uint32_t u = k;
        std::memcpy(p, &u, 4);
      } else {
        *p = static_cast<uint8_t>(k);
      }
    }
    file_ItemValueWrite(to, id, type, count, vt::cp(v.data()));
  }
}

// Whether two groups written on this machine hold the same items; UTF-16
// values of `b` are expected byte-reversed when textSwapped, except the
// scratch name that a module which does not name its group leaves alone.
void compareGroups(void* a, void* b, bool textSwapped, Report& r) {
  const Bytes keptName = textBytes(Scratch::kScratchName);
  const uint32_t n = file_ItemNbrGet(a);
  if (!r.check(n == file_ItemNbrGet(b),
               "item count " + std::to_string(file_ItemNbrGet(b)) + ", expected " + std::to_string(n)))
    return;
  for (uint32_t i = 0; i < n; ++i) {
    uint16_t ida = 0, ta = 0, idb = 0, tb = 0;
    uint32_t ca = 0, va = 0, cb = 0, vb = 0;
    file_ItemInfo(a, i, &ida, &ta, &ca, &va, nullptr, 0);
    file_ItemInfo(b, i, &idb, &tb, &cb, &vb, nullptr, 0);
    const std::string what = "item " + std::to_string(ida);
    if (!r.check(ida == idb && ta == tb && ca == cb, what + " id, type or count")) continue;
    if (ta == kTypeGroup) {
      void *sa = nullptr, *sb = nullptr;
      file_GroupOpen(a, &sa, va);
      file_GroupOpen(b, &sb, vb);
      if (r.check(sa && sb, what + " sub-group")) compareGroups(sa, sb, textSwapped, r);
      continue;
    }
    const uint64_t bytes = uint64_t(file_SizeOf(ta)) * ca;
    Bytes xa(4), xb(4);
    std::memcpy(xa.data(), &va, 4);
    std::memcpy(xb.data(), &vb, 4);
    if (bytes > 4) {
      xa.assign(bytes, 0);
      xb.assign(bytes, 0);
      file_ReadBlock(a, va, uint32_t(bytes), reinterpret_cast<char*>(xa.data()));
      file_ReadBlock(b, vb, uint32_t(bytes), reinterpret_cast<char*>(xb.data()));
    }
    const bool kept = ida == kItemName && xa == keptName;
    if (ta == kTypeUtf16 && textSwapped && !kept) xa = foreignBytes(xa, kTypeUtf16);
    r.check(xa == xb, what + " holds " + hex(xb) + ", expected " + hex(xa));
  }
}

struct ModuleCase {
  const char* name;
  // Writes the corpus descriptor into group g; 0 on success.
  std::function<int(void* g, Scratch& s, Report& r)> write;
  // Reads group g and compares it with the corpus descriptor.
  std::function<void(void* g, bool textSwapped, Scratch& s, Report& r)> verify;
};

template <class D>
struct Ops {
  std::function<D*()> allocate;
  std::function<void(D*)> release;
  std::function<int(void*, D*)> read;
  std::function<int(void*, D*)> write;  // everything, no previous descriptor

  using Ptr = std::unique_ptr<D, std::function<void(D*)>>;
  Ptr make() const { return Ptr(allocate(), release); }

  // The corpus descriptor: defaults, then every item patterned and read back.
  Ptr corpus(Scratch& s, Report& r) const {
    Ptr d = make();
    Scratch::File a = s.create();
    r.code(0, write(a.group, d.get()), "default write");
    Scratch::reopen(&a);
    Scratch::File b = s.create(VT_TEXT("Pattern"));
    patternItems(a.group, b.group);
    file_Close(a.file);
    Scratch::reopen(&b);
    Ptr patterned = make();
    if (read(b.group, patterned.get()) == 0) {
      d = std::move(patterned);
    } else {
      std::fprintf(stderr, "%s: the module refuses the value pattern; its corpus holds defaults\n",
                   r.where.c_str());
    }
    file_Close(b.file);
    return d;
  }
};

template <class D>
ModuleCase moduleCase(const char* name, Ops<D> ops) {
  return {name,
          [ops](void* g, Scratch& s, Report& r) {
            auto d = ops.corpus(s, r);
            return ops.write(g, d.get());
          },
          [ops](void* g, bool textSwapped, Scratch& s, Report& r) {
            auto expected = ops.corpus(s, r);
            auto got = ops.make();
            if (!r.code(0, ops.read(g, got.get()), "module read")) return;
            Scratch::File a = s.create();
            r.code(0, ops.write(a.group, expected.get()), "rewrite");
            Scratch::reopen(&a);
            Scratch::File b = s.create();
            r.code(0, ops.write(b.group, got.get()), "rewrite");
            Scratch::reopen(&b);
            compareGroups(a.group, b.group, textSwapped, r);
            file_Close(a.file);
            file_Close(b.file);
          }};
}

// The common shape of a module's functions; modules that differ spell their
// Ops out.
#define VT_MODULE(prefix, D)                                                                                 \
  moduleCase<D>(#prefix, {[] { return prefix##_Allocate(1, nullptr); }, [](D* d) { prefix##_Delete(d, 1); }, \
                          [](void* g, D* d) { return prefix##_ReadGroupInfo(g, d); },                        \
                          [](void* g, D* d) { return prefix##_WriteGroupInfo(g, nullptr, d); }})

// Structure descriptors are written whole, with no previous one.
#define VT_STRUCT_MODULE(prefix, D)                                                                          \
  moduleCase<D>(#prefix, {[] { return prefix##_Allocate(1, nullptr); }, [](D* d) { prefix##_Delete(d, 1); }, \
                          [](void* g, D* d) { return prefix##_ReadGroupInfo(g, d); },                        \
                          [](void* g, D* d) { return prefix##_WriteGroupInfo(g, d); }})

std::vector<ModuleCase> moduleCases() {
  using Gate = CGGateTypeDescr;
  using Data = CGDataTypeFDD;
  return {
      VT_MODULE(gprobe, CGProbeTypeDescr),
      VT_MODULE(ginfo, CGInfoTypeDescr),
      VT_MODULE(gchan, CGChanTypeDescr),
      VT_MODULE(gsubchan, CGSubchanTypeDescr),
      moduleCase<Gate>("ggate",
                       {[] { return ggate_Allocate(1, nullptr); }, [](Gate* d) { ggate_Delete(d, 1); },
                        [](void* g, Gate* d) { return ggate_ReadGroupInfo(g, d, false); },
                        [](void* g, Gate* d) { return ggate_WriteGroupInfo(g, nullptr, d); }}),
      VT_MODULE(gdac, CGDacTypeDescr),
      VT_MODULE(gpatch, CGPatchTypeDescr),
      VT_MODULE(grefadj, CGRefadjTypeDescr),
      VT_MODULE(gspecmat, CGSpecmatTypeDescr),
      VT_MODULE(gspecdim, CGSpecdimTypeDescr),
      VT_MODULE(gspecdef, CGSpecdefTypeDescr),
      VT_MODULE(gspecinf, CGSpecinfTypeDescr),
      VT_STRUCT_MODULE(gspecsim, gspecsim_typeDescr),
      VT_STRUCT_MODULE(gspec2d, gspec2d_typeDescr),
      VT_STRUCT_MODULE(gspec3d, gspec3d_typeDescr),
      VT_MODULE(gcontour, CGContourTypeDescr),
      VT_MODULE(gmesh, CGMeshTypeDescr),
      VT_MODULE(gweld, CGWeldTypeDescr),
      VT_MODULE(gweldsp, CGWeldScanPlanDescr),
      VT_MODULE(gweldFill, CGWeldFillDescr),
      // The bulk data stays where it is (mode 1): the data reference is stored.
      moduleCase<Data>("gdata", {[] { return gdata_Allocate(1, nullptr); }, [](Data* d) { gdata_Delete(d); },
                                 [](void* g, Data* d) { return gdata_ReadGroupInfo(g, d); },
                                 [](void* g, Data* d) { return gdata_WriteGroupInfo(g, nullptr, d, 1); }}),
  };
}

void writeModuleFile(const std::string& dir, int charFormat, const std::string& scratchDir, Report& r) {
  Scratch scratch(scratchDir);
  Writer w(dir + (charFormat ? "/modules-narrow.bin" : "/modules.bin"), r, charFormat);
  void* section = w.section(VT_TEXT("Modules"));
  for (const ModuleCase& m : moduleCases()) {
    r.where = std::string(m.name) + (charFormat ? " (narrow)" : "");
    void* g = nullptr;
    r.code(0, file_GroupCreate(section, &g, 1, vt::V(m.name).c_str()), "group");
    r.code(0, m.write(g, scratch, r), "module write");
  }
}

void verifyModuleFile(const std::string& dir, int charFormat, const std::string& scratchDir, Report& r) {
  Scratch scratch(scratchDir);
  Reader rd(dir + (charFormat ? "/modules-narrow.bin" : "/modules.bin"), r);
  if (!rd.ok()) return;
  rd.narrowStrings = charFormat != 0;
  void* section = rd.section(0, VT_TEXT("Modules"));
  if (!section) return;
  const std::vector<ModuleCase> cases = moduleCases();
  for (uint32_t i = 0; i < cases.size(); ++i) {
    r.where = std::string(cases[i].name) + (charFormat ? " (narrow)" : "");
    void* g = rd.sub(section, i + 2, nullptr);
    if (g) cases[i].verify(g, rd.swapped && !charFormat, scratch, r);
  }
}

// --- the exchange ---

// The files of the corpus. A new kind of file is one more line.
struct CorpusFile {
  const char* name;
  std::function<void(const std::string&dir, const std::string&scratch, Report&r)> write, verify;
};

void writeModules(const std::string& dir, const std::string& scratch, Report& r) {
  writeModuleFile(dir, 0, scratch, r);
}
void verifyModules(const std::string& dir, const std::string& scratch, Report& r) {
  verifyModuleFile(dir, 0, scratch, r);
}
void writeNarrowModules(const std::string& dir, const std::string& scratch, Report& r) {
  writeModuleFile(dir, 1, scratch, r);
}
void verifyNarrowModules(const std::string& dir, const std::string& scratch, Report& r) {
  verifyModuleFile(dir, 1, scratch, r);
}

const CorpusFile kCorpus[] = {
    {"items.bin", writeItems, verifyItems},
    {"narrow.bin", writeNarrow, verifyNarrow},
    {"bulk.bin", writeBulk, verifyBulk},
    {"data.bin", writeData, verifyData},
    {"sections.A01", writeSections, verifySections},
    {"modules.bin", writeModules, verifyModules},
    {"modules-narrow.bin", writeNarrowModules, verifyNarrowModules},
};

void writeCorpus(const std::string& dir, const std::string& scratch, Report& r) {
  for (const CorpusFile& f : kCorpus) {
    r.where = f.name;
    f.write(dir, scratch, r);
  }
}

void verifyCorpus(const std::string& dir, const std::string& scratch, Report& r) {
  for (const CorpusFile& f : kCorpus) {
    r.where = f.name;
    f.verify(dir, scratch, r);
  }
}

std::string describe(const Report& r) {
  std::ostringstream out;
  for (const std::string& f : r.failures) out << "  " << f << "\n";
  return out.str();
}

class Interchange : public vt::VelTest {
 protected:
  std::string scratch() {
    std::filesystem::create_directory(path("scratch"));
    return path("scratch");
  }
};

TEST_F(Interchange, CorpusReadsBackOnTheMachineThatWroteIt) {
  Report r;
  writeCorpus(dir_, scratch(), r);
  ASSERT_TRUE(r.failures.empty()) << describe(r);
  verifyCorpus(dir_, scratch(), r);
  EXPECT_TRUE(r.failures.empty()) << describe(r);
}

TEST_F(Interchange, EveryOpeningAddsOneSectionToTheA01File) {
  Report r;
  writeSections(dir_, "", r);
  extendSections(dir_, r);
  extendSections(dir_, r);
  verifySections(dir_, "", r);
  EXPECT_TRUE(r.failures.empty()) << describe(r);
  void* f = nullptr;
  ASSERT_EQ(0, file_Open(vpath("sections.A01").c_str(), &f));
  EXPECT_EQ(3u, file_ItemNbrGet(f));
  EXPECT_EQ(0, file_Close(f));
}

// The verdict must not be vacuous: one changed byte of a bulk block, or of a
// value a module wrote, is caught.
TEST_F(Interchange, VerifyCatchesAChangedValue) {
  Report written;
  writeBulk(dir_, "", written);
  writeModules(dir_, scratch(), written);
  ASSERT_TRUE(written.failures.empty()) << describe(written);

  // The first bulk block starts at the offset its item holds.
  void *f = nullptr, *g = nullptr;
  uint32_t offset = 0, key = 0;
  ASSERT_EQ(0, file_Open(vpath("bulk.bin").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &g, 0));
  ASSERT_EQ(0, file_ItemInfo(g, 2, nullptr, nullptr, nullptr, &offset, nullptr, 0));
  ASSERT_EQ(0, file_Close(f));
  vt::Bytes bytes = vt::readFile(path("bulk.bin"));
  bytes[offset] ^= 0x01;
  vt::writeFile(path("bulk.bin"), bytes);
  Report bulk;
  verifyBulk(dir_, "", bulk);
  EXPECT_FALSE(bulk.failures.empty());

  // The last entry of the first module's group: its value field changes
  // (an inline value, or the offset of one).
  ASSERT_EQ(0, file_Open(vpath("modules.bin").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &g, 0));
  ASSERT_EQ(0, file_ItemInfo(g, 2, nullptr, nullptr, nullptr, &key, nullptr, 0));
  ASSERT_EQ(0, file_GroupOpen(g, &g, key));
  const uint32_t items = file_ItemNbrGet(g);
  ASSERT_EQ(0, file_Close(f));
  bytes = vt::readFile(path("modules.bin"));
  bytes[key + 12 * (items - 1) + 8] ^= 0x40;  // the section starts at 0
  vt::writeFile(path("modules.bin"), bytes);
  Report modules;
  verifyModules(dir_, scratch(), modules);
  EXPECT_FALSE(modules.failures.empty());
}

int g_diagnostics = 0;
void countDiagnostic(const char*, int) {
  ++g_diagnostics;
}

int command(const std::string& verb, const std::string& dir) {
  // The value pattern makes some modules report (a text cut to its field):
  // counted, not printed.
  SetDiagnosticHook(&countDiagnostic);
  Report r;
  const std::string scratch = dir + "/scratch-" + (vt::hostBigEndian() ? "be" : "le");
  std::filesystem::create_directories(scratch);
  if (verb == "write") {
    writeCorpus(dir, scratch, r);
  } else if (verb == "extend") {
    r.where = "sections.A01";
    extendSections(dir, r);
  } else {
    verifyCorpus(dir, scratch, r);
  }
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
#if defined(_WIN32)
  const char* system = "Windows";
#else
  const char* system = "Linux";
#endif
  std::printf("%s %s on %s-endian %s: %zu mismatch(es), %d diagnostic report(s)\n", verb.c_str(), dir.c_str(),
              vt::hostBigEndian() ? "big" : "little", system, r.failures.size(), g_diagnostics);
  std::fputs(describe(r).c_str(), stdout);
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
