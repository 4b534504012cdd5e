// velfile: the specimen simulation group, a plain record written whole every time.
#ifndef VELFILE_GSPECSIM_H
#define VELFILE_GSPECSIM_H

#include <velfile/veltypes.h>

// A plain record: copied byte for byte, no constructor, no owned memory.
struct gspecsim_typeDescr {
  VelChar groupName[32];
  int32_t layoutVersion;  // 2 once written
  int32_t item1;          // expected non-zero
  VelChar item2[50];
  VelChar item3[500];
  float item4;  // checked before writing: item5 >= item4, item7 >= item6, item9 >= item8
  float item5;
  float item6;
  float item7;
  float item8;
  float item9;
  int32_t item10;
  int32_t swapFlag;
  void* groupHandle;
};

// flag non-zero: the module's defaults; zero: all zero bytes. Then the name.
VELFILE_API gspecsim_typeDescr* gspecsim_Allocate(int flag, const VelChar* name);
VELFILE_API void gspecsim_Delete(gspecsim_typeDescr* descr, int flag);
// Back to the module's defaults, name, swap flag and group handle included.
VELFILE_API void gspecsim_InitDescr(gspecsim_typeDescr* descr);
VELFILE_API int gspecsim_ReadGroupInfo(void* group, gspecsim_typeDescr* descr);
// Writes every item. An item 1 of 0 or a range whose high end is below its
// low end (or NaN) makes a diagnostic report; the values are written as they are.
VELFILE_API int gspecsim_WriteGroupInfo(void* group, gspecsim_typeDescr* descr);

#endif
