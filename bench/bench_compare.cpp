// The library against the physical limit (plain stdio on the same bytes) and
// against HDF5 (same bytes, same groups and values), measured in one run on
// one machine:
//
//   1 bulk data      one block written and read back      goal: within 1.1x of stdio
//   2 acquisition    a data class 1 group, 64-byte records goal: within 1.5x of one fwrite
//   3 setup metadata probe, channel and gate groups        goal: 10x faster than HDF5
//   4 open cost      file_Open + walk of many sections     goal: time per section flat
//   5 memory         open + walk beside 1 GiB of bulk data goal: under 10 MiB above baseline
//
//   bench_compare [--quick] [--runs N] [--only STEPS] [directory]
//
// The directory defaults to /tmp; --only 35 runs steps 3 and 5 alone (for a
// profiler).
//
// Timings are the best of N runs (default 3) and do not include fsync: they
// measure what each library adds on top of the page cache.
#include <velfile/gchan.h>
#include <velfile/gdata.h>
#include <velfile/ggate.h>
#include <velfile/gprobe.h>
#include <velfile/velfile.h>

#ifdef VELFILE_HAVE_HDF5
#include <hdf5.h>
#endif

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

using namespace VelFile;

namespace {

using Clock = std::chrono::steady_clock;
const double kNone = std::numeric_limits<double>::quiet_NaN();

struct Sizes {
  uint64_t bulkBytes;
  uint32_t points;  // data class 1 points, 64-byte records
  int metaGroups;
  uint32_t fewSections, manySections;
  uint64_t memoryBulkBytes;
  int memoryGroups;
};
const Sizes kFull{512ull << 20, 1000000, 10000, 1000, 10000, 1ull << 30, 1000};
const Sizes kQuick{32ull << 20, 50000, 1000, 100, 1000, 64ull << 20, 200};

const uint32_t kRecordBytes = 64;
const uint32_t kEntryBytes = 4;

[[noreturn]] void fail(const std::string& what) {
  std::fprintf(stderr, "bench_compare: %s\n", what.c_str());
  std::exit(1);
}

void check(int rc, const char* what) {
  if (rc != kOk) fail(std::string(what) + " failed with " + std::to_string(rc));
}

std::u16string u16(const std::string& s) {
  return std::u16string(s.begin(), s.end());
}
const VelChar* vc(const std::u16string& s) {
  return reinterpret_cast<const VelChar*>(s.c_str());
}

template <size_t N>
void copyName(VelChar (&field)[N], const std::string& name) {
  std::memset(field, 0, sizeof field);
  for (size_t i = 0; i < name.size() && i < N - 1; ++i) field[i] = static_cast<VelChar>(name[i]);
}

double best(int runs, const std::function<void()>& prepare, const std::function<void()>& work) {
  double t = 1e300;
  for (int i = 0; i < runs; ++i) {
    if (prepare) prepare();
    const Clock::time_point start = Clock::now();
    work();
    t = std::min(t, std::chrono::duration<double>(Clock::now() - start).count());
  }
  return t;
}

// The best time of each contender. Every round runs each contender once,
// starting with another one each time, so that neither a burst of load
// elsewhere nor the order (fresh page cache, writeback of the last round)
// favours one of them.
std::vector<double> interleaved(int runs, const std::vector<std::function<void()>>& contenders,
                                const std::function<void()>& beforeRound) {
  const size_t n = contenders.size();
  std::vector<double> t(n, 1e300);
  for (int run = 0; run < runs; ++run) {
    if (beforeRound) beforeRound();
    for (size_t k = 0; k < n; ++k) {
      const size_t c = (k + size_t(run)) % n;
      t[c] = std::min(t[c], best(1, nullptr, contenders[c]));
    }
  }
  return t;
}

// --- the result table ---

struct Row {
  std::string step, ours, stdio, hdf5;
  double vsStdio = kNone, vsHdf5 = kNone;
  std::string goal;
  int verdict = -1;  // -1 no goal, 0 missed, 1 met
};

std::string ms(double s) {
  if (std::isnan(s)) return "n/a";
  char b[32];
  std::snprintf(b, sizeof b, s < 0.01 ? "%.2f ms" : "%.1f ms", s * 1e3);
  return b;
}

std::string ratio(double r) {
  if (std::isnan(r)) return "";
  char b[32];
  std::snprintf(b, sizeof b, "%.2f", r);
  return b;
}

void printTable(const std::vector<Row>& rows) {
  std::printf("%-38s %12s %12s %12s %10s %10s  %-27s %s\n", "step", "velfile", "stdio", "HDF5", "ours/stdio",
              "ours/HDF5", "goal", "result");
  for (const Row& r : rows)
    std::printf("%-38s %12s %12s %12s %10s %10s  %-27s %s\n", r.step.c_str(), r.ours.c_str(), r.stdio.c_str(),
                r.hdf5.c_str(), ratio(r.vsStdio).c_str(), ratio(r.vsHdf5).c_str(), r.goal.c_str(),
                r.verdict < 0 ? ""
                : r.verdict   ? "PASS"
                              : "MISS");
}

Row timedRow(const std::string& step, double ours, double stdio, double hdf5) {
  Row r;
  r.step = step;
  r.ours = ms(ours);
  r.stdio = std::isnan(stdio) ? "" : ms(stdio);
  r.hdf5 = ms(hdf5);
  r.vsStdio = ours / stdio;
  r.vsHdf5 = ours / hdf5;
  return r;
}

// --- machine description ---

std::string firstLineWith(const char* file, const std::string& key) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, key.size(), key) == 0) return line;
  return "";
}

