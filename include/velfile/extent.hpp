/// @file extent.hpp
/// Where the bytes of a value lie in its file, for hosts that map them into
/// memory instead of reading them (an addition to the C++ layer of
/// velfile.hpp).
#ifndef VELFILE_EXTENT_HPP
#define VELFILE_EXTENT_HPP

#include <velfile/velfile.hpp>

namespace velfile {

/// A run of bytes of a file, checked to lie inside its section.
struct Extent {
  uint64_t offset = 0;  ///< absolute offset of the first byte in the file
  uint64_t bytes = 0;   ///< number of bytes
  bool host_order =
      true;  ///< whether the section is in the host's byte order, so the bytes are usable as stored
};

/// The extent of an item's elements (count x element size bytes). Refused:
/// a group reference or a value kept in the directory entry (Reason::Invalid),
/// a value running past its section (Reason::OutsideSection), an item of a
/// section written in this opening (Reason::Unsupported: its bytes are not
/// final before the file is closed).
VELFILE_API Extent extent_of(const Group& group, const Item& item);

/// The extent of the block of a data group of a block class (first x second
/// point count x point entry size bytes, in the layout read() gives). Refused:
/// classes 1 and 10, whose points lie in separate records
/// (Reason::Unsupported), a block running past its section
/// (Reason::OutsideSection), and a section written in this opening.
VELFILE_API Extent extent_of(const DataGroup& data);

}  // namespace velfile

#endif
