// Helpers shared by the container layer tests: a temporary directory per
// test, UTF-16 paths, whole-file I/O and a builder for hand-made container
// images in either byte order.
#ifndef VELFILE_TESTS_TESTUTIL_H
#define VELFILE_TESTS_TESTUTIL_H

#include <gtest/gtest.h>
#include <stdlib.h>
#if defined(_WIN32)
#include <process.h>
#endif
#include <velfile/velfile.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#if defined(_WIN32)
// Windows has no SIGALRM watchdog: a hang is left to the runner's time limit.
inline unsigned alarm(unsigned) {
  return 0;
}
#endif

namespace vt {

#if defined(_WIN32)
// Windows has no mkdtemp: a new directory under the temporary directory,
// named after the process and a counter.
inline std::string freshTempDir() {
  static unsigned counter = 0;
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  for (int attempt = 0; attempt < 1000 && !ec; ++attempt) {
    const std::filesystem::path p =
        base / ("velfile-test-" + std::to_string(_getpid()) + "-" + std::to_string(counter++));
    if (std::filesystem::create_directory(p, ec)) return p.generic_string();
  }
  return std::string();
}
#endif

using Bytes = std::vector<uint8_t>;
using VelString = std::basic_string<VelChar>;

// UTF-16 form of an ASCII path.
inline VelString V(const std::string& s) {
  return VelString(s.begin(), s.end());
}

inline Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  Bytes b(in ? static_cast<size_t>(in.tellg()) : 0);
  in.seekg(0).read(reinterpret_cast<char*>(b.data()), static_cast<std::streamsize>(b.size()));
  return b;
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline bool hostBigEndian() {
  const uint16_t probe = 0x0102;
  return *reinterpret_cast<const uint8_t*>(&probe) == 0x01;
}

// The bytes of a value as it lies in memory.
template <class T>
Bytes bytesOf(const T& v) {
  Bytes b(sizeof(T));
  std::memcpy(b.data(), &v, sizeof(T));
  return b;
}

// Every element of a buffer of the item type reversed: the bytes the other
// byte order holds. Written out here on purpose instead of using the
// library's own swapping; the two words of types 8 and 9 each on their own.
inline Bytes reversedElements(Bytes b, uint16_t type) {
  using namespace VelFile;
  const bool bytes = type == kTypeInt8 || type == kTypeUInt8 || type == kTypeRaw || type == kTypeNarrow;
  const bool halves = type == kTypeInt16 || type == kTypeUInt16 || type == kTypeUtf16;
  const size_t step = type == kTypeDouble ? 8 : bytes ? 1 : halves ? 2 : 4;
  for (size_t at = 0; at + step <= b.size(); at += step) std::reverse(b.begin() + at, b.begin() + at + step);
  return b;
}

template <class T>
const char* cp(const T* p) {
  return reinterpret_cast<const char*>(p);
}
template <class T>
char* mp(T* p) {
  return reinterpret_cast<char*>(p);
}

// Builds a container image byte by byte; multi-byte fields go in the chosen
// byte order, so the same code makes native and foreign files.
class Image {
 public:
  explicit Image(bool bigEndian = hostBigEndian()) : big_(bigEndian) {}
  Bytes bytes;

  size_t size() const { return bytes.size(); }
  Image& u8(uint8_t v) { return put(v, 1); }
  Image& u16(uint16_t v) { return put(v, 2); }
  Image& u32(uint32_t v) { return put(v, 4); }
  Image& f32(float v) { return put(bits<uint32_t>(v), 4); }
  Image& f64(double v) { return put(bits<uint64_t>(v), 8); }
  Image& raw(const void* p, size_t n) {
    bytes.insert(bytes.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n);
    return *this;
  }
  Image& raw(const Bytes& b) { return raw(b.data(), b.size()); }
  // UTF-16 text with its terminator, in host order: text is never swapped.
  Image& utf16(const VelString& s) { return raw(s.c_str(), 2 * (s.size() + 1)); }
  Image& padTo(size_t at) {
    if (bytes.size() < at) bytes.resize(at, 0);
    return *this;
  }
  Image& header(uint32_t entries, uint32_t dirOffset, uint32_t sectionSize, const char* magic = "SURD",
                uint32_t stringFormat = 1) {
    u32(0x11223344).raw(magic, 4).u32(3).u32(stringFormat);
    return u32(entries).u32(dirOffset).u32(sectionSize).u32(0).u32(0);
  }
  Image& entry(uint16_t id, uint16_t type, uint32_t count, uint32_t value) {
    return u16(id).u16(type).u32(count).u32(value);
  }
  // An entry whose value field holds n bytes as given, zero-filled to 4.
  Image& entryInline(uint16_t id, uint16_t type, uint32_t count, const void* value, size_t n) {
    return u16(id).u16(type).u32(count).raw(value, n).padTo(bytes.size() + 4 - n);
  }
  // An entry with two 16-bit values in the value field.
  Image& entry16(uint16_t id, uint16_t type, uint32_t count, uint16_t a, uint16_t b) {
    return u16(id).u16(type).u32(count).u16(a).u16(b);
  }
  void put32(size_t at, uint32_t v) { at32(at, v, 4); }
  void put16(size_t at, uint16_t v) { at32(at, v, 2); }

