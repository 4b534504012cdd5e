// Another process using the library on the test's files, for the sharing
// tests: peer.run("open", path) has it open the file and returns the
// library's result. On POSIX the peer is a child forked when the Peer is
// made, before the test opens anything, so that its table of open files is
// empty; on Windows each run starts velfile_test_peer.exe, which lies beside
// the test program.
#ifndef VELFILE_TESTS_PEER_H
#define VELFILE_TESTS_PEER_H

#if defined(_WIN32)
#include <process.h>
#include <windows.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif
#include <velfile/velfile.h>

#include <cstdint>
#include <string>

namespace vt {

// One operation on a file given by an ASCII path: "create" (file_Create and
// a close), "open" (file_Open and a close), "read" (file_OpenRead and a
// close) or "append" (file_Open, a new section, a close). Returns the first result that is not 0; a close
// that fails after a successful open returns 100 + its result.
inline int peerOperation(const std::string& op, const std::string& path) {
  using namespace VelFile;
  const std::basic_string<VelChar> wide(path.begin(), path.end());
  void *f = nullptr, *g = nullptr;
  const int rc = op == "create" ? file_Create(wide.c_str(), &f)
                 : op == "read" ? file_OpenRead(wide.c_str(), &f)
                                : file_Open(wide.c_str(), &f);
  if (rc != kOk || (op != "open" && op != "read" && op != "create" && op != "append"))
    return rc != kOk ? rc : 99;
  if (op == "append") {
    const int made = file_GroupCreate(f, &g, 0, VELFILE_TEXT("Peer"));
    if (made != kOk) {
      file_Close(f);
      return made;
    }
  }
  const int closed = file_Close(f);
  return op == "create" || closed == kOk ? 0 : 100 + closed;  // a create without a group closes with 3
}

class Peer {
 public:
#if defined(_WIN32)
  int run(const std::string& op, const std::string& path) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string exe(self);
    exe = exe.substr(0, exe.find_last_of("\\/") + 1) + "velfile_test_peer.exe";
    // _spawnl joins its arguments with spaces: quote those that hold a path.
    const std::string program = "\"" + exe + "\"", quoted = "\"" + path + "\"";
    return static_cast<int>(
        _spawnl(_P_WAIT, exe.c_str(), program.c_str(), op.c_str(), quoted.c_str(), nullptr));
  }
#else
  Peer() {
    if (pipe(toPeer_) != 0 || pipe(fromPeer_) != 0) return;
    pid_ = fork();
    // Each side keeps its own ends, so that the peer sees the end of its
    // requests when the test lets go.
    const int mine = pid_ == 0 ? 0 : 1;
    close(toPeer_[1 - mine]);
    close(fromPeer_[mine]);
    toPeer_[1 - mine] = fromPeer_[mine] = -1;
    if (pid_ != 0) return;
    // The peer: one request after the other until the test lets go.
    for (std::string request;;) {
      char c = 0;
      const ssize_t n = read(toPeer_[0], &c, 1);
      if (n != 1) _exit(0);
      if (c != '\n') {
        request += c;
        continue;
      }
      const size_t space = request.find(' ');
      const int32_t rc = peerOperation(request.substr(0, space), request.substr(space + 1));
      if (write(fromPeer_[1], &rc, sizeof rc) != sizeof rc) _exit(1);
      request.clear();
    }
  }
  ~Peer() {
    for (int fd : {toPeer_[0], toPeer_[1], fromPeer_[0], fromPeer_[1]})
      if (fd >= 0) close(fd);
    if (pid_ > 0) waitpid(pid_, nullptr, 0);
  }
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // -1 when the peer could not be reached.
  int run(const std::string& op, const std::string& path) {
    const std::string request = op + " " + path + "\n";
    int32_t rc = -1;
    if (pid_ <= 0 || write(toPeer_[1], request.data(), request.size()) != ssize_t(request.size()) ||
        read(fromPeer_[0], &rc, sizeof rc) != sizeof rc)
      return -1;
    return rc;
  }

 private:
  int toPeer_[2] = {-1, -1};
  int fromPeer_[2] = {-1, -1};
  pid_t pid_ = -1;
#endif
};

}  // namespace vt

#endif
