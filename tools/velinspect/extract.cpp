// velinspect: the extract command, which copies an item's value or a bulk
// block to a file.
#include <velfile/velfile.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#define VELINSPECT_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define VELINSPECT_ISATTY(fd) isatty(fd)
#endif

#include "commands.h"
#include "walk.h"

namespace velinspect {

namespace {

// Values are copied in slabs of 16 library chunks of 256 KiB: memory stays
// bounded whatever the block's size, and the bar moves per slab.
const uint32_t kSlab = 16 * 0x40000;
// Blocks below this size get no progress bar.
const uint64_t kBarThreshold = 1 << 20;

class ProgressBar {
 public:
  explicit ProgressBar(uint64_t total) : total_(total) {
    shown_ = total >= kBarThreshold && VELINSPECT_ISATTY(2);
  }
  void update(uint64_t done) {
    if (!shown_) return;
    const int percent = static_cast<int>(done * 100 / total_);
    const int filled = percent * 40 / 100;
    std::fprintf(stderr, "\r[%s%s] %3d%%  %llu / %llu MiB", std::string(filled, '#').c_str(),
                 std::string(40 - filled, ' ').c_str(), percent, static_cast<unsigned long long>(done >> 20),
                 static_cast<unsigned long long>(total_ >> 20));
    std::fflush(stderr);
  }
  ~ProgressBar() {
    if (shown_) std::fputc('\n', stderr);
  }

 private:
  uint64_t total_;
  bool shown_ = false;
};

// Output to a file or to standard output. A plain file left incomplete is
// removed; a device, a pipe or a link never is.
class Output {
 public:
  explicit Output(const std::string& path) : path_(path) {
    if (path == "-") {
#if defined(_WIN32)
      _setmode(_fileno(stdout), _O_BINARY);
#endif
      return;
    }
    std::error_code ec;
    const std::filesystem::file_type type = std::filesystem::symlink_status(path, ec).type();
    removable_ = type == std::filesystem::file_type::not_found || type == std::filesystem::file_type::regular;
    file_.open(path, std::ios::binary | std::ios::trunc);
  }
  uint64_t written() const {
    return written_;
  }
  bool ok() {
    return path_ == "-" ? !std::cout.fail() : file_.good();
  }
  bool write(const unsigned char* p, size_t n) {
    std::ostream& out = path_ == "-" ? std::cout : static_cast<std::ostream&>(file_);
    out.write(reinterpret_cast<const char*>(p), static_cast<std::streamsize>(n));
    written_ += n;
    return out.good();
  }
  bool finish() {
    if (path_ == "-") return std::cout.flush().good();
    file_.close();
    done_ = !file_.fail();
    return done_;
  }
  ~Output() {
    if (path_ == "-" || done_) return;
    file_.close();
    if (!removable_) return;
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }

 private:
  std::string path_;
  std::ofstream file_;
  uint64_t written_ = 0;
  bool removable_ = false;
  bool done_ = false;
};

// Copies count elements of the given type from offset (relative to the
// group's section) to out, swapped into the host's byte order.
int copyElements(void* group, uint64_t offset, uint64_t count, uint16_t type, Output* out,
                 std::string* error) {
  const uint64_t size = static_cast<uint64_t>(VelFile::file_SizeOf(type));
  const uint64_t total = count * size;
  if (offset + total > UINT32_MAX) {
    *error = "the data (" + std::to_string(total) + " bytes at +" + hex(offset) + ") lies outside the file";
    return kExitDamaged;
  }
  std::vector<unsigned char> buffer(static_cast<size_t>(std::min<uint64_t>(total, kSlab)));
  ProgressBar bar(total);
  for (uint64_t done = 0; done < count;) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count - done, kSlab / size));
    const uint64_t at = offset + done * size;
    const int rc = VelFile::file_Read(group, static_cast<uint32_t>(at), n, type,
                                      reinterpret_cast<char*>(buffer.data()), nullptr);
    if (rc != VelFile::kOk) {
      *error = "cannot read " + std::to_string(n * size) + " bytes at +" + hex(at) + ": " + resultText(rc);
      return kExitDamaged;
    }
    if (!out->write(buffer.data(), static_cast<size_t>(n * size))) {
      *error = "cannot write the output";
      return kExitOutput;
    }
    done += n;
    bar.update(done * size);
  }
  return kExitOk;
}

