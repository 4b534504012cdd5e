// The C interface (velfile_c.h): every status and its sentence, caller's
// buffers that are too short, handles after close, and threads at once.
#include <velfile/velfile_c.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <thread>

#include "testutil.h"

// Allocations of this thread fail once the count reaches zero (off when
// negative); the C interface must turn the failure into VELFILE_MEMORY.
// Windows binds each DLL to its own allocator, so there it is not reached.
thread_local int g_allocationsLeft = -1;
void* allocate(size_t size, bool nothrow) {
  if (g_allocationsLeft == 0) {
    g_allocationsLeft = -1;
    if (nothrow) return nullptr;
    throw std::bad_alloc();
  }
  if (g_allocationsLeft > 0) --g_allocationsLeft;
  void* p = std::malloc(size ? size : 1);
  if (!p && !nothrow) throw std::bad_alloc();
  return p;
}
void* operator new(size_t size) {
  return allocate(size, false);
}
void* operator new[](size_t size) {
  return allocate(size, false);
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return allocate(size, true);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return allocate(size, true);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete[](void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, size_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
  std::free(p);
}

namespace {

std::string lastError() {
  char text[1024];
  EXPECT_EQ(VELFILE_OK, velfile_last_error(text, sizeof text, nullptr));
  return text;
}

class CInterface : public vt::VelTest {
 protected:
  // A file with a section "S", a group "G" (item 1: int32[3], item 2: text)
  // and a data class 1 group "D" of 2 x 3 points of 4 int16 samples.
  void writeSample(const std::string& name) {
    velfile_file f = 0;
    velfile_group s = 0, g = 0, d = 0;
    const int32_t v[3] = {1, -2, 3};
    std::vector<int16_t> samples(24);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = int16_t(i * 11 - 50);
    const velfile_data_layout layout{2, 3, 4, VELFILE_TYPE_INT16, 1, 0, 1, 0, 1, 0};
    ASSERT_EQ(VELFILE_OK, velfile_create(path(name).c_str(), &f));
    ASSERT_EQ(VELFILE_OK, velfile_create_section(f, "S", &s));
    ASSERT_EQ(VELFILE_OK, velfile_group_create(s, "G", 1, &g));
    ASSERT_EQ(VELFILE_OK, velfile_item_write(g, 1, VELFILE_TYPE_INT32, v, 3));
    ASSERT_EQ(VELFILE_OK, velfile_item_write_text(g, 2, "text"));
    ASSERT_EQ(VELFILE_OK, velfile_group_create(s, "D", 2, &d));
    ASSERT_EQ(VELFILE_OK,
              velfile_data_write(d, &layout, samples.data(), samples.size(), nullptr, 0, nullptr));
    ASSERT_EQ(VELFILE_OK, velfile_close(f));
  }
  velfile_file open(const std::string& name) {
    velfile_file f = 0;
    EXPECT_EQ(VELFILE_OK, velfile_open(path(name).c_str(), &f)) << lastError();
    return f;
  }
  velfile_group group(velfile_file f, const char* p) {
    velfile_group g = 0;
    EXPECT_EQ(VELFILE_OK, velfile_group_by_path(f, p, &g)) << lastError();
    return g;
  }
  velfile_item item(velfile_file f, const char* p, uint16_t id) {
    velfile_item it = 0;
    EXPECT_EQ(VELFILE_OK, velfile_item_by_id(group(f, p), id, &it)) << lastError();
    return it;
  }
};

// Every status comes with a sentence that names the call's file, group and
// item; the file's own last error holds it too.
TEST_F(CInterface, EveryStatusSaysWhatAndWhere) {
  writeSample("s.A01");
  makeContainer("c.bin");
  vt::writeFile(path("t.txt"), vt::Bytes(100, 'x'));
  vt::Bytes cut = vt::readFile(path("c.bin"));
  cut.resize(60);
  vt::writeFile(path("cut.bin"), cut);
  // Item 1's count raised from 1 to 256: its value now lies past the section.
  vt::Bytes spill = vt::readFile(path("c.bin"));
  const uint8_t entry[] = {1, 0, 7, 0, 1, 0, 0, 0, 7, 0};
  auto at = std::search(spill.begin(), spill.end(), entry, entry + sizeof entry);
  ASSERT_NE(at, spill.end());
  at[5] = 1;
  vt::writeFile(path("spill.bin"), spill);
  const velfile_file f = open("s.A01");
  const std::string file = path("s.A01");
  double number = 0;
  int32_t v[3];
  velfile_file out = 0;
  velfile_group g = 0;
  velfile_data d = 0;
  velfile_descriptor desc = 0;
  velfile_item it = 0;
  uint32_t n = 0;
  velfile_group released = group(f, "0/G");
  ASSERT_EQ(VELFILE_OK, velfile_release(released));
  std::vector<velfile_file> many, files;
  const struct {
    const char* name;
    std::function<velfile_status()> call;
    velfile_status status;
    std::vector<std::string> says;  // parts of the sentence
    bool fileKeepsIt;               // also velfile_file_last_error(f)
  } cases[] = {
#if !defined(_WIN32)
    {"memory",
     [&] {
       const velfile_group h = group(f, "0/G");
       g_allocationsLeft = 0;
       return velfile_group_path(h, nullptr, 0, nullptr);
     },
     VELFILE_MEMORY,
     {"velfile_group_path: not enough memory", file, "group '0/G'"},
     true},
    {"permission",
     [&] { return velfile_create("/sys/velfile.A01", &out); },
     VELFILE_PERMISSION,
     {"/sys/velfile.A01", "no permission"},
     false},
#endif
    {"cut file",
     [&] {
       const velfile_file c = open("cut.bin");
       velfile_group s = 0;
       files.push_back(c);
       const velfile_status opened = velfile_group_by_path(c, "0", &s);
       return opened ? opened : velfile_item_at(s, 0, &it);
     },
     VELFILE_IO,
     {"cut.bin", "cut"},
     false},
    {"foreign file",
     [&] { return velfile_open(path("t.txt").c_str(), &out); },
     VELFILE_NOT_CONTAINER,
     {"t.txt", "not a container file"},
     false},
    {"missing file",
     [&] { return velfile_open(path("none.A01").c_str(), &out); },
     VELFILE_NOT_FOUND,
     {"none.A01", "no such file"},
     false},
    {"missing group",
     [&] { return velfile_group_by_path(f, "0/G/Nope", &g); },
     VELFILE_NOT_FOUND,
     {file, "group '0/G' has no sub-group 'Nope'"},
     true},
    {"missing item",
     [&] { return velfile_item_by_id(group(f, "0/G"), 9, &it); },
     VELFILE_NOT_FOUND,
     {file, "group '0/G', item 9 does not exist"},
     true},
    {"no such module",
     [&] { return velfile_descriptor_new("nomodule", &desc); },
     VELFILE_NOT_FOUND,
     {"nomodule"},
     false},
    {"second writer",
     [&] { return velfile_create(file.c_str(), &out); },
     VELFILE_IN_USE,
     {file, "open"},
     false},
    {"31st file",
     [&] {
       for (int i = 0; i < VelFile::kMaxOpenFiles; ++i) {
         velfile_file m = 0;
         if (velfile_create(path("m" + std::to_string(i)).c_str(), &m) == VELFILE_OK) many.push_back(m);
       }
       return velfile_open(path("c.bin").c_str(), &out);
     },
     VELFILE_TOO_MANY_FILES,
     {"c.bin", "slots"},
     false},
    {"read-only group",
     [&] { return velfile_item_write(group(f, "0/G"), 5, VELFILE_TYPE_INT32, v, 1); },
     VELFILE_READ_ONLY,
     {file, "'0/G'", "read-only"},
     true},
    {"text as numbers",
     [&] { return velfile_item_read(item(f, "0/G", 2), VELFILE_TYPE_INT32, v, 3, nullptr); },
     VELFILE_WRONG_TYPE,
     {file, "'0/G'", "item 2", "utf16"},
     true},
    {"samples that int8 cannot hold",
     [&] {
       int8_t small[4];
       EXPECT_EQ(VELFILE_OK, velfile_data_open(group(f, "0/D"), &d));
       return velfile_data_read(d, 1, 1, 2, 1, 0, VELFILE_ALL, VELFILE_TYPE_INT8, small, 4, nullptr);
     },
     VELFILE_WRONG_TYPE,
     {file, "'0/D'", "170", "int8"},
     true},
    {"a number from text",
     [&] {
       EXPECT_EQ(VELFILE_OK, velfile_descriptor_read(group(f, "0/G"), "probe", &desc));
       return velfile_descriptor_get_number(desc, "groupName", &number);
     },
     VELFILE_WRONG_TYPE,
     {"groupName", "probe", "text"},
     false},
    {"bad group path",
     [&] { return velfile_group_by_path(f, "0/#x", &g); },
     VELFILE_BAD_PATH,
     {"'#x' is not an item id"},
     false},
    {"value past its section",
     [&] {
       const velfile_file c = open("spill.bin");
       files.push_back(c);
       return velfile_item_read(item(c, "0", 1), VELFILE_TYPE_UINT32, v, 3, nullptr);
     },
     VELFILE_OUTSIDE_SECTION,
     {"spill.bin", "item 1", "section"},
     false},
    {"null out argument",
     [&] { return velfile_item_count(group(f, "0/G"), nullptr); },
     VELFILE_INVALID,
     {"velfile_item_count: count is NULL", file, "'0/G'"},
     true},
    {"append to another file",
     [&] { return velfile_append(path("c.bin").c_str(), &out); },
     VELFILE_INVALID,
     {"c.bin", ".A01"},
     false},
    {"range outside the data",
     [&] {
       EXPECT_EQ(VELFILE_OK, velfile_data_open(group(f, "0/D"), &d));
       return velfile_data_read(d, 2, 1, 0, 1, 0, 1, VELFILE_TYPE_INT16, nullptr, 0, nullptr);
     },
     VELFILE_OUT_OF_RANGE,
     {file, "'0/D'"},
     true},
    {"no data group",
     [&] { return velfile_data_open(group(f, "0/G"), &d); },
     VELFILE_UNSUPPORTED,
     {file, "'0/G'"},
     true},
    {"null handle",
     [&] { return velfile_item_count(0, &n); },
     VELFILE_BAD_HANDLE,
     {"velfile_item_count: a null group handle"},
     false},
    {"handle of another kind",
     [&] { return velfile_section_count(group(f, "0"), nullptr); },
     VELFILE_BAD_HANDLE,
     {"a group handle, not a file handle"},
     false},
    {"released handle",
     [&] { return velfile_group_name(released, nullptr, 0, nullptr); },
     VELFILE_BAD_HANDLE,
     {"released"},
     false},
    {"closed file",
     [&] {
       const velfile_file c = open("c.bin");
       const velfile_group h = group(c, "0");
       velfile_close(c);
       return velfile_item_count(h, nullptr);
     },
     VELFILE_CLOSED,
     {"c.bin", "closed"},
     false},
    {"short buffer",
     [&] { return velfile_item_read(item(f, "0/G", 1), VELFILE_TYPE_INT32, v, 2, nullptr); },
     VELFILE_BUFFER_TOO_SMALL,
     {file, "'0/G'", "item 1", "2 elements", "takes 3"},
     true},
  };
  std::vector<int> reached(VELFILE_BUFFER_TOO_SMALL + 1);
  const int statuses[] = {
      1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, VELFILE_BAD_HANDLE, VELFILE_BUFFER_TOO_SMALL};
  for (const auto& c : cases) {
    const velfile_status status = c.call();
    EXPECT_EQ(c.status, status) << c.name << ": " << lastError();
    const std::string said = lastError();
    for (const std::string& part : c.says)
      EXPECT_NE(said.find(part), std::string::npos) << c.name << ": " << said;
    if (c.fileKeepsIt) {
      char text[1024];
      EXPECT_EQ(VELFILE_OK, velfile_file_last_error(f, text, sizeof text, nullptr));
      EXPECT_EQ(said, text) << c.name;
    }
    reached[status] = 1;
    for (velfile_file m : many) velfile_close(m);
    many.clear();
  }
  for (int s : statuses) {
#if defined(_WIN32)
    if (s == VELFILE_MEMORY || s == VELFILE_PERMISSION) continue;
#endif
    EXPECT_TRUE(reached[s]) << velfile_status_name(s);
    EXPECT_STRNE("Unknown", velfile_status_name(s));
  }
  EXPECT_STREQ("NotFound", velfile_status_name(VELFILE_NOT_FOUND));
  EXPECT_STREQ("Unknown", velfile_status_name(99));
  for (velfile_file c : files) velfile_close(c);
  velfile_close(f);
}

// A buffer shorter than the answer gets the count it needs, and nothing is
// written past its length (a guard pattern stays as it was); text is cut at
// a character boundary and terminated.
TEST_F(CInterface, ShortBuffersGetTheCountAndKeepTheGuard) {
  writeSample("s.A01");
  const velfile_file f = open("s.A01");
  velfile_group s = group(f, "0"), g = group(f, "0/G");
  velfile_data d = 0;
  ASSERT_EQ(VELFILE_OK, velfile_data_open(group(f, "0/D"), &d));
  velfile_descriptor desc = 0;
  ASSERT_EQ(VELFILE_OK, velfile_descriptor_new("probe", &desc));
  ASSERT_EQ(VELFILE_OK, velfile_descriptor_set_text(desc, "groupName", "P1"));
  const size_t kGuard = 64;
  const struct {
    const char* name;
    size_t element;  // bytes
    size_t needed;
    bool text;
    std::function<velfile_status(void*, size_t, size_t*)> call;
  } cases[] = {
      {"group path", 1, 4, true,
       [&](void* b, size_t n, size_t* k) { return velfile_group_path(g, (char*)b, n, k); }},
      {"item text", 1, 5, true,
       [&](void* b, size_t n, size_t* k) { return velfile_item_text(item(f, "0/G", 2), (char*)b, n, k); }},
      {"item", 4, 3, false,
       [&](void* b, size_t n, size_t* k) {
         return velfile_item_read(item(f, "0/G", 1), VELFILE_TYPE_FLOAT32, b, n, k);
       }},
      {"samples", 2, 12, false,
       [&](void* b, size_t n, size_t* k) {
         return velfile_data_read(d, 1, 1, 0, VELFILE_ALL, 0, VELFILE_ALL, VELFILE_TYPE_INT16, b, n, k);
       }},
      {"marks", 1, 6, false,
       [&](void* b, size_t n, size_t* k) {
         return velfile_data_has_data(d, 0, VELFILE_ALL, 0, VELFILE_ALL, (uint8_t*)b, n, k);
       }},
      {"groups", 8, 2, false,
       [&](void* b, size_t n, size_t* k) { return velfile_group_walk(s, 1, (velfile_group*)b, n, k); }},
      {"descriptor text", 1, 3, true,
       [&](void* b, size_t n, size_t* k) {
         return velfile_descriptor_get_text(desc, "groupName", (char*)b, n, k);
       }},
      {"module name", 1, 5, true,
       [&](void* b, size_t n, size_t* k) { return velfile_module_name(0, (char*)b, n, k); }},
      {"problems", 1, 1, true,
       [&](void* b, size_t n, size_t* k) {
         return velfile_check(path("s.A01").c_str(), (char*)b, n, k, nullptr);
       }},
  };
  for (const auto& c : cases) {
    size_t needed = 0;
    ASSERT_EQ(VELFILE_OK, c.call(nullptr, 0, &needed)) << c.name << ": " << lastError();
    EXPECT_EQ(c.needed, needed) << c.name;
    if (needed < 2) continue;
    std::vector<uint8_t> buffer(needed * c.element + kGuard, 0xA5);
    EXPECT_EQ(VELFILE_BUFFER_TOO_SMALL, c.call(buffer.data(), needed - 1, &needed)) << c.name;
    EXPECT_EQ(c.needed, needed) << c.name;
    const size_t given = (needed - 1) * c.element;
    for (size_t i = given; i < buffer.size(); ++i) ASSERT_EQ(0xA5, buffer[i]) << c.name << " byte " << i;
    if (c.text) {
      EXPECT_EQ(0, buffer[given - 1]) << c.name << ": terminated";
    }
    EXPECT_EQ(VELFILE_OK, c.call(buffer.data(), needed, &needed)) << c.name;
    for (size_t i = needed * c.element; i < buffer.size(); ++i) ASSERT_EQ(0xA5, buffer[i]) << c.name;
  }
  // Text is cut before a character, not inside it: "Prüfung" in 4 bytes is "Pr".
  velfile_file w = 0;
  velfile_group root = 0;
  ASSERT_EQ(VELFILE_OK, velfile_create(path("u.A01").c_str(), &w));
  ASSERT_EQ(VELFILE_OK, velfile_create_section(w,
                                               "Pr\xc3\xbc"
                                               "fung",
                                               &root));
  char text[4];
  size_t needed = 0;
  EXPECT_EQ(VELFILE_BUFFER_TOO_SMALL, velfile_group_name(root, text, sizeof text, &needed));
  EXPECT_STREQ("Pr", text);
  EXPECT_EQ(9u, needed);
  // The last error of a failed call, read in pieces, is not replaced by
  // the reading's own short buffer.
  EXPECT_EQ(VELFILE_BUFFER_TOO_SMALL, velfile_last_error(text, sizeof text, &needed));
  EXPECT_NE(lastError().find("is too small"), std::string::npos);
  velfile_close(w);
  velfile_close(f);
}

// After close, every handle of the file refuses to work, in whatever call
// and whatever kind, and says which file was closed; a released handle and
// a second close neither crash nor touch another file's handles.
TEST_F(CInterface, HandlesAfterCloseAreRefused) {
  writeSample("s.A01");
  const velfile_file f = open("s.A01");
  const velfile_group g = group(f, "0/G");
  const velfile_item it = item(f, "0/G", 1);
  velfile_data d = 0;
  ASSERT_EQ(VELFILE_OK, velfile_data_open(group(f, "0/D"), &d));
  const velfile_file other = open("s.A01");  // the same path, shared
  const velfile_group kept = group(other, "0/G");
  ASSERT_EQ(VELFILE_OK, velfile_close(f));
  uint32_t n = 0;
  int16_t samples[24];
  EXPECT_EQ(VELFILE_CLOSED, velfile_item_count(g, &n));
  EXPECT_NE(lastError().find(path("s.A01") + "', which was closed"), std::string::npos) << lastError();
  EXPECT_EQ(VELFILE_CLOSED, velfile_item_info(it, nullptr, nullptr, &n));
  EXPECT_EQ(VELFILE_CLOSED, velfile_data_read(d, 0, VELFILE_ALL, 0, VELFILE_ALL, 0, VELFILE_ALL,
                                              VELFILE_TYPE_INT16, samples, 24, nullptr));
  EXPECT_EQ(VELFILE_CLOSED, velfile_close(f));
  EXPECT_EQ(VELFILE_CLOSED, velfile_release(g));
  EXPECT_EQ(VELFILE_OK, velfile_item_count(kept, &n));
  EXPECT_EQ(3u, n);
  EXPECT_EQ(VELFILE_OK, velfile_close(other));
  EXPECT_EQ(VELFILE_INVALID, velfile_release(other));
  // A writer left unfinished: closing stores its lines and says so; the
  // writer's handle then refuses its next line.
  velfile_file w = 0;
  velfile_group root = 0;
  velfile_writer lines = 0;
  const velfile_data_layout layout{3, 2, 4, VELFILE_TYPE_INT16, 1, 0, 1, 0, 1, 0};
  ASSERT_EQ(VELFILE_OK, velfile_create(path("w.A01").c_str(), &w));
  ASSERT_EQ(VELFILE_OK, velfile_create_section(w, "W", &root));
  ASSERT_EQ(VELFILE_OK, velfile_writer_begin(root, &layout, &lines));
  ASSERT_EQ(VELFILE_OK, velfile_writer_line(lines, samples, 8, nullptr, 0));
  EXPECT_EQ(VELFILE_INVALID, velfile_close(w));
  EXPECT_NE(lastError().find("lines 1 to 2 of 3 not written"), std::string::npos) << lastError();
  EXPECT_EQ(VELFILE_CLOSED, velfile_writer_line(lines, samples, 8, nullptr, 0));
  expectAllSlotsFree();
}

// Four threads open, read and fail at once; each keeps its own last error.
TEST_F(CInterface, ThreadsReadAtOnce) {
  writeSample("s.A01");
  std::atomic<int> bad{0};
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k)
    threads.emplace_back([&, k] {
      for (int round = 0; round < 20; ++round) {
        velfile_file f = 0;
        velfile_group g = 0;
        velfile_data d = 0;
        int16_t samples[24];
        if (velfile_open(path("s.A01").c_str(), &f) != VELFILE_OK) ++bad;
        if (velfile_group_by_path(f, "0/D", &g) != VELFILE_OK || velfile_data_open(g, &d) != VELFILE_OK)
          ++bad;
        if (velfile_data_read(d, 0, VELFILE_ALL, 0, VELFILE_ALL, 0, VELFILE_ALL, VELFILE_TYPE_INT16, samples,
                              24, nullptr) != VELFILE_OK ||
            samples[23] != 23 * 11 - 50)
          ++bad;
        const std::string missing = "0/Missing" + std::to_string(k);
        if (velfile_group_by_path(f, missing.c_str(), &g) != VELFILE_NOT_FOUND) ++bad;
        if (lastError().find("'Missing" + std::to_string(k) + "'") == std::string::npos) ++bad;
        if (velfile_close(f) != VELFILE_OK) ++bad;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(0, bad.load());
}

}  // namespace
