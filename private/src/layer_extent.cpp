// The C++ layer: where an item's value or a data block lies in its file.
#include <velfile/extent.hpp>

#include "layer.h"

namespace velfile {

namespace {

Extent checked(const Group& g, const GroupFacts& f, uint64_t offset, uint64_t bytes, const char* op, int item,
               const char* what) {
  const Where where{g.file_state().get(), Access::node(g).get(), item};
  if (f.section.written)
    fail(Reason::Unsupported, op, where,
         std::string("has ") + what + " whose bytes are not final until the file is closed");
  if (offset > f.section.size || bytes > f.section.size - offset)
    fail(Reason::OutsideSection, op, where,
         std::string("has ") + what + " of " + std::to_string(bytes) + " bytes at offset " +
             std::to_string(offset) + " that runs past the end of its section (" +
             std::to_string(f.section.size) + " bytes)");
  return Extent{f.section.start + offset, bytes, !f.section.swap};
}

}  // namespace

Extent extent_of(const Group& group, const Item& item) {
  const char* op = "extent_of";
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(group, op);
  if (!item.out_of_line() || item.type() == VelFile::kTypeGroup)
    fail(Reason::Invalid, op, Where{group.file_state().get(), Access::node(group).get(), item.id()},
         "is kept in its directory entry (or is a group reference): it has no extent of its own");
  return checked(group, f, item.value_field(), uint64_t(VelFile::file_SizeOf(item.type())) * item.count(), op,
                 item.id(), "a value");
}

Extent extent_of(const DataGroup& data) {
  const char* op = "extent_of";
  const CGDataTypeFDD& d = data.descriptor();
  Lock lock(library_mutex());
  const GroupFacts f = groupFacts(data.group(), op);
  if (d.dataClass == 1 || d.dataClass == 10)
    fail(Reason::Unsupported, op,
         Where{data.group().file_state().get(), Access::node(data.group()).get(), -1},
         "keeps each point's data in a record of its own (data class " + std::to_string(d.dataClass) +
             "), not in one block");
  const uint64_t points = uint64_t(uint32_t(d.firstPointCount)) * uint32_t(d.secondPointCount);
  const uint64_t entry = uint32_t(d.pointEntrySize);
  // A product past 64 bits is taken as the largest size, which no section holds.
  const uint64_t bytes = entry && points > UINT64_MAX / entry ? UINT64_MAX : points * entry;
  return checked(data.group(), f, uint32_t(d.dataReference), bytes, op, -1, "a data block");
}

}  // namespace velfile
