// Writes a small file through the C++ layer: items of every type, a data
// class 1 group and a block-class group. Built for the host by the tests;
// its output on a big-endian machine is kept as data/sample-s390x.A01, so
// that the Python tests compare a foreign file with the host's.
//
//   write_sample FILE
//   write_sample FILE.A01 LENGTH   appends a section holding a group whose
//                                  name has LENGTH characters, as other
//                                  writers make them (the C++ layer refuses
//                                  names of more than 31)
#include <cstdio>
#include <cstdlib>
#include <string>
#include <velfile/velfile.hpp>

namespace {

void appendLongName(const char* path, size_t length) {
  velfile::File f = velfile::File::append(path);
  velfile::Group root = f.create_group("Long");
  const std::basic_string<VelChar> name(length, VelChar('n'));
  void* g = nullptr;
  const int rc = VelFile::file_GroupCreate(root.handle(), &g, 2, name.c_str());
  f.close();
  if (rc != VelFile::kOk) {
    std::fprintf(stderr, "write_sample: file_GroupCreate of a long name gave %d\n", rc);
    std::exit(1);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: write_sample FILE [LENGTH]\n");
    return 2;
  }
  try {
    if (argc == 3) {
      appendLongName(argv[1], std::strtoul(argv[2], nullptr, 10));
      return 0;
    }
    velfile::File f = velfile::File::create(argv[1]);
    velfile::Group root = f.create_group("Sample");
    velfile::Group items = root.create_group("Items \xc3\xa9", 1);
    items.write_item<int8_t>(2, std::vector<int8_t>{-1, 2, -3});
    items.write_item<uint8_t>(3, 200);
    items.write_item<int16_t>(4, std::vector<int16_t>{-2, 300, -4000});
    items.write_item<uint16_t>(5, 65000);
    items.write_item<int32_t>(6, std::vector<int32_t>{-5, 70000});
    items.write_item<uint32_t>(7, 4000000000u);
    items.write_item(8, std::vector<velfile::Words>{{1, 2}, {0x01020304, 0xA0B0C0D0}});
    items.write_item(9, VelFile::kTypeQuad9, std::vector<uint32_t>{7, 8}.data(), 1);
    items.write_item(10, std::vector<float>{1.5f, -2.25f});
    items.write_item(11, 3.125);
    items.write_text(12, "Gate \xc3\xa9");
    items.write_item(13, VelFile::kTypeRaw, "\x01\x02\x03\x04\x05\x06", 6);
    items.write_item(14, VelFile::kTypeRaw, "\x01\x02\x03", 3);
    items.write_item(15, VelFile::kTypeNarrow, "narrow", 7);

    CGDataTypeFDD d;
    d.dataClass = 1;
    d.secondPointCount = 3;
    d.firstPointCount = 4;
    d.SetSampleQty(5);
    d.SetDataType(zor_eDataTypeInt16);
    d.firstAxisFactor = 0.5f;
    std::vector<int16_t> samples(3 * 4 * 5);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i * 37 - 900);
    std::vector<uint8_t> markers(12, 3);
    markers[5] = 0;
    root.create_group("Scan", 2).write_data(d, samples, markers);

    d.dataClass = 2;
    d.SetDataType(zor_eDataTypeFloat);
    d.pointEntrySize = 8;
    d.SetSampleQty(2);
    std::vector<float> block(3 * 4 * 2);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<float>(i) * 0.25f - 1;
    root.create_group("Peaks", 3).write_data(d, block);
    f.close();
  } catch (const velfile::Error& e) {
    std::fprintf(stderr, "write_sample: %s\n", e.what());
    return 1;
  }
  return 0;
}
