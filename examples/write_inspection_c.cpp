// An example host on the exported operations and the group modules: writes
// the inspection file of inspection.h, reopens it and reads the probe and
// the scan back. write_inspection.cpp writes the same file on the C++ layer.
//
//   write_inspection_c [FILE]      (default: inspection_c.A01)
#include <velfile/velfile.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "inspection.h"

using namespace VelFile;

namespace {

void must(int rc, const char* what) {
  if (rc != kOk) {
    std::fprintf(stderr, "%s failed with result %d\n", what, rc);
    std::exit(2);
  }
}

// A new group below parent, recorded under item id id.
void* newGroup(void* parent, uint16_t id, const VelChar* name) {
  void* g = nullptr;
  must(file_GroupCreate(parent, &g, id, name), "file_GroupCreate");
  return g;
}

// The first sub-group of parent recorded under item id id.
void* openGroup(void* parent, uint16_t id) {
  for (uint32_t i = 0, n = file_ItemNbrGet(parent); i < n; ++i) {
    uint16_t itemId = 0, type = 0;
    uint32_t key = 0;
    if (file_ItemInfo(parent, i, &itemId, &type, nullptr, &key, nullptr, 0) == kOk && type == kTypeGroup &&
        itemId == id) {
      void* g = nullptr;
      must(file_GroupOpen(parent, &g, key), "file_GroupOpen");
      return g;
    }
  }
  std::fprintf(stderr, "no group #%u\n", id);
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string pathText = argc > 1 ? argv[1] : "inspection_c.A01";
  const std::basic_string<VelChar> path(pathText.begin(), pathText.end());
  Inspection in;

  void* file = nullptr;
  must(file_Create(path.c_str(), &file), "file_Create");
  void* root = newGroup(file, 0, VELFILE_TEXT("Inspection"));
  must(ginfo_WriteGroupInfo(newGroup(root, 1, VELFILE_TEXT("Information")), nullptr, &in.info), "ginfo");
  must(gprobe_WriteGroupInfo(newGroup(root, 2, VELFILE_TEXT("Probe")), nullptr, &in.probe), "gprobe");
  void* chan = newGroup(root, 3, VELFILE_TEXT("Channel 1"));
  must(gchan_WriteGroupInfo(newGroup(chan, 1, VELFILE_TEXT("Settings")), nullptr, &in.chan), "gchan");
  for (uint16_t i = 0; i < 2; ++i) {
    must(gsubchan_WriteGroupInfo(newGroup(chan, 10 + i, in.sub[i].groupName), nullptr, &in.sub[i]),
         "gsubchan");
    must(ggate_WriteGroupInfo(newGroup(chan, 20 + i, in.gate[i].groupName), nullptr, &in.gate[i]), "ggate");
  }
  must(gdac_WriteGroupInfo(newGroup(chan, 30, VELFILE_TEXT("DAC")), nullptr, &in.dac), "gdac");
  must(gpatch_WriteGroupInfo(newGroup(root, 4, VELFILE_TEXT("Patch")), nullptr, &in.patch), "gpatch");
  must(grefadj_WriteGroupInfo(newGroup(root, 5, VELFILE_TEXT("Reference")), nullptr, &in.refadj), "grefadj");

  void* specimen = newGroup(root, 6, VELFILE_TEXT("Specimen"));
  must(gspecmat_WriteGroupInfo(newGroup(specimen, 1, VELFILE_TEXT("Material")), nullptr, &in.mat),
       "gspecmat");
  must(gspecdim_WriteGroupInfo(newGroup(specimen, 2, VELFILE_TEXT("Dimensions")), nullptr, &in.dim),
       "gspecdim");
  must(gspecdef_WriteGroupInfo(newGroup(specimen, 3, VELFILE_TEXT("Definition")), nullptr, &in.def),
       "gspecdef");
  must(gspecinf_WriteGroupInfo(newGroup(specimen, 4, VELFILE_TEXT("Information")), nullptr, &in.inf),
       "gspecinf");
  must(gspecsim_WriteGroupInfo(newGroup(specimen, 5, VELFILE_TEXT("Simulation")), in.sim), "gspecsim");
  must(gspec2d_WriteGroupInfo(newGroup(specimen, 6, VELFILE_TEXT("Profile 2-D")), in.s2d), "gspec2d");
  must(gspec3d_WriteGroupInfo(newGroup(specimen, 7, VELFILE_TEXT("Model 3-D")), in.s3d), "gspec3d");
  must(gcontour_WriteGroupInfo(newGroup(specimen, 8, VELFILE_TEXT("Contour")), nullptr, &in.contour),
       "gcontour");
  must(gmesh_WriteGroupInfo(newGroup(specimen, 9, VELFILE_TEXT("Mesh")), nullptr, in.mesh), "gmesh");

  void* weld = newGroup(root, 7, VELFILE_TEXT("Weld"));
  must(gweld_WriteGroupInfo(newGroup(weld, 1, VELFILE_TEXT("Weld")), nullptr, in.weld), "gweld");
  must(gweldsp_WriteGroupInfo(newGroup(weld, 2, VELFILE_TEXT("Scan plan")), nullptr, &in.plan), "gweldsp");
  must(gweldFill_WriteGroupInfo(newGroup(weld, 3, VELFILE_TEXT("Fill")), nullptr, &in.fill), "gweldFill");

  // Data class 1 takes a table with, per point, the address of its samples
  // or a marker below 3 for a point without data.
  const uint32_t record = in.scan->GetSampleQty();
  std::vector<uint64_t> points(in.markers.size());
  for (size_t i = 0; i < points.size(); ++i)
    points[i] = in.markers[i] < gdata_kPointHasData ? in.markers[i]
                                                    : reinterpret_cast<uintptr_t>(&in.samples[i * record]);
  in.scan->dataReference = reinterpret_cast<uintptr_t>(points.data());
  must(gdata_WriteGroupInfo(newGroup(root, 8, VELFILE_TEXT("Scan A")), nullptr, in.scan, 0), "gdata scan");
  in.block->dataReference = reinterpret_cast<uintptr_t>(in.peaks.data());
  must(gdata_WriteGroupInfo(newGroup(root, 9, VELFILE_TEXT("Peaks")), nullptr, in.block, 0), "gdata block");
  must(file_Close(file), "file_Close");

  // Read back: the probe, and the scan's samples and markers in one call.
  must(file_Open(path.c_str(), &file), "file_Open");
  must(file_GroupOpen(file, &root, 0), "file_GroupOpen");
  CGProbeTypeDescr probe;
  must(gprobe_ReadGroupInfo(openGroup(root, 2), &probe), "gprobe read");
  CGDataTypeFDD* scan = gdata_Allocate(0, VELFILE_TEXT(""));
  must(gdata_ReadGroupInfo(openGroup(root, 8), scan), "gdata read");
  std::vector<int16_t> samples(in.samples.size());
  std::vector<uint8_t> markers(in.markers.size());
  must(gdata_ReadDataClassData(scan, 0, 160, 0, 120, 0, record, samples.data(), samples.size() * 2,
                               markers.data(), nullptr, nullptr),
       "gdata_ReadDataClassData");
  must(file_Close(file), "file_Close");
  gdata_Delete(scan);
  for (size_t i = 0; i < markers.size(); ++i)
    if (markers[i] != gdata_kPointHasData)
      std::fill_n(in.samples.begin() + static_cast<std::ptrdiff_t>(i * record), record, int16_t(0));
  if (!sameAs(in.probe, probe) || markers != in.markers || samples != in.samples) {
    std::fprintf(stderr, "%s: read back differs from what was written\n", pathText.c_str());
    return 1;
  }
  std::printf("wrote and read back %s\n", pathText.c_str());
  return 0;
}
