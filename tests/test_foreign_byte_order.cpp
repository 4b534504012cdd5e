// Files written in the other byte order: headers, entries and elements are
// swapped by type; text and raw bytes are not.
#include <array>

#include "testutil.h"

using namespace VelFile;
using vt::Bytes;
using vt::bytesOf;
using vt::Image;

namespace {

class ForeignByteOrder : public vt::VelTest {
 protected:
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
    x.utf16(u"Sub");                                                                      // 120: text
    x.entry(kItemName, 12, 4, 120).entry(1, 6, 1, static_cast<uint32_t>(-9)).padTo(152);  // 128
    x.entryInline(kItemName, 12, 2, u"F", 4).entry(1, 7, 1, 0x01020304);
    x.entry(2, 6, 1, static_cast<uint32_t>(-2)).u16(3).u16(10).u32(1).f32(1.5f);
    x.entry16(4, 4, 1, static_cast<uint16_t>(-3), 0).entry16(5, 5, 2, 0x0102, 0xA0B0);
    x.entryInline(6, 3, 3, "\x01\x02\x03", 3).entryInline(7, 1, 4, "abc", 4);
    x.entry(8, 13, 6, 40).entry(9, 5, 3, 48).entry(10, 11, 1, 56).entry(11, 8, 2, 64);
    x.entry(12, 9, 1, 80).entry(13, 7, 3, 88).entry(14, 11, 2, 104).entry(15, 0, 2, 128);
    const uint8_t minus5 = 0xFB;
    x.entryInline(16, 2, 1, &minus5, 1).entry(17, 12, 4, 120);
    EXPECT_EQ(368u, x.size());

    Image n;
    n.header(1, 40, 64, "cpf").padTo(40).entryInline(kItemName, 12, 2, u"N", 4).padTo(64);
    x.raw(n.bytes);
    return x.bytes;
  }

  template <class T, size_t N>
  std::array<T, N> block(void* g, uint32_t index, uint16_t type) {
    std::array<T, N> out{};
    EXPECT_EQ(0, file_IndexBlockRead(g, index, type, reinterpret_cast<char*>(out.data())));
    return out;
  }
  template <class T>
  T value(void* g, uint32_t index, uint16_t type, uint32_t wantCount = 1) {
    T out{};
    uint32_t count = 0;
    EXPECT_EQ(0, file_IndexValueRead(g, index, type, reinterpret_cast<char*>(&out), &count));
    EXPECT_EQ(wantCount, count) << index;
    return out;
  }
};

TEST_F(ForeignByteOrder, ItemsAreSwappedByTypeAndTextIsLeftAlone) {
  const Bytes file = foreignFile();
  vt::writeFile(path("be.A01"), file);
  void *f = nullptr, *g = nullptr, *sub = nullptr;
  ASSERT_EQ(0, file_Open(vpath("be.A01").c_str(), &f));
  ASSERT_EQ(2u, file_ItemNbrGet(f));
  ASSERT_EQ(0, file_GroupOpen(f, &g, 0));
  EXPECT_EQ(1, file_SwapNeeded(g));
  EXPECT_EQ(0, file_SwapNeeded(f));
  EXPECT_EQ(u"F", groupName(g));
  ASSERT_EQ(18u, file_ItemNbrGet(g));

  EXPECT_EQ("15 0 2 128 Sub", itemInfo(g, 15));
  EXPECT_EQ("9 5 3 48 ", itemInfo(g, 9));
  EXPECT_EQ(0x01020304u, value<uint32_t>(g, 1, kTypeUInt32));
  EXPECT_EQ(-2, value<int32_t>(g, 2, kTypeInt32));
  EXPECT_EQ(1.5f, value<float>(g, 3, kTypeFloat));
  EXPECT_EQ(-3, value<int32_t>(g, 4, kTypeInt32));
  // Inline 16-bit pairs: each half swapped in place.
  EXPECT_EQ((std::array<uint16_t, 2>{0x0102, 0xA0B0}), (value<std::array<uint16_t, 2>>(g, 5, kTypeUInt16)));
  EXPECT_EQ((std::array<uint32_t, 2>{0x0102, 0xA0B0}), (block<uint32_t, 2>(g, 5, kTypeUInt32)));
  // Short bytes and narrow text stand as they are.
  EXPECT_EQ((std::array<uint8_t, 4>{1, 2, 3, 0}), (value<std::array<uint8_t, 4>>(g, 6, kTypeUInt8)));
  EXPECT_EQ((std::array<uint8_t, 3>{1, 2, 3}), (block<uint8_t, 3>(g, 6, kTypeUInt8)));
  EXPECT_EQ((std::array<char, 4>{'a', 'b', 'c', 0}), (value<std::array<char, 4>>(g, 7, kTypeNarrow, 4)));
  EXPECT_EQ((std::array<uint8_t, 6>{1, 2, 3, 4, 5, 6}), (value<std::array<uint8_t, 6>>(g, 8, kTypeRaw, 6)));
  EXPECT_EQ((std::array<uint32_t, 3>{0x0102, 0x0304, 0x0506}), (block<uint32_t, 3>(g, 9, kTypeUInt32)));
  EXPECT_EQ(2.75, value<double>(g, 10, kTypeDouble));
  EXPECT_EQ((std::array<uint32_t, 3>{1, 0x01020304, 0xFFFFFFFE}), (block<uint32_t, 3>(g, 13, kTypeUInt32)));
  EXPECT_EQ((std::array<double, 2>{1.5, -0.25}), (block<double, 2>(g, 14, kTypeDouble)));
  EXPECT_EQ(-5, value<int32_t>(g, 16, kTypeInt32));
  EXPECT_EQ(vt::VelString(u"Sub"),
            vt::VelString((value<std::array<VelChar, 4>>(g, 17, kTypeUtf16, 8)).data()));

  ASSERT_EQ(0, file_GroupOpen(g, &sub, 128));
  EXPECT_EQ(u"Sub", groupName(sub));
  EXPECT_EQ(1, file_SwapNeeded(sub));
  EXPECT_EQ(-9, value<int32_t>(sub, 1, kTypeInt32));

  // The native section that follows is read as it is.
  void* native = nullptr;
  ASSERT_EQ(0, file_GroupOpen(f, &native, 368));
  EXPECT_EQ(0, file_SwapNeeded(native));
  EXPECT_EQ(u"N", groupName(native));
  EXPECT_EQ(0, diagCount());
  EXPECT_EQ(0, file_Close(f));
  EXPECT_EQ(file, vt::readFile(path("be.A01"))) << "a foreign file is never rewritten";
}

