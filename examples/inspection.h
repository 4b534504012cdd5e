// The content both example hosts write: every setup, specimen and weld
// group, a scan of sample records and a block of peaks. write_inspection_c
// writes it through the exported operations, write_inspection through the
// C++ layer; the two files are the same byte for byte.
#ifndef VELFILE_EXAMPLES_INSPECTION_H
#define VELFILE_EXAMPLES_INSPECTION_H

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

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

template <size_t N>
void setText(VelChar (&field)[N], const std::basic_string<VelChar>& text) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.c_str(), std::min(text.size(), N - 1) * sizeof(VelChar));
}

// A flaw of the plate: a disc of radius points around (second, first), its
// echo depth samples after the front wall's.
struct Flaw {
  int second, first, radius, depth, amplitude;
};
constexpr Flaw kFlaws[] = {
    {40, 30, 6, 60, 9000}, {100, 80, 10, 120, 12000}, {130, 25, 4, 40, 6000}, {60, 95, 8, 150, 8000}};
// The front wall's echo lies at kFrontWall + second / 16 (the plate tilts
// under the probe), the back wall's kThickness samples after it.
constexpr int kFrontWall = 30;
constexpr int kThickness = 180;
// An echo: a few cycles of RF whose peak |sample| is tap kPulsePeak (x100).
constexpr int kPulse[] = {2, -6, 14, -30, 55, -80, 100, -75, 45, -25, 12, -5, 2};
constexpr int kPulsePeak = 6;

// The scan of an immersion inspection of a plate: the front wall, the back
// wall, and the flaws of kFlaws, each of which shadows the back wall behind
// it, over noise of up to +-150. Integer arithmetic only, so that every host
// writes the same samples.
inline void writePlate(std::vector<int16_t>& samples, std::vector<uint8_t>& markers) {
  const int seconds = 160, firsts = 120, n = 256;
  samples.assign(size_t(seconds) * firsts * n, 0);
  markers.resize(size_t(seconds) * firsts);
  uint32_t random = 29;
  for (int s = 0; s < seconds; ++s) {
    for (int f = 0; f < firsts; ++f) {
      const size_t i = size_t(s) * firsts + f;
      int16_t* a = &samples[i * n];
      std::vector<int> sum(n);
      for (int k = 0; k < n; ++k) {
        random = random * 1664525u + 1013904223u;
        sum[k] = int(random >> 16) % 301 - 150;
      }
      const auto echo = [&](int at, int amplitude) {
        for (int t = 0; t < int(sizeof kPulse / sizeof *kPulse); ++t)
          if (at - kPulsePeak + t >= 0 && at - kPulsePeak + t < n)
            sum[at - kPulsePeak + t] += kPulse[t] * amplitude / 100;
      };
      const int front = kFrontWall + s / 16;
      int back = 14000;
      echo(front, 20000);
      for (const Flaw& flaw : kFlaws) {
        const int ds = s - flaw.second, df = f - flaw.first;
        if (ds * ds + df * df <= flaw.radius * flaw.radius) {
          echo(front + flaw.depth, flaw.amplitude);
          back = 3000;
        }
      }
      echo(front + kThickness, back);
      for (int k = 0; k < n; ++k) a[k] = static_cast<int16_t>(std::max(-32768, std::min(32767, sum[k])));
      markers[i] = i % 97 == 0 ? 0 : gdata_kPointHasData;
    }
  }
}

// A descriptor's name field names its group when it is written.
struct Inspection {
  CGInfoTypeDescr info;
  CGProbeTypeDescr probe;
  CGChanTypeDescr chan;
  CGSubchanTypeDescr sub[2];
  CGGateTypeDescr gate[2];
  CGDacTypeDescr dac;
  CGPatchTypeDescr patch;
  CGRefadjTypeDescr refadj;
  CGSpecmatTypeDescr mat;
  CGSpecdimTypeDescr dim;
  CGSpecdefTypeDescr def;
  CGSpecinfTypeDescr inf;
  gspecsim_typeDescr* sim = gspecsim_Allocate(1, VELFILE_TEXT("Simulation"));
  gspec2d_typeDescr* s2d = gspec2d_Allocate(1, VELFILE_TEXT("Profile 2-D"));
  gspec3d_typeDescr* s3d = gspec3d_Allocate(1, VELFILE_TEXT("Model 3-D"));
  CGContourTypeDescr contour;
  CGMeshTypeDescr* mesh = gmesh_Allocate(0, VELFILE_TEXT("Mesh"));
  CGWeldTypeDescr* weld = gweld_Allocate(0, VELFILE_TEXT("Weld"));
  CGWeldScanPlanDescr plan;
  CGWeldFillDescr fill;
  // A scan of 160 x 120 points of 256 int16 samples (9.4 MiB), dense, of a
  // plate (see writePlate); every 97th point has no data (marker 0, else
  // gdata_kPointHasData).
  CGDataTypeFDD* scan = gdata_Allocate(0, VELFILE_TEXT("Scan A"));
  std::vector<int16_t> samples;
  std::vector<uint8_t> markers;
  // A block (data class 2) of 256 x 256 peaks.
  CGDataTypeFDD* block = gdata_Allocate(0, VELFILE_TEXT("Peaks"));
  std::vector<uint32_t> peaks = std::vector<uint32_t>(256 * 256);

