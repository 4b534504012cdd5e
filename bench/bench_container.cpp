// Container layer throughput: bulk blocks against plain stdio on the same
// bytes, and the cost of many small groups and items (write, reopen, walk).
//
//   cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DVELFILE_BUILD_BENCH=ON
//   cmake --build build-bench --target bench_container && build-bench/bench/bench_container [MiB] [dir]
#include <velfile/velfile.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace VelFile;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

std::u16string wide(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

template <class F>
double best(int runs, F&& f) {
  double t = 1e30;
  for (int i = 0; i < runs; ++i) {
    auto a = Clock::now();
    f();
    t = std::min(t, seconds(a, Clock::now()));
  }
  return t;
}

void check(int rc, const char* what) {
  if (rc != 0) {
    std::fprintf(stderr, "%s failed: %d\n", what, rc);
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  const std::string dir = argc > 2 ? argv[2] : "/tmp";
  const std::string stdioPath = dir + "/bench_stdio.bin";
  const std::u16string velPath = wide(dir + "/bench_vel.bin");
  const size_t bytes = mib << 20;
  std::vector<char> data(bytes), back(bytes);
  for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<char>(i * 2654435761u >> 24);

  // Bulk: one block written and read back.
  const double stdioWrite = best(3, [&] {
    FILE* f = std::fopen(stdioPath.c_str(), "wb");
    std::fwrite(data.data(), 1, bytes, f);
    std::fclose(f);
  });
  const double stdioRead = best(3, [&] {
    FILE* f = std::fopen(stdioPath.c_str(), "rb");
    if (std::fread(back.data(), 1, bytes, f) != bytes) std::exit(1);
    std::fclose(f);
  });
  uint64_t offset = 0;
  const double velWrite = best(3, [&] {
    void* f = nullptr;
    void* g = nullptr;
    check(file_Create(velPath.c_str(), &f), "create");
    check(file_GroupCreate(f, &g, 0, u"Bulk"), "group");
    offset = file_Allocate(g, static_cast<uint32_t>(bytes));
    check(file_Write(g, offset, data.data(), static_cast<uint32_t>(bytes), nullptr), "write");
    check(file_ItemOffsetWrite(g, 1, kTypeRaw, static_cast<uint32_t>(bytes), static_cast<uint32_t>(offset)),
          "item");
    check(file_Close(f), "close");
  });
  const double velRead = best(3, [&] {
    void* f = nullptr;
    void* g = nullptr;
    check(file_Open(velPath.c_str(), &f), "open");
    check(file_GroupOpen(f, &g, 0), "group");
    check(file_Read(g, static_cast<uint32_t>(offset), static_cast<uint32_t>(bytes), kTypeRaw, back.data(),
                    nullptr),
          "read");
    check(file_Close(f), "close");
  });
  if (std::memcmp(data.data(), back.data(), bytes) != 0) return 1;
  std::printf(
      "bulk %zu MiB        write %7.3f s (stdio %7.3f s, ratio %.2f)  read %7.3f s (stdio %7.3f s, ratio "
      "%.2f)\n",
      mib, velWrite, stdioWrite, velWrite / stdioWrite, velRead, stdioRead, velRead / stdioRead);

  // Many small groups: 10,000 groups of 20 items each (out-of-line names,
  // inline numbers, a few 8-byte values).
  const int groups = 10000, items = 20;
  const std::u16string metaPath = wide(dir + "/bench_meta.bin");
  const double metaWrite = best(3, [&] {
    void* f = nullptr;
    void* root = nullptr;
    check(file_Create(metaPath.c_str(), &f), "create");
    check(file_GroupCreate(f, &root, 0, u"Setup"), "root");
    for (int i = 0; i < groups; ++i) {
      void* g = nullptr;
      const std::u16string name = u"Group " + wide(std::to_string(i));
      check(file_GroupCreate(root, &g, static_cast<uint16_t>(i), name.c_str()), "group");
      for (int k = 1; k < items; ++k) {
        const double v = i * 0.5 + k;
        if (k % 5 == 0)
          check(file_ItemValueWrite(g, static_cast<uint16_t>(k), kTypeDouble, 1,
                                    reinterpret_cast<const char*>(&v)),
                "item");
        else {
          const float fv = static_cast<float>(v);
          check(file_ItemValueWrite(g, static_cast<uint16_t>(k), kTypeFloat, 1,
                                    reinterpret_cast<const char*>(&fv)),
                "item");
        }
      }
    }
    check(file_Close(f), "close");
  });
  double sum = 0;
  const double metaRead = best(3, [&] {
    void* f = nullptr;
    void* root = nullptr;
    check(file_Open(metaPath.c_str(), &f), "open");
    check(file_GroupOpen(f, &root, 0), "root");
    const uint32_t n = file_ItemNbrGet(root);
    for (uint32_t i = 1; i < n; ++i) {
      uint32_t key = 0;
      check(file_ItemInfo(root, i, nullptr, nullptr, nullptr, &key, nullptr, 0), "info");
      void* g = nullptr;
      check(file_GroupOpen(root, &g, key), "open group");
      const uint32_t m = file_ItemNbrGet(g);
      for (uint32_t k = 1; k < m; ++k) {
        double v = 0;
        uint32_t count = 0;
        check(file_IndexValueRead(g, k, kTypeDouble, reinterpret_cast<char*>(&v), &count), "value");
        sum += v;
      }
    }
    check(file_Close(f), "close");
  });
  std::printf("10,000 groups x 20  write+close %7.3f s  open+walk+read %7.3f s  (checksum %.0f)\n", metaWrite,
              metaRead, sum);
  std::remove(stdioPath.c_str());
  return 0;
}
