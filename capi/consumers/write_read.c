/* A host of the C interface, in C99: writes a file with every kind of call
 * (a section, sub-groups, items of numbers and text, descriptors with
 * numbers, text and arrays, a data class 1 group with points without data)
 * and reads it all back, checking every value. It is the reference for the
 * other languages (docs/c_interface.md).
 *
 *   write_read FILE      exit 0 when everything read back as written */
#include <stdio.h>
#include <string.h>
#include <velfile/velfile_c.h>

static int failures = 0;

/* Runs a call; on a failure prints its status and sentence. */
#define CALL(expr) check_call((expr), #expr, __LINE__)
#define EXPECT(cond) expect((cond), #cond, __LINE__)

static int check_call(velfile_status status, const char* what, int line) {
  char text[512];
  if (status == VELFILE_OK) return 1;
  velfile_last_error(text, sizeof text, NULL);
  fprintf(stderr, "line %d: %s: %s: %s\n", line, what, velfile_status_name(status), text);
  ++failures;
  return 0;
}

static void expect(int ok, const char* what, int line) {
  if (ok) return;
  fprintf(stderr, "line %d: expected %s\n", line, what);
  ++failures;
}

enum { SECOND = 4, FIRST = 5, SAMPLES = 16 };

static int16_t sample_of(uint32_t point, uint32_t s) {
  return (int16_t)((int)(point * 31 + s * 7) % 2000 - 1000);
}

static void write_file(const char* path) {
  velfile_file file = 0;
  velfile_group root = 0, probe = 0, dac = 0, scan = 0, values = 0, lines = 0;
  velfile_writer writer = 0;
  uint32_t unwritten = 0;
  velfile_descriptor d = 0;
  static int16_t samples[SECOND * FIRST * SAMPLES];
  uint8_t has_data[SECOND * FIRST];
  const int32_t numbers[3] = {-7, 0, 123456};
  const double points[4] = {1.0, 90.0, 2.5, 60.0};
  velfile_data_layout layout;
  const double factor = 0.125;
  char text[256];
  uint32_t i, s;

  if (!CALL(velfile_create(path, &file))) return;
  CALL(velfile_create_section(file, "Inspection", &root));
  CALL(velfile_group_create(root, "Values", 1, &values));
  CALL(velfile_item_write(values, 1, VELFILE_TYPE_INT32, numbers, 3));
  CALL(velfile_item_write_text(values, 2,
                               "Pr\xc3\xbc"
                               "fung")); /* UTF-8: "Pruefung" with u-umlaut */
  CALL(velfile_group_set_name(values, "Values and texts"));

  CALL(velfile_group_create(root, "Probe", 2, &probe));
  CALL(velfile_descriptor_new("probe", &d));
  CALL(velfile_descriptor_set_number(d, "item1", 5));
  CALL(velfile_descriptor_set_number(d, "item3", 2.25));
  CALL(velfile_descriptor_set_text(d, "groupName", "Probe 1"));
  CALL(velfile_descriptor_write(probe, d));
  CALL(velfile_release(d));

  CALL(velfile_group_create(root, "DAC", 3, &dac));
  CALL(velfile_descriptor_new("dac", &d));
  CALL(velfile_descriptor_set_number(d, "pointCount", 2));
  CALL(velfile_descriptor_set_array(d, "points", points, 4));
  CALL(velfile_descriptor_write(dac, d));
  CALL(velfile_release(d));

  for (i = 0; i < SECOND * FIRST; ++i) {
    has_data[i] = i % 7 != 3;
    for (s = 0; s < SAMPLES; ++s) samples[i * SAMPLES + s] = sample_of(i, s);
  }
  memset(&layout, 0, sizeof layout);
  layout.second_count = SECOND;
  layout.first_count = FIRST;
  layout.sample_count = SAMPLES;
  layout.sample_type = VELFILE_TYPE_INT16;
  layout.first_factor = 0.5f;
  layout.sample_factor = 0.01f;
  layout.sample_offset = 1.0f;
  CALL(velfile_group_create(root, "Scan", 4, &scan));
  CALL(velfile_data_write(scan, &layout, samples, SECOND * FIRST * SAMPLES, has_data, SECOND * FIRST, NULL));

  /* The same scan line by line, all lines but the last: finish() stores
   * that one as points without data. */
  CALL(velfile_group_create(root, "Lines", 5, &lines));
  CALL(velfile_writer_begin(lines, &layout, &writer));
  for (i = 0; i + 1 < SECOND; ++i)
    CALL(velfile_writer_line(writer, samples + i * FIRST * SAMPLES, FIRST * SAMPLES, has_data + i * FIRST,
                             FIRST));
  CALL(velfile_writer_finish(writer, &unwritten, NULL));
  EXPECT(unwritten == 1);
  CALL(velfile_close(file));

  /* A second section, appended; a failure's sentence kept by the file. */
  if (!CALL(velfile_append(path, &file))) return;
  CALL(velfile_create_section(file, "Appended", &root));
  CALL(velfile_item_write(root, 7, VELFILE_TYPE_FLOAT64, &factor, 1));
  EXPECT(velfile_group_by_path(file, "0/Nowhere", &values) == VELFILE_NOT_FOUND);
  CALL(velfile_file_last_error(file, text, sizeof text, NULL));
  EXPECT(strstr(text, "Nowhere") != NULL);
  CALL(velfile_close(file));
}

