// The information group.
#include <velfile/ginfo.h>

#include "groupmodule.h"

using namespace velfile;
using D = CGInfoTypeDescr;

namespace {

const uint32_t kSignature = 0x89012345;

VelChar* copyString(const VelChar* s) {
  if (!s) return nullptr;
  size_t n = 0;
  while (s[n]) ++n;
  VelChar* copy = new VelChar[n + 1];
  std::memcpy(copy, s, (n + 1) * sizeof(VelChar));
  return copy;
}

VelChar*& owned(const ItemRule<D>& r, D* d) {
  return *static_cast<VelChar**>(r.field(d));
}

int readOwned(const ItemRule<D>& r, ReadContext<D>& ctx) {
  std::u16string text;
  int rc = readItemString(ctx.group, ctx.index, &text);
  if (rc != VelFile::kOk) return rc;
  VelChar* fresh = new (std::nothrow) VelChar[text.size() + 1];
  if (!fresh) return VelFile::kErrMemory;
  std::memcpy(fresh, text.c_str(), (text.size() + 1) * sizeof(VelChar));
  delete[] owned(r, ctx.d);
  owned(r, ctx.d) = fresh;
  return VelFile::kOk;
}

// Written only when current holds a text, and it is new or differs.
int writeOwned(const ItemRule<D>& r, WriteContext<D>& ctx) {
  const VelChar* cur = owned(r, ctx.cur);
  if (!cur) return VelFile::kOk;
  const VelChar* prev = ctx.prev ? owned(r, ctx.prev) : nullptr;
  if (prev && textEqual(prev, cur)) return VelFile::kOk;
  size_t n = 0;
  while (cur[n]) ++n;
  return writeItem(ctx.group, r.id, VelFile::kTypeUtf16, static_cast<uint32_t>(n + 1), cur);
}

template <auto M>
void getOwned(const void* d, FieldData& out) {
  const VelChar* text = static_cast<const D*>(d)->*M;
  out.form = FieldData::Text;
  out.text = text ? std::u16string(reinterpret_cast<const char16_t*>(text)) : std::u16string();
}
template <auto M>
bool setOwned(void* d, const FieldData& in) {
  VelChar* fresh = new VelChar[in.text.size() + 1];
  std::memcpy(fresh, in.text.c_str(), (in.text.size() + 1) * sizeof(VelChar));
  delete[](static_cast<D*>(d)->*M);
  static_cast<D*>(d)->*M = fresh;
  return true;
}

template <auto M>
constexpr ItemRule<D> ownedText(const char* name, uint16_t id) {
  return custom<D>(name, id, VelFile::kTypeUtf16, &readOwned, &writeOwned, &fieldOf<M>, &getOwned<M>,
                   &setOwned<M>, 0);
}

constexpr ItemRule<D> kItems[] = {
    version<D>(),
    changed<&D::item15682>("item15682", 15682, VelFile::kTypeUInt32),
    changed<&D::item15683>("item15683", 15683, VelFile::kTypeUInt32),
    changed<&D::item15684>("item15684", 15684, VelFile::kTypeUInt32),
    changed<&D::item15685>("item15685", 15685, VelFile::kTypeInt32),
    ownedText<&D::item15687>("item15687", 15687),
    ownedText<&D::item15688>("item15688", 15688),
    ownedText<&D::item15700>("item15700", 15700),
    ownedText<&D::item15686>("item15686", 15686),
    ownedText<&D::item15689>("item15689", 15689),
    changed<&D::item15690>("item15690", 15690, VelFile::kTypeUInt32),
    changed<&D::item15691>("item15691", 15691, VelFile::kTypeUInt32),
    changed<&D::item15701>("item15701", 15701, VelFile::kTypeUInt32),
    changed<&D::item15702>("item15702", 15702, VelFile::kTypeUInt32),
    changed<&D::item2>("item2", 2, VelFile::kTypeUInt32),
    changed<&D::item1>("item1", 1, VelFile::kTypeUInt32),
    changed<&D::item3>("item3", 3, VelFile::kTypeUInt32),
    changed<&D::item4>("item4", 4, VelFile::kTypeUInt32),
};

constexpr Module<D> makeModule() {
  Module<D> m({"private/src/ginfo", kSignature, 2, Foreign::Report}, kItems);
  m.updatesPrevious = false;  // previous stays as the caller passed it
  return m;
}
Module<D> kInfo = makeModule();

}  // namespace

CGInfoTypeDescr::CGInfoTypeDescr()
    : item15687(nullptr), item15688(nullptr), item15700(nullptr), item15686(nullptr), item15689(nullptr) {
  initializeData();
}

CGInfoTypeDescr::CGInfoTypeDescr(const CGInfoTypeDescr& other) : CGInfoTypeDescr() {
  *this = other;
}

CGInfoTypeDescr::~CGInfoTypeDescr() {
  releaseStrings();
}

void CGInfoTypeDescr::releaseStrings() {
  for (VelChar** s : {&item15687, &item15688, &item15700, &item15686, &item15689}) {
    delete[] * s;
    *s = nullptr;
  }
}

void CGInfoTypeDescr::initializeData() {
  initializeFields(kInfo, *this);
  releaseStrings();
}

CGInfoTypeDescr& CGInfoTypeDescr::operator=(const CGInfoTypeDescr& o) {
  if (this == &o) return *this;
  // Copies made first, so a full heap leaves this descriptor as it was.
  VelChar* texts[5] = {};
  const VelChar* sources[5] = {o.item15687, o.item15688, o.item15700, o.item15686, o.item15689};
  try {
    for (int i = 0; i < 5; ++i) texts[i] = copyString(sources[i]);
  } catch (...) {
    for (VelChar* t : texts) delete[] t;
    throw;
  }
  releaseStrings();
  item15687 = texts[0];
  item15688 = texts[1];
  item15700 = texts[2];
  item15686 = texts[3];
  item15689 = texts[4];
  assignFields(kInfo, *this, o);
  return *this;
}

// The texts compare by address.
int CGInfoTypeDescr::operator==(const CGInfoTypeDescr& o) const {
  return equalFields(kInfo, *this, o) && item15687 == o.item15687 && item15688 == o.item15688 &&
         item15700 == o.item15700 && item15686 == o.item15686 && item15689 == o.item15689;
}
int CGInfoTypeDescr::operator!=(const CGInfoTypeDescr& o) const {
  return !(*this == o);
}

VELFILE_MODULE_INIT(ginfo, kInfo, VelWideErrorHook);
VELFILE_MODULE_ALLOCATE(ginfo, D, kInfo);
void ginfo_Delete(D* d, int flag) {
  if (d) d->releaseStrings();
  deleteDescr(kInfo, d, flag);
}
int ginfo_Duplicate(D* source, D* destination) {
  try {
    return duplicateDescr(kInfo, source, destination);
  } catch (const std::bad_alloc&) {
    return VelFile::kErrMemory;
  }
}
VELFILE_MODULE_READ(ginfo, D, kInfo);
VELFILE_MODULE_WRITE(ginfo, D, kInfo);
VELFILE_MODULE_OPS(ginfo, "info", "CGInfoTypeDescr", D, kInfo);
