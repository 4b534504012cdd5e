// The platform in use: the operating system's own (platform_posix.cpp or
// platform_win32.cpp), or a replacement installed by a test; names that
// registerSource gave open the host's sources (source_stream.cpp) in either.
#include "platform.h"

#include "source_stream.h"

namespace velfile {
namespace {
Platform* g_current = nullptr;  // null: the native one

Platform& underneath() {
  return g_current ? *g_current : nativePlatform();
}

class Routed : public Platform {
 public:
  std::unique_ptr<Stream> open(const std::string& path, OpenMode mode, ShareMode share, int* error) override {
    bool routed = false;
    std::unique_ptr<Stream> s = openSource(path, mode, error, &routed);
    return routed ? std::move(s) : underneath().open(path, mode, share, error);
  }
  bool fileSize(const std::string& path, uint64_t* size) override {
    bool routed = false;
    const bool known = sourceSize(path, size, &routed);
    return routed ? known : underneath().fileSize(path, size);
  }
};
}  // namespace

Platform& platform() {
  static Routed routed;
  return routed;
}
Platform* setPlatform(Platform* replacement) {
  Platform* previous = g_current ? g_current : &nativePlatform();
  g_current = replacement;
  return previous;
}

}  // namespace velfile
