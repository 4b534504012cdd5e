// A platform layer for tests that wraps the native one, counts every call
// (open, seek, read, write, size, close, file size) and can make a chosen one
// fail, or run a callback before and after each call (a crash test kills the
// process there); and a lister that tells what a file holds, to compare a
// file before and after a fault.
#ifndef VELFILE_TESTS_FAULTPLATFORM_H
#define VELFILE_TESTS_FAULTPLATFORM_H

#include <velfile/velfile.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform.h"

namespace vt {

enum class Call { Open, Seek, Read, Write, Size, Close, FileSize, Any };

inline const char* callName(Call c) {
  static const char* const kNames[] = {"open", "seek", "read", "write", "size", "close", "fileSize", "any"};
  return kNames[static_cast<int>(c)];
}

class FaultPlatform : public velfile::Platform {
 public:
  FaultPlatform() : inner_(velfile::nativePlatform()) {}

  // Makes the k-th call (1-based) of the given kind fail; with sticky set,
  // every call of that kind from the k-th on fails (a disk that went away).
  void failAt(Call kind, uint64_t k, bool sticky = false) {
    failKind_ = kind;
    failAt_ = k;
    sticky_ = sticky;
  }
  bool fired() const { return fired_; }
  Call firedKind() const { return firedKind_; }

  // Called before each call and after it (with its outcome), in order.
  std::function<void(Call kind, uint64_t index)> before;
  std::function<void(Call kind, uint64_t index, bool ok)> after;
  // Called when the armed failure happens.
  std::function<void()> onFire;
  // The tearWriteAt-th write (1-based, 0 for none) is torn: only its first
  // half reaches the file, then onTear runs (a crash test kills there).
  uint64_t tearWriteAt = 0;
  std::function<void()> onTear;

  uint64_t count(Call kind) const { return counts_[static_cast<int>(kind)]; }

  std::unique_ptr<velfile::Stream> open(const std::string& path, velfile::OpenMode mode,
                                        velfile::ShareMode share, int* error) override;
  bool fileSize(const std::string& path, uint64_t* size) override {
    return run(Call::FileSize, [&] { return inner_.fileSize(path, size); });
  }

  // Counts a call, fails it when armed for it, runs the hooks around it.
  template <class F>
  bool run(Call kind, F&& call) {
    const uint64_t n = ++counts_[static_cast<int>(kind)];
    const uint64_t any = ++counts_[static_cast<int>(Call::Any)];
    if (before) before(kind, any);
    bool ok;
    if (shouldFail(kind, failKind_ == Call::Any ? any : n)) {
      ok = false;
      if (!fired_) {
        fired_ = true;
        firedKind_ = kind;
        if (onFire) onFire();
      }
    } else {
      ok = call();
    }
    if (after) after(kind, any, ok);
    return ok;
  }

 private:
  bool shouldFail(Call kind, uint64_t n) const {
    if (failAt_ == 0 || (failKind_ != Call::Any && failKind_ != kind)) return false;
    return sticky_ ? n >= failAt_ : n == failAt_;
  }

  velfile::Platform& inner_;
  uint64_t counts_[8] = {};
  Call failKind_ = Call::Any;
  uint64_t failAt_ = 0;
  bool sticky_ = false;
  bool fired_ = false;
  Call firedKind_ = Call::Any;
};

class FaultStream : public velfile::Stream {
 public:
  FaultStream(FaultPlatform& p, std::unique_ptr<velfile::Stream> inner) : p_(p), inner_(std::move(inner)) {}
  bool seek(uint32_t position) override {
    return p_.run(Call::Seek, [&] { return inner_->seek(position); });
  }
  bool read(void* buffer, size_t n) override {
    return p_.run(Call::Read, [&] { return inner_->read(buffer, n); });
  }
  bool write(const void* data, size_t n) override {
    return p_.run(Call::Write, [&] {
      if (p_.count(Call::Write) != p_.tearWriteAt) return inner_->write(data, n);
      uint64_t size = 0;
      inner_->write(data, n / 2);
      inner_->size(&size);  // pushes out what the stream holds back
      if (p_.onTear) p_.onTear();
      return false;
    });
  }
  bool size(uint64_t* size) override {
    return p_.run(Call::Size, [&] { return inner_->size(size); });
  }
  // A failed close still releases the file, as a real one does.
  bool close() override {
    bool released = false;
    const bool ok = p_.run(Call::Close, [&] {
      released = true;
      return inner_->close();
    });
    if (!released) inner_->close();
    return ok;
  }

