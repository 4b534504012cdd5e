// The group modules that the fuzzers, the seed generator and the regression
// test drive. Each module registers itself with one VELFILE_FUZZ_MODULE(prefix)
// line, taken in only when its header and its source are both in the tree, so
// modules still being written are skipped until they land.
#ifndef VELFILE_FUZZ_MODULES_H
#define VELFILE_FUZZ_MODULES_H

#include <velfile/veltypes.h>

#include <type_traits>
#include <utility>
#include <vector>

namespace vfz {

using ModuleOp = void (*)(void* group);

// A module as the fuzzers see it: a reader run on every group reached and a
// writer that fills a fresh group with a default descriptor (seed files).
struct ModuleEntry {
  const char* name;
  ModuleOp read;
  ModuleOp write;
};

inline std::vector<ModuleEntry>& modules() {
  static std::vector<ModuleEntry> all;
  return all;
}

inline bool addModule(const char* name, ModuleOp read, ModuleOp write) {
  modules().push_back({name, read, write});
  return true;
}

// Reads a group twice into one fresh descriptor (the second read meets the
// fields the first one filled), then frees it. Adapts to the departures of
// a few modules: a third bool argument to ReadGroupInfo, a Delete without flag.
template <class Alloc, class Read, class Del>
void readDescriptor(void* group, Alloc alloc, Read read, Del del) {
  using D = std::remove_pointer_t<std::invoke_result_t<Alloc, int, const VelChar*>>;
  const VelChar name[] = {u'f', 0};
  D* d = alloc(1, name);
  if (!d) return;
  for (int pass = 0; pass < 2; ++pass) {
    if constexpr (std::is_invocable_v<Read, void*, D*>) {
      read(group, d);
    } else {
      read(group, d, pass == 1);
    }
  }
  if constexpr (std::is_invocable_v<Del, D*, int>) {
    del(d, 1);
  } else {
    del(d);
  }
}

// Writes a default descriptor (the name given to Allocate) into a group, the
// way a host saves a record it has just allocated.
template <class Alloc, class Write, class Del>
void writeDescriptor(void* group, Alloc alloc, Write write, Del del) {
  using D = std::remove_pointer_t<std::invoke_result_t<Alloc, int, const VelChar*>>;
  const VelChar name[] = {u'S', u'e', u'e', u'd', 0};
  D* d = alloc(1, name);
  if (!d) return;
  if constexpr (std::is_invocable_v<Write, void*, D*, D*, int>) {
    write(group, nullptr, d, 0);
  } else if constexpr (std::is_invocable_v<Write, void*, D*, D*>) {
    write(group, nullptr, d);
  } else {
    write(group, d);
  }
  if constexpr (std::is_invocable_v<Del, D*, int>) {
    del(d, 1);
  } else {
    del(d);
  }
}

}  // namespace vfz

