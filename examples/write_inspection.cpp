// An example host: writes a complete inspection file (setup, specimen, weld
// and acquisition data), reopens it, reads every group back into fresh
// descriptors and checks that it got what it wrote.
//
//   write_inspection [FILE]      (default: inspection.A01)
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
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace VelFile;
using Text = std::u16string;

namespace {

int g_failures = 0;

void expect(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "MISMATCH: %s\n", what);
    ++g_failures;
  }
}

void must(int rc, const char* what) {
  if (rc != kOk) {
    std::fprintf(stderr, "%s failed with result %d\n", what, rc);
    std::exit(2);
  }
}

Text widen(const std::string& s) {
  return Text(s.begin(), s.end());
}

template <size_t N>
void setText(VelChar (&field)[N], const Text& text) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.c_str(), std::min(text.size(), N - 1) * sizeof(VelChar));
}

// A new group below parent, named as given.
void* newGroup(void* parent, uint16_t id, const Text& name) {
  void* g = nullptr;
  must(file_GroupCreate(parent, &g, id, name.c_str()), "file_GroupCreate");
  return g;
}

// The sub-group of parent with the given name (first match).
void* findGroup(void* parent, const Text& name) {
  const uint32_t n = file_ItemNbrGet(parent);
  for (uint32_t i = 0; i < n; ++i) {
    uint16_t type = 0;
    uint32_t key = 0;
    VelChar buf[64] = {};
    if (file_ItemInfo(parent, i, nullptr, &type, nullptr, &key, buf, 64) != kOk || type != kTypeGroup)
      continue;
    if (name == buf) {
      void* g = nullptr;
      must(file_GroupOpen(parent, &g, key), "file_GroupOpen");
      return g;
    }
  }
  std::fprintf(stderr, "group not found: %s\n", std::string(name.begin(), name.end()).c_str());
  std::exit(2);
}

// Compares a written and a read descriptor with the class's operator==,
// once the fields that say where the copy came from agree.
template <class D>
bool sameAs(D written, const D& read) {
  written.groupHandle = read.groupHandle;
  written.swapFlag = read.swapFlag;
  return written == read;
}

// Acquisition data: a 2-D scan of sample records (data class 1) and a block.
struct Scan {
  uint32_t first = 120, second = 160, samples = 256;  // 19,200 records of 512 bytes: 9.4 MiB
  std::vector<int16_t> records;
  std::vector<uint64_t> points;  // per point: a record's address, or a marker below 3
  Scan() {
    const uint32_t n = first * second;
    records.resize(size_t(n) * samples);
    points.resize(n);
    for (uint32_t i = 0; i < n; ++i) {
      for (uint32_t s = 0; s < samples; ++s)
        records[size_t(i) * samples + s] = static_cast<int16_t>((i * 7 + s * 13) % 4096 - 2048);
      // Every 97th point has no data (marker 0).
      points[i] = i % 97 == 0 ? 0 : reinterpret_cast<uintptr_t>(&records[size_t(i) * samples]);
    }
  }
};

