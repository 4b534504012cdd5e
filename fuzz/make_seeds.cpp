// Writes the seed corpus of the fuzzers: small container files made by the
// library itself, in the host byte order (scripts/fuzz.sh adds a file written
// on a big-endian machine).
//
//   velfile_fuzz_seeds <directory>
#include <filesystem>

#include "modules.h"
#include "walk.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string g_dir;

std::string at(const std::string& name) {
  return g_dir + "/" + name;
}

template <class T>
const char* cp(const T* p) {
  return reinterpret_cast<const char*>(p);
}

// Items of every type, inline and out of line, in one group.
void writeItems(void* g) {
  const int8_t i8[5] = {-1, 2, -3, 4, -5};
  const int16_t i16[3] = {-300, 300, 7};
  const int32_t i32[2] = {-70000, 70000};
  const uint32_t u32[4] = {0xDEADBEEF, 1, 3, 4};
  const float f[2] = {1.25f, -0.5f};
  const double d[2] = {3.5, -1e-10};
  const char raw[8] = "narrow";
  const struct {
    uint16_t type;
    uint32_t count;
    const void* value;
  } items[] = {{2, 1, i8},  {2, 5, i8},   {3, 4, i8},  {4, 1, i16},   {5, 2, i16},       {4, 3, i16},
               {6, 1, i32}, {6, 2, i32},  {7, 2, u32}, {8, 1, u32},   {9, 2, u32},       {10, 1, f},
               {10, 2, f},  {11, 1, d},   {11, 2, d},  {12, 2, u"A"}, {12, 6, u"Hello"}, {1, 7, raw},
               {1, 3, raw}, {13, 7, raw}, {77, 3, raw}};  // the last: a type without meaning
  for (uint16_t i = 0; i < sizeof items / sizeof *items; ++i)
    VelFile::file_ItemValueWrite(g, i + 2, items[i].type, items[i].count, cp(items[i].value));
}

// A section's items, nested sub-groups and a bulk block.
void writeSection(void* s) {
  using namespace VelFile;
  void *child = nullptr, *grand = nullptr;
  writeItems(s);
  file_GroupCreate(s, &child, 30, u"Child");
  writeItems(child);
  file_GroupCreate(child, &grand, 31, u"G");
  const uint32_t v = 5;
  file_ItemValueWrite(grand, 1, kTypeUInt32, 1, cp(&v));
  file_GroupCreate(s, &child, 32, u"Renamed later");
  file_GroupNameSet(child, u"Second child", 32);
  uint32_t bulk[16];
  for (uint32_t i = 0; i < 16; ++i) bulk[i] = i * 0x01010101u;
  const uint64_t block = file_Allocate(s, sizeof bulk);
  file_Write(s, block, cp(bulk), sizeof bulk, nullptr);
  file_ItemOffsetWrite(s, 40, kTypeUInt32, 16, static_cast<uint32_t>(block));
}

// A new file of the given character format with an empty section.
void* create(const std::string& name, void** section, int charFormat = 0) {
  void* f = nullptr;
  if (VelFile::file_Create(vfz::widen(at(name)).c_str(), &f) != 0) return nullptr;
  VelFile::file_SetCharacterFormat(f, charFormat);
  VelFile::file_GroupCreate(f, section, 0, u"Setup");
  return f;
}

void makeRich(const std::string& name, int charFormat) {
  void* s = nullptr;
  if (void* f = create(name, &s, charFormat)) {
    writeSection(s);
    VelFile::file_Close(f);
  }
}

// Three sections: one created, two appended by reopening the ".A01" file.
void makeChain(const std::string& name) {
  makeRich(name, 0);
  for (int i = 0; i < 2; ++i) {
    void *f = nullptr, *s = nullptr;
    if (VelFile::file_Open(vfz::widen(at(name)).c_str(), &f) != 0) return;
    VelFile::file_SetCharacterFormat(f, i);
    VelFile::file_GroupCreate(f, &s, 0, i ? u"N" : u"Third section");
    writeSection(s);
    VelFile::file_Close(f);
  }
}

// Existing bytes wrapped into a section.
void makeWrapped(const std::string& name) {
  Bytes raw(100, 0xAB);
  vfz::writeBytes(at(name), raw.data(), raw.size());
  void *f = nullptr, *s = nullptr;
  if (VelFile::file_CreateEx(vfz::widen(at(name)).c_str(), &f) != 0) return;
  VelFile::file_GroupCreate(f, &s, 0, u"Wrapped");
  VelFile::file_ItemOffsetWrite(s, 1, VelFile::kTypeRaw, 64, 36);
  VelFile::file_Close(f);
}

// One file per module, its group written by the module from a default
// descriptor, and one of a data group with bulk data.
void makeModules() {
  auto seed = [&](const std::string& name, const std::function<void(void*)>& write) {
    void *s = nullptr, *g = nullptr;
    if (void* f = create("module-" + name + ".bin", &s)) {
      VelFile::file_GroupCreate(s, &g, 1, u"Group");
      write(g);
      VelFile::file_Close(f);
    }
  };
  for (const vfz::Module& m : vfz::modules())
    seed(m.name, [&](void* g) { m.write(g, nullptr, m.fresh().get()); });
  seed("gdatabulk", vfz::writeBulkData);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
    return 2;
  }
  g_dir = argv[1];
  std::filesystem::create_directories(g_dir);
  VelFile::SetDiagnosticHook([](const char*, int) {});
  makeRich("rich.bin", 0);
  makeRich("narrow.bin", 1);
  makeChain("chain.A01");
  makeWrapped("wrapped.bin");
  makeModules();
  return 0;
}