 private:
  template <class U, class F>
  static U bits(F v) {
    U u;
    std::memcpy(&u, &v, sizeof u);
    return u;
  }
  uint8_t byteOf(uint64_t v, int n, int i) const {
    return static_cast<uint8_t>(v >> 8 * (big_ ? n - 1 - i : i));
  }
  Image& put(uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(byteOf(v, n, i));
    return *this;
  }
  void at32(size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bytes[at + static_cast<size_t>(i)] = byteOf(v, n, i);
  }
  bool big_;
};

// Fixture: a fresh directory, no hooks, and a counting diagnostic sink.
class VelTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    dir_ = freshTempDir();
    ASSERT_FALSE(dir_.empty());
#else
    char tmpl[] = "/tmp/velfile-test-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
#endif
    VelFile::file_Init(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    diagCount() = 0;
    previousSink_ = VelFile::SetDiagnosticHook(&countDiag);
  }
  void TearDown() override {
    VelFile::SetDiagnosticHook(previousSink_);
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string path(const std::string& name) const {
    return dir_ + "/" + name;
  }
  VelString vpath(const std::string& name) const {
    return V(path(name));
  }

  static int& diagCount() {
    static int n = 0;
    return n;
  }
  static void countDiag(const char*, int) {
    ++diagCount();
  }

  // Writes a container with one section: the group's name and a 32-bit item
  // (id 1, value 7). With the default name the file is 96 bytes.
  Bytes makeContainer(const std::string& name, const VelString& group = VELFILE_TEXT("One")) {
    void *f = nullptr, *g = nullptr;
    const uint32_t seven = 7;
    EXPECT_EQ(0, VelFile::file_Create(vpath(name).c_str(), &f));
    EXPECT_EQ(0, VelFile::file_GroupCreate(f, &g, 0, group.c_str()));
    EXPECT_EQ(0, VelFile::file_ItemValueWrite(g, 1, VelFile::kTypeUInt32, 1, cp(&seven)));
    EXPECT_EQ(0, VelFile::file_Close(f));
    return readFile(path(name));
  }

  // One entry of file_ItemInfo as text: "id type count value name", or "rc=N".
  static std::string itemInfo(void* handle, uint32_t index) {
    uint16_t id = 0, type = 0;
    uint32_t count = 0, value = 0;
    VelChar name[8] = {VelChar('#'), 0};
    const int rc = VelFile::file_ItemInfo(handle, index, &id, &type, &count, &value, name, 8);
    if (rc != 0) return "rc=" + std::to_string(rc);
    std::string out = std::to_string(id) + " " + std::to_string(type) + " " + std::to_string(count) + " " +
                      std::to_string(value) + " ";
    for (const VelChar* c = name; *c; ++c) out += static_cast<char>(*c);
    return out;
  }

  VelString groupName(void* g) {
    VelChar buf[300] = {};
    EXPECT_EQ(0, VelFile::file_GroupNameGet(g, buf, 300));
    return buf;
  }

  // Every slot of the table can still be claimed: failed operations leaked none.
  void expectAllSlotsFree() {
    std::vector<void*> files(VelFile::kMaxOpenFiles);
    for (size_t i = 0; i < files.size(); ++i)
      EXPECT_EQ(0, VelFile::file_Create(vpath("slot" + std::to_string(i)).c_str(), &files[i])) << i;
    EXPECT_FALSE(VelFile::file_IsHandleLeft());
    for (void* f : files) EXPECT_EQ(3, VelFile::file_Close(f));
  }

  std::string dir_;

 private:
  VelFile::DiagnosticHook previousSink_ = nullptr;
};

}  // namespace vt

#endif
