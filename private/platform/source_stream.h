// Streams over a host's Source: the platform's open routes a name that
// registerSource gave to a read-only stream reading through that source.
#ifndef VELFILE_SOURCE_STREAM_H
#define VELFILE_SOURCE_STREAM_H

#include <velfile/source.h>

#include <cstddef>
#include <memory>
#include <string>

#include "platform.h"

namespace velfile {

// The read-ahead block of a source stream when the host names none.
const size_t kDefaultSourceBlock = 256 << 10;

// A name for the source, unique in the process, that opens it until
// unregisterSource(name). block: the bytes each request reads at least
// (0: kDefaultSourceBlock).
std::string registerSource(std::shared_ptr<Source> source, size_t block);
void unregisterSource(const std::string& name);

// The stream of a registered name; null for any other name (*routed false).
// A name registered but opened for writing fails with EROFS.
std::unique_ptr<Stream> openSource(const std::string& name, OpenMode mode, int* error, bool* routed);
// The source of a registered name's size; false for other names.
bool sourceSize(const std::string& name, uint64_t* size, bool* routed);

// Whether this thread is inside a source's callback (the library's lock is
// then held by this thread for the call that led there).
bool insideSourceRead();
// Marks this thread as serving sources' reads for other threads: from now on
// insideSourceRead() is true on it.
void serveSourcesOnThisThread();
// The last failure a source reported on this thread, for error messages.
// Cleared at the start of every call into the layer.
const std::string& lastSourceError();
void clearSourceError();

}  // namespace velfile

#endif
