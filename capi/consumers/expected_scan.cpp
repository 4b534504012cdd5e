// Writes what the example host writes into its scan ("0/Scan A"), by the
// example's own code (inspection.h), as raw bytes that the hosts of other
// languages compare their reads with: every point's int16 samples in host
// order, zeros for a point without data (as a read gives them), then one
// byte per point, 1 for data and 0 for none.
//
//   capi_expected_scan FILE
#include <cstdio>

#include "inspection.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  Inspection in;
  const size_t q = in.samples.size() / in.markers.size();
  std::vector<uint8_t> mask(in.markers.size());
  for (size_t i = 0; i < mask.size(); ++i) {
    mask[i] = in.markers[i] == gdata_kPointHasData;
    if (!mask[i]) std::fill(in.samples.begin() + i * q, in.samples.begin() + (i + 1) * q, int16_t(0));
  }
  std::FILE* out = std::fopen(argv[1], "wb");
  const bool ok = out && std::fwrite(in.samples.data(), 2, in.samples.size(), out) == in.samples.size() &&
                  std::fwrite(mask.data(), 1, mask.size(), out) == mask.size();
  return out && std::fclose(out) == 0 && ok ? 0 : 1;
}
