// Read-only streams over a host's Source, read ahead in blocks that are
// kept: walking a file's metadata touches a few places (headers at the
// start of sections, directories and names at their end), each a block
// fetched once; a range of data costs the blocks that hold it, the missing
// ones of a read fetched by one request (a read of 4 blocks or more, its
// own bytes, straight into the caller's buffer).
#include "source_stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace velfile {
namespace {

thread_local bool t_inside = false;
thread_local bool t_serving = false;
thread_local std::string t_lastError;

// Marks this thread as inside a source's callback for its duration.
struct Inside {
  Inside() { t_inside = true; }
  ~Inside() { t_inside = false; }
};

// The cache keeps at most this many bytes of blocks (and at least 4 blocks).
const size_t kCacheBytes = 16 << 20;

class SourceStream : public Stream {
 public:
  SourceStream(std::shared_ptr<Source> source, size_t block, uint64_t size)
      : source_(std::move(source)),
        block_(block),
        size_(size),
        capacity_(std::max<size_t>(4, kCacheBytes / block)) {}

  bool seek(uint32_t position) override {
    pos_ = position;
    return true;
  }

  bool read(void* buffer, size_t n) override {
    if (n == 0) return true;
    if (pos_ > size_ || n > size_ - pos_) return false;
    // A large read (of data) goes straight into the buffer, in one request,
    // and is not kept.
    if (n >= 4 * block_) {
      if (!ask(pos_, buffer, n)) return false;
      pos_ += n;
      return true;
    }
    const uint64_t first = pos_ / block_, last = (pos_ + n - 1) / block_;
    // The missing blocks, each run of them fetched by one request.
    for (uint64_t b = first; b <= last;) {
      if (blocks_.count(b)) {
        ++b;
        continue;
      }
      uint64_t end = b;
      while (end + 1 <= last && !blocks_.count(end + 1)) ++end;
      if (!fetch(b, end)) return false;
      b = end + 1;
    }
    unsigned char* out = static_cast<unsigned char*>(buffer);
    for (uint64_t b = first, at = pos_; b <= last; ++b) {
      Block& k = blocks_[b];
      k.used = ++clock_;
      const size_t from = static_cast<size_t>(at - b * block_);
      const size_t take = std::min<size_t>(k.bytes.size() - from, pos_ + n - at);
      std::memcpy(out + (at - pos_), k.bytes.data() + from, take);
      at += take;
    }
    pos_ += n;
    evict();
    return true;
  }

  bool write(const void*, size_t) override { return false; }  // opened for reading only

  bool size(uint64_t* size) override {
    *size = size_;
    return true;
  }

  bool close() override {
    blocks_.clear();
    return true;
  }

 private:
  struct Block {
    std::vector<unsigned char> bytes;
    uint64_t used = 0;
  };

  // One request to the source, its failure kept for the error message.
  bool ask(uint64_t offset, void* buffer, size_t n) {
    std::string error;
    Inside inside;
    if (source_->read(offset, buffer, n, &error)) return true;
    t_lastError = error;
    return false;
  }

  // Blocks first to last in one request.
  bool fetch(uint64_t first, uint64_t last) {
    const uint64_t start = first * block_;
    const uint64_t end = std::min(size_, (last + 1) * block_);
    std::vector<unsigned char> bytes;
    try {
      bytes.resize(static_cast<size_t>(end - start));
    } catch (const std::bad_alloc&) {
      return false;
    }
    if (!ask(start, bytes.data(), bytes.size())) return false;
    for (uint64_t b = first; b <= last; ++b) {
      const size_t from = static_cast<size_t>((b - first) * block_);
      const size_t to = std::min(bytes.size(), from + block_);
      blocks_[b].bytes.assign(bytes.begin() + from, bytes.begin() + to);
    }
    return true;
  }

  // Drops the least recently used blocks beyond the capacity.
  void evict() {
    while (blocks_.size() > capacity_) {
      auto oldest = blocks_.begin();
      for (auto it = blocks_.begin(); it != blocks_.end(); ++it)
        if (it->second.used < oldest->second.used) oldest = it;
      blocks_.erase(oldest);
    }
  }

  std::shared_ptr<Source> source_;
  const size_t block_;
  const uint64_t size_;
  const size_t capacity_;
  uint64_t pos_ = 0;
  uint64_t clock_ = 0;
  std::map<uint64_t, Block> blocks_;
};

struct Registered {
  std::shared_ptr<Source> source;
  size_t block;
};

std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}
std::map<std::string, Registered>& registry() {
  static std::map<std::string, Registered> r;
  return r;
}

bool lookUp(const std::string& name, Registered* out) {
  std::lock_guard<std::mutex> lock(registryMutex());
  auto it = registry().find(name);
  if (it == registry().end()) return false;
  *out = it->second;
  return true;
}

bool sizeOf(Source& source, uint64_t* size) {
  std::string error;
  Inside inside;
  if (source.size(size, &error)) return true;
  t_lastError = error;
  return false;
}

}  // namespace

std::string registerSource(std::shared_ptr<Source> source, size_t block) {
  static uint64_t counter = 0;
  std::lock_guard<std::mutex> lock(registryMutex());
  t_lastError.clear();
  // No file system path starts so: a name of the library's own.
  std::string name = "\x01source:" + std::to_string(++counter);
  registry()[name] = Registered{std::move(source), block ? block : kDefaultSourceBlock};
  return name;
}

void unregisterSource(const std::string& name) {
  std::lock_guard<std::mutex> lock(registryMutex());
  registry().erase(name);
}

std::unique_ptr<Stream> openSource(const std::string& name, OpenMode mode, int* error, bool* routed) {
  Registered r;
  *routed = lookUp(name, &r);
  if (!*routed) return nullptr;
  uint64_t size = 0;
  if (mode != OpenMode::Read) {
    *error = EROFS;
    return nullptr;
  }
  if (!sizeOf(*r.source, &size)) {
    *error = EIO;
    return nullptr;
  }
  return std::unique_ptr<Stream>(new SourceStream(r.source, r.block, size));
}

bool sourceSize(const std::string& name, uint64_t* size, bool* routed) {
  Registered r;
  *routed = lookUp(name, &r);
  return *routed && sizeOf(*r.source, size);
}

bool insideSourceRead() {
  return t_inside || t_serving;
}

void serveSourcesOnThisThread() {
  t_serving = true;
}

const std::string& lastSourceError() {
  return t_lastError;
}

void clearSourceError() {
  t_lastError.clear();
}

}  // namespace velfile
