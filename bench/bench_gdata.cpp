// Writing a data group's point table and sample records against writing the
// same number of bytes with one fwrite.
//
//   bench_gdata [directory]     (default: the system's temporary directory)
//
// 1,000,000 points with 4-byte table entries and a 64-byte sample record
// each. Prints the best of 3 runs of each and the ratios: the data write on
// its own, and the whole container file from creation to close.
#include <velfile/gdata.h>
#include <velfile/velfile.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const uint32_t kPoints = 1000000;
const uint32_t kEntrySize = 4;
const uint32_t kRecordSize = 64;
const int kRuns = 3;

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

std::u16string utf16(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}

double timeFwrite(const std::string& path, const std::vector<char>& bytes) {
  std::filesystem::remove(path);
  const Clock::time_point start = Clock::now();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    std::fprintf(stderr, "fwrite to %s failed\n", path.c_str());
    std::exit(1);
  }
  std::fclose(f);
  const double t = seconds(start);
  std::filesystem::remove(path);
  return t;
}

struct GroupTimes {
  double write;  // gdata_WriteDataClassData alone
  double whole;  // file_Create to file_Close
};

GroupTimes timeDataGroup(const std::string& path, const std::vector<uint64_t>& points) {
  std::filesystem::remove(path);
  const std::u16string wide = utf16(path);
  const Clock::time_point start = Clock::now();
  void* file = nullptr;
  void* group = nullptr;
  int rc = VelFile::file_Create(reinterpret_cast<const VelChar*>(wide.c_str()), &file);
  if (rc == 0) rc = VelFile::file_GroupCreate(file, &group, 0, reinterpret_cast<const VelChar*>(u"Data"));
  CGDataTypeFDD d;
  d.dataClass = 1;
  d.firstPointCount = static_cast<int32_t>(kPoints);
  d.secondPointCount = 1;
  d.pointEntrySize = kEntrySize;
  d.sampleSize = 1;
  d.SetSampleQty(kRecordSize);
  d.dataReference = reinterpret_cast<uintptr_t>(points.data());
  d.SetGroupHandle(group);
  d.SetDataGroupHandle(group);
  const Clock::time_point writeStart = Clock::now();
  if (rc == 0) rc = gdata_WriteDataClassData(nullptr, &d);
  const double write = seconds(writeStart);
  if (file) rc |= VelFile::file_Close(file);
  const double whole = seconds(start);
  if (rc != 0) {
    std::fprintf(stderr, "writing %s failed: %d\n", path.c_str(), rc);
    std::exit(1);
  }
  std::filesystem::remove(path);
  return {write, whole};
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? argv[1] : std::filesystem::temp_directory_path().string();
  const std::string plainPath = dir + "/bench_gdata_fwrite.bin";
  const std::string groupPath = dir + "/bench_gdata_group.bin";

  std::vector<char> records(size_t(kPoints) * kRecordSize);
  for (size_t i = 0; i < records.size(); ++i) records[i] = static_cast<char>(i * 31 + 7);
  std::vector<uint64_t> points(kPoints);
  for (uint32_t i = 0; i < kPoints; ++i)
    points[i] = reinterpret_cast<uintptr_t>(&records[size_t(i) * kRecordSize]);
  const size_t bytes = size_t(kPoints) * (kEntrySize + kRecordSize);
  const std::vector<char> plain(bytes, 'x');

  double bestPlain = 1e30, bestWrite = 1e30, bestWhole = 1e30;
  for (int run = 0; run < kRuns; ++run) {
    bestPlain = std::min(bestPlain, timeFwrite(plainPath, plain));
    const GroupTimes t = timeDataGroup(groupPath, points);
    bestWrite = std::min(bestWrite, t.write);
    bestWhole = std::min(bestWhole, t.whole);
  }
  std::printf("%u points, %u-byte entries, %u-byte records: %zu bytes, best of %d\n", kPoints, kEntrySize,
              kRecordSize, bytes, kRuns);
  std::printf("one fwrite (fopen to fclose):         %8.2f ms\n", bestPlain * 1e3);
  std::printf("gdata_WriteDataClassData:             %8.2f ms  ratio %.2f\n", bestWrite * 1e3,
              bestWrite / bestPlain);
  std::printf("whole file (file_Create to file_Close): %6.2f ms  ratio %.2f\n", bestWhole * 1e3,
              bestWhole / bestPlain);
  return 0;
}