#define VELFILE_FUZZ_MODULE(prefix)                                                                          \
  inline const bool velfile_fuzz_##prefix = ::vfz::addModule(                                                \
      #prefix,                                                                                               \
      [](void* g) { ::vfz::readDescriptor(g, prefix##_Allocate, prefix##_ReadGroupInfo, prefix##_Delete); }, \
      [](void* g) {                                                                                          \
        ::vfz::writeDescriptor(g, prefix##_Allocate, prefix##_WriteGroupInfo, prefix##_Delete);              \
      });

// Each module: its guard (header and source present) and its one line.
#if __has_include(<velfile/ginfo.h>) && __has_include("../private/src/ginfo.cpp")
#include <velfile/ginfo.h>
VELFILE_FUZZ_MODULE(ginfo)
#endif
#if __has_include(<velfile/gdata.h>) && __has_include("../private/src/gdata.cpp")
#include <velfile/gdata.h>
VELFILE_FUZZ_MODULE(gdata)
#endif
#if __has_include(<velfile/gdata.h>) && __has_include("../private/src/gdata_read.cpp")
namespace vfz {
// The bulk data of a data group read back whole, within bounds the fuzzers
// can afford; the seed is a class 1 group of 2 x 2 points, one without data.
inline void readBulkData(void* group) {
  CGDataTypeFDD d;
  uint64_t need = 0;
  const uint32_t all = UINT32_MAX;
  if (gdata_ReadGroupInfo(group, &d) != 0 ||
      gdata_ReadDataClassData(&d, 0, all, 0, all, 0, all, nullptr, 0, nullptr, nullptr, &need) != 0)
    return;
  const uint64_t points = uint64_t(uint32_t(d.firstPointCount)) * uint32_t(d.secondPointCount);
  if (need > (1u << 24) || points > (1u << 24)) return;
  std::vector<char> buffer(need + 1);
  std::vector<uint8_t> markers(points);
  std::vector<uint64_t> starts(points + 1);
  gdata_ReadDataClassData(&d, 0, all, 0, all, 0, all, buffer.data(), need, markers.data(), starts.data(),
                          &need);
}
inline void writeBulkData(void* group) {
  static const int16_t records[2][2] = {{1, -2}, {3, -4}};
  const uint64_t points[4] = {reinterpret_cast<uintptr_t>(records[0]), 2,
                              reinterpret_cast<uintptr_t>(records[1]), 0};
  CGDataTypeFDD d;
  d.dataClass = 1;
  d.firstPointCount = d.secondPointCount = 2;
  d.SetSampleQty(2);
  d.SetDataType(zor_eDataTypeInt16);
  d.sampleSize = 2;
  d.pointEntrySize = 4;
  d.dataReference = reinterpret_cast<uintptr_t>(points);
  gdata_WriteGroupInfo(group, nullptr, &d, 0);
}
inline const bool velfile_fuzz_gdata_bulk = addModule("gdatabulk", &readBulkData, &writeBulkData);
}  // namespace vfz
#endif
#if __has_include(<velfile/gprobe.h>) && __has_include("../private/src/gprobe.cpp")
#include <velfile/gprobe.h>
VELFILE_FUZZ_MODULE(gprobe)
#endif
#if __has_include(<velfile/gchan.h>) && __has_include("../private/src/gchan.cpp")
#include <velfile/gchan.h>
VELFILE_FUZZ_MODULE(gchan)
#endif
#if __has_include(<velfile/gsubchan.h>) && __has_include("../private/src/gsubchan.cpp")
#include <velfile/gsubchan.h>
VELFILE_FUZZ_MODULE(gsubchan)
#endif
#if __has_include(<velfile/ggate.h>) && __has_include("../private/src/ggate.cpp")
#include <velfile/ggate.h>
VELFILE_FUZZ_MODULE(ggate)
#endif
#if __has_include(<velfile/gdac.h>) && __has_include("../private/src/gdac.cpp")
#include <velfile/gdac.h>
VELFILE_FUZZ_MODULE(gdac)
#endif
#if __has_include(<velfile/gpatch.h>) && __has_include("../private/src/gpatch.cpp")
#include <velfile/gpatch.h>
VELFILE_FUZZ_MODULE(gpatch)
#endif
#if __has_include(<velfile/grefadj.h>) && __has_include("../private/src/grefadj.cpp")
#include <velfile/grefadj.h>
VELFILE_FUZZ_MODULE(grefadj)
#endif
#if __has_include(<velfile/gspecmat.h>) && __has_include("../private/src/gspecmat.cpp")
#include <velfile/gspecmat.h>
VELFILE_FUZZ_MODULE(gspecmat)
#endif
#if __has_include(<velfile/gspecdim.h>) && __has_include("../private/src/gspecdim.cpp")
#include <velfile/gspecdim.h>
VELFILE_FUZZ_MODULE(gspecdim)
#endif
#if __has_include(<velfile/gspecdef.h>) && __has_include("../private/src/gspecdef.cpp")
#include <velfile/gspecdef.h>
VELFILE_FUZZ_MODULE(gspecdef)
#endif
#if __has_include(<velfile/gspecinf.h>) && __has_include("../private/src/gspecinf.cpp")
#include <velfile/gspecinf.h>
VELFILE_FUZZ_MODULE(gspecinf)
#endif
#if __has_include(<velfile/gspecsim.h>) && __has_include("../private/src/gspecsim.cpp")
#include <velfile/gspecsim.h>
VELFILE_FUZZ_MODULE(gspecsim)
#endif
#if __has_include(<velfile/gspec2d.h>) && __has_include("../private/src/gspec2d.cpp")
#include <velfile/gspec2d.h>
VELFILE_FUZZ_MODULE(gspec2d)
#endif
#if __has_include(<velfile/gspec3d.h>) && __has_include("../private/src/gspec3d.cpp")
#include <velfile/gspec3d.h>
VELFILE_FUZZ_MODULE(gspec3d)
#endif
#if __has_include(<velfile/gcontour.h>) && __has_include("../private/src/gcontour.cpp")
#include <velfile/gcontour.h>
VELFILE_FUZZ_MODULE(gcontour)
#endif
#if __has_include(<velfile/gmesh.h>) && __has_include("../private/src/gmesh.cpp")
#include <velfile/gmesh.h>
VELFILE_FUZZ_MODULE(gmesh)
#endif
#if __has_include(<velfile/gweld.h>) && __has_include("../private/src/gweld.cpp")
#include <velfile/gweld.h>
VELFILE_FUZZ_MODULE(gweld)
#endif
#if __has_include(<velfile/gweldscanplan.h>) && __has_include("../private/src/gweldscanplan.cpp")
#include <velfile/gweldscanplan.h>
VELFILE_FUZZ_MODULE(gweldsp)
#endif
#if __has_include(<velfile/gweldfill.h>) && __has_include("../private/src/gweldfill.cpp")
#include <velfile/gweldfill.h>
VELFILE_FUZZ_MODULE(gweldFill)
#endif

#endif