 private:
  FaultPlatform& p_;
  std::unique_ptr<velfile::Stream> inner_;
};

inline std::unique_ptr<velfile::Stream> FaultPlatform::open(const std::string& path, velfile::OpenMode mode,
                                                            velfile::ShareMode share, int* error) {
  std::unique_ptr<velfile::Stream> stream;
  bool ran = false;
  const bool ok = run(Call::Open, [&] {
    ran = true;
    stream = inner_.open(path, mode, share, error);
    return stream != nullptr;
  });
  if (!ok) {
    if (!ran) *error = EIO;  // an injected failure: an I/O error, not a refusal
    return nullptr;
  }
  return std::unique_ptr<velfile::Stream>(new FaultStream(*this, std::move(stream)));
}

// Installs a platform for the life of the scope.
class PlatformScope {
 public:
  explicit PlatformScope(velfile::Platform& p) : previous_(velfile::setPlatform(&p)) {}
  ~PlatformScope() { velfile::setPlatform(previous_); }
  PlatformScope(const PlatformScope&) = delete;
  PlatformScope& operator=(const PlatformScope&) = delete;

 private:
  velfile::Platform* previous_;
};

// Lists what a container file holds, read through the API: every section,
// group, item and value as text (long values as a hash). Every call's result
// passes through `step`, so a test can watch which of them failed.
class FileLister {
 public:
  std::function<int(const char* what, int rc)> step = [](const char*, int rc) { return rc; };

  // The first maxSections sections of the file; empty when it cannot be opened.
  std::string list(const std::basic_string<VelChar>& path, uint32_t maxSections = UINT32_MAX) {
    using namespace VelFile;
    std::string out;
    void* f = nullptr;
    if (step("open", file_Open(path.c_str(), &f)) != 0) return out;
    const uint32_t sections = std::min(file_ItemNbrGet(f), maxSections);
    for (uint32_t i = 0; i < sections; ++i) {
      uint32_t key = 0;
      void* g = nullptr;
      if (step("section info", file_ItemInfo(f, i, nullptr, nullptr, nullptr, &key, nullptr, 0)) != 0)
        continue;
      if (step("open section", file_GroupOpen(f, &g, key)) != 0) continue;
      out += "section\n";
      group(g, &out);
    }
    step("close", file_Close(f));
    return out;
  }

  // Bytes in hexadecimal; more than 64 as their FNV-1a hash.
  static std::string hexOf(const void* data, size_t n) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    if (n > 64) {
      uint64_t h = 1469598103934665603ULL;
      for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ULL;
      return "#" + std::to_string(h);
    }
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
      out += kDigits[p[i] >> 4];
      out += kDigits[p[i] & 15];
    }
    return out;
  }

 private:
  void group(void* g, std::string* out) {
    using namespace VelFile;
    VelChar name[64] = {};
    step("name", file_GroupNameGet(g, name, 64));
    *out += hexOf(name, 2 * std::basic_string<VelChar>(name).size()) + "\n";
    const uint32_t n = file_ItemNbrGet(g);
    for (uint32_t i = 0; i < n; ++i) {
      uint16_t id = 0, type = 0;
      uint32_t count = 0, value = 0;
      if (step("item info", file_ItemInfo(g, i, &id, &type, &count, &value, nullptr, 0)) != 0) continue;
      *out += std::to_string(id) + " " + std::to_string(type) + " " + std::to_string(count) + ":";
      if (type == kTypeGroup) {
        void* sub = nullptr;
        if (step("open sub-group", file_GroupOpen(g, &sub, value)) == 0) group(sub, out);
        continue;
      }
      const size_t bytes = static_cast<size_t>(file_SizeOf(type)) * count;
      std::vector<char> buf(std::max<size_t>(bytes, 8) * 2, 0);
      uint32_t got = 0;
      step("value", file_IndexValueRead(g, i, type, buf.data(), &got));
      if (bytes > 4) {
        // Element by element: kept to modest items, the others are read whole below.
        if (count <= 4096) step("block", file_IndexBlockRead(g, i, type, buf.data()));
        int32_t progress = 0;
        step("read", file_Read(g, value, count, type, buf.data(), &progress));
        step("read block", file_ReadBlock(g, value, static_cast<uint32_t>(bytes), buf.data()));
      }
      *out += hexOf(buf.data(), std::max<size_t>(bytes, 4)) + "\n";
    }
  }
};

}  // namespace vt

#endif
