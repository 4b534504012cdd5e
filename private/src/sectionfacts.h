// Facts about the section a group lies in, taken read-only from the records
// the container layer already loaded (nothing is read from the file): for
// the modules' and the C++ layer's bounds checks and for what the exported
// operations do not tell.
#ifndef VELFILE_SECTIONFACTS_H
#define VELFILE_SECTIONFACTS_H

#include <cstdint>

namespace velfile {

struct SectionFacts {
  uint32_t index = 0;         // position in the file's section list
  uint32_t start = 0;         // absolute offset of the header
  uint32_t size = 0;          // section size; for a section being written, its bytes so far
  uint32_t inFile = 0;        // of those, the bytes that lie in the file (less in a file cut short)
  uint32_t stringFormat = 1;  // header field: 1 UTF-16, 0 narrow
  bool swap = false;          // written in the other byte order
  bool written = false;       // made in this opening
  uint32_t directory = 0;     // sectionFacts: the group's own directory offset
};
// For a group handle (kinds 2 and 3); false for anything else.
bool sectionFacts(void* group, SectionFacts* out);
// For a file handle and a section index; false past the last section.
bool fileSectionFacts(void* file, uint32_t index, SectionFacts* out);

// Why this thread's last file_Open, file_OpenRead, file_Create or
// file_CreateEx that failed to open its file failed: ENOENT (no such file or
// directory), EACCES (no permission), EBUSY (another opener's share mode, or
// a create of a file that is open), another errno value, or 0 (nothing was
// opened: a bad path, no free slot).
int lastOpenError();

}  // namespace velfile

#endif
