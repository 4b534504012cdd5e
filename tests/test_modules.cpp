// The 21 group modules, as rows of one table: what a fresh descriptor writes,
// that every item it wrote reads back and writes again unchanged, and that a
// change to any one item is seen by the module's comparison and written by
// the write-what-changed sequence, together with the items written every time.
#include <cmath>
#include <sstream>

#include "groupmodule.h"
#include "moduletest.h"

using namespace vt;

namespace {

struct Row {
  const char* module;
  const char* fresh;  // what a fresh descriptor writes, as values() lists it
  Ids always;         // written on every write with a previous descriptor
  Ids own = {};       // items with a rule of their own, left to the particulars below
  int flags = 0;
  std::vector<std::pair<uint16_t, uint32_t>> texts = {};  // text items and the units they keep of 600
};
enum : int {
  kKeepsPrevious = 1,  // the write leaves the previous descriptor as it was
  kResets = 2,         // a read starts from the defaults
  kReports = 4,        // an id outside the module's table is reported
};

// Sorted, without duplicates and without the ids in `drop`.
Ids sorted(Ids ids, const Ids& drop = {}) {
  ids.erase(std::remove_if(ids.begin(), ids.end(),
                           [&](uint16_t id) { return std::count(drop.begin(), drop.end(), id); }),
            ids.end());
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

void PrintTo(const Row& r, std::ostream* os) {
  *os << r.module;
}

class ModuleTable : public ModuleTest, public ::testing::WithParamInterface<Row> {};

TEST_P(ModuleTable, EveryItemRoundTripsAndEveryChangeIsSeenAndWritten) {
  const Row& row = GetParam();
  const Module& m = *std::find_if(modules().begin(), modules().end(),
                                  [&](const Module& x) { return std::string(x.name) == row.module; });
  // A listing without the items that have a rule of their own.
  auto common = [&](void* g) {
    std::string out, line;
    std::istringstream in(listing(g));
    while (std::getline(in, line))
      if (!std::count(row.own.begin(), row.own.end(), std::stoi(line))) out += line + "\n";
    return out;
  };
  // Reads group `from` into d and writes d into a fresh group, which it returns.
  auto again = [&](void* from, void* d) {
    void* to = writeGroup();
    EXPECT_EQ(0, m.read(from, d));
    EXPECT_EQ(0, m.write(to, nullptr, d));
    return to;
  };
  auto fresh = m.fresh(), d0 = m.fresh(), p = m.fresh(), t = m.fresh();
  void* defaults = writeGroup();
  ASSERT_EQ(0, m.write(defaults, nullptr, fresh.get()));
  EXPECT_EQ(row.fresh, values(defaults));
  EXPECT_EQ(listing(defaults), listing(again(defaults, d0.get()))) << "defaults read back";
  void* pattern = writeGroup(groupName(defaults));
  patternItems(defaults, pattern);
  EXPECT_EQ(common(pattern), common(again(pattern, p.get()))) << "every item patterned";

  // Texts too long for their fields come back cut.
  void* longTexts = writeGroup(groupName(defaults));
  patternItems(defaults, longTexts, nullptr, 600);
  void* cut = again(longTexts, t.get());
  std::vector<std::pair<uint16_t, uint32_t>> texts;
  for (uint32_t i = 1; i < VelFile::file_ItemNbrGet(cut); ++i)
    if (itemAt(cut, i).type == VelFile::kTypeUtf16)
      texts.emplace_back(itemAt(cut, i).id, itemAt(cut, i).count - 1);
  EXPECT_EQ(row.texts, texts);

  // A read of a group without items keeps the fields or starts from the
  // defaults; an id outside the table is reported or skipped.
  void* bare = writeGroup(groupName(defaults));
  EXPECT_EQ(common(row.flags & kResets ? defaults : pattern), common(again(bare, p.get()))) << "bare group";
  const uint32_t foreign = 7;
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(bare, 30000, VelFile::kTypeUInt32, 1, cp(&foreign)));
  const int reports = diagCount();
  ASSERT_EQ(0, m.read(bare, p.get()));
  EXPECT_EQ(row.flags & kReports ? 1 : 0, diagCount() - reports);

  if (m.equal) {
    EXPECT_EQ(1, m.equal(d0.get(), m.copy(d0.get()).get()));
  }
  for (uint32_t i = 1; i < VelFile::file_ItemNbrGet(defaults); ++i) {
    const uint16_t id = itemAt(defaults, i).id;
    if (std::count(row.always.begin(), row.always.end(), id) ||
        std::count(row.own.begin(), row.own.end(), id))
      continue;
    void* one = writeGroup(groupName(defaults));
    patternItems(defaults, one, [i](uint32_t k) { return k == i; });
    auto d = m.fresh();
    ASSERT_EQ(0, m.read(one, d.get())) << id;
    const bool differs = itemAt(defaults, i).value != itemAt(one, i).value;
    if (m.equal) {
      EXPECT_EQ(differs ? 0 : 1, m.equal(d0.get(), d.get())) << "item " << id;
    }
    auto prev = m.copy(d0.get());
    void* g = writeGroup();
    Ids expected = row.always;
    if (differs) expected.push_back(id);
    auto written = [&] { return sorted(idsWrittenBy(g, [&] { m.write(g, prev.get(), d.get()); }), row.own); };
    EXPECT_EQ(sorted(expected, row.own), written()) << "item " << id;
    // The previous descriptor now holds what the group holds, unless the
    // module leaves it alone.
    if (!(row.flags & kKeepsPrevious)) expected = row.always;
    EXPECT_EQ(sorted(expected, row.own), written()) << "item " << id << ", written again";
  }
}

// clang-format off
const Row kRows[] = {
    {"gprobe",
     "10000 12 \"\"; 1 7 0; 9999 7 2; 3 10 1; 4 10 0; 5 10 0; 6 10 0; 7 10 0; 8 10 0",
     {1, 9999}, {}, kReports},
    {"ginfo",
     "10000 12 \"\"; 9999 7 2; 15682 7 0; 15683 7 0; 15684 7 0; 15685 6 0; 15690 7 0; 15691 7 0; "
     "15701 7 0; 15702 7 0; 2 7 0; 1 7 0; 3 7 0; 4 7 0",
     {9999}, {}, kKeepsPrevious | kReports},
    {"gchan",
     "10000 12 \"\"; 1 7 0; 4 7 0; 5 7 0; 19 7 0; 9999 7 3; 18 7 0; 3 12 \"\"; 6 7 0; 7 10 0; 8 7 0; "
     "20 10 0; 9 10 0; 10 10 0; 11 10 0; 12 7 0; 13 10 0; 14 10 0; 15 10 0; 16 7 0; 21 10 0; 22 3 0",
     {1, 4, 5, 19, 9999}, {}, kReports, {{3, 31}}},
    {"gsubchan",
     "10000 12 \"\"; 1 7 0; 2 7 0; 14 7 0; 9999 7 2; 13 7 0; 3 10 0; 4 10 0; 5 10 0; 6 10 0; 7 10 0; "
     "8 10 0; 9 10 0; 10 7 0; 11 10 0; 12 10 0",
     {1, 2, 14, 9999}, {}},
    {"ggate",
     "10000 12 \"\"; 1 7 0; 2 7 0; 9999 7 3; 4 6 0; 3 7 0; 5 7 1; 6 10 9.99999968e+37; "
     "7 10 9.99999968e+37; 8 10 9.99999968e+37; 9 10 9.99999968e+37; 10 6 0; 11 6 0; 12 7 0; 13 7 0; "
     "14 6 1; 15 7 1; 16 3 0",
     {1, 2, 9999}, {}, kResets},
    {"gdac",
     "10000 12 \"Group\"; 9999 7 2; 1 6 0; 2 7 0; 3 10 0; 4 6 0; 5 10",
     {9999, 1}, {4, 5}, kKeepsPrevious | kReports},
    {"gpatch",
     "10000 12 \"\"; 1 7 0; 16 7 0; 9999 7 2; 3 7 0; 5 7 0; 6 10 0; 7 10 0; 8 10 1; 9 6 0; 11 7 0; "
     "12 10 0; 13 10 0; 14 10 1; 15 6 0",
     {1, 16, 9999}, {}},
    {"grefadj",
     "10000 12 \"\"; 1 7 0; 9999 7 2; 3 7 0; 2 12 \"\"; 4 10 0; 5 10 0; 6 10 0; 7 10 0.100000001; 8 10 0; "
     "9 10 0; 10 10 0; 11 10 0.100000001; 12 10 0; 13 10 0; 14 10 0; 15 10 0.100000001; 16 10 0; "
     "17 10 0; 18 10 0; 19 7 0",
     {1, 9999}, {}, 0, {{2, 99}}},
    {"gspecmat",
     "10000 12 \"\"; 9999 7 2; 1 10 5920; 2 10 3230; 3 10 5920; 4 10 7.69999981; 5 10 1; "
     "6 10 0.280000001; 7 10 45000000",
     {9999}, {}},
    {"gspecdim",
     "10000 12 \"\"; 9999 7 2; 1 10 -10; 2 10 10; 3 10 -10; 4 10 10; 5 10 -10; 6 10 10; 7 10 0; "
     "8 10 10; 9 10 0; 10 10 360",
     {9999}, {}},
    {"gspecdef",
     "10000 12 \"\"; 9999 7 2; 1 7 0; 2 10 0; 3 10 0; 4 10 0; 5 10 0; 6 10 0; 7 10 0; 8 10 0",
     {9999}, {}, kResets},
    {"gspecinf",
     "10000 12 \"\"; 9999 7 2; 1 12 \"\"; 2 12 \"\"; 3 7 0; 4 12 \"\"",
     {9999}, {}, 0, {{1, 99}, {2, 499}, {4, 99}}},
    {"gspecsim",
     "10000 12 \"\"; 9999 7 2; 1 7 0; 2 12 \"\"; 3 12 \"\"; 4 10 0; 5 10 0; 6 10 0; 7 10 0; 8 10 0; 9 10 0; "
     "10 7 0",
     {9999, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {}, 0, {{2, 49}, {3, 499}}},
    {"gspec2d",
     "10000 12 \"\"; 9999 7 1; 1 7 0; 2 7 0; 3 7 0; 4 7 1; 5 10 -3.40282347e+38; 6 10 3.40282347e+38; "
     "7 6 0; 8 6 0; 9 7 0; 10 7 0; 11 12 \"\"; 12 12 \"\"; 13 7 4294967295; 14 7 4294967295",
     {9999, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, {}, 0, {{11, 49}, {12, 499}}},
    {"gspec3d",
     "10000 12 \"\"; 9999 7 1; 1 7 0; 2 7 0; 3 7 0; 4 7 1; 5 10 -3.40282347e+38; 6 10 3.40282347e+38; "
     "7 6 0; 8 6 0; 9 7 0; 10 7 0; 11 12 \"\"; 12 12 \"\"",
     {9999, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {}, 0, {{11, 49}, {12, 499}}},
    {"gcontour",
     "10000 12 \"\"; 9999 7 2; 9 7 0; 1 7 0; 8 7 0; 2 7 0; 3 7 0; 4 10 0; 5 10 0; 6 7 0; 7 7 0",
     {9999, 9, 1}, {7}, kResets},
    {"gmesh",
     "10000 12 \"\"; 9999 7 2; 1 10 0; 2 7 0; 3 6 0; 4 7 0; 5 7 0",
     {9999, 1, 2, 3, 4, 5}, {}},
    {"gweld",
     "10000 12 \"\"; 1 7 0; 9999 7 2; 2 7 0; 3 7 0; 4 7 0; 5 10 0; 6 10 0; 7 10 0; 8 10 0; 9 10 0; "
     "10 10 0; 11 10 0; 12 10 0; 13 10 0; 14 10 0; 15 10 0; 16 10 0; 17 10 0; 18 10 0; 19 10 0; "
     "20 7 1; 21 12 \"\"; 22 12 \"\"; 23 10 0; 24 10 0; 25 10 0; 26 7 0",
     {1, 9999}, {}, kReports, {{21, 49}, {22, 499}}},
    {"gweldsp",
     "10000 12 \"\"; 9999 7 1; 1 7 0; 2 5 0; 3 5 0; 4 7 0; 5 11 0; 6 11 0; 7 11 0; 8 11 0; 9 11 0; "
     "10 11 0",
     {9999}, {}, kReports},
    {"gweldFill",
     "10000 12 \"\"; 9999 7 1; 1 7 0; 2 7 0; 3 11 0; 4 11 0",
     {9999}, {}, kReports},
    {"gdata",
     "10000 12 \"\"; 10400 7 0; 10200 7 0; 10418 7 0; 10206 7 0; 10408 7 0; 10500 7 0; 9999 7 2; "
     "10405 7 0; 10407 12 \"\"; 10406 12 \"\"; 10208 12 \"\"; 10419 12 \"\"; 10207 12 \"\"; 10409 12 \"\"; "
     "10100 7 0; 10401 7 0; 10402 7 0; 10403 7 0; 10404 7 0; 10440 7 0; 10420 7 4294967295; "
     "10421 10 1; 10422 10 0; 10423 7 0; 10410 7 4294967295; 10411 10 1; 10412 10 0; 10413 7 0; "
     "10430 7 4294967295; 10431 10 1; 10432 10 0; 10433 7 0; 10450 7 4294967295; "
     "10451 10 9.99999968e+37; 10452 10 9.99999968e+37; 10453 7 0; 10454 10 1; 10455 10 0; "
     "10465 7 4294967295; 10466 7 0; 10467 7 0; 10468 7 0; 10469 7 0; 10459 7 0; 1007 10 0; "
     "10457 10 0; 1106 10 0; 10458 10 0; 2604 10 0; 10456 10 3265; 10480 7 4294967295; 10481 11 0; "
     "10483 5 0; 10482 11; 10484 10 0; 10485 7 4294967295; 10486 6 0; 10487 6 0; 10488 6 0; "
     "10460 7 3; 10462 7 4294967295; 10463 7 256; 1 7 0; 2 7 0; 3 7 0; 4 10 0; 5 10 0; 6 7 0; "
     "10470 7 0; 10461 7 0",
     {10400, 10200, 10418, 10206, 10408, 10500, 9999, 10482},
     {10461, 10469, 10470, 10482}, 0, {{10407, 31}, {10406, 31}, {10208, 31}, {10419, 31}, {10207, 31}, {10409, 31}}},
};
// clang-format on

TEST(ModuleTableRows, OneRowForEveryModule) {
  std::vector<std::string> listed, rows;
  for (const Module& m : modules()) listed.push_back(m.name);
  for (const Row& r : kRows) rows.push_back(r.module);
  std::sort(listed.begin(), listed.end());
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(listed, rows);
}

INSTANTIATE_TEST_SUITE_P(All, ModuleTable, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& i) { return std::string(i.param.module); });

}  // namespace

// --- particulars of single modules ---

using velfile::copyText;
using Particulars = ModuleTest;

TEST_F(Particulars, AssignmentCutsTextsTo31CharactersAndCopiesOwnTheirTexts) {
  CGChanTypeDescr a, b;
  CGGateTypeDescr gate, gateCopy;
  for (int i = 0; i < 32; ++i) a.groupName[i] = a.item3[i] = gate.groupName[i] = VelChar('z');
  gate.SetOriginalPosition(5);
  EXPECT_EQ(0, gchan_Duplicate(&a, &b));
  EXPECT_EQ(0, ggate_Duplicate(&gate, &gateCopy));
  for (const VelChar* s : {a.groupName, a.item3, b.groupName, b.item3, gateCopy.groupName})
    EXPECT_EQ(VelString(31, VelChar('z')), s);
  EXPECT_EQ(5, gateCopy.GetOriginalPosition());
  CGSpecinfTypeDescr inf, infCopy;
  for (VelChar& c : inf.groupName) c = VelChar('s');
  infCopy = inf;
  EXPECT_EQ(VelString(31, VelChar('s')), infCopy.groupName);
  CGWeldScanPlanDescr plan, planCopy;
  for (VelChar& c : plan.shortText) c = VelChar('q');
  EXPECT_EQ(0, gweldsp_Duplicate(&plan, &planCopy));
  EXPECT_EQ(VelString(49, VelChar('q')), planCopy.shortText);

  CGInfoTypeDescr* x = ginfo_Allocate(0, VELFILE_TEXT("A"));
  CGInfoTypeDescr* y = ginfo_Allocate(0, VELFILE_TEXT("B"));
  x->item15687 = new VelChar[4]{'a', 'b', 'c', 0};
  y->item15688 = new VelChar[2]{'r', 0};
  x->item15686 = new VelChar[2]{'n', 0};
  x->item15689 = new VelChar[2]{'s', 0};
  x->item15700 = new VelChar[2]{'o', 0};
  EXPECT_EQ(0, ginfo_Duplicate(x, y));
  EXPECT_EQ(VelString(VELFILE_TEXT("nso")), VelString(y->item15686) + y->item15689 + y->item15700);
  EXPECT_NE(x->item15687, y->item15687);  // a buffer of its own
  EXPECT_EQ(VelString(VELFILE_TEXT("abc")), y->item15687);
  EXPECT_EQ(nullptr, y->item15688);
  EXPECT_EQ(1, *x != *y);  // texts compare by address
  *y = *y;                 // self-assignment keeps the text
  EXPECT_EQ(VelString(VELFILE_TEXT("abc")), y->item15687);
  EXPECT_EQ(-1, ginfo_Duplicate(nullptr, y));
  ginfo_Delete(y, 0);  // releases the texts, keeps the descriptor
  EXPECT_EQ(nullptr, y->item15687);
  ginfo_Delete(x, 1);
  ginfo_Delete(y, 1);
}

TEST_F(Particulars, InformationTextsRoundTripWideAndNarrowAndCompareByContent) {
  CGInfoTypeDescr d, prev;
  const VelString texts[5] = {VELFILE_TEXT("Operator"), VELFILE_TEXT(""), VELFILE_TEXT("Site"),
                              VelString(300, VelChar('z')), VELFILE_TEXT("Note")};
  VelChar** fields[5] = {&d.item15687, &d.item15700, &d.item15688, &d.item15689, &d.item15686};
  for (int i = 0; i < 5; ++i) *fields[i] = new VelChar[texts[i].size() + 1]();
  for (int i = 0; i < 5; ++i) std::copy(texts[i].begin(), texts[i].end(), *fields[i]);
  for (int narrow = 0; narrow < 2; ++narrow) {
    if (file_) VelFile::file_Close(file_), file_ = nullptr;
    void* g = writeGroup(VELFILE_TEXT("Info"), narrow);
    EXPECT_EQ((Ids{9999, 15682, 15683, 15684, 15685, 15687, 15688, 15700, 15686, 15689, 15690, 15691, 15701,
                   15702, 2, 1, 3, 4}),
              idsWrittenBy(g, [&] { ginfo_WriteGroupInfo(g, nullptr, &d); }));
    CGInfoTypeDescr r;
    ASSERT_EQ(0, ginfo_ReadGroupInfo(g, &r));
    VelChar* back[5] = {r.item15687, r.item15700, r.item15688, r.item15689, r.item15686};
    for (int i = 0; i < 5; ++i)
      EXPECT_EQ(texts[i], back[i] ? VelString(back[i]) : VelString(VELFILE_TEXT("-")));
  }
  // Texts are compared by content; the previous descriptor is left alone.
  prev.item15687 = new VelChar[9]{'O', 'p', 'e', 'r', 'a', 't', 'o', 'r', 0};
  void* g = writeGroup();
  EXPECT_EQ((Ids{9999, 15686, 15688, 15689, 15700}),
            sorted(idsWrittenBy(g, [&] { ginfo_WriteGroupInfo(g, &prev, &d); })));
  EXPECT_EQ(nullptr, prev.item15688);
}

TEST_F(Particulars, DacStoresCountTimesTwoFloatsUpTo512PointsAndKeepsTheGroupName) {
  CGDacTypeDescr d, prev, back;
  copyText(d.groupName, 32, VELFILE_TEXT("Not the group's"));
  d.pointCount = 600;
  for (int i = 0; i < 512; ++i) d.points[i].firstValue = 2.0f * i + 1, d.points[i].secondValue = 2.0f * i + 2;
  void* g = writeGroup(VELFILE_TEXT("Dac"));
  ASSERT_EQ(0, gdac_WriteGroupInfo(g, nullptr, &d));
  EXPECT_EQ(600, d.pointCount);  // the descriptor is left as it was
  EXPECT_EQ(512 * 2u, itemAt(g, 6).count);
  ASSERT_EQ(0, gdac_ReadGroupInfo(g, &back));
  EXPECT_EQ(VelString(VELFILE_TEXT("Dac")), back.groupName);
  EXPECT_EQ(512, back.pointCount);
  EXPECT_EQ(1024.0f, back.points[511].secondValue);
  d.pointCount = 3;
  ASSERT_EQ(0, gdac_Duplicate(&d, &prev));
  d.points[100].firstValue = -1.0f;  // carried in memory, never stored
  EXPECT_EQ((Ids{9999, 1}), idsWrittenBy(g, [&] { gdac_WriteGroupInfo(g, &prev, &d); }));
  d.points[2].secondValue = -1.0f;
  EXPECT_EQ((Ids{9999, 1, 5}), idsWrittenBy(g, [&] { gdac_WriteGroupInfo(g, &prev, &d); }));
  // A point or a depth entry holding a NaN equals itself and nothing else.
  CSCSDepth depth, otherDepth;
  depth.secondValue = otherDepth.secondValue = std::nan("");
  d.points[0].firstValue = prev.points[0].firstValue = std::nanf("");
  EXPECT_EQ((std::vector<int>{1, 0, 0, 1, 0}),
            (std::vector<int>{depth == depth, depth != depth, depth == otherDepth, d.points[0] == d.points[0],
                              d.points[0] == prev.points[0]}));
  d.pointCount = -3;
  ASSERT_EQ(0, gdac_WriteGroupInfo(g, nullptr, &d));
  EXPECT_EQ(0u, itemAt(g, VelFile::file_ItemNbrGet(g) - 1).count);

  // A stored array longer than 512 points fills them all; one past the end
  // of the file fails alone.
  std::vector<float> many(1100);
  for (size_t i = 0; i < many.size(); ++i) many[i] = static_cast<float>(i);
  ASSERT_EQ(0, VelFile::file_ItemValueWrite(g, 5, VelFile::kTypeFloat, 1100, cp(many.data())));
  ASSERT_EQ(0, gdac_ReadGroupInfo(g, &back));
  EXPECT_EQ(1023.0f, back.points[511].secondValue);
  void* bad = openHandMadeGroup([](Image& img) { img.entry(5, 10, 100, 0x7000).entry(4, 6, 1, 3); });
  EXPECT_EQ(0, gdac_ReadGroupInfo(bad, &back));
  EXPECT_EQ(3, back.pointCount);
}

int g_enters, g_leaves;  // calls of a module's hooks

// The framework through the probe: floats compared as numbers, a failing
// read that stops the loop, the swap flag, names, hooks and reports.
TEST_F(Particulars, ProbeShowsTheFrameworksRules) {
  CGProbeTypeDescr prev, cur;
  void* g = writeGroup();
  auto write = [&] { return idsWrittenBy(g, [&] { gprobe_WriteGroupInfo(g, &prev, &cur); }); };
  cur.item7 = std::nanf("");  // never equal to itself: written every time
  EXPECT_EQ((Ids{1, 9999, 7}), write());
  EXPECT_EQ((Ids{1, 9999, 7}), write());
  cur.item7 = 0.0f;
  write();
  cur.item7 = -0.0f;  // equal to 0.0
  EXPECT_EQ((Ids{1, 9999}), write());

  void* bad = openHandMadeGroup([](Image& img) { img.entry(1, 7, 1, 8).entry(3, 11, 1, 0x7000); });
  CGProbeTypeDescr d;
  EXPECT_EQ(2, gprobe_ReadGroupInfo(bad, &d));
  EXPECT_EQ(8, d.item1);  // read before the failure
  EXPECT_EQ(1, diagCount());
  d.swapFlag = 5;  // only a zero flag is taken from the file
  EXPECT_EQ(2, gprobe_ReadGroupInfo(bad, &d));
  EXPECT_EQ(5, d.swapFlag);

  CGProbeTypeDescr* a = gprobe_Allocate(0, VelString(40, VelChar('x')).c_str());
  EXPECT_EQ(VelString(31, VelChar('x')), a->groupName);
  EXPECT_EQ(1.0f, a->item3);
  a->item1 = 3;
  gprobe_Delete(a, 0);  // left alone
  EXPECT_EQ(3, a->item1);
  g_enters = g_leaves = 0;
  gprobe_Init([] { ++g_enters; }, [] { ++g_leaves; }, nullptr, nullptr, nullptr);
  CGProbeTypeDescr* b = gprobe_Allocate(5, VELFILE_TEXT("B"));
  EXPECT_EQ(-1, gprobe_Duplicate(a, nullptr));
  EXPECT_EQ(0, gprobe_Duplicate(a, b));
  gprobe_InitDescr(b);
  EXPECT_EQ(0, b->item1);
  gprobe_WriteGroupInfo(g, nullptr, a);
  gprobe_ReadGroupInfo(g, b);
  gprobe_Delete(a, 1);
  gprobe_Delete(b, 1);
  gprobe_Init(nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(8, g_enters);
  EXPECT_EQ(8, g_leaves);
  // The weld modules call only their own hooks.
  g_enters = g_leaves = 0;
  gweld_Init([] { ++g_enters; }, nullptr, nullptr, nullptr, nullptr);
  gweldsp_Init(
      nullptr, [] { ++g_leaves; }, nullptr, nullptr, nullptr);
  gweld_InitDescr(nullptr);
  gweldsp_InitDescr(nullptr);
  EXPECT_EQ(1, g_enters);
  EXPECT_EQ(1, g_leaves);
  gweld_Init(nullptr, nullptr, nullptr, nullptr, nullptr);
  gweldsp_Init(nullptr, nullptr, nullptr, nullptr, nullptr);
}

TEST_F(Particulars, InitDescrOfNullIsReportedBySomeModules) {
  const std::pair<std::function<void()>, int> cases[] = {
      {[] { gchan_InitDescr(nullptr); }, 1},    {[] { ggate_InitDescr(nullptr); }, 1},
      {[] { gpatch_InitDescr(nullptr); }, 0},   {[] { gprobe_InitDescr(nullptr); }, 1},
      {[] { gspecmat_InitDescr(nullptr); }, 0}, {[] { gsubchan_InitDescr(nullptr); }, 1},
      {[] { gweld_InitDescr(nullptr); }, 0},    {[] { gweldFill_InitDescr(nullptr); }, 0},
      {[] { gweldsp_InitDescr(nullptr); }, 0},  {[] { gdata_InitDescr(nullptr); }, 1},
  };
  for (size_t i = 0; i < sizeof cases / sizeof *cases; ++i) {
    const int before = diagCount();
    cases[i].first();
    EXPECT_EQ(cases[i].second, diagCount() - before) << i;
  }
}

TEST_F(Particulars, RecordBlocksAreStoredRawAndImpossibleCountsStoreNothing) {
  std::vector<uint32_t> two(3 * 4), three(2 * 24);
  for (size_t i = 0; i < three.size(); ++i) three[i] = 0xA0B0C0D0u + uint32_t(i), two[i % 12] = uint32_t(i);
  uint32_t buf[25] = {1};
  void* fresh = nullptr;
  ASSERT_EQ(0, VelFile::file_Create(vpath("fresh.bin").c_str(), &fresh));
  EXPECT_EQ(0u, gspec2d_WriteDataInfo(fresh, 1, buf));  // no section yet
  VelFile::file_Close(fresh);
  void* g = writeGroup();
  const uint64_t end = VelFile::file_Allocate(g, 0);
  for (int32_t count : {-1, 0x08000000, 0x10000000}) EXPECT_EQ(0u, gspec2d_WriteDataInfo(g, count, buf));
  EXPECT_EQ(0u, gspec3d_WriteDataInfo(g, 0x7FFFFFFF, buf));
  EXPECT_EQ(end, VelFile::file_Allocate(g, 0));  // nothing reserved
  const uint32_t at2 = gspec2d_WriteDataInfo(g, 3, two.data());
  const uint32_t at3 = gspec3d_WriteDataInfo(file_, 2, three.data());  // the file's section
  ASSERT_NE(0u, at2);
  EXPECT_EQ(at2 + 48, at3);
  EXPECT_EQ(at3 + 192, VelFile::file_Allocate(g, 0));

  void* r = reopenGroup();
  const Bytes file = readFile(path("module.bin"));  // the writer's byte order, unswapped
  ASSERT_GE(file.size(), at3 + 192u);
  EXPECT_EQ(0, std::memcmp(&file[at2], two.data(), 48));
  EXPECT_EQ(0, std::memcmp(&file[at3], three.data(), 192));
  std::vector<uint32_t> back2(two.size() + 1, 7u), back3(three.size() + 1, 7u);
  EXPECT_EQ(0, gspec2d_ReadDataInfo(r, static_cast<int32_t>(at2), 3, back2.data()));
  EXPECT_EQ(0, gspec3d_ReadDataInfo(r, static_cast<int32_t>(at3), 2, back3.data()));
  EXPECT_EQ(0, std::memcmp(back2.data(), two.data(), 48));
  EXPECT_EQ(0, std::memcmp(back3.data(), three.data(), 192));
  EXPECT_EQ(7u, back2.back());  // nothing past the records
  EXPECT_EQ(7u, back3.back());
  EXPECT_EQ(2, gspec3d_ReadDataInfo(r, int32_t(at3), -1, buf));
  EXPECT_EQ(2, gspec2d_ReadDataInfo(r, int32_t(at2), 0x10000000, buf));
  EXPECT_EQ(2, gspec3d_ReadDataInfo(file_, int32_t(at3), 1, buf));  // a file handle
  EXPECT_EQ(2, gspec3d_ReadDataInfo(r, 0x7FFFFF00, 1, buf));        // past the end
}
