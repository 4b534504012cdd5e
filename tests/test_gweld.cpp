// The weld, weld scan plan and weld fill modules.
#include <velfile/gweld.h>
#include <velfile/gweldfill.h>
#include <velfile/gweldscanplan.h>

#include <cmath>

#include "moduletest.h"

using namespace vt;

namespace {

using Weld = ModuleTest;
using Ids = std::vector<uint16_t>;

template <size_t N>
void setText(VelChar (&field)[N], const VelString& s) {
  std::memset(field, 0, sizeof field);
  std::copy(s.begin(), s.end(), field);
}

// Type and count of the last item written with this id.
std::pair<uint16_t, uint32_t> lastItem(void* g, uint16_t wanted) {
  std::pair<uint16_t, uint32_t> found;
  for (uint32_t i = 0; i < VelFile::file_ItemNbrGet(g); ++i) {
    uint16_t id = 0, type = 0;
    uint32_t count = 0;
    VelFile::file_ItemInfo(g, i, &id, &type, &count, nullptr, nullptr, 0);
    if (id == wanted) found = {type, count};
  }
  return found;
}

// Every field a weld group carries, from the layout version to the item-22 text.
bool sameWeldItems(const CGWeldTypeDescr& a, const CGWeldTypeDescr& b) {
  return std::memcmp(&a, &b, offsetof(CGWeldTypeDescr, groupName)) == 0;
}

}  // namespace

TEST_F(Weld, WeldRoundTripWritesItems1And9999AndWhatChanged) {
  CGWeldTypeDescr* prev = gweld_Allocate(0, u"");
  CGWeldTypeDescr* cur = gweld_Allocate(0, u"Butt weld");
  void* g = writeGroup();
  auto write = [&](CGWeldTypeDescr* p) { return idsWrittenBy(g, [&] { gweld_WriteGroupInfo(g, p, cur); }); };
  Ids all{1, 9999};
  for (uint16_t id = 2; id <= 26; ++id) all.push_back(id);
  EXPECT_EQ(all, write(nullptr));
  EXPECT_EQ(1u, lastItem(g, 21).second);  // an empty text is its terminator

  cur->item4 = -4;
  cur->item19 = -19.25f;
  cur->item25 = 1e-6f;
  setText(cur->item21, u"root");
  EXPECT_EQ((Ids{1, 9999, 4, 19, 21, 25}), write(prev));
  EXPECT_TRUE(sameWeldItems(*prev, *cur));  // previous holds what the group holds
  EXPECT_EQ((Ids{1, 9999}), write(prev));
  setText(cur->item22, VelString(499, u'w'));
  EXPECT_EQ((Ids{1, 9999, 22}), write(prev));
  EXPECT_EQ(500u, lastItem(g, 22).second);
  cur->item7 = std::nanf("");  // never equal to itself: written every time
  EXPECT_EQ((Ids{1, 9999, 7}), write(prev));
  EXPECT_EQ((Ids{1, 9999, 7}), write(prev));
  cur->item7 = 0.0f;
  write(prev);
  cur->item7 = -0.0f;  // equal to 0.0
  EXPECT_EQ((Ids{1, 9999}), write(prev));
  cur->item7 = 0.0f;  // what the group holds

  CGWeldTypeDescr* back = gweld_Allocate(0, u"");
  void* r = reopenGroup();
  for (uint16_t id = 1; id <= 26; ++id) {
    const bool isFloat = (id >= 5 && id <= 19) || (id >= 23 && id <= 25);
    EXPECT_EQ(isFloat ? 10 : id == 21 || id == 22 ? 12 : 7, lastItem(r, id).first) << id;
  }
  EXPECT_EQ(0, gweld_ReadGroupInfo(r, back));
  EXPECT_TRUE(sameWeldItems(*cur, *back));
  EXPECT_EQ(VelString(u"Butt weld"), VelString(back->groupName));
  EXPECT_EQ(0x66789012u, back->signature);
  EXPECT_EQ(0, diagCount());
  for (CGWeldTypeDescr* d : {prev, cur, back}) gweld_Delete(d, 1);
}

TEST_F(Weld, ScanPlanTextsNeverReachTheFile) {
  CGWeldScanPlanDescr prev, cur;
  cur.item2 = 65535;
  cur.item4 = -4;
  cur.item10 = -1e300;
  setText(cur.shortText, u"short");
  void* g = writeGroup();
  auto write = [&] { return idsWrittenBy(g, [&] { gweldsp_WriteGroupInfo(g, &prev, &cur); }); };
  EXPECT_EQ((Ids{9999, 2, 4, 10}), write());
  EXPECT_EQ(VelString(u"short"), VelString(prev.shortText));  // previous takes the texts too
  setText(cur.longText, u"other");
  cur.item6 = -0.0;
  EXPECT_EQ((Ids{9999}), write());
  cur.item7 = std::nan("");
  EXPECT_EQ((Ids{9999, 7}), write());
  EXPECT_EQ((Ids{9999, 7}), write());

  CGWeldScanPlanDescr back;
  setText(back.shortText, u"kept");
  EXPECT_EQ(0, gweldsp_ReadGroupInfo(reopenGroup(), &back));
  EXPECT_EQ(VelString(u"kept"), VelString(back.shortText));
  EXPECT_EQ(65535, back.item2);
  EXPECT_EQ(VelFile::kTypeUInt16, lastItem(back.groupHandle, 2).first);
  EXPECT_TRUE(std::isnan(back.item7));
  EXPECT_EQ(-1e300, back.item10);
  EXPECT_EQ(0x66A89C12u, back.signature);
}

