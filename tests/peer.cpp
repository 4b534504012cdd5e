// The peer process of the sharing tests on Windows: velfile_test_peer OP PATH
// performs one operation (see peer.h) and exits with its result.
#include "peer.h"

int main(int argc, char** argv) {
  if (argc != 3) return 98;
  VelFile::file_Init(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  return vt::peerOperation(argv[1], argv[2]);
}
