// velinspect: the extract command, which copies an item's value or a bulk
// block to a file.
#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <random>
#include <vector>
#include <velfile/velfile.hpp>

#if defined(_WIN32)
#include <io.h>
#include <sys/stat.h>
#define VELINSPECT_ISATTY(fd) _isatty(fd)
#else
#include <sys/stat.h>
#include <unistd.h>
#define VELINSPECT_ISATTY(fd) isatty(fd)
#endif

#include "commands.h"
#include "common.h"

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
  // Whether the path leads to the file this process's standard output is
  // (/dev/stdout, /dev/fd/1, or the file's own name): writing it through
  // stdout keeps the shell's redirection, where a renamed temporary file
  // would leave the shell writing to a deleted file and `>>` would be lost.
  bool isStandardOutput() const {
#if defined(_WIN32)
    return false;
#else
    struct stat out, named;
    return fstat(1, &out) == 0 && stat(path_.c_str(), &named) == 0 && out.st_dev == named.st_dev &&
           out.st_ino == named.st_ino;
#endif
  }
  bool open() {
    if (path_ == "-" || isStandardOutput()) {
#if defined(_WIN32)
      _setmode(_fileno(stdout), _O_BINARY);
#endif
      file_ = stdout;
      return true;
    }
    // What the path leads to, as the system follows its links (also links
    // whose target is no path, as /dev/stdout on a pipe).
    std::error_code ec;
    const std::filesystem::file_status status = std::filesystem::status(path_, ec);
    if (status.type() != std::filesystem::file_type::regular &&
        status.type() != std::filesystem::file_type::not_found) {
#if defined(_WIN32)
      file_ = _wfopen(std::filesystem::u8path(path_).c_str(), L"wb");
#else
      file_ = std::fopen(path_.c_str(), "wb");
#endif
      return file_ || failed("cannot open " + path_ + " for writing: " + std::strerror(errno));
    }
    target_ = followLinks(path_);
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
// group's section) to out, in the host's byte order. The caller has checked
// that they lie inside the section.
int copyElements(const velfile::Group& group, uint64_t offset, uint64_t count, uint16_t type, Output* out,
                 std::string* error) {
  const uint64_t size = static_cast<uint64_t>(VelFile::file_SizeOf(type));
  const uint64_t total = count * size;
  std::vector<unsigned char> buffer(static_cast<size_t>(std::min<uint64_t>(total, kSlab)));
  ProgressBar bar(total);
  for (uint64_t done = 0; done < count;) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count - done, kSlab / size));
    const uint64_t at = offset + done * size;
    {
      std::lock_guard<std::recursive_mutex> lock(velfile::library_mutex());
      void* handle = group.handle();
      const int rc = VelFile::file_Read(handle, static_cast<uint32_t>(at), n, type,
                                        reinterpret_cast<char*>(buffer.data()), nullptr);
      if (rc != VelFile::kOk) {
        *error = "cannot read " + std::to_string(n * size) + " bytes at +" + hex(at) + " (result " +
                 std::to_string(rc) + ")";
        return kExitDamaged;
      }
      // The library leaves UTF-16 text as stored.
      if (type == VelFile::kTypeUtf16 && VelFile::file_SwapNeeded(handle))
        for (size_t i = 0; i + 1 < n * size; i += 2) std::swap(buffer[i], buffer[i + 1]);
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

// What check says of a value that runs past the end of its section.
std::string outside(const std::string& what, uint64_t bytes, uint32_t offset, uint32_t sectionSize) {
  return what + " (" + std::to_string(bytes) + " bytes at +" + hex(offset) +
         ") runs past the end of its section (" + std::to_string(sectionSize) + " bytes)";
}

int extractFrom(const velfile::Group& group, const ExtractOptions& o, Output* out, std::string* what,
                std::string* error) {
  const velfile::Section section = group.section();
  const std::string path = shownPath(group.path());
  if (!o.byId && !o.byIndex) {
    const uint64_t size = static_cast<uint64_t>(VelFile::file_SizeOf(o.type));
    if (size == 0 || o.size % size != 0) {
      *error = "the block size " + std::to_string(o.size) + " is not a multiple of the " +
               velfile::type_name(o.type) + " element size " + std::to_string(size);
      return kExitUsage;
    }
    if (uint64_t(o.offset) + o.size > section.size()) {
      *error = path + ": " + outside("the block", o.size, o.offset, section.size());
      return kExitDamaged;
    }
    *what = "the block at +" + hex(o.offset) + " of the section at " + hex(section.start());
    return copyElements(group, o.offset, o.size / size, o.type, out, error);
  }
  velfile::Item item;
  try {
    item = o.byIndex ? group.item_at(o.item) : group.item(static_cast<uint16_t>(o.item));
  } catch (const velfile::Error& e) {
    if (e.reason() != velfile::Reason::NotFound) throw;
    *error = "no item " + std::string(o.byIndex ? "[" : "id ") + std::to_string(o.item) +
             (o.byIndex ? "]" : "") + " in " + path;
    return kExitUsage;
  }
  *what = "item [" + std::to_string(item.index()) + "] id " + std::to_string(item.id()) + " of " + path;
  if (item.type() == VelFile::kTypeGroup) {
    *error = *what + " is a group reference: it has no value bytes (dump its group instead)";
    return kExitUsage;
  }
  const uint64_t total = uint64_t(VelFile::file_SizeOf(item.type())) * item.count();
  try {
    if (total <= kSlab) {
      const std::vector<uint8_t> bytes = item.bytes();
      if (!out->write(bytes.data(), bytes.size())) {
        *error = out->error();
        return kExitOutput;
      }
      return kExitOk;
    }
    // The layer reads a value whole: it is asked where the value lies
    // (which it checks), and the copy goes in slabs.
    item.extent();
  } catch (const velfile::Error& e) {
    if (e.reason() == velfile::Reason::OutsideSection) {
      *error = path + " item [" + std::to_string(item.index()) + "] (id " + std::to_string(item.id()) + ", " +
               velfile::type_name(item.type()) + " x" + std::to_string(item.count()) +
               "): " + outside("the value", total, item.value_field(), section.size());
      return kExitDamaged;
    }
    throw;
  }
  return copyElements(group, item.value_field(), item.count(), item.type(), out, error);
}

}  // namespace

int runExtract(const ExtractOptions& o) {
  try {
    velfile::parse_group_path(o.group);
  } catch (const velfile::Error& e) {
    return report(e);
  }
  std::error_code ec;
  if (o.out != "-" && std::filesystem::equivalent(o.out, o.file, ec)) {
    std::cerr << "velinspect: the output " << o.out << " is the input file: it is not overwritten\n";
    return kExitUsage;
  }
  velfile::File file;
  int code = kExitOk;
  if (!openFile(o.file, &file, &code)) return code;
  Output out(o.out);
  std::string what, error;
  try {
    code = extractFrom(file.group(o.group), o, &out, &what, &error);
  } catch (const velfile::Error& e) {
    return report(e);
  }
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
