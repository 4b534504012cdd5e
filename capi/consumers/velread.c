/* velread: a MEX function over the C interface, for Octave (mkoctfile --mex)
 * and MATLAB (mex); it uses the MEX API common to both.
 *
 *   [samples, axes, hasData] = velread(path, groupPath)
 *       a data group: samples of their own class (int16 for int16 samples)
 *       of size [samples, first, second]; axes a struct of the coordinate
 *       vectors second, first and sample; hasData a logical [first, second]
 *   tree = velread(path)
 *       one element per group of every section: path, name, and the ids,
 *       types and counts of its items
 *
 * A failure is an error with the library's sentence and the identifier
 * velfile:<status name> (velfile:NotFound, velfile:NotContainer, ...). */
#include <stdlib.h>
#include <string.h>
#include <velfile/velfile_c.h>

#include "mex.h"

/* Raises the error of a failed call, after closing the file. */
static void fail(velfile_file file, velfile_status status) {
  char id[64], text[2048];
  velfile_last_error(text, sizeof text, NULL);
  if (file) velfile_close(file);
  strcpy(id, "velfile:");
  strncat(id, velfile_status_name(status), sizeof id - strlen(id) - 1);
  mexErrMsgIdAndTxt(id, "%s", text);
}

#define CHECK(file, call)                   \
  do {                                      \
    const velfile_status s_ = (call);       \
    if (s_ != VELFILE_OK) fail((file), s_); \
  } while (0)

static mxClassID class_of(uint32_t type) {
  switch (type) {
    case VELFILE_TYPE_INT8:
      return mxINT8_CLASS;
    case VELFILE_TYPE_UINT8:
    case VELFILE_TYPE_RAW:
      return mxUINT8_CLASS;
    case VELFILE_TYPE_INT16:
      return mxINT16_CLASS;
    case VELFILE_TYPE_UINT16:
      return mxUINT16_CLASS;
    case VELFILE_TYPE_INT32:
      return mxINT32_CLASS;
    case VELFILE_TYPE_UINT32:
    case VELFILE_TYPE_QUAD8:
    case VELFILE_TYPE_QUAD9:
      return mxUINT32_CLASS;
    case VELFILE_TYPE_FLOAT32:
      return mxSINGLE_CLASS;
    case VELFILE_TYPE_FLOAT64:
      return mxDOUBLE_CLASS;
    default:
      return mxUNKNOWN_CLASS;
  }
}

static mxArray* coordinates(uint32_t count, float factor, float offset) {
  mxArray* v = mxCreateDoubleMatrix(count, 1, mxREAL);
  double* p = mxGetPr(v);
  uint32_t i;
  for (i = 0; i < count; ++i) p[i] = (double)offset + (double)i * factor;
  return v;
}

static mxArray* text_of(velfile_file file, velfile_group g,
                        velfile_status (*get)(velfile_group, char*, size_t, size_t*)) {
  size_t needed = 0;
  char* text;
  mxArray* out;
  CHECK(file, get(g, NULL, 0, &needed));
  text = (char*)mxMalloc(needed);
  CHECK(file, get(g, text, needed, &needed));
  out = mxCreateString(text);
  mxFree(text);
  return out;
}

static void read_data(int nlhs, mxArray* plhs[], velfile_file file, const char* group_path) {
  velfile_group g = 0;
  velfile_data d = 0;
  velfile_data_layout l;
  mwSize dims[3];
  size_t needed = 0;
  const char* axis_names[] = {"second", "first", "sample"};
  mxClassID cls;

  CHECK(file, velfile_group_by_path(file, group_path, &g));
  CHECK(file, velfile_data_open(g, &d));
  CHECK(file, velfile_data_layout_of(d, &l, NULL));
  cls = class_of(l.sample_type);
  CHECK(file, velfile_data_read(d, 0, VELFILE_ALL, 0, VELFILE_ALL, 0, VELFILE_ALL, (int)l.sample_type, NULL,
                                0, &needed));
  if (cls == mxUNKNOWN_CLASS) {
    velfile_close(file);
    mexErrMsgIdAndTxt("velfile:Unsupported",
                      "velread: group '%s' holds samples of type %u, which has no class", group_path,
                      (unsigned)l.sample_type);
  }
  /* Two 32-bit words per element of the two-word types. */
  dims[0] = (mwSize)(l.sample_type == VELFILE_TYPE_QUAD8 || l.sample_type == VELFILE_TYPE_QUAD9 ? 2 : 1) *
            l.sample_count;
  dims[1] = l.first_count;
  dims[2] = l.second_count;
  plhs[0] = mxCreateNumericArray(3, dims, cls, mxREAL);
  CHECK(file, velfile_data_read(d, 0, VELFILE_ALL, 0, VELFILE_ALL, 0, VELFILE_ALL, (int)l.sample_type,
                                mxGetData(plhs[0]), needed, &needed));
  if (nlhs > 1) {
    plhs[1] = mxCreateStructMatrix(1, 1, 3, axis_names);
    mxSetField(plhs[1], 0, "second", coordinates(l.second_count, l.second_factor, l.second_offset));
    mxSetField(plhs[1], 0, "first", coordinates(l.first_count, l.first_factor, l.first_offset));
    mxSetField(plhs[1], 0, "sample", coordinates(l.sample_count, l.sample_factor, l.sample_offset));
  }
  if (nlhs > 2) {
    mxArray* mask = mxCreateLogicalMatrix(l.first_count, l.second_count);
    CHECK(file, velfile_data_has_data(d, 0, VELFILE_ALL, 0, VELFILE_ALL, (uint8_t*)mxGetLogicals(mask),
                                      (size_t)l.first_count * l.second_count, &needed));
    plhs[2] = mask;
  }
}

