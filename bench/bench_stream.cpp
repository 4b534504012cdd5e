// A data group written line by line (Group::data_writer) against the dense
// write of the same scan (Group::write_data): time and peak memory.
//
//   bench_stream [--lines N] [--points N] [--samples N] [--runs N] [directory]
//
// Default: 1,000 lines of 500 points of 256 int16 samples (256 MB of
// samples), a tenth of the points without data. Each write runs in a fresh
// process (the program runs itself with --child), which reports the time
// from the first write call to the close and its peak memory (VmHWM) above
// its peak before the scan was made. The dense writer holds the whole scan,
// as a host must to call write_data; the line writer holds one line, made
// afresh for each line (that making is not timed). Prints the best of the
// runs of each, and checks that both files are the same byte for byte.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>
#include <velfile/velfile.hpp>

namespace {

using Clock = std::chrono::steady_clock;

struct Scan {
  uint32_t lines = 1000, points = 500, samples = 256;
};

// The peak resident memory of this process so far, in KiB.
long peakKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

CGDataTypeFDD descriptor(const Scan& s) {
  CGDataTypeFDD d;
  d.dataClass = 1;
  d.secondPointCount = int32_t(s.lines);
  d.firstPointCount = int32_t(s.points);
  d.SetDataType(zor_eDataTypeInt16);
  d.SetSampleQty(s.samples);
  return d;
}

// Line j of the scan: its samples and markers (every tenth point without data).
void makeLine(const Scan& s, uint32_t j, int16_t* samples, uint8_t* markers) {
  for (uint32_t i = 0; i < s.points; ++i) {
    markers[i] = (i + j) % 10 == 0 ? 0 : 3;
    for (uint32_t k = 0; k < s.samples; ++k)
      samples[size_t(i) * s.samples + k] = int16_t((j * 31 + i * 7 + k) & 0x7FFF);
  }
}

// One write in this process: prints seconds and KiB above the baseline.
int child(const Scan& s, bool lines, const std::string& path) {
  const long base = peakKiB();
  const size_t lineSamples = size_t(s.points) * s.samples;
  double seconds = 0;
  velfile::File f = velfile::File::create(path);
  velfile::Group g = f.create_group("Bench").create_group("Scan", 1);
  if (lines) {
    std::vector<int16_t> samples(lineSamples);
    std::vector<uint8_t> markers(s.points);
    Clock::time_point start = Clock::now();
    velfile::DataWriter w = g.data_writer(descriptor(s));
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
    for (uint32_t j = 0; j < s.lines; ++j) {
      makeLine(s, j, samples.data(), markers.data());
      start = Clock::now();
      w.write_line(j, samples, markers);
      seconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    start = Clock::now();
    f.close();
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
  } else {
    std::vector<int16_t> samples(lineSamples * s.lines);
    std::vector<uint8_t> markers(size_t(s.points) * s.lines);
    for (uint32_t j = 0; j < s.lines; ++j)
      makeLine(s, j, samples.data() + j * lineSamples, markers.data() + size_t(j) * s.points);
    const Clock::time_point start = Clock::now();
    g.write_data(descriptor(s), samples, markers);
    f.close();
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
  }
  std::printf("%.6f %ld\n", seconds, peakKiB() - base);
  return 0;
}

bool run(const std::string& self, const Scan& s, bool lines, const std::string& path, double* seconds,
         long* kib) {
  const std::string command = "'" + self + "' --child " + (lines ? "lines" : "dense") + " --lines " +
                              std::to_string(s.lines) + " --points " + std::to_string(s.points) +
                              " --samples " + std::to_string(s.samples) + " '" + path + "'";
  std::FILE* p = popen(command.c_str(), "r");
  if (!p) return false;
  const bool ok = std::fscanf(p, "%lf %ld", seconds, kib) == 2;
  return pclose(p) == 0 && ok;
}

std::string bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) try {
  Scan s;
  int runs = 3;
  std::string dir = std::filesystem::temp_directory_path().string(), mode;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool value = i + 1 < argc;
    if (a == "--child" && value)
      mode = argv[++i];
    else if (a == "--lines" && value)
      s.lines = uint32_t(std::atol(argv[++i]));
    else if (a == "--points" && value)
      s.points = uint32_t(std::atol(argv[++i]));
    else if (a == "--samples" && value)
      s.samples = uint32_t(std::atol(argv[++i]));
    else if (a == "--runs" && value)
      runs = std::atoi(argv[++i]);
    else
      dir = a;
  }
  if (!mode.empty()) return child(s, mode == "lines", dir);
  const std::string dense = dir + "/bench_stream_dense.A01", lines = dir + "/bench_stream_lines.A01";
  double best[2] = {1e30, 1e30};
  long peak[2] = {0, 0};
  for (int r = 0; r < runs; ++r) {
    for (int k = 0; k < 2; ++k) {
      const bool byLine = (k + r) % 2 == 1;  // each round starts with the other one
      double t = 0;
      long kib = 0;
      if (!run(argv[0], s, byLine, byLine ? lines : dense, &t, &kib)) {
        std::fprintf(stderr, "the %s write failed\n", byLine ? "line" : "dense");
        return 1;
      }
      if (t < best[byLine]) best[byLine] = t;
      if (kib > peak[byLine]) peak[byLine] = kib;
    }
  }
  const bool same = bytesOf(dense) == bytesOf(lines);
  const double mb = double(s.lines) * s.points * s.samples * 2 / 1e6;
  std::printf("%u lines x %u points x %u int16 samples (%.0f MB of samples), best of %d\n", s.lines, s.points,
              s.samples, mb, runs);
  std::printf("%-22s %10s %16s\n", "write", "time", "peak memory");
  std::printf("%-22s %8.1f ms %12ld KiB\n", "dense (write_data)", best[0] * 1e3, peak[0]);
  std::printf("%-22s %8.1f ms %12ld KiB\n", "line by line", best[1] * 1e3, peak[1]);
  std::printf("files %s byte for byte\n", same ? "the same" : "DIFFERENT");
  std::filesystem::remove(dense);
  std::filesystem::remove(lines);
  return same ? 0 : 1;
} catch (const velfile::Error& e) {
  std::fprintf(stderr, "%s\n", e.what());
  return 1;
}
