// The Windows platform layer: wide-character paths handed to CreateFileW,
// the share modes of the operating system itself, positioned reads and writes
// through OVERLAPPED offsets, and the ANSI code page for narrow text.
#if defined(_WIN32)

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "platform.h"

namespace velfile {
namespace {

// ReadFile and WriteFile move at most a DWORD per call.
const size_t kMaxTransfer = 0x40000000;

// The errno values the C runtime gives for the same failures, but for a
// sharing violation: EBUSY here, where the C runtime says EACCES, so that
// "in use" and "no permission" stay apart (the container layer takes both
// for the runtime's EACCES where it falls back to reading).
int errnoOf(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_PATHNAME:
      return ENOENT;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_NETWORK_ACCESS_DENIED:
      return EACCES;
    case ERROR_TOO_MANY_OPEN_FILES:
      return EMFILE;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_FILENAME_EXCED_RANGE:
      return ENAMETOOLONG;
    default:
      return EINVAL;
  }
}

// The platform interface carries paths as UTF-8; Windows gets them back as the
// UTF-16 units the host passed.
bool widePath(const std::string& path, std::wstring* out) {
  out->clear();
  if (path.empty() || path.size() > INT_MAX) return false;
  const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                                    nullptr, 0);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), static_cast<int>(path.size()),
                             &(*out)[0], n) == n;
}

OVERLAPPED at(uint64_t position) {
  OVERLAPPED o;
  std::memset(&o, 0, sizeof o);
  o.Offset = static_cast<DWORD>(position);
  o.OffsetHigh = static_cast<DWORD>(position >> 32);
  return o;
}

class Win32Stream : public Stream {
 public:
  explicit Win32Stream(HANDLE h) : h_(h) {}
  ~Win32Stream() override { close(); }

  bool seek(uint32_t position) override {
    if (position > static_cast<uint32_t>(INT32_MAX)) return false;
    pos_ = position;
    return true;
  }

  bool read(void* buffer, size_t n) override {
    unsigned char* p = static_cast<unsigned char*>(buffer);
    size_t done = 0;
    while (done < n) {
      const DWORD want = static_cast<DWORD>(std::min(n - done, kMaxTransfer));
      OVERLAPPED o = at(pos_ + done);
      DWORD got = 0;
      // At the end of the file a positioned read fails with ERROR_HANDLE_EOF
      // or succeeds with nothing read: either way a short read.
      if (!ReadFile(h_, p + done, want, &got, &o) || got == 0) return false;
      done += got;
    }
    pos_ += done;
    return true;
  }

  bool write(const void* data, size_t n) override {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    size_t done = 0;
    while (done < n) {
      const DWORD want = static_cast<DWORD>(std::min(n - done, kMaxTransfer));
      OVERLAPPED o = at(pos_ + done);
      DWORD put = 0;
      if (!WriteFile(h_, p + done, want, &put, &o) || put == 0) return false;
      done += put;
    }
    pos_ += done;
    return true;
  }

  bool size(uint64_t* size) override {
    LARGE_INTEGER s;
    if (!GetFileSizeEx(h_, &s)) return false;
    *size = static_cast<uint64_t>(s.QuadPart);
    return true;
  }

  bool close() override {
    if (h_ == INVALID_HANDLE_VALUE) return true;
    const bool ok = CloseHandle(h_) != 0;
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
  uint64_t pos_ = 0;
};

class Win32Platform : public Platform {
 public:
  std::unique_ptr<Stream> open(const std::string& path, OpenMode mode, ShareMode share, int* error) override {
    std::wstring wide;
    if (!widePath(path, &wide)) {
      *error = ENOENT;
      return nullptr;
    }
    const DWORD access = mode == OpenMode::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    // Deny-write lets others read only; deny-none lets them read and write.
    const DWORD sharing =
        share == ShareMode::DenyWrite ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE;
    // "wb+" creates or truncates; "rb", "r+b" and "rb+" need the file.
    const DWORD disposition = mode == OpenMode::CreateUpdate ? CREATE_ALWAYS : OPEN_EXISTING;
    if (mode == OpenMode::CreateUpdate) {
      // The share modes would let a create truncate a file that readers
      // hold with deny-none: an open that shares nothing tells whether any
      // handle is open on it. Between its close and the create a reader may
      // open the file; it then finds no section, which is what it would
      // find a moment later anyway.
      HANDLE alone = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
      if (alone == INVALID_HANDLE_VALUE) {
        *error = errnoOf(GetLastError());
        return nullptr;
      }
      CloseHandle(alone);
    }
    HANDLE h =
        CreateFileW(wide.c_str(), access, sharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *error = errnoOf(GetLastError());
      return nullptr;
    }
    try {
      return std::unique_ptr<Stream>(new Win32Stream(h));
    } catch (...) {
      CloseHandle(h);  // an open handle would go on refusing others by its share mode
      throw;
    }
  }

  bool fileSize(const std::string& path, uint64_t* size) override {
    std::wstring wide;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!widePath(path, &wide) || !GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data))
      return false;
    *size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
  }
};

Win32Platform g_native;

}  // namespace

Platform& nativePlatform() {
  return g_native;
}

// Narrow text is in the ANSI code page. Best-fit substitutes are refused, so
// that "cannot be represented exactly" means the same as on other systems.
bool utf16ToNarrow(const char16_t* text, size_t length, char* out, size_t capacity) {
  if (capacity == 0 || length > INT_MAX || capacity > INT_MAX) return false;
  int used = 0;
  if (length > 0) {
    const wchar_t* w = reinterpret_cast<const wchar_t*>(text);
    const UINT cp = GetACP();
    BOOL usedDefault = FALSE;
    // UTF-8 takes no default character: invalid input is an error instead.
    const bool utf8 = cp == CP_UTF8;
    used = WideCharToMultiByte(cp, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, w,
                               static_cast<int>(length), out, static_cast<int>(capacity), nullptr,
                               utf8 ? nullptr : &usedDefault);
    if (used <= 0 || usedDefault) return false;
  }
  if (static_cast<size_t>(used) >= capacity) return false;  // no room for the terminator
  std::memset(out + used, 0, capacity - static_cast<size_t>(used));
  return true;
}

size_t narrowToUtf16(const char* bytes, size_t n, char16_t* out) {
  int produced = 0;
  if (n > 0 && n <= INT_MAX) {
    // No code page gives more UTF-16 units than bytes, so n units are room
    // enough; undecodable bytes come out as the code page's default.
    const DWORD flags = GetACP() == CP_UTF8 ? 0 : MB_PRECOMPOSED;  // UTF-8 takes no flags
    produced = MultiByteToWideChar(CP_ACP, flags, bytes, static_cast<int>(n), reinterpret_cast<wchar_t*>(out),
                                   static_cast<int>(n));
    if (produced < 0) produced = 0;
  }
  for (size_t i = static_cast<size_t>(produced); i < n; ++i) out[i] = 0;
  return static_cast<size_t>(produced);
}

}  // namespace velfile

#endif
