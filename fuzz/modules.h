// Every group module behind one interface, for the fuzzers, the seed
// generator and the tests: allocate, free, assign, read (the gate with its
// reset), write (prev may be null; the structure modules take none; the data
// module with its data reference stored as it is) and, where the descriptor
// has one, operator==.
#ifndef VELFILE_FUZZ_MODULES_H
#define VELFILE_FUZZ_MODULES_H

#include <velfile/modules.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace vfz {

// operator== gives -1 when operator!= does not say the opposite.
struct Module {
  const char* name;
  std::function<void*()> make;
  std::function<void(void*)> release;
  std::function<void(void* to, void* from)> assign;
  std::function<int(void* g, void* d)> read;
  std::function<int(void* g, void* prev, void* cur)> write;
  std::function<int(void* a, void* b)> equal;
  using Ptr = std::unique_ptr<void, std::function<void(void*)>>;
  Ptr fresh() const { return Ptr(make(), release); }
  Ptr copy(void* d) const {
    Ptr p = fresh();
    assign(p.get(), d);
    return p;
  }
};

// A descriptor with a group handle and operator==.
template <class D, class = void>
struct Comparable : std::false_type {};
template <class D>
struct Comparable<D, std::void_t<decltype(std::declval<D&>().groupHandle),
                                 decltype(std::declval<D&>() == std::declval<D&>())>> : std::true_type {};

template <class D, class Alloc, class Read, class Write, class Del>
Module makeModule(const char* name, Alloc alloc, Read read, Write write, Del del) {
  Module m;
  m.name = name;
  m.make = [alloc] { return static_cast<void*>(alloc(1, nullptr)); };
  m.release = [del](void* p) {
    D* d = static_cast<D*>(p);
    if constexpr (std::is_invocable_v<Del, D*, int>) {
      del(d, 1);
    } else {
      del(d);
    }
  };
  m.assign = [](void* to, void* from) { *static_cast<D*>(to) = *static_cast<D*>(from); };
  m.read = [read](void* g, void* d) {
    if constexpr (std::is_invocable_v<Read, void*, D*>) {
      return read(g, static_cast<D*>(d));
    } else {
      return read(g, static_cast<D*>(d), false);
    }
  };
  m.write = [write](void* g, void* prev, void* cur) {
    if constexpr (std::is_invocable_v<Write, void*, D*, D*, int>) {
      return write(g, static_cast<D*>(prev), static_cast<D*>(cur), 1);
    } else if constexpr (std::is_invocable_v<Write, void*, D*, D*>) {
      return write(g, static_cast<D*>(prev), static_cast<D*>(cur));
    } else {
      return write(g, static_cast<D*>(cur));
    }
  };
  // Compared as if read from one group: the handles are set aside.
  if constexpr (Comparable<D>::value) {
    m.equal = [](void* a, void* b) {
      D &x = *static_cast<D*>(a), &y = *static_cast<D*>(b);
      void *hx = x.groupHandle, *hy = y.groupHandle;
      x.groupHandle = y.groupHandle = nullptr;
      const int same = x == y;
      const bool consistent = (x != y) == !same;
      x.groupHandle = hx;
      y.groupHandle = hy;
      return consistent ? same : -1;
    };
  }
  return m;
}

#define VT_MODULE(prefix, D)                                                                        \
  ::vfz::makeModule<D>(#prefix, prefix##_Allocate, prefix##_ReadGroupInfo, prefix##_WriteGroupInfo, \
                       prefix##_Delete)

// In the order the interchange corpus was first written in: the probe
// first, the data group last, the others as the library lists them.
inline const std::vector<Module>& modules() {
  static const std::vector<Module> all = [] {
#define VFZ_MODULE(prefix, key, D) VT_MODULE(prefix, D),
    std::vector<Module> v = {VELFILE_LAYER_MODULES(VFZ_MODULE)};
#undef VFZ_MODULE
    auto at = [&v](const char* name) {
      return std::find_if(v.begin(), v.end(),
                          [name](const Module& m) { return std::string(m.name) == name; });
    };
    std::rotate(at("gdata"), at("gdata") + 1, v.end());
    std::rotate(v.begin(), at("gprobe"), at("gprobe") + 1);
    return v;
  }();
  return all;
}

// The bulk data of a data group read back whole, within bounds the fuzzers
// can afford.
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

// Every module's reader on a group, twice into one descriptor (the second
// read meets the fields the first one filled), and the bulk data read whole.
inline void readWithEveryModule(void* group) {
  for (const Module& m : modules()) {
    auto d = m.fresh();
    m.read(group, d.get());
    m.read(group, d.get());
  }
  readBulkData(group);
}

}  // namespace vfz

#endif
