// Files read through a host's Source: the bytes as a file on disk gives
// them, in few block-aligned requests; a source's failure named in the
// error; writes and calls from inside a callback refused.
#include <cstring>
#include <numeric>
#include <velfile/velfile.hpp>

#include "testutil.h"

using velfile::Error;
using velfile::File;
using velfile::Reason;
using vt::Bytes;

namespace {

class MemorySource : public velfile::Source {
 public:
  explicit MemorySource(Bytes bytes) : bytes_(std::move(bytes)) {}
  bool size(uint64_t* size, std::string*) override {
    *size = bytes_.size();
    return true;
  }
  bool read(uint64_t offset, void* buffer, size_t n, std::string* error) override {
    ++requests;
    if (failing) {
      *error = "the server said 503";
      return false;
    }
    if (during) during();
    std::memcpy(buffer, bytes_.data() + offset, n);
    return true;
  }
  int requests = 0;
  bool failing = false;
  std::function<void()> during;

 private:
  Bytes bytes_;
};

class LayerSource : public vt::VelTest {};

TEST_F(LayerSource, ReadsAsTheFileDoesInFewRequests) {
  std::vector<int16_t> samples(40 * 50 * 16);
  std::iota(samples.begin(), samples.end(), int16_t(0));
  {
    CGDataTypeFDD d;
    d.dataClass = 1;
    d.secondPointCount = 40, d.firstPointCount = 50;
    d.SetDataType(zor_eDataTypeInt16);
    d.SetSampleQty(16);
    File f = File::create(path("s.A01"));
    f.create_group("Section").create_group("Scan").write_data(d, samples);
  }
  auto source = std::make_shared<MemorySource>(vt::readFile(path("s.A01")));
  File f = File::open(source, "http://host/s.A01", 4096);
  EXPECT_EQ(f.path(), "http://host/s.A01");
  const velfile::DataGroup data = f.group("0/Scan").data();
  const int opened = source->requests;
  EXPECT_LE(opened, 4);  // the header's block, the directories' and the point table's
  EXPECT_EQ(data.read<int16_t>(nullptr, {7, 1}),
            File::open(path("s.A01")).group("0/Scan").data().read<int16_t>(nullptr, {7, 1}));
  EXPECT_EQ(source->requests - opened, 1);  // a line of 1600 bytes, in one block or two
  EXPECT_EQ(data.record_offsets().size(), 40u * 50u);
  try {
    f.create_group("More");
    ADD_FAILURE() << "a file read through a source took a section";
  } catch (const Error& e) {
    EXPECT_EQ(e.reason(), Reason::ReadOnly);
  }
  // Inside a callback, a call into the layer is refused, not run under the
  // lock its caller holds.
  bool refused = false;
  source->during = [&] {
    try {
      File::open(path("s.A01"));
    } catch (const Error& e) {
      refused = e.reason() == Reason::InUse && velfile::inside_source_read();
    }
  };
  data.read<int16_t>();
  EXPECT_TRUE(refused);
  source->during = nullptr;
  source->failing = true;
  try {
    File::open(source, "http://host/s.A01").group("0/Scan").data().read<int16_t>();
    ADD_FAILURE() << "a failing source was read";
  } catch (const Error& e) {
    EXPECT_EQ(e.reason(), Reason::Io);
    EXPECT_NE(std::string(e.what()).find("the server said 503"), std::string::npos) << e.what();
  }
}

}  // namespace