std::string fileSystemOf(const std::string& dir) {
  char real[4096];
  if (!realpath(dir.c_str(), real)) return "unknown";
  std::ifstream in("/proc/mounts");
  std::string device, mount, type, bestType = "unknown";
  size_t bestLength = 0;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    fields >> device >> mount >> type;
    const std::string path = real;
    const bool under = path.compare(0, mount.size(), mount) == 0 &&
                       (path.size() == mount.size() || mount == "/" || path[mount.size()] == '/');
    if (under && mount.size() >= bestLength) {
      bestLength = mount.size();
      bestType = type + " (" + device + " on " + mount + ")";
    }
  }
  return bestType;
}

std::string cpuModel() {
  std::string line = firstLineWith("/proc/cpuinfo", "model name");
  const size_t colon = line.find(':');
  return colon == std::string::npos ? "unknown" : line.substr(colon + 2);
}

// --- 1: bulk data ---

void stdioWrite(const std::string& path, const std::vector<char>& data) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(data.data(), 1, data.size(), f) != data.size() || std::fclose(f) != 0)
    fail("fwrite to " + path);
}

void stdioRead(const std::string& path, std::vector<char>& back) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f || std::fread(back.data(), 1, back.size(), f) != back.size()) fail("fread of " + path);
  std::fclose(f);
}

void velBulkWrite(const std::string& path, const std::vector<char>& data) {
  void* file = nullptr;
  void* group = nullptr;
  const uint32_t n = static_cast<uint32_t>(data.size());
  check(file_Create(vc(u16(path)), &file), "file_Create");
  check(file_GroupCreate(file, &group, 0, vc(u"Bulk")), "file_GroupCreate");
  const uint32_t offset = static_cast<uint32_t>(file_Allocate(group, n));
  if (offset == 0) fail("file_Allocate");
  check(file_Write(group, offset, data.data(), n, nullptr), "file_Write");
  check(file_ItemOffsetWrite(group, 1, kTypeRaw, n, offset), "file_ItemOffsetWrite");
  check(file_Close(file), "file_Close");
}

void velBulkRead(const std::string& path, std::vector<char>& back) {
  void* file = nullptr;
  void* group = nullptr;
  check(file_Open(vc(u16(path)), &file), "file_Open");
  check(file_GroupOpen(file, &group, 0), "file_GroupOpen");
  uint32_t count = 0, offset = 0;
  check(file_ItemInfo(group, 1, nullptr, nullptr, &count, &offset, nullptr, 0), "file_ItemInfo");
  if (count != back.size()) fail("bulk item has the wrong size");
  check(file_Read(group, offset, count, kTypeRaw, back.data(), nullptr), "file_Read");
  check(file_Close(file), "file_Close");
}

#ifdef VELFILE_HAVE_HDF5
const bool kHaveHdf5 = true;

void h5check(bool ok, const char* what) {
  if (!ok) fail(std::string("HDF5 ") + what);
}

void hdf5BulkWrite(const std::string& path, const std::vector<char>& data) {
  const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
  const hsize_t n = data.size();
  const hid_t space = H5Screate_simple(1, &n, nullptr);
  const hid_t set = H5Dcreate2(file, "bulk", H5T_NATIVE_UCHAR, space, H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
  h5check(file >= 0 && space >= 0 && set >= 0, "dataset create");
  h5check(H5Dwrite(set, H5T_NATIVE_UCHAR, H5S_ALL, H5S_ALL, H5P_DEFAULT, data.data()) >= 0, "H5Dwrite");
  H5Dclose(set);
  H5Sclose(space);
  h5check(H5Fclose(file) >= 0, "H5Fclose");
}

void hdf5BulkRead(const std::string& path, std::vector<char>& back) {
  const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  const hid_t set = H5Dopen2(file, "bulk", H5P_DEFAULT);
  h5check(file >= 0 && set >= 0, "dataset open");
  h5check(H5Dread(set, H5T_NATIVE_UCHAR, H5S_ALL, H5S_ALL, H5P_DEFAULT, back.data()) >= 0, "H5Dread");
  H5Dclose(set);
  H5Fclose(file);
}
#else
const bool kHaveHdf5 = false;
#endif

void benchBulk(const Sizes& z, int runs, const std::string& dir, std::vector<Row>& rows) {
  const std::string plain = dir + "/compare_bulk.bin", ours = dir + "/compare_bulk.vel",
                    h5 = dir + "/compare_bulk.h5";
  std::vector<char> data(z.bulkBytes), back(z.bulkBytes);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 2654435761u) >> 24);
  auto removeAll = [&] {
    std::remove(plain.c_str());
    std::remove(ours.c_str());
    std::remove(h5.c_str());
  };
  std::vector<std::function<void()>> writes = {[&] { stdioWrite(plain, data); },
                                               [&] { velBulkWrite(ours, data); }};
  std::vector<std::function<void()>> reads = {[&] { stdioRead(plain, back); },
                                              [&] { velBulkRead(ours, back); }};
