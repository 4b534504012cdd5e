// What the 2-D and 3-D specimen modules share: their records carry the same
// fields up to item 12, with the same defaults, and every item is written
// every time.
#ifndef VELFILE_GSPECITEMS_H
#define VELFILE_GSPECITEMS_H

#include <array>
#include <limits>

#include "groupmodule.h"

namespace velfile {

// Item 9999, items 1 to 12, then the module's own items.
template <class D, class... Extra>
constexpr std::array<ItemRule<D>, 13 + sizeof...(Extra)> specimenItems(Extra... extra) {
  using namespace VelFile;
  return {{
      version<D>(1),
      always<&D::item1>("item1", 1, kTypeUInt32),
      always<&D::item2>("item2", 2, kTypeUInt32),
      always<&D::item3>("item3", 3, kTypeUInt32),
      always<&D::item4>("item4", 4, kTypeUInt32, 1),
      always<&D::item5>("item5", 5, kTypeFloat, std::numeric_limits<float>::lowest()),
      always<&D::item6>("item6", 6, kTypeFloat, std::numeric_limits<float>::max()),
      always<&D::item7>("item7", 7, kTypeInt32),
      always<&D::item8>("item8", 8, kTypeInt32),
      always<&D::item9>("item9", 9, kTypeUInt32),
      always<&D::item10>("item10", 10, kTypeUInt32),
      always<&D::item11>("item11", 11, kTypeUtf16),
      always<&D::item12>("item12", 12, kTypeUtf16),
      extra...,
  }};
}

}  // namespace velfile

#endif