// Finds the item by id (the first one) or by directory index.
bool findItem(void* group, const ExtractOptions& o, uint32_t* index) {
  const uint32_t n = VelFile::file_ItemNbrGet(group);
  if (o.byIndex) {
    *index = o.item;
    return o.item < n;
  }
  for (uint32_t i = 0; i < n; ++i) {
    uint16_t id = 0;
    if (VelFile::file_ItemInfo(group, i, &id, nullptr, nullptr, nullptr, nullptr, 0) == VelFile::kOk &&
        id == o.item) {
      *index = i;
      return true;
    }
  }
  return false;
}

int extractFrom(const Node& node, const ExtractOptions& o, Output* out, std::string* what,
                std::string* error) {
  if (!o.byId && !o.byIndex) {
    const uint64_t size = static_cast<uint64_t>(VelFile::file_SizeOf(o.type));
    if (o.size % size != 0) {
      *error = "the block size " + std::to_string(o.size) + " is not a multiple of the " + typeName(o.type) +
               " element size " + std::to_string(size);
      return kExitUsage;
    }
    *what = "the block at +" + hex(o.offset) + " of the section at " + hex(node.sectionStart);
    return copyElements(node.group, o.offset, o.size / size, o.type, out, error);
  }
  uint32_t index = 0;
  if (!findItem(node.group, o, &index)) {
    *error = "no item " + std::string(o.byIndex ? "[" : "id ") + std::to_string(o.item) +
             (o.byIndex ? "]" : "") + " in " + node.path;
    return kExitUsage;
  }
  uint16_t id = 0, type = 0;
  uint32_t count = 0, field = 0;
  const int rc = VelFile::file_ItemInfo(node.group, index, &id, &type, &count, &field, nullptr, 0);
  if (rc != VelFile::kOk) {
    *error = "cannot read item [" + std::to_string(index) + "] of " + node.path + ": " + resultText(rc);
    return kExitDamaged;
  }
  *what = "item [" + std::to_string(index) + "] id " + std::to_string(id) + " of " + node.path;
  if (type == VelFile::kTypeGroup) {
    *error = *what + " is a group reference: it has no value bytes (dump its group instead)";
    return kExitUsage;
  }
  const uint64_t total = uint64_t(VelFile::file_SizeOf(type)) * count;
  if (total > 4) return copyElements(node.group, field, count, type, out, error);
  // An inline value stands in the value field, already in the host's order.
  unsigned char bytes[4];
  std::memcpy(bytes, &field, 4);
  if (!out->write(bytes, static_cast<size_t>(total))) {
    *error = "cannot write the output";
    return kExitOutput;
  }
  return kExitOk;
}

}  // namespace

int runExtract(const ExtractOptions& o) {
  GroupPath path;
  std::string error;
  if (!parseGroupPath(o.group, &path, &error)) {
    std::cerr << "velinspect: " << error << "\n";
    return kExitUsage;
  }
  Container container;
  int code = container.open(o.file, &error);
  if (code != kExitOk) {
    std::cerr << "velinspect: " << error << "\n";
    return code;
  }
  RawFile raw;
  if (!raw.open(o.file, &error)) {
    std::cerr << "velinspect: cannot open " << o.file << ": " << error << "\n";
    return kExitUnreadable;
  }
  Walker walker(container.handle(), &raw);
  Node node;
  code = walker.resolve(path, o.group, false, &node, &error);
  if (code != kExitOk) {
    std::cerr << "velinspect: " << error << "\n";
    return code;
  }
  Output out(o.out);
  if (!out.ok()) {
    std::cerr << "velinspect: cannot create " << o.out << "\n";
    return kExitOutput;
  }
  std::string what;
  code = extractFrom(node, o, &out, &what, &error);
  if (code == kExitOk && !out.finish()) {
    error = "cannot write " + o.out;
    code = kExitOutput;
  }
  if (code != kExitOk) {
    std::cerr << "velinspect: " << error << "\n";
    return code;
  }
  if (o.out != "-")
    std::cerr << "velinspect: wrote " << out.written() << " bytes, " << what << ", to " << o.out << "\n";
  return kExitOk;
}

}  // namespace velinspect
