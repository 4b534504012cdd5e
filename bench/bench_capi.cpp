// The C interface against the C++ layer: reading a data class 1 group of
// 1,000,000 points (1000 x 1000) of 32 int16 samples into a buffer the
// caller allocated once. Each round reads through both, in turns (the first
// one alternating), and the medians are compared; the goal is 1.10x.
// Both time the whole read: open, group by path, data group, read, close.
//
//   bench_capi [--rounds N] [directory]
#include <velfile/velfile_c.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <velfile/velfile.hpp>

namespace {

using Clock = std::chrono::steady_clock;
const uint32_t kSecond = 1000, kFirst = 1000, kSamples = 32;

double ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// One read through the layer: open, group, data group, read, close.
void readLayer(const std::string& path, std::vector<int16_t>& out) {
  velfile::File f = velfile::File::open(path);
  f.group("0/Scan").data().read(out.data(), out.size() * sizeof(int16_t));
  f.close();
}

// The same through the C interface.
bool readC(const std::string& path, std::vector<int16_t>& out) {
  velfile_file f = 0;
  velfile_group g = 0;
  velfile_data d = 0;
  size_t needed = 0;
  return velfile_open(path.c_str(), &f) == VELFILE_OK &&
         velfile_group_by_path(f, "0/Scan", &g) == VELFILE_OK && velfile_data_open(g, &d) == VELFILE_OK &&
         velfile_data_read(d, 0, VELFILE_ALL, 0, VELFILE_ALL, 0, VELFILE_ALL, VELFILE_TYPE_INT16, out.data(),
                           out.size(), &needed) == VELFILE_OK &&
         velfile_close(f) == VELFILE_OK;
}

}  // namespace

int main(int argc, char** argv) try {
  int rounds = 21;
  std::string dir = "/tmp";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else
      dir = a;
  }
  const std::string path = dir + "/bench_capi.A01";
  std::vector<int16_t> samples(size_t(kSecond) * kFirst * kSamples);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = int16_t(i * 2654435761u >> 20);
  {
    velfile::File f = velfile::File::create(path);
    CGDataTypeFDD d;
    d.dataClass = 1;
    d.secondPointCount = kSecond;
    d.firstPointCount = kFirst;
    d.SetDataType(zor_eDataTypeInt16);
    d.SetSampleQty(kSamples);
    f.create_group("Bench").create_group("Scan").write_data(d, samples);
    f.close();
  }
  std::vector<int16_t> a(samples.size()), b(samples.size());
  readLayer(path, a);  // page cache warm, and both reads checked
  if (!readC(path, b) || a != samples || b != samples) {
    std::fprintf(stderr, "bench_capi: the reads differ from what was written\n");
    return 1;
  }
  std::vector<double> layer, c;
  for (int r = 0; r < rounds; ++r) {
    for (int turn = 0; turn < 2; ++turn) {
      const auto t0 = Clock::now();
      if ((r + turn) % 2 == 0) {
        readLayer(path, a);
        layer.push_back(ms(t0, Clock::now()));
      } else {
        if (!readC(path, b)) return 1;
        c.push_back(ms(t0, Clock::now()));
      }
    }
  }
  // Also the median of each round's own ratio, which a burst of load on a
  // shared machine moves less than either median.
  std::vector<double> ratios;
  for (size_t r = 0; r < c.size(); ++r) ratios.push_back(c[r] / layer[r]);
  const double ml = median(layer), mc = median(c), paired = median(ratios);
  std::printf(
      "class 1, %u points x %u int16 (%.1f MiB), %d rounds: C++ layer %.2f ms, C interface %.2f ms "
      "(medians), C/C++ %.3f, median of the rounds' ratios %.3f; goal <= 1.10: %s\n",
      kSecond * kFirst, kSamples, samples.size() * 2 / 1048576.0, rounds, ml, mc, mc / ml, paired,
      mc / ml <= 1.10 ? "PASS" : "MISS");
  std::remove(path.c_str());
  return 0;
} catch (const velfile::Error& e) {
  std::fprintf(stderr, "bench_capi: %s\n", e.what());
  return 1;
}
