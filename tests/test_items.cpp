// Items: writing, enumerating, reading with type conversion, narrow mode, and
// files written in the other byte order (headers, entries and elements are
// swapped by type; text and raw bytes are not).
#include <array>
#include <clocale>

#include "testutil.h"

using namespace VelFile;
using vt::Bytes;
using vt::bytesOf;
using vt::Image;

namespace {

class Items : public vt::VelTest {
 protected:
  // Writes one group with the given items, closes, reopens; the section
  // group of the reopened file is g_ (file f_), so reads take the load path.
  struct Item {
    uint16_t type;
    uint32_t count;
    Bytes value;
  };
  void writeAndReopen(const std::vector<Item>& items) {
    void* g = nullptr;
    ASSERT_EQ(0, file_Create(vpath("items.dat").c_str(), &f_));
    ASSERT_EQ(0, file_GroupCreate(f_, &g, 0, VELFILE_TEXT("Items")));
    for (size_t i = 0; i < items.size(); ++i) {
      const Item& it = items[i];
      ASSERT_EQ(0, file_ItemValueWrite(g, static_cast<uint16_t>(i + 1), it.type, it.count,
                                       vt::cp(it.value.data())));
    }
    ASSERT_EQ(0, file_Close(f_));
    ASSERT_EQ(0, file_Open(vpath("items.dat").c_str(), &f_));
    ASSERT_EQ(0, file_GroupOpen(f_, &g_, 0));
  }
  // Reads item index with the requested type into a buffer of 0xEE bytes.
  Bytes readValue(uint32_t index, uint16_t type, uint32_t* count, size_t room = 32) {
    Bytes buf(room, 0xEE);
    EXPECT_EQ(0, file_IndexValueRead(g_, index, type, reinterpret_cast<char*>(buf.data()), count));
    return buf;
  }
  // Reads item index with file_IndexBlockRead into a buffer of 0xEE bytes.
  Bytes readBlock(uint32_t index, uint16_t type) {
    Bytes buf(32, 0xEE);
    EXPECT_EQ(0, file_IndexBlockRead(g_, index, type, vt::mp(buf.data())));
    return buf;
  }
  void* f_ = nullptr;
  void* g_ = nullptr;
};

Bytes u8s(std::initializer_list<uint8_t> b) {
  return Bytes(b);
}
Bytes padded(Bytes b, size_t room = 32) {
  b.resize(room, 0xEE);
  return b;
}
template <class T>
Bytes firstBytes(T v, size_t n) {
  Bytes b = bytesOf(v);
  b.resize(n);
  return b;
}

TEST_F(Items, ValueConversionBetweenTypes) {
  const uint32_t big = 0x12345678u;
  // clang-format off
  writeAndReopen({
      {kTypeInt8, 1, bytesOf<int8_t>(-5)}, {kTypeUInt8, 1, bytesOf<uint8_t>(250)},             // 1, 2
      {kTypeInt16, 1, bytesOf<int16_t>(-2)}, {kTypeUInt16, 1, bytesOf<uint16_t>(0xFEDC)},     // 3, 4
      {kTypeInt32, 1, bytesOf(big)}, {kTypeUInt32, 1, bytesOf(0xFFFFFFFFu)},                 // 5, 6
      {kTypeFloat, 1, bytesOf(-3.9f)}, {kTypeFloat, 1, bytesOf(3.0e9f)},                     // 7, 8
      {kTypeFloat, 1, bytesOf(70000.7f)}, {kTypeDouble, 1, bytesOf(-2.5)},                   // 9, 10
      {kTypeDouble, 1, bytesOf(1.0 / 3)}, {kTypeRaw, 1, u8s({0x9C})},                        // 11, 12
      {kTypeQuad8, 1, bytesOf<uint64_t>(12345)}, {99, 1, u8s({5})}});                        // 13, 14
  const struct { uint32_t index; uint16_t requested; Bytes want; } cases[] = {
      // Signed types are sign-extended, unsigned ones zero-extended.
      {1, 13, u8s({0xFB})}, {1, 3, u8s({0xFB})}, {1, 5, bytesOf<uint16_t>(0xFFFB)},
      {1, 7, bytesOf(0xFFFFFFFBu)}, {1, 10, bytesOf(-5.0f)}, {1, 11, bytesOf(-5.0)},
      {2, 2, u8s({0xFA})}, {2, 4, bytesOf<int16_t>(250)}, {2, 6, bytesOf<int32_t>(250)},
      {3, 7, bytesOf(0xFFFFFFFEu)}, {3, 11, bytesOf(-2.0)}, {4, 6, bytesOf<int32_t>(0xFEDC)},
      {4, 4, bytesOf<uint16_t>(0xFEDC)}, {4, 10, bytesOf(65244.0f)},
      // Narrowing an integer keeps the bytes that come first in memory.
      {5, 2, firstBytes(big, 1)}, {5, 13, firstBytes(big, 1)}, {5, 5, firstBytes(big, 2)},
      {5, 7, bytesOf(big)}, {6, 6, bytesOf<int32_t>(-1)}, {6, 10, bytesOf(4294967296.0f)},
      {6, 11, bytesOf(4294967295.0)},
      // Floats are truncated toward zero; requested 7 goes through 64 bits.
      {7, 6, bytesOf<int32_t>(-3)}, {7, 5, bytesOf<uint16_t>(0xFFFD)}, {7, 7, bytesOf(0xFFFFFFFDu)},
      {7, 11, bytesOf(static_cast<double>(-3.9f))}, {8, 7, bytesOf(3000000000u)},
      {9, 4, bytesOf<int16_t>(4464)}, {10, 6, bytesOf<int32_t>(-2)}, {10, 10, bytesOf(-2.5f)},
      {11, 10, bytesOf(static_cast<float>(1.0 / 3))}, {12, 2, u8s({0x9C})}, {12, 13, u8s({0x9C})},
      // Refused pairs leave the destination alone.
      {12, 3, {}}, {12, 4, {}}, {7, 2, {}}, {7, 3, {}}, {10, 13, {}}, {13, 6, {}}, {13, 8, {}},
      {5, 12, {}}, {5, 1, {}}, {5, 0, {}}, {5, 99, {}}, {14, 6, {}}};
  // clang-format on
  for (const auto& c : cases) {
    const int before = diagCount();
    uint32_t count = 77;
    const Bytes got = readValue(c.index, c.requested, &count);
    EXPECT_EQ(1u, count);
    EXPECT_EQ(padded(c.want), got) << "item " << c.index << " as type " << c.requested;
    EXPECT_EQ(before + (c.want.empty() ? 1 : 0), diagCount()) << "item " << c.index << " as " << c.requested;
  }
  EXPECT_EQ(0, file_Close(f_));
}

TEST_F(Items, IndexReadsByTypeAndSize) {
  const Bytes world = u8s({'H', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', 0});
  const uint16_t pair[2] = {0x1234, 0xABCD};
  // clang-format off
  writeAndReopen({
      {kTypeNarrow, 4, u8s({'a', 'b', 'c', 0})}, {kTypeUtf16, 2, bytesOf(VELFILE_TEXT("Z"))},                        // 1, 2
      {kTypeUInt16, 2, bytesOf(pair)}, {kTypeFloat, 3, bytesOf(std::array<float, 3>{1, 2, 3})},          // 3, 4
      {kTypeRaw, 5, u8s({1, 2, 3, 4, 5})}, {kTypeUtf16, 6, bytesOf(VELFILE_TEXT("Hello"))}, {kTypeNarrow, 12, world}, // 5-7
      {kTypeUtf16, 1, bytesOf(VELFILE_TEXT(""))}, {kTypeNarrow, 1, u8s({0})}, {kTypeDouble, 1, bytesOf(-6.75)},       // 8-10
      {kTypeUInt32, 1, bytesOf(5u)}, {kTypeInt8, 3, u8s({0x81, 2, 3})},                                 // 11, 12
      {kTypeInt16, 5, bytesOf(std::array<int16_t, 5>{-1, -2, 300, -400, 5})}});                         // 13
  uint32_t offset = 0;
  ASSERT_EQ(0, file_ItemInfo(g_, 4, nullptr, nullptr, nullptr, &offset, nullptr, 0));
  EXPECT_EQ(0u, offset % 8);
  const struct { uint32_t index; uint16_t requested; Bytes want; uint32_t count; } cases[] = {
      {1, kTypeNarrow, u8s({'a', 'b', 'c', 0}), 4}, {1, kTypeUtf16, bytesOf(VELFILE_TEXT("abc")), 4},
      {2, kTypeUtf16, bytesOf(VELFILE_TEXT("Z")), 1}, {12, kTypeInt8, u8s({0x81, 2, 3, 0}), 1},
      {3, kTypeUInt32, bytesOf(pair), 1},   // inline arrays come raw
      {4, kTypeFloat, bytesOf(offset), 3},  // longer ones give their offset
      {5, kTypeRaw, u8s({1, 2, 3, 4, 5}), 5},
      {6, kTypeUtf16, bytesOf(VELFILE_TEXT("Hello")), 12},  // strings out of line count bytes
      {7, kTypeNarrow, world, 12}, {7, kTypeUtf16, bytesOf(VELFILE_TEXT("Hello world")), 12},
      {8, kTypeUtf16, u8s({0, 0}), 1}, {9, kTypeUtf16, u8s({0, 0}), 1},
      {10, kTypeDouble, bytesOf(-6.75), 1}, {10, kTypeInt32, bytesOf<int32_t>(-6), 1},
      {11, kTypeFloat, bytesOf(5.0f), 1}};
  // clang-format on
  for (const auto& c : cases) {
    uint32_t count = 0;
    EXPECT_EQ(padded(c.want), readValue(c.index, c.requested, &count)) << c.index << " as " << c.requested;
    EXPECT_EQ(c.count, count) << c.index << " as " << c.requested;
  }

  uint32_t count = 9;
  char buf[8];
  EXPECT_EQ(3, file_IndexValueRead(g_, 14, kTypeInt32, buf, &count));
  EXPECT_EQ(0u, count) << "the count is cleared first";
  EXPECT_EQ(3, file_IndexValueRead(f_, 0, kTypeInt32, buf, &count));
  EXPECT_EQ(0, diagCount());

  // file_IndexBlockRead converts every element, inline or not.
  EXPECT_EQ(padded(bytesOf(std::array<uint32_t, 2>{0x1234, 0xABCD})), readBlock(3, kTypeUInt32));
  EXPECT_EQ(padded(bytesOf(std::array<int32_t, 5>{-1, -2, 300, -400, 5})), readBlock(13, kTypeInt32));
  EXPECT_EQ(padded(bytesOf(std::array<double, 3>{1, 2, 3})), readBlock(4, kTypeDouble));
  EXPECT_EQ(Bytes(32, 0xEE), readBlock(1, kTypeInt32));  // text cannot be converted: a report per element
  EXPECT_EQ(4, diagCount());
  Bytes text(16);
  EXPECT_EQ(3, file_IndexBlockRead(g_, 14, kTypeInt32, vt::mp(text.data())));
  EXPECT_EQ(0, file_Close(f_));
}

TEST_F(Items, NarrowModeStoresStringsNarrowAndReadsThemAsUtf16) {
  std::setlocale(LC_CTYPE, "C");
  void *f = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_Create(vpath("n.dat").c_str(), &f));
  ASSERT_EQ(0, file_SetCharacterFormat(f, 0x10001)) << "only the low 16 bits count";
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("Narrow")));
  EXPECT_EQ(1, file_SetCharacterFormat(f, 0));
  EXPECT_EQ(1, file_SetCharacterFormat(g, 0));
  ASSERT_EQ(0, file_ItemValueWrite(g, 1, kTypeUtf16, 3, vt::cp(VELFILE_TEXT("AB"))));
  ASSERT_EQ(0, file_ItemValueWrite(g, 2, kTypeUtf16, 12, vt::cp(VELFILE_TEXT("Hello world"))));
  EXPECT_EQ(3, file_ItemValueWrite(g, 3, kTypeUtf16, 3, vt::cp(VELFILE_TEXT("A\u4E2D"))));
  EXPECT_EQ(3u, file_ItemNbrGet(g)) << "the refused item is not kept";
  EXPECT_EQ(3, file_GroupNameSet(g, VELFILE_TEXT("\u4E2D"), 32));
  ASSERT_EQ(0, file_Close(f));

