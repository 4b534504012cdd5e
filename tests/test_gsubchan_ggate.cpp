// The sub-channel and gate modules: their write orders, foreign ids skipped
// without a report, and the gate's reset-or-keep reader, original position,
// float defaults, name cut and destructor.
#include <velfile/ggate.h>
#include <velfile/gsubchan.h>

#include <new>

#include "groupmodule.h"
#include "moduletest.h"

using namespace vt;
using velfile::copyText;
using Ids = std::vector<uint16_t>;
using SubchanTest = ModuleTest;
using GateTest = ModuleTest;

TEST_F(SubchanTest, RoundTripAndSecondWrite) {
  CGSubchanTypeDescr prev, cur;
  cur.item10 = 10;
  cur.item9 = -9.5f;
  void* g = writeGroup();
  auto write = [&](CGSubchanTypeDescr* p) {
    return idsWrittenBy(g, [&] { gsubchan_WriteGroupInfo(g, p, &cur); });
  };
  EXPECT_EQ((Ids{1, 2, 14, 9999, 13, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), write(nullptr));
  const uint32_t v = 77;  // not a sub-channel item: skipped silently
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 15, VelFile::kTypeUInt32, 1, cp(&v)));
  EXPECT_EQ((Ids{1, 2, 14, 9999, 9, 10}), write(&prev));
  cur.item13 = 13;
  EXPECT_EQ((Ids{1, 2, 14, 9999, 13}), write(&prev));

  CGSubchanTypeDescr read;
  EXPECT_EQ(0, gsubchan_ReadGroupInfo(reopenGroup(), &read));
  cur.groupHandle = read.groupHandle;
  EXPECT_EQ(1, read == cur);
  EXPECT_EQ(0, diagCount());
}

TEST_F(GateTest, RoundTripAndSecondWrite) {
  CGGateTypeDescr prev, cur;
  cur.item4 = -4;
  cur.item7 = 7.0f;
  cur.item16 = 0x1AB;
  cur.SetOriginalPosition(7);
  void* g = writeGroup();
  auto write = [&](CGGateTypeDescr* p) { return idsWrittenBy(g, [&] { ggate_WriteGroupInfo(g, p, &cur); }); };
  EXPECT_EQ((Ids{1, 2, 9999, 4, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}), write(nullptr));
  EXPECT_EQ((Ids{1, 2, 9999, 4, 7, 14, 16}), write(&prev));
  EXPECT_EQ(7, prev.GetOriginalPosition());
  EXPECT_EQ((Ids{1, 2, 9999}), write(&prev));
  cur.SetOriginalPosition(8);
  EXPECT_EQ((Ids{1, 2, 9999, 14}), write(&prev));
  const uint32_t v = 1;  // not a gate item: skipped silently
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 17, VelFile::kTypeUInt32, 1, cp(&v)));

  CGGateTypeDescr read;
  read.item16 = 0x7700;
  EXPECT_EQ(0, ggate_ReadGroupInfo(reopenGroup(), &read, true));
  EXPECT_EQ(8, read.GetOriginalPosition());
  EXPECT_EQ(0x77AB, read.item16);  // one byte stored; the others kept
  read.item16 = cur.item16;
  cur.groupHandle = read.groupHandle;
  EXPECT_EQ(1, read == cur);
  EXPECT_EQ(0, diagCount());
}

TEST_F(GateTest, ReaderResetsToDefaultsUnlessAskedToKeep) {
  writeGroup();
  void* r = reopenGroup();
  CGGateTypeDescr d;
  d.item6 = 6.0f;
  d.item15 = 0;
  d.swapFlag = 4;
  d.SetOriginalPosition(9);
  EXPECT_EQ(0, ggate_ReadGroupInfo(r, &d, true));
  EXPECT_EQ(6.0f, d.item6);
  EXPECT_EQ(9, d.GetOriginalPosition());
  EXPECT_EQ(4, d.swapFlag);
  EXPECT_EQ(0, ggate_ReadGroupInfo(r, &d, false));
  for (float f : {d.item6, d.item7, d.item8, d.item9}) EXPECT_EQ(1.0e38f, f);
  EXPECT_EQ(1, d.item15);
  EXPECT_EQ(1, d.GetOriginalPosition());
  EXPECT_EQ(0, d.swapFlag);  // reset, then taken from the file
}

TEST_F(GateTest, AssignmentKeeps31CharactersAndDestructionWipesTheRecord) {
  CGGateTypeDescr a, b;
  copyText(a.groupName, 32, VelString(31, u'g').c_str());
  a.SetOriginalPosition(5);
  EXPECT_EQ(0, ggate_Duplicate(&a, &b));
  EXPECT_EQ(VelString(31, u'g'), VelString(b.groupName));
  EXPECT_EQ(5, b.GetOriginalPosition());
  for (VelChar& c : a.groupName) c = u'h';  // no terminator
  EXPECT_EQ(0, ggate_Duplicate(&a, &b));
  EXPECT_EQ(VelString(31, u'h'), VelString(b.groupName));

  alignas(CGGateTypeDescr) unsigned char storage[sizeof(CGGateTypeDescr)];
  CGGateTypeDescr* g = new (storage) CGGateTypeDescr;
  const size_t at = static_cast<size_t>(reinterpret_cast<unsigned char*>(&g->signature) - storage);
  g->~CGGateTypeDescr();
  uint32_t signature = 1;
  std::memcpy(&signature, storage + at, 4);
  EXPECT_EQ(0u, signature);
}
