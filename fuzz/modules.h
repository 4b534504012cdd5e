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