/* One element of the tree: a group's path, name and items. */
static void describe(mxArray* tree, mwIndex at, velfile_file file, velfile_group g) {
  uint32_t n = 0, i;
  mxArray *ids, *types, *counts;
  CHECK(file, velfile_item_count(g, &n));
  ids = mxCreateDoubleMatrix(1, n, mxREAL);
  types = mxCreateDoubleMatrix(1, n, mxREAL);
  counts = mxCreateDoubleMatrix(1, n, mxREAL);
  for (i = 0; i < n; ++i) {
    velfile_item it = 0;
    uint16_t id = 0, type = 0;
    uint32_t count = 0;
    CHECK(file, velfile_item_at(g, i, &it));
    CHECK(file, velfile_item_info(it, &id, &type, &count));
    velfile_release(it);
    mxGetPr(ids)[i] = id;
    mxGetPr(types)[i] = type;
    mxGetPr(counts)[i] = count;
  }
  mxSetField(tree, at, "path", text_of(file, g, velfile_group_path));
  mxSetField(tree, at, "name", text_of(file, g, velfile_group_name));
  mxSetField(tree, at, "ids", ids);
  mxSetField(tree, at, "types", types);
  mxSetField(tree, at, "counts", counts);
}

static mxArray* read_tree(velfile_file file) {
  const char* fields[] = {"path", "name", "ids", "types", "counts"};
  uint32_t sections = 0, s;
  size_t total = 0, i;
  mxArray* tree;
  velfile_group* groups = NULL;
  size_t* counts;
  CHECK(file, velfile_section_count(file, &sections));
  counts = (size_t*)mxCalloc(sections + 1, sizeof *counts);
  for (s = 0; s < sections; ++s) { /* each section group and the groups below it */
    velfile_group root = 0;
    CHECK(file, velfile_section(file, s, NULL, &root));
    CHECK(file, velfile_group_walk(root, 200, NULL, 0, &counts[s]));
    total += counts[s] + 1;
  }
  tree = mxCreateStructMatrix(total, 1, 5, fields);
  total = 0;
  for (s = 0; s < sections; ++s) {
    velfile_group root = 0;
    size_t n = 0;
    CHECK(file, velfile_section(file, s, NULL, &root));
    groups = (velfile_group*)mxRealloc(groups, (counts[s] + 1) * sizeof *groups);
    CHECK(file, velfile_group_walk(root, 200, groups, counts[s], &n));
    describe(tree, total++, file, root);
    for (i = 0; i < n; ++i) describe(tree, total++, file, groups[i]);
  }
  mxFree(groups);
  mxFree(counts);
  return tree;
}

void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  velfile_file file = 0;
  char* path;
  if (nrhs < 1 || nrhs > 2 || !mxIsChar(prhs[0]) || (nrhs == 2 && !mxIsChar(prhs[1])))
    mexErrMsgIdAndTxt("velfile:Invalid",
                      "usage: [samples, axes, hasData] = velread(path, groupPath) or "
                      "tree = velread(path)");
  path = mxArrayToString(prhs[0]);
  CHECK(0, velfile_open(path, &file));
  mxFree(path);
  if (nrhs == 2) {
    char* group = mxArrayToString(prhs[1]);
    read_data(nlhs, plhs, file, group);
    mxFree(group);
  } else {
    plhs[0] = read_tree(file);
  }
  CHECK(0, velfile_close(file));
}
