// An example host on the C++ layer: writes the inspection file of
// inspection.h, reopens it and reads every group back through the layer.
// write_inspection_c.cpp writes the same file through the exported
// operations.
//
//   write_inspection [FILE]      (default: inspection.A01)
#include <cstdio>
#include <string>
#include <velfile/velfile.hpp>

#include "inspection.h"

namespace {

int g_mismatches = 0;

void expect(bool ok, const std::string& what) {
  if (!ok) {
    std::fprintf(stderr, "MISMATCH: %s\n", what.c_str());
    ++g_mismatches;
  }
}

// Reads the group at path back as a D and compares it with what was written.
template <class D>
void check(const velfile::File& f, const std::string& path, D& written) {
  expect(sameAs(written, f.group(path).read<D>()), path);
}

}  // namespace

int main(int argc, char** argv) try {
  const std::string path = argc > 1 ? argv[1] : "inspection.A01";
  Inspection in;

  velfile::File f = velfile::File::create(path);
  velfile::Group root = f.create_group("Inspection");
  root.create_group("Information", 1).write(in.info);
  root.create_group("Probe", 2).write(in.probe);
  velfile::Group chan = root.create_group("Channel 1", 3);
  chan.create_group("Settings", 1).write(in.chan);
  for (uint16_t i = 0; i < 2; ++i) {
    chan.create_group("Subchannel " + std::to_string(i + 1), 10 + i).write(in.sub[i]);
    chan.create_group(i ? "Gate B" : "Gate A", 20 + i).write(in.gate[i]);
  }
  chan.create_group("DAC", 30).write(in.dac);
  root.create_group("Patch", 4).write(in.patch);
  root.create_group("Reference", 5).write(in.refadj);

  velfile::Group specimen = root.create_group("Specimen", 6);
  specimen.create_group("Material", 1).write(in.mat);
  specimen.create_group("Dimensions", 2).write(in.dim);
  specimen.create_group("Definition", 3).write(in.def);
  specimen.create_group("Information", 4).write(in.inf);
  specimen.create_group("Simulation", 5).write(*in.sim);
  specimen.create_group("Profile 2-D", 6).write(*in.s2d);
  specimen.create_group("Model 3-D", 7).write(*in.s3d);
  specimen.create_group("Contour", 8).write(in.contour);
  specimen.create_group("Mesh", 9).write(*in.mesh);

  velfile::Group weld = root.create_group("Weld", 7);
  weld.create_group("Weld", 1).write(*in.weld);
  weld.create_group("Scan plan", 2).write(in.plan);
  weld.create_group("Fill", 3).write(in.fill);

  // The layer builds the point table: dense samples and a marker per point.
  root.create_group("Scan A", 8).write_data(*in.scan, in.samples, in.markers);
  root.create_group("Peaks", 9).write_data(*in.block, in.peaks);
  f.close();

  f = velfile::File::open(path);
  check(f, "0/Probe", in.probe);
  check(f, "0/Channel 1/Settings", in.chan);
  for (int i = 0; i < 2; ++i) {
    check(f, "0/Channel 1/Subchannel " + std::to_string(i + 1), in.sub[i]);
    check(f, i ? "0/Channel 1/Gate B" : "0/Channel 1/Gate A", in.gate[i]);
  }
  check(f, "0/Channel 1/DAC", in.dac);
  check(f, "0/Patch", in.patch);
  check(f, "0/Specimen/Material", in.mat);
  expect(f.group("0/Information").read<CGInfoTypeDescr>().item1 == 2026, "0/Information");
  expect(f.group("0/Specimen/Definition").read<CGSpecdefTypeDescr>().item2 == 12.7f, "0/Specimen/Definition");
  expect(f.group("0/Weld/Fill").read<CGWeldFillDescr>().item3 == 0.75, "0/Weld/Fill");

  std::vector<uint8_t> markers;
  const std::vector<int16_t> samples = f.group("0/Scan A").data().read<int16_t>(&markers);
  for (size_t i = 0; i < markers.size(); ++i)  // points without data read as zeros
    if (markers[i] != gdata_kPointHasData) std::fill_n(&in.samples[i * 256], 256, int16_t(0));
  expect(markers == in.markers && samples == in.samples, "0/Scan A");
  expect(f.group("0/Peaks").data().read<uint32_t>() == in.peaks, "0/Peaks");
  f.close();

  if (g_mismatches) return 1;
  std::printf("wrote and read back %s through the C++ layer\n", path.c_str());
  return 0;
} catch (const velfile::Error& e) {
  std::fprintf(stderr, "%s\n", e.what());
  return 2;
}