TEST_F(ForeignByteOrder, ReadSwapsElementsAndReadBlockDoesNot) {
  const Bytes file = foreignFile();
  vt::writeFile(path("be.dat"), file);
  void *f = nullptr, *g = nullptr;
  ASSERT_EQ(0, file_Open(vpath("be.dat").c_str(), &f));
  ASSERT_EQ(0, file_GroupOpen(f, &g, 0));

  // Types 8 and 9: each 32-bit word reversed in place, the words kept in order.
  std::array<uint32_t, 4> words{};
  ASSERT_EQ(0, file_Read(g, 64, 2, kTypeQuad8, reinterpret_cast<char*>(words.data()), nullptr));
  EXPECT_EQ((std::array<uint32_t, 4>{0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00}), words);
  ASSERT_EQ(0, file_Read(g, 80, 1, kTypeQuad9, reinterpret_cast<char*>(words.data()), nullptr));
  EXPECT_EQ(0x01020304u, words[0]);
  EXPECT_EQ(0x05060708u, words[1]);
  // Type 11: the whole 8 bytes reversed.
  std::array<double, 2> d{};
  ASSERT_EQ(0, file_Read(g, 104, 2, kTypeDouble, reinterpret_cast<char*>(d.data()), nullptr));
  EXPECT_EQ((std::array<double, 2>{1.5, -0.25}), d);
  std::array<uint16_t, 3> h{};
  ASSERT_EQ(0, file_Read(g, 48, 3, kTypeUInt16, reinterpret_cast<char*>(h.data()), nullptr));
  EXPECT_EQ((std::array<uint16_t, 3>{0x0102, 0x0304, 0x0506}), h);
  // Text is never swapped.
  std::array<VelChar, 4> text{};
  ASSERT_EQ(0, file_Read(g, 120, 4, kTypeUtf16, reinterpret_cast<char*>(text.data()), nullptr));
  EXPECT_EQ(vt::VelString(u"Sub"), text.data());

  std::array<uint32_t, 3> u{};
  ASSERT_EQ(0, file_Read(g, 88, 3, kTypeUInt32, reinterpret_cast<char*>(u.data()), nullptr));
  EXPECT_EQ((std::array<uint32_t, 3>{1, 0x01020304, 0xFFFFFFFE}), u);
  Bytes raw(12);
  ASSERT_EQ(0, file_ReadBlock(g, 88, 12, reinterpret_cast<char*>(raw.data())));
  EXPECT_EQ(Bytes(file.begin() + 88, file.begin() + 100), raw);
  EXPECT_EQ(0, file_Close(f));
}

TEST_F(ForeignByteOrder, AnUnknownMarkerMeansForeignOrder) {
  Bytes file = foreignFile();
  for (uint8_t marker : {0x00, 0x22, 0xFF}) {
    file[0] = marker;
    vt::writeFile(path("odd.dat"), file);
    void *f = nullptr, *g = nullptr;
    ASSERT_EQ(0, file_Open(vpath("odd.dat").c_str(), &f)) << int{marker};
    ASSERT_EQ(0, file_GroupOpen(f, &g, 0));
    EXPECT_EQ(1, file_SwapNeeded(g));
    EXPECT_EQ(0x01020304u, value<uint32_t>(g, 1, kTypeUInt32));
    EXPECT_EQ(0, file_Close(f));
  }
}

}  // namespace
