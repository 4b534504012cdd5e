// The weld scan plan and weld fill descriptors open with the same seven
// fields: layout version, the two memory-only texts, name, group handle,
// signature and swap flag. Resetting and copying them is written once here.
#ifndef VELFILE_GWELDHEAD_H
#define VELFILE_GWELDHEAD_H

#include <iterator>

#include "groupmodule.h"

namespace velfile {

template <class D>
void resetWeldHead(D& d, uint32_t signature) {
  d.layoutVersion = 0;
  copyText(d.shortText, std::size(d.shortText), nullptr);
  copyText(d.longText, std::size(d.longText), nullptr);
  copyText(d.groupName, std::size(d.groupName), nullptr);
  d.groupHandle = nullptr;
  d.signature = signature;
  d.swapFlag = 0;
}

template <class D>
void copyWeldHead(D& d, const D& o) {
  d.layoutVersion = o.layoutVersion;
  copyText(d.shortText, std::size(d.shortText), o.shortText);
  copyText(d.longText, std::size(d.longText), o.longText);
  copyText(d.groupName, std::size(d.groupName), o.groupName);
  d.groupHandle = o.groupHandle;
  d.signature = o.signature;
  d.swapFlag = o.swapFlag;
}

}  // namespace velfile

#endif