TEST_F(Weld, FillTextsNeverReachTheFile) {
  CGWeldFillDescr prev, cur;
  cur.item2 = -2;
  cur.item4 = 4.25;
  setText(cur.longText, u"long");
  void* g = writeGroup();
  auto write = [&](CGWeldFillDescr* p) {
    return idsWrittenBy(g, [&] { gweldFill_WriteGroupInfo(g, p, &cur); });
  };
  EXPECT_EQ((Ids{9999, 2, 4}), write(&prev));
  EXPECT_EQ(VelString(u"long"), VelString(prev.longText));
  setText(cur.shortText, u"other");
  cur.item3 = -0.0;
  EXPECT_EQ((Ids{9999}), write(&prev));
  cur.item3 = std::nan("");
  EXPECT_EQ((Ids{9999, 3}), write(&prev));
  EXPECT_EQ((Ids{9999, 1, 2, 3, 4}), write(nullptr));

  CGWeldFillDescr back;
  EXPECT_EQ(0, gweldFill_ReadGroupInfo(reopenGroup(), &back));
  EXPECT_EQ(-2, back.item2);
  EXPECT_TRUE(std::isnan(back.item3));
  EXPECT_EQ(4.25, back.item4);
  EXPECT_EQ(0x54B89C72u, back.signature);
}

TEST_F(Weld, ReadingReportsForeignIdsAndCutsOverlongTexts) {
  void* g = writeGroup();
  const uint32_t nine = 9;
  const VelString longText(80, u't');
  for (uint16_t id : {1, 5, 11, 27}) ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, id, 7, 1, cp(&nine)));
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 21, VelFile::kTypeUtf16, 81, cp(longText.c_str())));
  void* r = reopenGroup();

  CGWeldTypeDescr* weld = gweld_Allocate(0, u"");
  weld->item22[0] = u'k';
  EXPECT_EQ(0, gweld_ReadGroupInfo(r, weld));  // 27
  EXPECT_EQ(1, diagCount());
  EXPECT_EQ(9.0f, weld->item11);
  EXPECT_EQ(VelString(49, u't'), VelString(weld->item21));
  EXPECT_EQ(u'k', weld->item22[0]);  // the next field is untouched
  gweld_Delete(weld, 1);
  CGWeldScanPlanDescr plan;
  EXPECT_EQ(0, gweldsp_ReadGroupInfo(r, &plan));  // 11, 27 and 21
  EXPECT_EQ(4, diagCount());
  EXPECT_EQ(9.0, plan.item5);
  CGWeldFillDescr fill;
  EXPECT_EQ(0, gweldFill_ReadGroupInfo(r, &fill));  // 5, 11, 27 and 21
  EXPECT_EQ(8, diagCount());
  EXPECT_EQ(9, fill.item1);
}

TEST_F(Weld, InitDescrDuplicateAndDelete) {
  CGWeldTypeDescr* w = gweld_Allocate(0, u"W");
  CGWeldTypeDescr* copy = gweld_Allocate(1, u"");
  w->item9 = 9.0f;
  w->item20 = 0;
  setText(w->item21, u"x");
  w->groupHandle = w;
  EXPECT_EQ(0, gweld_Duplicate(w, copy));
  EXPECT_EQ(0, std::memcmp(w, copy, sizeof *w));
  gweld_InitDescr(w);
  gweld_InitDescr(nullptr);  // nothing, and no report
  EXPECT_EQ(1, w->item20);
  EXPECT_EQ(0, w->item9 + w->item21[0] + w->groupName[0]);
  EXPECT_EQ(nullptr, w->groupHandle);
  for (CGWeldTypeDescr* d : {w, copy}) gweld_Delete(d, 1);

  CGWeldScanPlanDescr plan, planCopy;
  for (VelChar& c : plan.shortText) c = u'q';  // no terminator
  plan.item9 = 9.0;
  plan.groupHandle = &plan;
  EXPECT_EQ(0, gweldsp_Duplicate(&plan, &planCopy));
  EXPECT_EQ(VelString(49, u'q'), VelString(planCopy.shortText));
  EXPECT_EQ(9.0, planCopy.item9);
  EXPECT_EQ(&plan, planCopy.groupHandle);
  gweldsp_InitDescr(&planCopy);
  EXPECT_EQ(0, planCopy.shortText[0] + planCopy.item9);
  EXPECT_EQ(0, diagCount());
}

TEST_F(Weld, EachModuleCallsOnlyItsOwnHooks) {
  HookCount::reset();
  gweld_Init(&HookCount::enter, nullptr, nullptr, nullptr, nullptr);
  gweldsp_Init(nullptr, &HookCount::leave, nullptr, nullptr, nullptr);
  gweldFill_Init(&HookCount::enter, &HookCount::leave, nullptr, nullptr, nullptr);
  gweld_InitDescr(nullptr);      // enter
  gweldsp_InitDescr(nullptr);    // leave
  gweldFill_InitDescr(nullptr);  // both
  EXPECT_EQ(2, HookCount::enters());
  EXPECT_EQ(2, HookCount::leaves());
  for (auto init : {&gweld_Init, &gweldsp_Init, &gweldFill_Init})
    init(nullptr, nullptr, nullptr, nullptr, nullptr);
}
