// The POSIX platform layer: file descriptors with positioned I/O, share modes
// emulated with open-file-description locks, a small write-behind buffer that
// turns runs of appends into one system call.
//
// A write held back in the buffer can fail only later, when the buffer goes
// out. Such a failure is kept until close() reports it; in between only a
// read of the very bytes that were lost fails because of it.
#if !defined(_WIN32)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>

#include "platform.h"

namespace velfile {
namespace {

// Share modes are expressed as read locks on bytes far past any data: every
// opener with write access holds kWriterByte, every opener that denies
// writing holds kDenyWriteByte, and every opener at all holds kOpenerByte,
// which a create looks for. A new opener looks for the lock that would
// refuse it before taking its own.
const off_t kWriterByte = 0x7FFFFFFF00LL;
const off_t kDenyWriteByte = kWriterByte + 1;
const off_t kOpenerByte = kWriterByte + 2;

bool lockHeldByOthers(int fd, off_t byte) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  if (fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
  return fl.l_type != F_UNLCK;
}

bool takeReadLock(int fd, off_t byte) {
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_RDLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = byte;
  fl.l_len = 1;
  return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

ssize_t writeAll(int fd, const unsigned char* p, size_t n, off_t pos) {
  size_t done = 0;
  while (done < n) {
    ssize_t w = pwrite(fd, p + done, n - done, pos + static_cast<off_t>(done));
    if (w < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (w == 0) return -1;
    done += static_cast<size_t>(w);
  }
  return static_cast<ssize_t>(done);
}

class PosixStream : public Stream {
 public:
  PosixStream(int fd, uint64_t size, bool writable) : fd_(fd), end_(size), writable_(writable) {}
  ~PosixStream() override { close(); }

  bool seek(uint32_t position) override {
    if (position > static_cast<uint32_t>(INT32_MAX)) return false;
    pos_ = position;
    return true;
  }

  bool read(void* buffer, size_t n) override {
    flush();
    if (pos_ < lostEnd_ && lostBegin_ < pos_ + n) return false;
    unsigned char* p = static_cast<unsigned char*>(buffer);
    // Small reads (names, directories of small groups, 8-byte values) come
    // from read-ahead windows: walking a file costs few system calls. A walk
    // reads in a few places by turns (directories at a section's end, the
    // names and values they point to before them), so several windows are
    // kept and the least recently used one is refilled.
    if (n <= kSmallRead) {
      Window* w = windowFor(pos_, n);
      if (!w) {
        w = &windows_[0];
        for (Window& c : windows_)
          if (c.used < w->used) w = &c;
        if (!w->bytes) w->bytes.reset(new unsigned char[kCacheSize]);
        w->size = 0;
        ssize_t got = readSome(w->bytes.get(), kCacheSize, pos_);
        if (got < 0) return false;
        w->start = pos_;
        w->size = static_cast<size_t>(got);
        if (n > w->size) return false;  // short read
      }
      w->used = ++clock_;
      std::memcpy(p, w->bytes.get() + (pos_ - w->start), n);
      pos_ += n;
      return true;
    }
    ssize_t got = readSome(p, n, pos_);
    if (got < 0 || static_cast<size_t>(got) != n) return false;
    pos_ += n;
    return true;
  }

  bool write(const void* data, size_t n) override {
    if (!writable_) return false;  // opened for reading: nothing is held back
    for (Window& w : windows_)     // drop what this write makes stale
      if (pos_ < w.start + w.size && w.start < pos_ + n) w.size = 0;
    const unsigned char* p = static_cast<const unsigned char*>(data);
    // Continue the pending run when this write follows it directly, or when
    // it leaves a gap of alignment padding (blocks are 8-aligned) past the
    // end of the file: the gap would read as zeros anyway, so zeros fill it
    // and a run of small blocks still goes out in one system call.
    const uint64_t pendingEnd = pendingStart_ + pending_.size();
    if (!pending_.empty() && pos_ > pendingEnd && pos_ - pendingEnd < 8 && pendingEnd >= end_)
      pending_.resize(pending_.size() + static_cast<size_t>(pos_ - pendingEnd), 0);
    end_ = std::max<uint64_t>(end_, pos_ + n);
    // A failure of earlier, held-back bytes is close()'s to report.
    if (!pending_.empty() && pos_ != pendingStart_ + pending_.size()) flush();
    if (n >= kBufferLimit) {
      flush();
      if (writeAll(fd_, p, n, static_cast<off_t>(pos_)) < 0) return false;
      pos_ += n;
      return true;
    }
    if (pending_.empty()) pendingStart_ = pos_;
    pending_.insert(pending_.end(), p, p + n);
    pos_ += n;
    if (pending_.size() >= kBufferLimit) flush();
    return true;
  }

  bool size(uint64_t* size) override {
    flush();
    struct stat st;
    if (fstat(fd_, &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
  }

  bool close() override {
    if (fd_ < 0) return true;
    bool ok = flush() && lostEnd_ == 0;
    if (::close(fd_) != 0) ok = false;
    fd_ = -1;
    return ok;
  }

 private:
  static const size_t kBufferLimit = 64 * 1024;
  static const size_t kSmallRead = 4096;
  static const size_t kCacheSize = 64 * 1024;
  static const int kWindows = 4;

  struct Window {
    std::unique_ptr<unsigned char[]> bytes;  // kCacheSize, allocated on first use
    uint64_t start = 0;
    size_t size = 0;  // bytes valid from start
    uint64_t used = 0;
  };

  Window* windowFor(uint64_t position, size_t n) {
    for (Window& w : windows_)
      if (position >= w.start && position + n <= w.start + w.size) return &w;
    return nullptr;
  }

  // Reads up to n bytes at position; fewer only at the end of the file.
  ssize_t readSome(unsigned char* p, size_t n, uint64_t position) {
    size_t done = 0;
    while (done < n) {
      ssize_t r = pread(fd_, p + done, n - done, static_cast<off_t>(position + done));
      if (r < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (r == 0) break;
      done += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(done);
  }

  // Writes out the held-back bytes; a failure is remembered with the bytes
  // it lost.
  bool flush() {
    if (pending_.empty()) return true;
    bool ok = writeAll(fd_, pending_.data(), pending_.size(), static_cast<off_t>(pendingStart_)) >= 0;
    if (!ok) {
      const uint64_t end = pendingStart_ + pending_.size();
      lostBegin_ = lostEnd_ == 0 ? pendingStart_ : std::min(lostBegin_, pendingStart_);
      lostEnd_ = std::max(lostEnd_, end);
    }
    pending_.clear();
    return ok;
  }

  int fd_;
  uint64_t pos_ = 0;
  uint64_t end_;  // size of the file with what this stream wrote (pending included)
  bool writable_;
  uint64_t lostBegin_ = 0, lostEnd_ = 0;  // held-back bytes that failed to go out; none when lostEnd_ is 0
  std::vector<unsigned char> pending_;
  uint64_t pendingStart_ = 0;
  Window windows_[kWindows];  // read-ahead
  uint64_t clock_ = 0;
};

class PosixPlatform : public Platform {
 public:
  std::unique_ptr<Stream> open(const std::string& path, OpenMode mode, ShareMode share, int* error) override {
    const bool writes = mode != OpenMode::Read;
    int flags = writes ? O_RDWR : O_RDONLY;
    if (mode == OpenMode::CreateUpdate) flags |= O_CREAT;
    flags |= O_CLOEXEC;
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) {
      *error = errno;
      return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      *error = EISDIR;
      ::close(fd);
      return nullptr;
    }
    // Refused like a sharing violation: someone denies writing and we would
    // write, or someone writes and we deny writing.
    const bool refused = (writes && lockHeldByOthers(fd, kDenyWriteByte)) ||
                         (share == ShareMode::DenyWrite && lockHeldByOthers(fd, kWriterByte)) ||
                         (mode == OpenMode::CreateUpdate && lockHeldByOthers(fd, kOpenerByte));
    const bool locked = !refused && takeReadLock(fd, kOpenerByte) &&
                        (!writes || takeReadLock(fd, kWriterByte)) &&
                        (share != ShareMode::DenyWrite || takeReadLock(fd, kDenyWriteByte));
    if (!locked) {
      *error = EBUSY;
      ::close(fd);
      return nullptr;
    }
    // An empty file is not truncated: on ext4 a truncation to zero marks the
    // file as being replaced, and its close then pushes every byte written
    // to the disk at once (a 512 MiB block made the close take longer than
    // the write).
    if (mode == OpenMode::CreateUpdate && (fstat(fd, &st) != 0 || st.st_size != 0) && ftruncate(fd, 0) != 0) {
      *error = errno;
      ::close(fd);
      return nullptr;
    }
    try {
      const bool emptied = mode == OpenMode::CreateUpdate;
      return std::unique_ptr<Stream>(
          new PosixStream(fd, emptied ? 0 : static_cast<uint64_t>(st.st_size), writes));
    } catch (...) {
      ::close(fd);  // with its share-mode locks
      throw;
    }
  }

  bool fileSize(const std::string& path, uint64_t* size) override {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
  }
};

PosixPlatform g_native;

}  // namespace

Platform& nativePlatform() {
  return g_native;
}

// Narrow text goes through the C library's multibyte functions of the current
// LC_CTYPE, one code point at a time.
bool utf16ToNarrow(const char16_t* text, size_t length, char* out, size_t capacity) {
  std::mbstate_t state;
  std::memset(&state, 0, sizeof state);
  size_t used = 0;
  char buf[MB_LEN_MAX];
  for (size_t i = 0; i < length;) {
    const char32_t cp = nextCodePoint(text, length, &i);
    if (isSurrogate(cp)) return false;
    size_t n = std::wcrtomb(buf, static_cast<wchar_t>(cp), &state);
    if (n == static_cast<size_t>(-1)) return false;
    if (used + n > capacity) return false;
    std::memcpy(out + used, buf, n);
    used += n;
  }
  if (used >= capacity) return false;  // no room for the terminator
  std::memset(out + used, 0, capacity - used);
  return true;
}

size_t narrowToUtf16(const char* bytes, size_t n, char16_t* out) {
  std::mbstate_t state;
  std::memset(&state, 0, sizeof state);
  size_t i = 0, units = 0;
  while (i < n && units < n) {
    wchar_t wc = 0;
    size_t r = std::mbrtowc(&wc, bytes + i, n - i, &state);
    char32_t cp;
    if (r == static_cast<size_t>(-1) || r == static_cast<size_t>(-2)) {
      std::memset(&state, 0, sizeof state);
      cp = 0xFFFD;
      r = 1;
    } else {
      cp = static_cast<char32_t>(wc);
      if (r == 0) r = 1;  // an embedded zero byte
    }
    if (cp >= 0x10000 && cp <= 0x10FFFF && units + 2 <= n) {
      cp -= 0x10000;
      out[units++] = static_cast<char16_t>(0xD800 + (cp >> 10));
      out[units++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out[units++] = cp > 0xFFFF ? char16_t(0xFFFD) : static_cast<char16_t>(cp);
    }
    i += r;
  }
  const size_t produced = units;
  while (units < n) out[units++] = 0;
  return produced;
}

}  // namespace velfile

#endif