#ifdef VELFILE_HAVE_HDF5
  writes.push_back([&] { hdf5BulkWrite(h5, data); });
  reads.push_back([&] { hdf5BulkRead(h5, back); });
#endif
  std::vector<double> w = interleaved(runs, writes, removeAll), r = interleaved(runs, reads, nullptr);
  w.resize(3, kNone);
  r.resize(3, kNone);
  velBulkRead(ours, back);
  if (back != data) fail("bulk data read back differs");
  removeAll();
  const std::string size = std::to_string(z.bulkBytes >> 20) + " MiB";
  rows.push_back(timedRow("1 bulk write " + size, w[1], w[0], w[2]));
  rows.back().goal = "<= 1.10x stdio";
  rows.back().verdict = rows.back().vsStdio <= 1.10;
  rows.push_back(timedRow("1 bulk read " + size, r[1], r[0], r[2]));
  rows.back().goal = "<= 1.10x stdio";
  rows.back().verdict = rows.back().vsStdio <= 1.10;
}

// --- 2: acquisition data, data class 1 ---

void gdataWrite(const std::string& path, const std::vector<uint64_t>& points) {
  void* file = nullptr;
  void* group = nullptr;
  check(file_Create(vc(u16(path)), &file), "file_Create");
  check(file_GroupCreate(file, &group, 0, vc(u"Acquisition")), "file_GroupCreate");
  CGDataTypeFDD d;
  copyName(d.groupName, "Acquisition");
  d.dataClass = 1;
  d.firstPointCount = static_cast<int32_t>(points.size());
  d.secondPointCount = 1;
  d.pointEntrySize = kEntryBytes;
  d.SetDataType(zor_eDataTypeInt16);
  d.sampleSize = file_SizeOf(kTypeInt16);
  d.SetSampleQty(kRecordBytes / 2);
  d.dataReference = reinterpret_cast<uintptr_t>(points.data());
  check(gdata_WriteGroupInfo(group, nullptr, &d, 0), "gdata_WriteGroupInfo");
  check(file_Close(file), "file_Close");
}

// Reads the group back and compares a few points' records with memory.
void gdataVerify(const std::string& path, const std::vector<uint64_t>& points) {
  void* file = nullptr;
  void* group = nullptr;
  check(file_Open(vc(u16(path)), &file), "file_Open");
  check(file_GroupOpen(file, &group, 0), "file_GroupOpen");
  CGDataTypeFDD d;
  check(gdata_ReadGroupInfo(group, &d), "gdata_ReadGroupInfo");
  const uint32_t n = static_cast<uint32_t>(points.size());
  if (d.dataClass != 1 || static_cast<uint32_t>(d.firstPointCount) != n ||
      d.GetSampleQty() * d.sampleSize != 64)
    fail("data group read back differs");
  std::vector<uint32_t> table(n);
  check(file_Read(group, static_cast<uint32_t>(d.dataReference), n, kTypeUInt32,
                  reinterpret_cast<char*>(table.data()), nullptr),
        "file_Read of the point table");
  char record[kRecordBytes];
  for (uint32_t i : {0u, n / 2, n - 1}) {
    check(file_ReadBlock(group, table[i], kRecordBytes, record), "file_ReadBlock of a record");
    if (std::memcmp(record, reinterpret_cast<const char*>(static_cast<uintptr_t>(points[i])), kRecordBytes) !=
        0)
      fail("record " + std::to_string(i) + " read back differs");
  }
  check(file_Close(file), "file_Close");
}

void benchAcquisition(const Sizes& z, int runs, const std::string& dir, std::vector<Row>& rows) {
  const std::string plain = dir + "/compare_points.bin", ours = dir + "/compare_points.vel";
  std::vector<char> records(size_t(z.points) * kRecordBytes);
  for (size_t i = 0; i < records.size(); ++i) records[i] = static_cast<char>(i * 31 + 7);
  std::vector<uint64_t> points(z.points);
  for (uint32_t i = 0; i < z.points; ++i)
    points[i] = reinterpret_cast<uintptr_t>(&records[size_t(i) * kRecordBytes]);
  // The same bytes as one buffer: a table of 4-byte entries, then the records.
  std::vector<char> same(size_t(z.points) * kEntryBytes, 0);
  same.insert(same.end(), records.begin(), records.end());

  const std::vector<double> t =
      interleaved(runs, {[&] { stdioWrite(plain, same); }, [&] { gdataWrite(ours, points); }}, [&] {
        std::remove(plain.c_str());
        std::remove(ours.c_str());
      });
  const double plainTime = t[0], oursTime = t[1];
  gdataVerify(ours, points);
  std::remove(plain.c_str());
  std::remove(ours.c_str());
  rows.push_back(
      timedRow("2 data class 1, " + std::to_string(z.points) + " x 64 B", oursTime, plainTime, kNone));
  rows.back().hdf5 = "";
  rows.back().vsHdf5 = kNone;
  rows.back().goal = "<= 1.50x one fwrite";
  rows.back().verdict = rows.back().vsStdio <= 1.50;
}

