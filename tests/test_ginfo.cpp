// The information module: integers, five owned texts, a writer that leaves
// the previous descriptor alone.
#include <velfile/ginfo.h>

#include "moduletest.h"

using namespace vt;

namespace {

VelChar* text(const VelString& s) {
  VelChar* p = new VelChar[s.size() + 1];
  std::copy(s.c_str(), s.c_str() + s.size() + 1, p);
  return p;
}

class InfoTest : public ModuleTest {};

}  // namespace

TEST_F(InfoTest, FreshDescriptorWritesIntegersButNoTexts) {
  CGInfoTypeDescr* d = ginfo_Allocate(0, u"Info");
  void* g = writeGroup();
  EXPECT_EQ(0, ginfo_WriteGroupInfo(g, nullptr, d));
  EXPECT_EQ((std::vector<uint16_t>{10000, 9999, 15682, 15683, 15684, 15685, 15690, 15691, 15701, 15702, 2, 1, 3, 4}),
            itemIds(g));
  ginfo_Delete(d, 1);
}

TEST_F(InfoTest, RoundTripWithTextsWideAndNarrow) {
  CGInfoTypeDescr d;
  d.item15685 = -12;
  d.item4 = 4;
  d.item15687 = text(u"Operator");
  d.item15700 = text(u"");  // an empty text is still written (one zero)
  d.item15689 = text(VelString(300, u'z'));
  for (int narrow = 0; narrow < 2; ++narrow) {
    void* f = nullptr;
    ASSERT_EQ(0, VelFile::file_Create(vpath("info.bin").c_str(), &f));
    ASSERT_EQ(0, VelFile::file_SetCharacterFormat(f, narrow));
    void* g = nullptr;
    ASSERT_EQ(0, VelFile::file_GroupCreate(f, &g, 0, u"Info"));
    EXPECT_EQ(0, ginfo_WriteGroupInfo(g, nullptr, &d));
    ASSERT_EQ(0, VelFile::file_Close(f));
    ASSERT_EQ(0, VelFile::file_Open(vpath("info.bin").c_str(), &f));
    ASSERT_EQ(0, VelFile::file_GroupOpen(f, &g, 0));
    CGInfoTypeDescr r;
    r.item15688 = text(u"kept");  // not in the group: stays
    r.item15687 = text(u"replaced");
    EXPECT_EQ(0, ginfo_ReadGroupInfo(g, &r));
    EXPECT_EQ(-12, r.item15685);
    EXPECT_EQ(4, r.item4);
    EXPECT_EQ(VelString(u"Operator"), VelString(r.item15687)) << narrow;
    EXPECT_EQ(VelString(u""), VelString(r.item15700));
    EXPECT_EQ(VelString(300, u'z'), VelString(r.item15689));
    EXPECT_EQ(VelString(u"kept"), VelString(r.item15688));
    EXPECT_EQ(nullptr, r.item15686);
    VelFile::file_Close(f);
  }
}

TEST_F(InfoTest, WriterComparesTextsByContentAndNeverUpdatesPrevious) {
  CGInfoTypeDescr prev;
  CGInfoTypeDescr cur;
  cur.item15687 = text(u"same");
  prev.item15687 = text(u"same");
  cur.item15688 = text(u"new");  // previous holds none: written
  prev.item15686 = text(u"only in previous");
  void* g = writeGroup();
  EXPECT_EQ((std::vector<uint16_t>{9999, 15688}), idsWrittenBy(g, [&] { ginfo_WriteGroupInfo(g, &prev, &cur); }));
  EXPECT_EQ(nullptr, prev.item15688);  // previous stays as it was
  cur.item1 = 1;
  EXPECT_EQ((std::vector<uint16_t>{9999, 15688, 1}), idsWrittenBy(g, [&] { ginfo_WriteGroupInfo(g, &prev, &cur); }));
}

TEST_F(InfoTest, CopiesOwnTheirTexts) {
  CGInfoTypeDescr* a = ginfo_Allocate(0, u"A");
  a->item15687 = text(u"abc");
  CGInfoTypeDescr* b = ginfo_Allocate(0, u"B");
  b->item15688 = text(u"released by the copy");
  EXPECT_EQ(0, ginfo_Duplicate(a, b));
  EXPECT_NE(a->item15687, b->item15687);  // a buffer of its own
  EXPECT_EQ(VelString(u"abc"), VelString(b->item15687));
  EXPECT_EQ(nullptr, b->item15688);
  EXPECT_EQ(0, *a == *b);  // texts compare by address
  EXPECT_EQ(1, *a != *b);
  CGInfoTypeDescr c(*a);
  c = c;  // self-assignment keeps the text
  EXPECT_EQ(VelString(u"abc"), VelString(c.item15687));
  EXPECT_EQ(-1, ginfo_Duplicate(nullptr, b));
  ginfo_Delete(a, 1);
  ginfo_Delete(b, 0);  // releases the texts, keeps the descriptor
  EXPECT_EQ(nullptr, b->item15687);
  b->initializeData();
  ginfo_Delete(b, 1);
}

TEST_F(InfoTest, ForeignIdsAreReported) {
  void* g = writeGroup();
  const uint32_t v = 1;
  for (uint16_t id : {15695, 15699, 4})
    ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, id, VelFile::kTypeUInt32, 1, cp(&v)));
  CGInfoTypeDescr d;
  EXPECT_EQ(0, ginfo_ReadGroupInfo(reopenGroup(), &d));
  EXPECT_EQ(1, d.item4);
  EXPECT_EQ(2, diagCount());
}