static void read_file(const char* path) {
  velfile_file file = 0;
  velfile_group root = 0, g = 0, groups[8];
  velfile_item item = 0;
  velfile_descriptor d = 0;
  velfile_data data = 0;
  velfile_section_info info;
  velfile_data_layout layout;
  int32_t numbers[3], data_class = 0;
  static int16_t line[FIRST * SAMPLES], copy[FIRST * SAMPLES];
  uint8_t mask[SECOND * FIRST];
  double value = 0, points[8];
  float single = 0;
  char text[64];
  size_t needed = 0, n = 0;
  uint32_t count = 0, i, s, problems = 1;
  uint16_t id = 0, type = 0;
  int kind = -1;

  CALL(velfile_module_count(&count));
  EXPECT(count == 21);
  CALL(velfile_module_name(count - 1, text, sizeof text, NULL));

  if (!CALL(velfile_open(path, &file))) return;
  CALL(velfile_section_count(file, &count));
  EXPECT(count == 2);
  CALL(velfile_section(file, 1, &info, &g));
  CALL(velfile_item_at(g, 1, &item)); /* after the name item */
  CALL(velfile_item_read(item, VELFILE_TYPE_FLOAT32, &single, 1, &needed));
  EXPECT(single == 0.125f);
  CALL(velfile_release(g));
  CALL(velfile_section(file, 0, &info, &root));
  EXPECT(info.index == 0 && info.utf16 == 1);
  CALL(velfile_group_walk(root, 1, NULL, 0, &n));
  EXPECT(n == 5);
  CALL(velfile_group_walk(root, 1, groups, 8, &n));
  CALL(velfile_group_name(groups[0], text, sizeof text, NULL));
  EXPECT(strcmp(text, "Values and texts") == 0);

  CALL(velfile_group_by_path(file, "0/Values and texts", &g));
  CALL(velfile_item_count(g, &count));
  EXPECT(count == 3); /* the name item and two */
  CALL(velfile_item_by_id(g, 1, &item));
  CALL(velfile_item_info(item, &id, &type, &count));
  EXPECT(id == 1 && type == VELFILE_TYPE_INT32 && count == 3);
  CALL(velfile_item_read(item, VELFILE_TYPE_INT32, numbers, 3, &needed));
  EXPECT(needed == 3 && numbers[0] == -7 && numbers[2] == 123456);
  CALL(velfile_item_by_id(g, 2, &item));
  CALL(velfile_item_text(item, text, sizeof text, &needed));
  EXPECT(strcmp(text,
                "Pr\xc3\xbc"
                "fung") == 0 &&
         needed == 9);
  CALL(velfile_group_path(g, text, sizeof text, NULL));
  EXPECT(strcmp(text, "0/Values and texts") == 0);

  CALL(velfile_group_sub(root, "Probe 1", &g));
  CALL(velfile_descriptor_read(g, "probe", &d));
  CALL(velfile_descriptor_get_number(d, "item1", &value));
  EXPECT(value == 5);
  CALL(velfile_descriptor_get_number(d, "item3", &value));
  EXPECT(value == 2.25);
  CALL(velfile_descriptor_get_text(d, "groupName", text, sizeof text, NULL));
  EXPECT(strcmp(text, "Probe 1") == 0);
  CALL(velfile_descriptor_field_count(d, &count));
  CALL(velfile_descriptor_field(d, count - 1, text, sizeof text, NULL, &kind, NULL));
  EXPECT(kind == VELFILE_FIELD_REAL);
  CALL(velfile_release(d));

  CALL(velfile_group_by_path(file, "0/DAC", &g));
  CALL(velfile_descriptor_read(g, "dac", &d));
  CALL(velfile_descriptor_get_array(d, "points", NULL, 0, &needed));
  EXPECT(needed >= 4);
  if (needed <= 8) CALL(velfile_descriptor_get_array(d, "points", points, 8, &needed));
  EXPECT(points[1] == 90.0 && points[2] == 2.5);
  CALL(velfile_release(d));

  CALL(velfile_group_by_path(file, "0/Scan", &g));
  CALL(velfile_data_open(g, &data));
  CALL(velfile_data_layout_of(data, &layout, &data_class));
  EXPECT(data_class == 1 && layout.second_count == SECOND && layout.first_count == FIRST &&
         layout.sample_count == SAMPLES && layout.sample_type == VELFILE_TYPE_INT16 &&
         layout.first_factor == 0.5f && layout.sample_offset == 1.0f);
  CALL(velfile_data_has_data(data, 0, VELFILE_ALL, 0, VELFILE_ALL, mask, sizeof mask, &needed));
  for (i = 0; i < SECOND * FIRST; ++i) EXPECT(mask[i] == (i % 7 != 3));
  CALL(velfile_data_read(data, 2, 1, 0, VELFILE_ALL, 0, VELFILE_ALL, VELFILE_TYPE_INT16, line,
                         FIRST * SAMPLES, &needed));
  EXPECT(needed == FIRST * SAMPLES);
  for (i = 0; i < FIRST; ++i)
    for (s = 0; s < SAMPLES; ++s) {
      const uint32_t point = 2 * FIRST + i;
      EXPECT(line[i * SAMPLES + s] == (point % 7 != 3 ? sample_of(point, s) : 0));
    }
  CALL(velfile_release(data));

  /* The line-by-line copy: the same samples, its last line without data. */
  CALL(velfile_group_by_path(file, "0/Lines", &g));
  CALL(velfile_data_open(g, &data));
  CALL(velfile_data_has_data(data, SECOND - 1, 1, 0, VELFILE_ALL, mask, FIRST, &needed));
  for (i = 0; i < FIRST; ++i) EXPECT(mask[i] == 0);
  CALL(velfile_data_read(data, 2, 1, 0, VELFILE_ALL, 0, VELFILE_ALL, VELFILE_TYPE_INT16, copy,
                         FIRST * SAMPLES, &needed));
  EXPECT(memcmp(copy, line, sizeof line) == 0);
  CALL(velfile_close(file));

  CALL(velfile_check(path, text, sizeof text, NULL, &problems));
  EXPECT(problems == 0);
}

/* A file given up while being written holds no section that a reader takes. */
static void abandon_file(const char* path) {
  velfile_file file = 0;
  velfile_group root = 0;
  const int32_t one = 1;
  if (!CALL(velfile_create(path, &file))) return;
  CALL(velfile_create_section(file, "Cut short", &root));
  CALL(velfile_item_write(root, 1, VELFILE_TYPE_INT32, &one, 1));
  CALL(velfile_abandon(file));
  EXPECT(velfile_open(path, &file) == VELFILE_NOT_CONTAINER);
}

int main(int argc, char** argv) {
  char abandoned[1024];
  if (argc != 2) {
    fprintf(stderr, "usage: write_read FILE\n");
    return 2;
  }
  printf("velfile %s\n", velfile_version());
  write_file(argv[1]);
  read_file(argv[1]);
  if (strlen(argv[1]) < sizeof abandoned - 16) {
    strcpy(abandoned, argv[1]);
    strcat(abandoned, ".abandoned.A01");
    abandon_file(abandoned);
  }
  if (failures) fprintf(stderr, "%d failures\n", failures);
  return failures ? 1 : 0;
}