// --- 3: setup metadata ---

// Every tenth group is a probe; of the other nine, five are channels and four
// gates. Item ids of the group references tell the reader which module to use.
enum Kind : uint16_t { kProbe = 1, kChannel = 2, kGate = 3 };
Kind kindOf(int i) {
  return i % 10 == 0 ? kProbe : i % 10 <= 5 ? kChannel : kGate;
}
const char* kindName(Kind k) {
  return k == kProbe ? "Probe" : k == kChannel ? "Channel" : "Gate";
}

// Small whole numbers: exact as floats, and sums of them exact as doubles.
float value(int group, int field) {
  return static_cast<float>((group * 31 + field * 7) % 250 + 1);
}
int32_t ivalue(int group, int field) {
  return static_cast<int32_t>(value(group, field));
}

double sum(const CGProbeTypeDescr& d) {
  return double(d.layoutVersion) + d.item1 + d.item3 + d.item4 + d.item5 + d.item6 + d.item7 + d.item8;
}
double sum(const CGChanTypeDescr& d) {
  return double(d.layoutVersion) + d.item1 + d.item4 + d.item5 + d.item19 + d.item18 + d.item6 + d.item7 +
         d.item8 + d.item20 + d.item9 + d.item10 + d.item11 + d.item12 + d.item13 + d.item14 + d.item15 +
         d.item16 + d.item21 + d.item22;
}
double sum(const CGGateTypeDescr& d) {
  return double(d.layoutVersion) + d.item1 + d.item2 + d.item3 + d.item4 + d.item5 + d.item6 + d.item7 +
         d.item8 + d.item9 + d.item10 + d.item11 + d.item12 + d.item13 + d.GetOriginalPosition() + d.item15 +
         d.item16;
}

struct Setup {
  CGProbeTypeDescr probe;
  CGChanTypeDescr chan;
  CGGateTypeDescr gate;
};

// Writes groups setup groups under parent; returns the sum of their values.
double writeSetupGroups(void* parent, int groups, Setup& s) {
  double total = 0;
  for (int i = 0; i < groups; ++i) {
    const Kind k = kindOf(i);
    const std::string name = std::string(kindName(k)) + " " + std::to_string(i);
    void* g = nullptr;
    check(file_GroupCreate(parent, &g, k, vc(u16(name))), "file_GroupCreate");
    int f = 0;
    if (k == kProbe) {
      CGProbeTypeDescr& d = s.probe;
      copyName(d.groupName, name);
      d.item1 = ivalue(i, ++f);
      for (float* x : {&d.item3, &d.item4, &d.item5, &d.item6, &d.item7, &d.item8}) *x = value(i, ++f);
      check(gprobe_WriteGroupInfo(g, nullptr, &d), "gprobe_WriteGroupInfo");
      total += sum(d);
    } else if (k == kChannel) {
      CGChanTypeDescr& d = s.chan;
      copyName(d.groupName, name);
      copyName(d.item3, "UT " + std::to_string(i) + " A");
      for (int32_t* x : {&d.item1, &d.item4, &d.item5, &d.item19, &d.item18, &d.item6, &d.item8, &d.item12,
                         &d.item16, &d.item22})
        *x = ivalue(i, ++f);
      for (float* x :
           {&d.item7, &d.item20, &d.item9, &d.item10, &d.item11, &d.item13, &d.item14, &d.item15, &d.item21})
        *x = value(i, ++f);
      check(gchan_WriteGroupInfo(g, nullptr, &d), "gchan_WriteGroupInfo");
      total += sum(d);
    } else {
      CGGateTypeDescr& d = s.gate;
      copyName(d.groupName, name);
      for (int32_t* x : {&d.item1, &d.item2, &d.item3, &d.item4, &d.item5, &d.item10, &d.item11, &d.item12,
                         &d.item13, &d.item15, &d.item16})
        *x = ivalue(i, ++f);
      for (float* x : {&d.item6, &d.item7, &d.item8, &d.item9}) *x = value(i, ++f);
      d.SetOriginalPosition(ivalue(i, ++f));
      check(ggate_WriteGroupInfo(g, nullptr, &d), "ggate_WriteGroupInfo");
      total += sum(d);
    }
  }
  return total;
}

