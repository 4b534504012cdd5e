// The platform in use: the operating system's own (platform_posix.cpp or
// platform_win32.cpp), or a replacement installed by a test.
#include "platform.h"

namespace velfile {
namespace {
Platform* g_current = nullptr;  // null: the native one
}

Platform& platform() {
  return g_current ? *g_current : nativePlatform();
}
Platform* setPlatform(Platform* replacement) {
  Platform* previous = g_current ? g_current : &nativePlatform();
  g_current = replacement;
  return previous;
}

}  // namespace velfile
