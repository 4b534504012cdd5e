// Walks a container file through the public API the way a curious host
// would: every section, every group reachable from it (sub-group cycles cut
// by directory offset, depth and group count bounded), every item read with
// file_ItemInfo, file_IndexValueRead, file_IndexBlockRead, file_Read and
// file_ReadBlock under several requested types, and every name.
//
// Shared by the fuzzers and by the regression test of the normal suite, so an
// input that once crashed is replayed through exactly the same calls.
#ifndef VELFILE_FUZZ_WALK_H
#define VELFILE_FUZZ_WALK_H

#include <unistd.h>
#include <velfile/velfile.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace vfz {

using VelString = std::basic_string<VelChar>;

inline VelString widen(const std::string& s) {
  return VelString(s.begin(), s.end());
}

// Writes bytes to path; false when the file cannot be written.
inline bool writeBytes(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

// A file of this process's own for a fuzzer's input (in memory when the
// machine has /dev/shm), named with the given extension; the fuzzers want no
// diagnostics, so asking for one silences them.
inline std::string scratchPath(const char* extension) {
  static const bool quiet = (VelFile::SetDiagnosticHook([](const char*, int) {}), true);
  (void)quiet;
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(dir) + "/velfile-fuzz-" + std::to_string(getpid()) + extension;
}

// A broken promise of the library: stop at once so the fuzzer keeps the input.
#define VFZ_CHECK(cond)                                                             \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

class Walker {
 public:
  // inputSize bounds the buffers: the public readers trust the caller to size
  // them from the item's count, so reads of more than the file can hold are
  // skipped here (the library refuses them with 2 before touching the buffer).
  explicit Walker(uint64_t inputSize) : inputSize_(inputSize) {}

  // Called with every group handle reached (the module readers hook in here).
  std::function<void(void*)> onGroup;

  void walkFile(void* file) {
    const uint32_t sections = VelFile::file_ItemNbrGet(file);
    for (uint32_t i = 0; i < sections && groups_ < kMaxGroups; ++i) {
      uint32_t key = 0, entries = 0;
      VelChar name[8];
      void* g = nullptr;
      if (VelFile::file_ItemInfo(file, i, nullptr, nullptr, &entries, &key, name, 8) != 0 ||
          VelFile::file_GroupOpen(file, &g, key) != 0)
        continue;
      VFZ_CHECK(g != nullptr);
      path_.clear();
      walkGroup(g, 0);
    }
    VFZ_CHECK(VelFile::file_ItemInfo(file, sections, nullptr, nullptr, nullptr, nullptr, nullptr, 0) ==
              VelFile::kErrNoName);
  }

  // Opens path, walks it and closes it; the slot must be free again after.
  void walkPath(const VelString& path) {
    void* file = nullptr;
    if (VelFile::file_Open(path.c_str(), &file) != 0) {
      VFZ_CHECK(file == nullptr);
      return;
    }
    walkFile(file);
    VFZ_CHECK(VelFile::file_Close(file) == 0);
    VFZ_CHECK(VelFile::file_IsHandleLeft());
  }

 private:
  static constexpr unsigned kMaxDepth = 24, kMaxGroups = 256;
  static constexpr uint32_t kMaxItems = 4096;

  void walkGroup(void* g, unsigned depth) {
    ++groups_;
    VelChar big[300], small[2];
    VelFile::file_GroupNameGet(g, big, 300);
    VelFile::file_GroupNameGet(g, small, 2);
    if (onGroup) onGroup(g);
    uint32_t start = 0;
    VelFile::file_GetFileOffsetSection(g, &start);
    (void)VelFile::file_SwapNeeded(g);
    const uint32_t n = std::min(VelFile::file_ItemNbrGet(g), kMaxItems);
    for (uint32_t i = 0; i < n; ++i) {
      uint16_t id = 0, type = 0;
      uint32_t count = 0, value = 0;
      VelChar name[6];
      if (VelFile::file_ItemInfo(g, i, &id, &type, &count, &value, name, 6) != 0) return;
      readItem(g, i, type, count, value);
      // A sub-group whose directory is already on the path would lead in circles.
      void* sub = nullptr;
      if (type != VelFile::kTypeGroup || depth >= kMaxDepth || groups_ >= kMaxGroups ||
          std::find(path_.begin(), path_.end(), value) != path_.end() ||
          VelFile::file_GroupOpen(g, &sub, value) != 0)
        continue;
      path_.push_back(value);
      walkGroup(sub, depth + 1);
      path_.pop_back();
    }
  }

  void readItem(void* g, uint32_t index, uint16_t type, uint32_t count, uint32_t value) {
    const uint64_t bytes = uint64_t(VelFile::file_SizeOf(type)) * count;
    if (bytes > inputSize_ + 8) return;
    for (uint16_t req : std::initializer_list<uint16_t>{
             VelFile::kTypeInt8, VelFile::kTypeUInt16, VelFile::kTypeInt32, VelFile::kTypeUInt32,
             VelFile::kTypeFloat, VelFile::kTypeDouble, VelFile::kTypeUtf16, VelFile::kTypeRaw, type})
      readAs(g, index, type, count, req);
    if (bytes > 4) {
      std::vector<char> raw(static_cast<size_t>(bytes));
      VelFile::file_ReadBlock(g, value, static_cast<uint32_t>(bytes), raw.data());
      int32_t progress = -1;
      VelFile::file_Read(g, value, count, type, raw.data(), &progress);
    }
  }

  // One item read through both readers as type req, into buffers of exactly
  // the size the item's count asks for, so that any overrun is caught.
  void readAs(void* g, uint32_t index, uint16_t type, uint32_t count, uint16_t req) {
    const uint64_t s = static_cast<uint64_t>(VelFile::file_SizeOf(type));
    uint64_t valueBytes = std::max<uint64_t>(8, s * count);
    if (type == VelFile::kTypeNarrow) valueBytes = std::max<uint64_t>(valueBytes, 2 * uint64_t(count));
    std::vector<char> value(static_cast<size_t>(valueBytes));
    uint32_t got = 0;
    if (VelFile::file_IndexValueRead(g, index, req, value.data(), &got) == 0 && type != VelFile::kTypeGroup)
      VFZ_CHECK(got <= std::max<uint64_t>({1, count, s * count}));
    const uint64_t blockBytes = uint64_t(VelFile::file_SizeOf(req)) * count;
    if (blockBytes > 8 * (inputSize_ + 8)) return;
    std::vector<char> block(static_cast<size_t>(std::max<uint64_t>(blockBytes, 1)));
    VelFile::file_IndexBlockRead(g, index, req, block.data());
  }

  uint64_t inputSize_;
  unsigned groups_ = 0;
  std::vector<uint32_t> path_;  // directory offsets of the sub-groups above
};

}  // namespace vfz

#endif