// Reads every setup group below parent with its module; returns the sum.
double readSetupGroups(void* parent, Setup& s, uint32_t* itemCount) {
  double total = 0;
  const uint32_t n = file_ItemNbrGet(parent);
  for (uint32_t i = 0; i < n; ++i) {
    uint16_t id = 0, type = 0;
    uint32_t key = 0;
    check(file_ItemInfo(parent, i, &id, &type, nullptr, &key, nullptr, 0), "file_ItemInfo");
    if (type != kTypeGroup) continue;
    void* g = nullptr;
    check(file_GroupOpen(parent, &g, key), "file_GroupOpen");
    if (itemCount) *itemCount += file_ItemNbrGet(g);
    if (id == kProbe) {
      check(gprobe_ReadGroupInfo(g, &s.probe), "gprobe_ReadGroupInfo");
      total += sum(s.probe);
    } else if (id == kChannel) {
      check(gchan_ReadGroupInfo(g, &s.chan), "gchan_ReadGroupInfo");
      total += sum(s.chan);
    } else if (id == kGate) {
      check(ggate_ReadGroupInfo(g, &s.gate, false), "ggate_ReadGroupInfo");
      total += sum(s.gate);
    }
  }
  return total;
}

double velMetaWrite(const std::string& path, int groups) {
  void* file = nullptr;
  void* root = nullptr;
  Setup s;
  check(file_Create(vc(u16(path)), &file), "file_Create");
  check(file_GroupCreate(file, &root, 0, vc(u"Setup")), "file_GroupCreate");
  const double total = writeSetupGroups(root, groups, s);
  check(file_Close(file), "file_Close");
  return total;
}

double velMetaRead(const std::string& path, uint32_t* itemCount) {
  void* file = nullptr;
  void* root = nullptr;
  Setup s;
  check(file_Open(vc(u16(path)), &file), "file_Open");
  check(file_GroupOpen(file, &root, 0), "file_GroupOpen");
  const double total = readSetupGroups(root, s, itemCount);
  check(file_Close(file), "file_Close");
  return total;
}

#ifdef VELFILE_HAVE_HDF5
// One item of a setup group as an HDF5 attribute: name "item<id>", the
// item's type and count, the value bytes as the modules stored them.
struct Attribute {
  std::string name;
  hid_t type;
  hsize_t count;
  std::vector<char> bytes;
};
struct GroupValues {
  std::string name;
  std::vector<Attribute> attributes;
};

hid_t hdf5Type(uint16_t type) {
  switch (type) {
    case kTypeInt8:
      return H5T_NATIVE_SCHAR;
    case kTypeInt16:
      return H5T_NATIVE_SHORT;
    case kTypeUInt16:
    case kTypeUtf16:
      return H5T_NATIVE_USHORT;
    case kTypeInt32:
      return H5T_NATIVE_INT;
    case kTypeUInt32:
      return H5T_NATIVE_UINT;
    case kTypeFloat:
      return H5T_NATIVE_FLOAT;
    case kTypeDouble:
      return H5T_NATIVE_DOUBLE;
    default:
      return H5T_NATIVE_UCHAR;
  }
}

// Takes every item but the name item of every group the library wrote, so
// that HDF5 stores exactly the same values.
std::vector<GroupValues> collectValues(const std::string& path) {
  std::vector<GroupValues> groups;
  void* file = nullptr;
  void* root = nullptr;
  check(file_Open(vc(u16(path)), &file), "file_Open");
  check(file_GroupOpen(file, &root, 0), "file_GroupOpen");
  for (uint32_t i = 0; i < file_ItemNbrGet(root); ++i) {
    uint16_t type = 0;
    uint32_t key = 0;
    VelChar name[64];
    check(file_ItemInfo(root, i, nullptr, &type, nullptr, &key, name, 64), "file_ItemInfo");
    if (type != kTypeGroup) continue;
    void* g = nullptr;
    check(file_GroupOpen(root, &g, key), "file_GroupOpen");
    GroupValues gv;
    for (const VelChar* c = name; *c; ++c) gv.name.push_back(static_cast<char>(*c));
    for (uint32_t k = 0; k < file_ItemNbrGet(g); ++k) {
      uint16_t id = 0, t = 0;
      uint32_t count = 0, field = 0;
      check(file_ItemInfo(g, k, &id, &t, &count, &field, nullptr, 0), "file_ItemInfo");
      if (id == kItemName) continue;
      Attribute a{"item" + std::to_string(id), hdf5Type(t), count, {}};
      a.bytes.resize(size_t(file_SizeOf(t)) * count);
      if (a.bytes.size() <= 4)
        std::memcpy(a.bytes.data(), &field, a.bytes.size());
      else
        check(file_ReadBlock(g, field, static_cast<uint32_t>(a.bytes.size()), a.bytes.data()),
              "file_ReadBlock");
      gv.attributes.push_back(std::move(a));
    }
    groups.push_back(std::move(gv));
  }
  check(file_Close(file), "file_Close");
  return groups;
}

