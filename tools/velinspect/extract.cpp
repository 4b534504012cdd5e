// velinspect: the extract command, which copies an item's value or a bulk
// block to a file.
#include <fcntl.h>
#include <velfile/velfile.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <random>
#include <vector>

#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
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

// The last component of path with its symbolic links followed (a link
// whose target does not exist yet gives that target).
std::filesystem::path followLinks(std::filesystem::path path) {
  std::error_code ec;
  for (int hops = 0; hops < 40 && std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec));
       ++hops) {
    const std::filesystem::path to = std::filesystem::read_symlink(path, ec);
    if (ec) break;
    path = to.is_absolute() ? to : path.parent_path() / to;
  }
  return path;
}

// Creates a file that did not exist, with the mode a new file gets.
std::FILE* createNew(const std::filesystem::path& path) {
#if defined(_WIN32)
  const int fd = _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  return fd < 0 ? nullptr : _fdopen(fd, "wb");
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  return fd < 0 ? nullptr : fdopen(fd, "wb");
#endif
}

// Where the extracted bytes go. Nothing is touched before the first write,
// which comes after every check: a failed extract leaves the output as it
// was. A regular file, also one reached through a link, is written as a
// temporary file beside it that takes its mode and is renamed over it at the
// end; standard output and special files (a device, a pipe) are written
// directly.
class Output {
 public:
  explicit Output(const std::string& path) : path_(path) {}
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  ~Output() {
    if (file_ && file_ != stdout) std::fclose(file_);
    std::error_code ec;
    if (!temp_.empty()) std::filesystem::remove(temp_, ec);
  }
  uint64_t written() const { return written_; }
  const std::string& error() const { return error_; }

  bool write(const unsigned char* p, size_t n) {
    if (!file_ && !open()) return false;
    written_ += n;
    if (n == 0 || std::fwrite(p, 1, n, file_) == n) return true;
    return failed("cannot write " + path_ + ": " + std::strerror(errno));
  }
  bool finish() {
    if (!file_ && !open()) return false;
    const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
    if (file_ != stdout && std::fclose(file_) != 0 && flushed) {
      file_ = nullptr;
      return failed("cannot write " + path_ + ": " + std::strerror(errno));
    }
    if (file_ != stdout) file_ = nullptr;
    if (!flushed) return failed("cannot write " + path_);
    if (temp_.empty()) return true;
    std::error_code ec;
    std::filesystem::rename(temp_, target_, ec);
    if (ec) return failed("cannot replace " + target_.u8string() + ": " + ec.message());
    temp_.clear();
    return true;
  }

 private:
  bool failed(const std::string& error) {
    error_ = error;
    return false;
  }
  bool open() {
    if (path_ == "-") {
#if defined(_WIN32)
      _setmode(_fileno(stdout), _O_BINARY);
#endif
      file_ = stdout;
      return true;
    }
    target_ = followLinks(path_);
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(target_, ec);
    if (status.type() != std::filesystem::file_type::regular &&
        status.type() != std::filesystem::file_type::not_found) {
#if defined(_WIN32)
      file_ = _wfopen(target_.c_str(), L"wb");
#else
      file_ = std::fopen(target_.c_str(), "wb");
#endif
      return file_ || failed("cannot open " + path_ + " for writing: " + std::strerror(errno));
    }
    std::random_device random;
    for (int attempt = 0; attempt < 16 && !file_; ++attempt) {
      temp_ = target_;
      temp_ += ".velinspect-" + std::to_string(random() % 1000000);
      file_ = createNew(temp_);
      if (!file_ && errno != EEXIST) break;
    }
    if (!file_) {
      const std::string reason = std::strerror(errno);
      temp_.clear();
      return failed("cannot create a temporary file beside " + target_.u8string() + ": " + reason);
    }
    if (status.type() == std::filesystem::file_type::regular)
      std::filesystem::permissions(temp_, status.permissions(), ec);
    return true;
  }

  std::string path_;
  std::filesystem::path target_, temp_;
  std::FILE* file_ = nullptr;
  uint64_t written_ = 0;
  std::string error_;
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
      *error = out->error();
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
             (o.byIndex ? "]" : "") + " in " + shownPath(node.path);
    return kExitUsage;
  }
  uint16_t id = 0, type = 0;
  uint32_t count = 0, field = 0;
  const int rc = VelFile::file_ItemInfo(node.group, index, &id, &type, &count, &field, nullptr, 0);
  if (rc != VelFile::kOk) {
    *error =
        "cannot read item [" + std::to_string(index) + "] of " + shownPath(node.path) + ": " + resultText(rc);
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
    *error = out->error();
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
  std::error_code ec;
  if (o.out != "-" && std::filesystem::equivalent(o.out, o.file, ec)) {
    std::cerr << "velinspect: the output " << o.out << " is the input file: it is not overwritten\n";
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
  std::string what;
  code = extractFrom(node, o, &out, &what, &error);
  if (code == kExitOk && !out.finish()) {
    error = out.error();
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
