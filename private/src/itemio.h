// Item readers for the group modules: like file_IndexValueRead and
// file_IndexBlockRead (same hooks, same results), but they never write past
// the destination they are given, whatever the file holds.
#ifndef VELFILE_ITEMIO_H
#define VELFILE_ITEMIO_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "sectionfacts.h"

namespace velfile {

int readItemValue(void* group, uint32_t index, uint16_t type, void* dst, size_t capacity, uint32_t* count);
int readItemBlock(void* group, uint32_t index, uint16_t type, void* dst, size_t maxElements);
// Reads a string item of any length (narrow ones widened) up to its first zero.
int readItemString(void* group, uint32_t index, std::u16string* text);

}  // namespace velfile

#endif
