/// @file source.h
/// A file's bytes supplied by the host through callbacks: a file on a web
/// server, in object storage, or behind any stream of the host's own.
#ifndef VELFILE_SOURCE_H
#define VELFILE_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace velfile {

/// The bytes of a file that the library reads through the host: its size
/// and ranges of it. The library reads ahead in blocks and keeps what it
/// read, so a source sees few, block-aligned requests. A source is only
/// read: a File opened on one takes no writes.
///
/// The library calls a source while it holds its library-wide lock, from the
/// thread that made the call into the library; a call into the library from
/// inside a source's callback is refused (Reason::InUse), never waited for.
/// A source should give up on a stalled transfer after a bounded time, as
/// every other file waits while it reads.
class Source {
 public:
  virtual ~Source() = default;
  /// The file's size in bytes.
  /// @param size receives the size
  /// @param error receives why, when it fails
  /// @return whether the size is known
  virtual bool size(uint64_t* size, std::string* error) = 0;
  /// Reads exactly n bytes at an offset.
  /// @param offset where the bytes start
  /// @param buffer receives them
  /// @param n how many, never 0
  /// @param error receives why, when it fails
  /// @return whether all n bytes were read
  virtual bool read(uint64_t offset, void* buffer, size_t n, std::string* error) = 0;
};

}  // namespace velfile

#endif