void setupScan(CGDataTypeFDD& d, const Scan& scan) {
  d.dataClass = 1;
  d.firstPointCount = static_cast<int32_t>(scan.first);
  d.secondPointCount = static_cast<int32_t>(scan.second);
  d.firstAxisFactor = 0.5f;
  d.secondAxisFactor = 0.5f;
  d.pointEntrySize = 4;
  d.SetDataType(zor_eDataTypeInt16);
  d.sampleSize = 2;
  d.SetSampleQty(scan.samples);
  d.sampleAxisFactor = 0.01f;
  d.firstAngle = 45.0f;
  d.dataReference = reinterpret_cast<uintptr_t>(scan.points.data());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string pathText = argc > 1 ? argv[1] : "inspection.A01";
  const Text path = widen(pathText);
  std::remove(pathText.c_str());

  // ---- write ----
  void* file = nullptr;
  must(file_Create(path.c_str(), &file), "file_Create");
  void* root = nullptr;
  must(file_GroupCreate(file, &root, 0, u"Inspection"), "file_GroupCreate");

  // A descriptor's name field names its group when it is written.
  CGInfoTypeDescr info;
  setText(info.groupName, u"Information");
  info.item1 = 2026;
  info.item15687 = new VelChar[9]{u'O', u'p', u'e', u'r', u'a', u't', u'o', u'r', 0};
  must(ginfo_WriteGroupInfo(newGroup(root, 1, u"Information"), nullptr, &info), "ginfo");

  CGProbeTypeDescr probe;
  setText(probe.groupName, u"Probe");
  probe.item1 = 5;
  probe.item3 = 5.0f;
  probe.item4 = 10.0f;
  must(gprobe_WriteGroupInfo(newGroup(root, 2, u"Probe"), nullptr, &probe), "gprobe");

  // A channel: its settings, sub-channels, gates and DAC curve side by side.
  void* chanGroup = newGroup(root, 3, u"Channel 1");
  CGChanTypeDescr chan;
  setText(chan.groupName, u"Settings");
  setText(chan.item3, u"Shear wave 45");
  chan.item1 = 1;
  chan.item7 = 42.5f;
  chan.item22 = 0x7F;
  must(gchan_WriteGroupInfo(newGroup(chanGroup, 1, u"Settings"), nullptr, &chan), "gchan");
  CGSubchanTypeDescr sub[2];
  for (int i = 0; i < 2; ++i) {
    setText(sub[i].groupName, widen("Subchannel " + std::to_string(i + 1)));
    sub[i].item1 = i;
    sub[i].item3 = 1.5f * static_cast<float>(i + 1);
    must(gsubchan_WriteGroupInfo(newGroup(chanGroup, static_cast<uint16_t>(10 + i), sub[i].groupName),
                                 nullptr, &sub[i]),
         "gsubchan");
  }
  CGGateTypeDescr gate[2];
  for (int i = 0; i < 2; ++i) {
    setText(gate[i].groupName, i ? u"Gate B" : u"Gate A");
    gate[i].item6 = 10.0f + 20.0f * static_cast<float>(i);
    gate[i].item7 = 15.0f;
    gate[i].SetOriginalPosition(i + 1);
    must(ggate_WriteGroupInfo(newGroup(chanGroup, static_cast<uint16_t>(20 + i), gate[i].groupName), nullptr,
                              &gate[i]),
         "ggate");
  }
  CGDacTypeDescr dac;
  dac.pointCount = 16;
  for (int i = 0; i < 16; ++i) {
    dac.points[i].firstValue = 2.0f * static_cast<float>(i);
    dac.points[i].secondValue = 100.0f - 3.0f * static_cast<float>(i);
  }
  must(gdac_WriteGroupInfo(newGroup(chanGroup, 30, u"DAC"), nullptr, &dac), "gdac");

  CGPatchTypeDescr patch;
  setText(patch.groupName, u"Patch");
  patch.item1 = 3;
  must(gpatch_WriteGroupInfo(newGroup(root, 4, u"Patch"), nullptr, &patch), "gpatch");
  CGRefadjTypeDescr refadj;
  setText(refadj.groupName, u"Reference");
  setText(refadj.text, u"Side-drilled hole 2 mm");
  refadj.item4 = 80.0f;
  must(grefadj_WriteGroupInfo(newGroup(root, 5, u"Reference"), nullptr, &refadj), "grefadj");

  // Specimen.
  void* specGroup = newGroup(root, 6, u"Specimen");
  CGSpecmatTypeDescr mat;
  setText(mat.groupName, u"Material");
  must(gspecmat_WriteGroupInfo(newGroup(specGroup, 1, u"Material"), nullptr, &mat), "gspecmat");
  CGSpecdimTypeDescr dim;
  setText(dim.groupName, u"Dimensions");
  dim.item2 = 250.0f;
  must(gspecdim_WriteGroupInfo(newGroup(specGroup, 2, u"Dimensions"), nullptr, &dim), "gspecdim");
  CGSpecdefTypeDescr def;
  setText(def.groupName, u"Definition");
  def.item1 = 1;
  def.item2 = 12.7f;
  must(gspecdef_WriteGroupInfo(newGroup(specGroup, 3, u"Definition"), nullptr, &def), "gspecdef");
  CGSpecinfTypeDescr inf;
  setText(inf.groupName, u"Information");
  setText(inf.item1, u"Pipe section 12 in");
  setText(inf.item2, u"Girth weld, heat 4711");
  must(gspecinf_WriteGroupInfo(newGroup(specGroup, 4, u"Information"), nullptr, &inf), "gspecinf");
  gspecsim_typeDescr* sim = gspecsim_Allocate(1, u"Simulation");
  sim->item1 = 1;
  must(gspecsim_WriteGroupInfo(newGroup(specGroup, 5, u"Simulation"), sim), "gspecsim");

  // 2-D and 3-D specimens with their record blocks; the host keeps where
  // each block lies in two items of its own (ids 100 and 101).
  std::vector<uint32_t> records2d(4 * 500), records3d(24 * 200);
  for (size_t i = 0; i < records2d.size(); ++i) records2d[i] = static_cast<uint32_t>(i * 2654435761u);
  for (size_t i = 0; i < records3d.size(); ++i) records3d[i] = static_cast<uint32_t>(i * 40503u);
  gspec2d_typeDescr* s2d = gspec2d_Allocate(1, u"Profile 2-D");
  void* g2d = newGroup(specGroup, 6, u"Profile 2-D");
  must(gspec2d_WriteGroupInfo(g2d, s2d), "gspec2d");
  const uint32_t block2d[2] = {gspec2d_WriteDataInfo(g2d, 500, records2d.data()), 500};
  must(file_ItemValueWrite(g2d, 100, kTypeUInt32, 2, reinterpret_cast<const char*>(block2d)),
       "2-D block item");
  gspec3d_typeDescr* s3d = gspec3d_Allocate(1, u"Model 3-D");
  void* g3d = newGroup(specGroup, 7, u"Model 3-D");
  must(gspec3d_WriteGroupInfo(g3d, s3d), "gspec3d");
  const uint32_t block3d[2] = {gspec3d_WriteDataInfo(g3d, 200, records3d.data()), 200};
  must(file_ItemValueWrite(g3d, 100, kTypeUInt32, 2, reinterpret_cast<const char*>(block3d)),
       "3-D block item");
  CGContourTypeDescr contour;
  setText(contour.groupName, u"Contour");
  contour.item1 = 4;
  must(gcontour_WriteGroupInfo(newGroup(specGroup, 8, u"Contour"), nullptr, &contour), "gcontour");
  CGMeshTypeDescr* mesh = gmesh_Allocate(0, u"Mesh");
  mesh->item2 = 64;
  must(gmesh_WriteGroupInfo(newGroup(specGroup, 9, u"Mesh"), nullptr, mesh), "gmesh");

  // Weld.
  void* weldGroup = newGroup(root, 7, u"Weld");
  CGWeldTypeDescr* weld = gweld_Allocate(0, u"Weld");
  weld->item1 = 2;
  weld->item5 = 30.0f;
  setText(weld->item21, u"V groove");
  must(gweld_WriteGroupInfo(newGroup(weldGroup, 1, u"Weld"), nullptr, weld), "gweld");
  CGWeldScanPlanDescr plan;
  setText(plan.groupName, u"Scan plan");
  plan.item2 = 65535;
  plan.item5 = 1.25;
  must(gweldsp_WriteGroupInfo(newGroup(weldGroup, 2, u"Scan plan"), nullptr, &plan), "gweldsp");
  CGWeldFillDescr fill;
  setText(fill.groupName, u"Fill");
  fill.item1 = 3;
  fill.item3 = 0.75;
  must(gweldFill_WriteGroupInfo(newGroup(weldGroup, 3, u"Fill"), nullptr, &fill), "gweldFill");

  // Acquisition data: a scan of sample records and a block of peaks.
  Scan scan;
  CGDataTypeFDD* data = gdata_Allocate(0, u"Scan A");
  setupScan(*data, scan);
  void* dataGroup = newGroup(root, 8, u"Scan A");
  int rc = gdata_WriteGroupInfo(dataGroup, nullptr, data, 0);
  must(rc, "gdata scan");
  std::vector<uint32_t> peaks(256 * 256);
  for (size_t i = 0; i < peaks.size(); ++i) peaks[i] = static_cast<uint32_t>(i * i);
  CGDataTypeFDD* block = gdata_Allocate(0, u"Peaks");
  block->dataClass = 2;
  block->firstPointCount = 256;
  block->secondPointCount = 256;
  block->pointEntrySize = 4;
  block->SetDataType(zor_eDataTypeUInt32);
  block->dataReference = reinterpret_cast<uintptr_t>(peaks.data());
  must(gdata_WriteGroupInfo(newGroup(root, 9, u"Peaks"), nullptr, block, 0), "gdata block");
  must(file_Close(file), "file_Close");

  // ---- read back ----
  must(file_Open(path.c_str(), &file), "file_Open");
  must(file_GroupOpen(file, &root, 0), "open section");
  int groups = 0;
  auto count = [&](int rcRead, const char* what) {
    must(rcRead, what);
    ++groups;
  };
  CGInfoTypeDescr info2;
  count(ginfo_ReadGroupInfo(findGroup(root, u"Information"), &info2), "ginfo read");
  expect(info2.item1 == 2026 && Text(info2.item15687) == u"Operator", "information group");
  CGProbeTypeDescr probe2;
  count(gprobe_ReadGroupInfo(findGroup(root, u"Probe"), &probe2), "gprobe read");
  expect(sameAs(probe, probe2), "probe");
  void* chan2Group = findGroup(root, u"Channel 1");
  CGChanTypeDescr chan2;
  count(gchan_ReadGroupInfo(findGroup(chan2Group, u"Settings"), &chan2), "gchan read");
  expect(sameAs(chan, chan2), "channel");
  for (int i = 0; i < 2; ++i) {
    CGSubchanTypeDescr s;
    count(gsubchan_ReadGroupInfo(findGroup(chan2Group, sub[i].groupName), &s), "gsubchan read");
    expect(sameAs(sub[i], s), "sub-channel");
    CGGateTypeDescr g;
    count(ggate_ReadGroupInfo(findGroup(chan2Group, gate[i].groupName), &g, false), "ggate read");
    expect(sameAs(gate[i], g), "gate");
  }
  CGDacTypeDescr dac2;
  count(gdac_ReadGroupInfo(findGroup(chan2Group, u"DAC"), &dac2), "gdac read");
  setText(dac.groupName, u"DAC");  // the DAC writer leaves the group's name as created
  expect(sameAs(dac, dac2), "DAC curve");
  CGPatchTypeDescr patch2;
  count(gpatch_ReadGroupInfo(findGroup(root, u"Patch"), &patch2), "gpatch read");
  expect(sameAs(patch, patch2), "patch");
  CGRefadjTypeDescr refadj2;
  count(grefadj_ReadGroupInfo(findGroup(root, u"Reference"), &refadj2), "grefadj read");
  expect(Text(refadj2.text) == refadj.text && refadj2.item4 == 80.0f, "reference adjustment");

  void* spec2 = findGroup(root, u"Specimen");
  CGSpecmatTypeDescr mat2;
  count(gspecmat_ReadGroupInfo(findGroup(spec2, u"Material"), &mat2), "gspecmat read");
  expect(sameAs(mat, mat2), "material");
  CGSpecdimTypeDescr dim2;
  count(gspecdim_ReadGroupInfo(findGroup(spec2, u"Dimensions"), &dim2), "gspecdim read");
  expect(dim2.item2 == 250.0f, "dimensions");
  CGSpecdefTypeDescr def2;
  count(gspecdef_ReadGroupInfo(findGroup(spec2, u"Definition"), &def2), "gspecdef read");
  expect(def2.item1 == 1 && def2.item2 == 12.7f, "definition");
  CGSpecinfTypeDescr inf2;
  count(gspecinf_ReadGroupInfo(findGroup(spec2, u"Information"), &inf2), "gspecinf read");
  expect(Text(inf2.item2) == inf.item2, "specimen texts");
  gspecsim_typeDescr* sim2 = gspecsim_Allocate(0, u"");
  count(gspecsim_ReadGroupInfo(findGroup(spec2, u"Simulation"), sim2), "gspecsim read");
  expect(sim2->item1 == 1 && sim2->layoutVersion == 2, "simulation");
  for (int dims = 2; dims <= 3; ++dims) {
    void* g = findGroup(spec2, dims == 2 ? u"Profile 2-D" : u"Model 3-D");
    const std::vector<uint32_t>& written = dims == 2 ? records2d : records3d;
    std::vector<uint32_t> back(written.size());
    uint32_t where[2] = {};
    const uint32_t n = file_ItemNbrGet(g);
    must(file_IndexBlockRead(g, n - 1, kTypeUInt32, reinterpret_cast<char*>(where)), "block item");
    if (dims == 2) {
      gspec2d_typeDescr s = *s2d;
      count(gspec2d_ReadGroupInfo(g, &s), "gspec2d read");
      must(gspec2d_ReadDataInfo(g, static_cast<int32_t>(where[0]), static_cast<int32_t>(where[1]),
                                back.data()),
           "2-D records");
    } else {
      gspec3d_typeDescr s = *s3d;
      count(gspec3d_ReadGroupInfo(g, &s), "gspec3d read");
      must(gspec3d_ReadDataInfo(g, static_cast<int32_t>(where[0]), static_cast<int32_t>(where[1]),
                                back.data()),
           "3-D records");
    }
    expect(back == written, "specimen record block");
  }
  CGContourTypeDescr contour2;
  count(gcontour_ReadGroupInfo(findGroup(spec2, u"Contour"), &contour2), "gcontour read");
  expect(contour2.item1 == 4, "contour");
  CGMeshTypeDescr* mesh2 = gmesh_Allocate(0, u"");
  count(gmesh_ReadGroupInfo(findGroup(spec2, u"Mesh"), mesh2), "gmesh read");
  expect(mesh2->item2 == 64, "mesh");

  void* weld2Group = findGroup(root, u"Weld");
  CGWeldTypeDescr* weld2 = gweld_Allocate(0, u"");
  count(gweld_ReadGroupInfo(findGroup(weld2Group, u"Weld"), weld2), "gweld read");
  expect(weld2->item1 == 2 && weld2->item5 == 30.0f && Text(weld2->item21) == u"V groove", "weld");
  CGWeldScanPlanDescr plan2;
  count(gweldsp_ReadGroupInfo(findGroup(weld2Group, u"Scan plan"), &plan2), "gweldsp read");
  expect(plan2.item2 == 65535 && plan2.item5 == 1.25, "weld scan plan");
  CGWeldFillDescr fill2;
  count(gweldFill_ReadGroupInfo(findGroup(weld2Group, u"Fill"), &fill2), "gweldFill read");
  expect(fill2.item1 == 3 && fill2.item3 == 0.75, "weld fill");

  // The scan: the point table leads to each point's samples.
  void* scanGroup = findGroup(root, u"Scan A");
  CGDataTypeFDD* data2 = gdata_Allocate(0, u"");
  count(gdata_ReadGroupInfo(scanGroup, data2), "gdata read");
  const uint32_t n = scan.first * scan.second;
  expect(data2->GetSampleQty() == scan.samples && data2->GetDataType() == zor_eDataTypeInt16 &&
             data2->sampleSize == 2 && static_cast<uint32_t>(data2->firstPointCount) == scan.first,
         "scan descriptor");
  std::vector<uint32_t> table(n);
  must(file_Read(scanGroup, static_cast<uint32_t>(data2->dataReference), n, kTypeUInt32,
                 reinterpret_cast<char*>(table.data()), nullptr),
       "point table");
  std::vector<int16_t> samples(scan.samples);
  size_t withData = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (scan.points[i] < 3) {
      expect(table[i] == scan.points[i], "marker entry");
      continue;
    }
    must(file_Read(scanGroup, table[i], scan.samples, kTypeInt16, reinterpret_cast<char*>(samples.data()),
                   nullptr),
         "samples");
    if (std::memcmp(samples.data(), &scan.records[size_t(i) * scan.samples], scan.samples * 2) != 0) {
      expect(false, "sample record");
      break;
    }
    ++withData;
  }
  void* peaksGroup = findGroup(root, u"Peaks");
  CGDataTypeFDD* block2 = gdata_Allocate(0, u"");
  count(gdata_ReadGroupInfo(peaksGroup, block2), "gdata block read");
  std::vector<uint32_t> peaks2(peaks.size());
  must(
      file_Read(peaksGroup, static_cast<uint32_t>(block2->dataReference), static_cast<uint32_t>(peaks.size()),
                kTypeUInt32, reinterpret_cast<char*>(peaks2.data()), nullptr),
      "peaks");
  expect(peaks2 == peaks, "peak block");
  must(file_Close(file), "file_Close");

  std::printf("wrote and read back %s: %d groups, %u scan points (%zu with %u samples each), %zu peaks\n",
              pathText.c_str(), groups, n, withData, scan.samples, peaks.size());
  ginfo_Delete(&info, 0);
  gspecsim_Delete(sim, 1);
  gspecsim_Delete(sim2, 1);
  gspec2d_Delete(s2d, 1);
  gspec3d_Delete(s3d, 1);
  gmesh_Delete(mesh, 1);
  gmesh_Delete(mesh2, 1);
  gweld_Delete(weld, 1);
  gweld_Delete(weld2, 1);
  gdata_Delete(data);
  gdata_Delete(data2);
  gdata_Delete(block);
  gdata_Delete(block2);
  if (g_failures) {
    std::printf("%d mismatches\n", g_failures);
    return 1;
  }
  std::printf("every group read back as written\n");
  return 0;
}