  Inspection() {
    setText(info.groupName, VELFILE_TEXT("Information"));
    info.item1 = 2026;
    info.item15687 = new VelChar[9]{VELFILE_TEXT('O'), VELFILE_TEXT('p'), VELFILE_TEXT('e'),
                                    VELFILE_TEXT('r'), VELFILE_TEXT('a'), VELFILE_TEXT('t'),
                                    VELFILE_TEXT('o'), VELFILE_TEXT('r'), 0};
    setText(probe.groupName, VELFILE_TEXT("Probe"));
    probe.item1 = 5;
    probe.item3 = 5.0f;
    probe.item4 = 10.0f;
    setText(chan.groupName, VELFILE_TEXT("Settings"));
    setText(chan.item3, VELFILE_TEXT("Shear wave 45"));
    chan.item1 = 1;
    chan.item7 = 42.5f;
    chan.item22 = 0x7F;
    for (int i = 0; i < 2; ++i) {
      setText(sub[i].groupName, i ? VELFILE_TEXT("Subchannel 2") : VELFILE_TEXT("Subchannel 1"));
      sub[i].item1 = i;
      sub[i].item3 = 1.5f * static_cast<float>(i + 1);
      setText(gate[i].groupName, i ? VELFILE_TEXT("Gate B") : VELFILE_TEXT("Gate A"));
      gate[i].item6 = 10.0f + 20.0f * static_cast<float>(i);
      gate[i].item7 = 15.0f;
      gate[i].SetOriginalPosition(i + 1);
    }
    setText(dac.groupName, VELFILE_TEXT("DAC"));  // the DAC writer leaves the group's name as created
    dac.pointCount = 16;
    for (int i = 0; i < 16; ++i) {
      dac.points[i].firstValue = 2.0f * static_cast<float>(i);
      dac.points[i].secondValue = 100.0f - 3.0f * static_cast<float>(i);
    }
    setText(patch.groupName, VELFILE_TEXT("Patch"));
    patch.item1 = 3;
    setText(refadj.groupName, VELFILE_TEXT("Reference"));
    setText(refadj.text, VELFILE_TEXT("Side-drilled hole 2 mm"));
    refadj.item4 = 80.0f;
    setText(mat.groupName, VELFILE_TEXT("Material"));
    setText(dim.groupName, VELFILE_TEXT("Dimensions"));
    dim.item2 = 250.0f;
    setText(def.groupName, VELFILE_TEXT("Definition"));
    def.item1 = 1;
    def.item2 = 12.7f;
    setText(inf.groupName, VELFILE_TEXT("Information"));
    setText(inf.item1, VELFILE_TEXT("Pipe section 12 in"));
    setText(inf.item2, VELFILE_TEXT("Girth weld, heat 4711"));
    sim->item1 = 1;
    setText(contour.groupName, VELFILE_TEXT("Contour"));
    contour.item1 = 4;
    mesh->item2 = 64;
    weld->item1 = 2;
    weld->item5 = 30.0f;
    setText(weld->item21, VELFILE_TEXT("V groove"));
    setText(plan.groupName, VELFILE_TEXT("Scan plan"));
    plan.item2 = 65535;
    plan.item5 = 1.25;
    setText(fill.groupName, VELFILE_TEXT("Fill"));
    fill.item1 = 3;
    fill.item3 = 0.75;

    scan->dataClass = 1;
    scan->firstPointCount = 120;
    scan->secondPointCount = 160;
    scan->firstAxisFactor = scan->secondAxisFactor = 0.5f;
    scan->pointEntrySize = 4;
    scan->SetDataType(zor_eDataTypeInt16);
    scan->sampleSize = 2;
    scan->SetSampleQty(256);
    scan->sampleAxisFactor = 0.01f;
    scan->firstAngle = 45.0f;
    writePlate(samples, markers);
    block->dataClass = 2;
    block->firstPointCount = block->secondPointCount = 256;
    block->pointEntrySize = 4;
    block->SetDataType(zor_eDataTypeUInt32);
    for (size_t i = 0; i < peaks.size(); ++i) peaks[i] = static_cast<uint32_t>(i * i);
  }
  ~Inspection() {
    ginfo_Delete(&info, 0);
    gspecsim_Delete(sim, 1);
    gspec2d_Delete(s2d, 1);
    gspec3d_Delete(s3d, 1);
    gmesh_Delete(mesh, 1);
    gweld_Delete(weld, 1);
    gdata_Delete(scan);
    gdata_Delete(block);
  }
  Inspection(const Inspection&) = delete;
  Inspection& operator=(const Inspection&) = delete;
};

// Whether a descriptor read back equals the one written, once the fields
// that say where the copy came from agree.
template <class D>
bool sameAs(D written, const D& read) {
  written.groupHandle = read.groupHandle;
  written.swapFlag = read.swapFlag;
  return written == read;
}

#endif