  EXPECT_EQ(0u, vt::readFile(path("n.dat")).at(12)) << "the header says the strings are narrow";
  ASSERT_EQ(0, file_Open(vpath("n.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &g_, 0));
  EXPECT_EQ(VELFILE_TEXT("Narrow"), groupName(g_));
  EXPECT_EQ(3u, file_ItemNbrGet(g_));
  uint16_t type = 0;
  uint32_t count = 0;
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_EQ(0, file_ItemInfo(g_, i, nullptr, &type, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(kTypeNarrow, type) << i;
  }
  EXPECT_EQ(padded(bytesOf(VELFILE_TEXT("AB"))), readValue(1, kTypeUtf16, &count));
  EXPECT_EQ(3u, count);
  EXPECT_EQ(padded(bytesOf(VELFILE_TEXT("Hello world"))), readValue(2, kTypeUtf16, &count));
  EXPECT_EQ(12u, count);
  EXPECT_EQ(0, file_Close(f));

  // Under a UTF-8 character set, characters of two, three and four bytes
  // (a surrogate pair in UTF-16) are stored as such and come back whole, when
  // the count leaves room for their bytes.
  if (!std::setlocale(LC_CTYPE, "C.UTF-8")) GTEST_SKIP() << "no UTF-8 locale";
  vt::VelString wide = VELFILE_TEXT("\u00e9\u20ac\U0001D11E");
  wide.resize(10);
  ASSERT_EQ(0, file_Create(vpath("u.dat").c_str(), &f));
  ASSERT_EQ(0, file_SetCharacterFormat(f, 1));
  ASSERT_EQ(0, file_GroupCreate(f, &g, 0, VELFILE_TEXT("U")));
  EXPECT_EQ(3, file_ItemValueWrite(g, 1, kTypeUtf16, 5, vt::cp(wide.c_str())));  // 9 bytes in 5
  ASSERT_EQ(0, file_ItemValueWrite(g, 1, kTypeUtf16, 10, vt::cp(wide.c_str())));
  ASSERT_EQ(0, file_Close(f));
  ASSERT_EQ(0, file_Open(vpath("u.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &g_, 0));
  EXPECT_EQ(padded(Bytes(vt::cp(wide.data()), vt::cp(wide.data() + 10))), readValue(1, kTypeUtf16, &count));
  EXPECT_EQ(0, file_Close(f));
  std::setlocale(LC_CTYPE, "C");
}

// A foreign section of 18 items and a sub-group, followed by a native
// section with the alternative magic at offset 368.
Bytes foreignFile() {
  Image x(!vt::hostBigEndian());
  x.header(18, 152, 368).padTo(40);
  x.u8(1).u8(2).u8(3).u8(4).u8(5).u8(6).padTo(48);                                      // 40: raw bytes
  x.u16(0x0102).u16(0x0304).u16(0x0506).padTo(56);                                      // 48: 3 x u16
  x.f64(2.75);                                                                          // 56: double
  x.u32(0x11223344).u32(0x55667788).u32(0x99AABBCC).u32(0xDDEEFF00);                    // 64: 2 x type 8
  x.u32(0x01020304).u32(0x05060708);                                                    // 80: type 9
  x.u32(1).u32(0x01020304).u32(0xFFFFFFFE).padTo(104);                                  // 88: 3 x u32
  x.f64(1.5).f64(-0.25);                                                                // 104: 2 x double
  x.utf16(VELFILE_TEXT("Sub"));                                                         // 120: text
  x.entry(kItemName, 12, 4, 120).entry(1, 6, 1, static_cast<uint32_t>(-9)).padTo(152);  // 128
  x.entryInline(kItemName, 12, 2, VELFILE_TEXT("F"), 4).entry(1, 7, 1, 0x01020304);
  x.entry(2, 6, 1, static_cast<uint32_t>(-2)).u16(3).u16(10).u32(1).f32(1.5f);
  x.entry16(4, 4, 1, static_cast<uint16_t>(-3), 0).entry16(5, 5, 2, 0x0102, 0xA0B0);
  x.entryInline(6, 3, 3, "\x01\x02\x03", 3).entryInline(7, 1, 4, "abc", 4);
  x.entry(8, 13, 6, 40).entry(9, 5, 3, 48).entry(10, 11, 1, 56).entry(11, 8, 2, 64);
  x.entry(12, 9, 1, 80).entry(13, 7, 3, 88).entry(14, 11, 2, 104).entry(15, 0, 2, 128);
  const uint8_t minus5 = 0xFB;
  x.entryInline(16, 2, 1, &minus5, 1).entry(17, 12, 4, 120);
  EXPECT_EQ(368u, x.size());
  Image n;
  n.header(1, 40, 64, "cpf").padTo(40).entryInline(kItemName, 12, 2, VELFILE_TEXT("N"), 4).padTo(64);
  return x.raw(n.bytes).bytes;
}

TEST_F(Items, ForeignOrderIsSwappedByTypeAndTextIsLeftAlone) {
  const Bytes file = foreignFile();
  vt::writeFile(path("be.A01"), file);
  void *sub = nullptr, *native = nullptr;
  ASSERT_EQ(0, file_Open(vpath("be.A01").c_str(), &f_));
  ASSERT_EQ(2u, file_ItemNbrGet(f_));
  ASSERT_EQ(0, file_GroupOpen(f_, &g_, 0));
  EXPECT_EQ(1, file_SwapNeeded(g_));
  EXPECT_EQ(0, file_SwapNeeded(f_));
  EXPECT_EQ(VELFILE_TEXT("F"), groupName(g_));
  ASSERT_EQ(18u, file_ItemNbrGet(g_));
  EXPECT_EQ("15 0 2 128 Sub", itemInfo(g_, 15));
  EXPECT_EQ("9 5 3 48 ", itemInfo(g_, 9));
  // clang-format off
  const struct { uint32_t index; uint16_t requested; Bytes want; uint32_t count; } values[] = {
      {1, kTypeUInt32, bytesOf(0x01020304u), 1}, {2, kTypeInt32, bytesOf(-2), 1}, {3, kTypeFloat, bytesOf(1.5f), 1},
      {4, kTypeInt32, bytesOf(-3), 1}, {10, kTypeDouble, bytesOf(2.75), 1}, {16, kTypeInt32, bytesOf(-5), 1},
      // Inline 16-bit pairs: each half swapped in place.
      {5, kTypeUInt16, bytesOf(std::array<uint16_t, 2>{0x0102, 0xA0B0}), 1},
      // Short bytes, narrow and wide text stand as they are.
      {6, kTypeUInt8, u8s({1, 2, 3, 0}), 1}, {7, kTypeNarrow, u8s({'a', 'b', 'c', 0}), 4},
      {8, kTypeRaw, u8s({1, 2, 3, 4, 5, 6}), 6}, {17, kTypeUtf16, bytesOf(VELFILE_TEXT("Sub")), 8}};
  const struct { uint32_t index; uint16_t requested; Bytes want; } blocks[] = {
      {5, kTypeUInt32, bytesOf(std::array<uint32_t, 2>{0x0102, 0xA0B0})}, {6, kTypeUInt8, u8s({1, 2, 3})},
      {9, kTypeUInt32, bytesOf(std::array<uint32_t, 3>{0x0102, 0x0304, 0x0506})},
      {13, kTypeUInt32, bytesOf(std::array<uint32_t, 3>{1, 0x01020304, 0xFFFFFFFE})},
      {14, kTypeDouble, bytesOf(std::array<double, 2>{1.5, -0.25})}};
  // file_Read swaps each element by type (types 8 and 9: each 32-bit word in
  // place, the words kept in order; text never), file_ReadBlock nothing.
  const struct { uint32_t offset, count; uint16_t type; Bytes want; } reads[] = {
      {64, 2, kTypeQuad8, bytesOf(std::array<uint32_t, 4>{0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00})},
      {80, 1, kTypeQuad9, bytesOf(std::array<uint32_t, 2>{0x01020304, 0x05060708})},
      {104, 2, kTypeDouble, bytesOf(std::array<double, 2>{1.5, -0.25})},
      {48, 3, kTypeUInt16, bytesOf(std::array<uint16_t, 3>{0x0102, 0x0304, 0x0506})},
      {120, 4, kTypeUtf16, bytesOf(VELFILE_TEXT("Sub"))},
      {88, 3, kTypeUInt32, bytesOf(std::array<uint32_t, 3>{1, 0x01020304, 0xFFFFFFFE})}};
  // clang-format on
  for (const auto& c : values) {
    uint32_t count = 0;
    EXPECT_EQ(padded(c.want), readValue(c.index, c.requested, &count)) << c.index;
    EXPECT_EQ(c.count, count) << c.index;
  }
  for (const auto& c : blocks) EXPECT_EQ(padded(c.want), readBlock(c.index, c.requested)) << c.index;
  for (const auto& c : reads) {
    Bytes got(32, 0xEE);
    ASSERT_EQ(0, file_Read(g_, c.offset, c.count, c.type, vt::mp(got.data()), nullptr));
    EXPECT_EQ(padded(c.want), got) << c.offset;
  }
  Bytes raw(12);
  ASSERT_EQ(0, file_ReadBlock(g_, 88, 12, vt::mp(raw.data())));
  EXPECT_EQ(Bytes(file.begin() + 88, file.begin() + 100), raw);

  ASSERT_EQ(0, file_GroupOpen(g_, &sub, 128));
  EXPECT_EQ(VELFILE_TEXT("Sub"), groupName(sub));
  EXPECT_EQ(1, file_SwapNeeded(sub));
  int32_t v = 0;
  EXPECT_EQ(0, file_IndexValueRead(sub, 1, kTypeInt32, vt::mp(&v), nullptr));
  EXPECT_EQ(-9, v);
  // The native section that follows is read as it is.
  ASSERT_EQ(0, file_GroupOpen(f_, &native, 368));
  EXPECT_EQ(0, file_SwapNeeded(native));
  EXPECT_EQ(VELFILE_TEXT("N"), groupName(native));
  EXPECT_EQ(0, diagCount());
  EXPECT_EQ(0, file_Close(f_));
  EXPECT_EQ(file, vt::readFile(path("be.A01"))) << "a foreign file is never rewritten";

  // An unknown byte-order marker means the other order.
  for (uint8_t marker : {0x00, 0x22, 0xFF}) {
    Bytes odd = file;
    odd[0] = marker;
    vt::writeFile(path("odd.dat"), odd);
    ASSERT_EQ(0, file_Open(vpath("odd.dat").c_str(), &f_)) << int{marker};
    ASSERT_EQ(0, file_GroupOpen(f_, &g_, 0));
    EXPECT_EQ(1, file_SwapNeeded(g_));
    EXPECT_EQ(0, file_IndexValueRead(g_, 1, kTypeInt32, vt::mp(&v), nullptr));
    EXPECT_EQ(0x01020304, v);
    EXPECT_EQ(0, file_Close(f_));
  }
}

}  // namespace