void hdf5MetaWrite(const std::string& path, const std::vector<GroupValues>& groups) {
  const hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
  const hid_t root = H5Gcreate2(file, "Setup", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
  const hid_t scalar = H5Screate(H5S_SCALAR);
  h5check(file >= 0 && root >= 0 && scalar >= 0, "file create");
  for (const GroupValues& gv : groups) {
    const hid_t g = H5Gcreate2(root, gv.name.c_str(), H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    h5check(g >= 0, "H5Gcreate2");
    for (const Attribute& a : gv.attributes) {
      const hid_t space = a.count == 1 ? scalar : H5Screate_simple(1, &a.count, nullptr);
      const hid_t attr = H5Acreate2(g, a.name.c_str(), a.type, space, H5P_DEFAULT, H5P_DEFAULT);
      h5check(attr >= 0 && H5Awrite(attr, a.type, a.bytes.data()) >= 0, "attribute write");
      H5Aclose(attr);
      if (space != scalar) H5Sclose(space);
    }
    H5Gclose(g);
  }
  H5Sclose(scalar);
  H5Gclose(root);
  h5check(H5Fclose(file) >= 0, "H5Fclose");
}

struct Hdf5Walk {
  double total = 0;
  uint32_t attributes = 0;
};

herr_t readAttribute(hid_t location, const char* name, const H5A_info_t*, void* data) {
  Hdf5Walk& w = *static_cast<Hdf5Walk*>(data);
  const hid_t attr = H5Aopen(location, name, H5P_DEFAULT);
  const hid_t stored = H5Aget_type(attr);
  const hid_t type = H5Tget_native_type(stored, H5T_DIR_ASCEND);
  const hid_t space = H5Aget_space(attr);
  const hssize_t n = H5Sget_simple_extent_npoints(space);
  const size_t size = H5Tget_size(type);
  unsigned char buf[256];
  if (attr < 0 || n < 1 || size * size_t(n) > sizeof buf || H5Aread(attr, type, buf) < 0) return -1;
  ++w.attributes;
  if (n == 1) {  // texts are not summed
    if (H5Tget_class(type) == H5T_FLOAT) {
      float f;
      std::memcpy(&f, buf, 4);
      w.total += f;
    } else if (size == 1) {
      w.total += buf[0];
    } else if (H5Tget_sign(type) == H5T_SGN_2) {
      int32_t v;
      std::memcpy(&v, buf, 4);
      w.total += v;
    } else {
      uint32_t v;
      std::memcpy(&v, buf, 4);
      w.total += v;
    }
  }
  H5Sclose(space);
  H5Tclose(type);
  H5Tclose(stored);
  H5Aclose(attr);
  return 0;
}

herr_t readGroup(hid_t root, const char* name, const H5L_info_t*, void* data) {
  const hid_t g = H5Gopen2(root, name, H5P_DEFAULT);
  if (g < 0) return -1;
  const herr_t rc = H5Aiterate2(g, H5_INDEX_NAME, H5_ITER_NATIVE, nullptr, readAttribute, data);
  H5Gclose(g);
  return rc;
}

Hdf5Walk hdf5MetaRead(const std::string& path) {
  Hdf5Walk w;
  const hid_t file = H5Fopen(path.c_str(), H5F_ACC_RDONLY, H5P_DEFAULT);
  const hid_t root = H5Gopen2(file, "Setup", H5P_DEFAULT);
  h5check(file >= 0 && root >= 0, "file open");
  h5check(H5Literate(root, H5_INDEX_NAME, H5_ITER_NATIVE, nullptr, readGroup, &w) >= 0, "group walk");
  H5Gclose(root);
  H5Fclose(file);
  return w;
}
#endif

void benchMetadata(const Sizes& z, int runs, const std::string& dir, std::vector<Row>& rows) {
  const std::string ours = dir + "/compare_meta.vel", h5 = dir + "/compare_meta.h5";
  double expected = 0, readSum = 0;
  uint32_t items = 0;
  const double write = best(
      runs, [&] { std::remove(ours.c_str()); }, [&] { expected = velMetaWrite(ours, z.metaGroups); });
  const double read = best(
      runs, [&] { items = 0; }, [&] { readSum = velMetaRead(ours, &items); });
  if (readSum != expected) fail("setup values read back differ");
  double h5write = kNone, h5read = kNone;
#ifdef VELFILE_HAVE_HDF5
  const std::vector<GroupValues> groups = collectValues(ours);
  h5write = best(
      runs, [&] { std::remove(h5.c_str()); }, [&] { hdf5MetaWrite(h5, groups); });
  Hdf5Walk walk;
  h5read = best(runs, nullptr, [&] { walk = hdf5MetaRead(h5); });
  if (walk.total != expected || walk.attributes + uint32_t(z.metaGroups) != items)
    fail("HDF5 setup values differ from the library's");
#endif
  std::remove(ours.c_str());
  std::remove(h5.c_str());
  char step[96];
  std::snprintf(step, sizeof step, "3 setup write %d groups/%.1f items", z.metaGroups,
                double(items) / z.metaGroups);
  rows.push_back(timedRow(step, write, kNone, h5write));
  Row& w = rows.back();
  w.goal = ">= 10x faster than HDF5";
  if (kHaveHdf5) w.verdict = w.vsHdf5 <= 0.1;
  std::snprintf(step, sizeof step, "3 setup read %d groups", z.metaGroups);
  rows.push_back(timedRow(step, read, kNone, h5read));
  Row& r = rows.back();
  r.goal = ">= 10x faster than HDF5";
  if (kHaveHdf5) r.verdict = r.vsHdf5 <= 0.1;
}

// --- 4: open cost ---

// One section as the library writes it: a probe group as the section group.
// Offsets inside a section are relative to its start, so copies of it laid
// end to end make a valid file of many sections.
std::vector<char> sectionBytes(const std::string& path) {
  void* file = nullptr;
  void* g = nullptr;
  check(file_Create(vc(u16(path)), &file), "file_Create");
  check(file_GroupCreate(file, &g, 0, vc(u"Probe")), "file_GroupCreate");
  CGProbeTypeDescr d;
  copyName(d.groupName, "Probe");
  d.item1 = 7;
  check(gprobe_WriteGroupInfo(g, nullptr, &d), "gprobe_WriteGroupInfo");
  check(file_Close(file), "file_Close");
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  return bytes;
}

double openAndWalk(const std::string& path, uint32_t sections) {
  void* file = nullptr;
  check(file_Open(vc(u16(path)), &file), "file_Open");
  const uint32_t n = file_ItemNbrGet(file);
  if (n != sections) fail("section count " + std::to_string(n) + " instead of " + std::to_string(sections));
  CGProbeTypeDescr d;
  int64_t total = 0;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t key = 0;
    VelChar name[32];
    check(file_ItemInfo(file, i, nullptr, nullptr, nullptr, &key, name, 32), "file_ItemInfo");
    void* g = nullptr;
    check(file_GroupOpen(file, &g, key), "file_GroupOpen");
    check(gprobe_ReadGroupInfo(g, &d), "gprobe_ReadGroupInfo");
    total += d.item1;
  }
  check(file_Close(file), "file_Close");
  return double(total);
}

// Measured twice: as the process runs, and with malloc keeping the heap it
// grew (no trimming): file_Close frees every record, and the next file_Open
// otherwise pays page faults to get the memory back from the kernel.
void benchOpen(const Sizes& z, int runs, const std::string& dir, std::vector<Row>& rows) {
  const std::vector<char> one = sectionBytes(dir + "/compare_section.vel");
  const uint32_t counts[2] = {z.fewSections, z.manySections};
  std::string paths[2];
  for (int k = 0; k < 2; ++k) {
    paths[k] = dir + "/compare_sections_" + std::to_string(counts[k]) + ".vel";
    std::ofstream out(paths[k], std::ios::binary | std::ios::trunc);
    for (uint32_t i = 0; i < counts[k]; ++i) out.write(one.data(), std::streamsize(one.size()));
    if (!out) fail("writing " + paths[k]);
  }
  for (bool heapKept : {false, true}) {
    if (heapKept) {
      mallopt(M_TRIM_THRESHOLD, 1 << 30);
      mallopt(M_TOP_PAD, 64 << 20);
    }
    double perSection[2];
    for (int k = 0; k < 2; ++k) {
      double total = 0;
      perSection[k] = best(runs, nullptr, [&] { total = openAndWalk(paths[k], counts[k]); }) / counts[k];
      if (total != 7.0 * counts[k]) fail("sections read back differ");
      char value[32];
      std::snprintf(value, sizeof value, "%.2f us/sect", perSection[k] * 1e6);
      Row r;
      r.step =
          std::string(heapKept ? "4 heap kept: " : "4 open+walk ") + std::to_string(counts[k]) + " sections";
      r.ours = value;
      rows.push_back(r);
    }
    Row& r = rows.back();
    r.stdio = "(" + ratio(perSection[1] / perSection[0]) + "x of " + std::to_string(counts[0]) + ")";
    if (!heapKept) {
      r.goal = "flat: <= 1.25x per section";
      r.verdict = perSection[1] <= 1.25 * perSection[0];
    }
  }
  mallopt(M_TRIM_THRESHOLD, 128 * 1024);
  mallopt(M_TOP_PAD, 128 * 1024);
  for (const std::string& path : paths) std::remove(path.c_str());
}

// --- 5: memory ---

long statusKib(const char* key) {
  const std::string line = firstLineWith("/proc/self/status", key);
  return line.empty() ? -1 : std::strtol(line.c_str() + std::strlen(key), nullptr, 10);
}

// An acquisition file: one section holding a sub-group of setup groups and a
// data group whose data reference points at a block of bulkBytes.
void writeAcquisitionFile(const std::string& path, uint64_t bulkBytes, int groups) {
  void* file = nullptr;
  void* section = nullptr;
  void* setup = nullptr;
  void* data = nullptr;
  check(file_Create(vc(u16(path)), &file), "file_Create");
  check(file_GroupCreate(file, &section, 0, vc(u"Acquisition")), "file_GroupCreate");
  check(file_GroupCreate(section, &setup, 1, vc(u"Setup")), "file_GroupCreate");
  Setup s;
  writeSetupGroups(setup, groups, s);
  check(file_GroupCreate(section, &data, 2, vc(u"Data")), "file_GroupCreate");
  const uint32_t offset = static_cast<uint32_t>(file_Allocate(data, static_cast<uint32_t>(bulkBytes)));
  if (bulkBytes && offset == 0) fail("file_Allocate");
  std::vector<char> chunk(std::min<uint64_t>(bulkBytes, 64ull << 20), 'd');
  for (uint64_t done = 0; done < bulkBytes; done += chunk.size())
    check(file_Write(data, offset + done, chunk.data(), static_cast<uint32_t>(chunk.size()), nullptr),
          "file_Write");
  CGDataTypeFDD d;
  copyName(d.groupName, "Data");
  d.dataClass = 2;
  d.firstPointCount = static_cast<int32_t>(bulkBytes / 4096);
  d.secondPointCount = 1024;
  d.pointEntrySize = 4;
  d.dataReference = offset;
  check(gdata_WriteGroupInfo(data, nullptr, &d, 1), "gdata_WriteGroupInfo");
  check(file_Close(file), "file_Close");
}

// In a fresh process: opens the file and walks all of its metadata with the
// modules. Prints the peak memory before and after.
int memoryChild(const std::string& path) {
  const long baseline = statusKib("VmHWM:");
  void* file = nullptr;
  void* section = nullptr;
  check(file_Open(vc(u16(path)), &file), "file_Open");
  check(file_GroupOpen(file, &section, 0), "file_GroupOpen");
  double total = 0;
  for (uint32_t i = 0; i < file_ItemNbrGet(section); ++i) {
    uint16_t id = 0, type = 0;
    uint32_t key = 0;
    check(file_ItemInfo(section, i, &id, &type, nullptr, &key, nullptr, 0), "file_ItemInfo");
    if (type != kTypeGroup) continue;
    void* g = nullptr;
    check(file_GroupOpen(section, &g, key), "file_GroupOpen");
    if (id == 1) {
      Setup s;
      total += readSetupGroups(g, s, nullptr);
    } else {
      CGDataTypeFDD d;
      check(gdata_ReadGroupInfo(g, &d), "gdata_ReadGroupInfo");
      total += double(d.dataReference);
    }
  }
  check(file_Close(file), "file_Close");
  std::printf("%ld %ld %.0f\n", baseline, statusKib("VmHWM:"), total);
  return 0;
}

// Peak memory growth (KiB) of memoryChild in a fresh process.
long measureChild(const std::string& self, const std::string& path) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) fail("pipe");
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) fail("fork");
  if (pid == 0) {
    dup2(pipeFds[1], STDOUT_FILENO);
    close(pipeFds[0]);
    close(pipeFds[1]);
    execl(self.c_str(), self.c_str(), "--memory-child", path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(pipeFds[1]);
  char buf[128] = {0};
  const ssize_t got = read(pipeFds[0], buf, sizeof buf - 1);
  close(pipeFds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  long baseline = 0, peak = 0;
  if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
      std::sscanf(buf, "%ld %ld", &baseline, &peak) != 2)
    fail("memory child failed");
  return peak - baseline;
}

void benchMemory(const Sizes& z, const std::string& self, const std::string& dir, std::vector<Row>& rows) {
  const std::string path = dir + "/compare_memory.vel";
  for (uint64_t bulk : {uint64_t(0), z.memoryBulkBytes}) {
    std::remove(path.c_str());
    writeAcquisitionFile(path, bulk, z.memoryGroups);
    const long kib = measureChild(self, path);
    std::remove(path.c_str());
    Row r;
    r.step =
        "5 memory, " + std::to_string(z.memoryGroups) + " groups + " + std::to_string(bulk >> 20) + " MiB";
    r.ours = "+" + std::to_string(kib) + " KiB";
    if (bulk) {
      r.goal = "< 10 MiB above baseline";
      r.verdict = kib < 10 * 1024;
    }
    rows.push_back(r);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--memory-child") == 0) return memoryChild(argv[2]);
  bool quick = false;
  int runs = 3;
  std::string only = "12345";
  std::string dir = "/tmp";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--quick") == 0) {
      quick = true;
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
      only = argv[++i];
    } else if (argv[i][0] == '-') {
      std::fprintf(stderr, "usage: %s [--quick] [--runs N] [--only STEPS] [directory]\n", argv[0]);
      return 2;
    } else {
      dir = argv[i];
    }
  }
  char self[4096];
  const ssize_t selfLength = readlink("/proc/self/exe", self, sizeof self - 1);
  if (selfLength <= 0) fail("cannot find this program");
  self[selfLength] = 0;

  const Sizes& z = quick ? kQuick : kFull;
  std::printf("bench_compare%s, best of %d, directory %s\n", quick ? " --quick" : "", runs, dir.c_str());
  std::printf("machine: %ld cores, %s; file system %s\n", sysconf(_SC_NPROCESSORS_ONLN), cpuModel().c_str(),
              fileSystemOf(dir).c_str());
  std::printf("HDF5: %s\n\n", kHaveHdf5 ? "linked" : "not found at build time");
  std::fflush(stdout);

  std::vector<Row> rows;
  auto wanted = [&](char step) { return only.find(step) != std::string::npos; };
  if (wanted('1')) benchBulk(z, runs, dir, rows);
  if (wanted('2')) benchAcquisition(z, runs, dir, rows);
  if (wanted('3')) benchMetadata(z, runs, dir, rows);
  if (wanted('4')) benchOpen(z, runs, dir, rows);
  if (wanted('5')) benchMemory(z, self, dir, rows);
  printTable(rows);
  return 0;
}
