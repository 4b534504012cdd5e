// The data group's descriptor: defaults, validating setters and assignment.
#include <velfile/gdata.h>

#include <cmath>

#include "groupmodule.h"

using velfile::copyText;
using velfile::textLength;

namespace {

const size_t kTextUnits = 32;

// Pair 5's text may be held without a terminator; the copy keeps what comes
// before its first space, or its first 31 characters when no space is near.
void copyPair5Text(VelChar* dst, const VelChar* src) {
  size_t n = textLength(src, kTextUnits);
  if (n >= kTextUnits) {
    n = kTextUnits - 1;
    for (size_t i = 0; i < kTextUnits - 1; ++i) {
      if (src[i] == u' ') {
        n = i;
        break;
      }
    }
  }
  std::memset(dst, 0, kTextUnits * sizeof(VelChar));
  std::memcpy(dst, src, n * sizeof(VelChar));
}

}  // namespace

CSCSDepth::CSCSDepth() {
  initializeData();
}
void CSCSDepth::initializeData() {
  firstValue = secondValue = 0.0;
}
CSCSDepth& CSCSDepth::operator=(const CSCSDepth& o) {
  firstValue = o.firstValue;
  secondValue = o.secondValue;
  return *this;
}
int CSCSDepth::operator==(const CSCSDepth& o) const {
  return this == &o || (firstValue == o.firstValue && secondValue == o.secondValue);
}
int CSCSDepth::operator!=(const CSCSDepth& o) const {
  return !(*this == o);
}

double NormalizeAngle(const double& degrees) {
  // fmod is exact, so even angles far beyond the range of an integer land
  // in the right turn.
  double r = std::fmod(degrees, 360.0);
  if (r < 0.0) r += 360.0;
  if (r >= 360.0) r = 0.0;  // a tiny negative angle rounds up to a full turn
  return r;
}

CGDataTypeFDD::CGDataTypeFDD() {
  InitializeData();
}
CGDataTypeFDD::CGDataTypeFDD(const CGDataTypeFDD& other) : CGDataTypeFDD() {
  *this = other;
}
CGDataTypeFDD::~CGDataTypeFDD() = default;

void CGDataTypeFDD::InitializeData() {
  velfile::initializeFields(velfile::dataModule(), *this);
  sampleQty = 0xFFFFFFFFu;
  dataReference = 0;
  sampleSize = 0;
  for (CSCSDepth& depth : depthTable) depth.initializeData();
  spareFloat = 0.0f;
  SetPatchID(0);
  ResetPatchIDName();
  SetDataType(zor_eDataTypeGroup);
  SetDataUnits(zor_eUnitsFirst);
  SetDataScale(gdata_eScaleFirst);
  SetDataRectification(gdata_eRectifFirst);
  SetDataBookmarkType(eDataBookmarkFirst);
  dataType = zor_eDataTypeNone;
  modified = false;
  thicknessMeasurement = 0;
  groupHandle = nullptr;
  dataGroupHandle = nullptr;
}

// The table's fields as they are, but pair 5's text and the angles; then
// what lies behind the accessors, through them.
CGDataTypeFDD& CGDataTypeFDD::operator=(const CGDataTypeFDD& o) {
  if (this == &o) return *this;
  velfile::assignFields(velfile::dataModule(), *this, o);
  copyPair5Text(item10207, o.item10207);
  firstAngle = static_cast<float>(NormalizeAngle(o.firstAngle));
  secondAngle = static_cast<float>(NormalizeAngle(o.secondAngle));
  const VelChar* name = nullptr;
  const uint32_t nameLength = static_cast<uint32_t>(o.GetPatchIDName(&name));
  SetPatchIDName(name, nameLength);  // the source's name is always shorter than 32
  SetSampleQty(o.sampleQty);
  dataReference = o.dataReference;
  sampleSize = o.sampleSize;
  for (size_t i = 0; i < 32; ++i) depthTable[i] = o.depthTable[i];
  spareFloat = o.spareFloat;
  SetPatchID(o.patchID);
  SetDataType(o.dataType);
  SetDataUnits(o.dataUnits);
  SetDataScale(o.dataScale);
  SetDataRectification(o.dataRectification);
  SetThicknessMeasurement(o.thicknessMeasurement);
  SetDataBookmarkType(o.bookmarkType);
  SetGroupHandle(o.groupHandle);
  SetDataGroupHandle(o.dataGroupHandle);
  modified = o.modified;
  return *this;
}

// --- accessors ---

const zor_enumDataType& CGDataTypeFDD::GetDataType() const {
  return dataType;
}
const zor_enumUnits& CGDataTypeFDD::GetDataUnits() const {
  return dataUnits;
}
const gdata_enumDataScale& CGDataTypeFDD::GetDataScale() const {
  return dataScale;
}
const gdata_enumRectif& CGDataTypeFDD::GetDataRectification() const {
  return dataRectification;
}
const eDataBookmarkType& CGDataTypeFDD::GetDataBookmarkType() const {
  return bookmarkType;
}
const uint32_t& CGDataTypeFDD::GetSampleQty() const {
  return sampleQty;
}
const uint32_t& CGDataTypeFDD::GetPatchID() const {
  return patchID;
}
const uint32_t& CGDataTypeFDD::GetMaxPatchIDValue() const {
  return kdwMaxPatchID;
}
uint64_t CGDataTypeFDD::GetPatchIDName(const VelChar** name) const {
  if (name) *name = patchIDName;
  return textLength(patchIDName, kTextUnits);
}
bool CGDataTypeFDD::IsDataModified() const {
  return modified;
}
int CGDataTypeFDD::IsThicknessMeasurement() const {
  return thicknessMeasurement;
}
void* CGDataTypeFDD::GetGroupHandle() {
  return groupHandle;
}
void* CGDataTypeFDD::GetDataGroupHandle() {
  return dataGroupHandle;
}

// --- setters: a refused value is replaced, never passed on ---

namespace {
template <class T, class Validate>
void setValidated(T& field, const T& value, const T& refused, Validate validate) {
  try {
    validate(value);
    field = value;
  } catch (CGDataTypeFDD::eGDataTypeFDDErrorCode) {
    field = refused;
  }
}
}  // namespace

void CGDataTypeFDD::SetDataType(const zor_enumDataType& v) {
  setValidated(dataType, v, zor_eDataTypeNone, [this](const zor_enumDataType& x) { ValidateDataType(x); });
}
void CGDataTypeFDD::SetDataUnits(const zor_enumUnits& v) {
  setValidated(dataUnits, v, zor_eUnitsFirst, [this](const zor_enumUnits& x) { ValidateDataUnits(x); });
}
void CGDataTypeFDD::SetDataScale(const gdata_enumDataScale& v) {
  setValidated(dataScale, v, gdata_eScaleFirst,
               [this](const gdata_enumDataScale& x) { ValidateDataScale(x); });
}
void CGDataTypeFDD::SetDataRectification(const gdata_enumRectif& v) {
  setValidated(dataRectification, v, gdata_eRectifFirst,
               [this](const gdata_enumRectif& x) { ValidateDataRectification(x); });
}
void CGDataTypeFDD::SetDataBookmarkType(const eDataBookmarkType& v) {
  setValidated(bookmarkType, v, eDataBookmarkFirst,
               [this](const eDataBookmarkType& x) { ValidateDataBookmarkType(x); });
}
void CGDataTypeFDD::SetPatchID(const uint32_t& v) {
  setValidated(patchID, v, kdwMaxPatchID, [this](const uint32_t& x) { ValidatePatchID(x); });
}

void CGDataTypeFDD::SetPatchIDName(const VelChar* name, const uint32_t& length) {
  if (length >= kTextUnits) GenerateException(ePatchIDNameTooLong, __LINE__);
  // Through a copy: the name may be this descriptor's own.
  VelChar copy[kTextUnits] = {};
  if (name) std::memcpy(copy, name, textLength(name, length) * sizeof(VelChar));
  std::memcpy(patchIDName, copy, sizeof patchIDName);
}
void CGDataTypeFDD::ResetPatchIDName() {
  std::memset(patchIDName, 0, sizeof patchIDName);
}

void CGDataTypeFDD::SetSampleQty(const uint32_t& quantity) {
  sampleQty = quantity;
}
void CGDataTypeFDD::SetThicknessMeasurement(int flag) {
  thicknessMeasurement = flag;
}
void CGDataTypeFDD::SetDataModified() {
  modified = true;
}
void CGDataTypeFDD::SetGroupHandle(void* group) {
  ValidateGroupHandle(group);
  groupHandle = group;
}
void CGDataTypeFDD::SetDataGroupHandle(void* group) {
  ValidateDataGroupHandle(group);
  dataGroupHandle = group;
}

// --- validators ---

void CGDataTypeFDD::GenerateException(const eGDataTypeFDDErrorCode& code, const uint32_t& line) {
  (void)line;  // where the check failed; it does not travel with the code
  if (code < eUnusedCode0 || code > eInvalidDataRectification) throw eGDataTypeFDDErrorCode(eUnknownError);
  throw code;
}

namespace {
bool outside(int32_t v, int32_t count) {
  return v < 0 || v >= count;
}
}  // namespace

void CGDataTypeFDD::ValidateDataType(const zor_enumDataType& v) const {
  if (outside(v, zor_eDataTypeCount)) GenerateException(eInvalidDataType, __LINE__);
}
void CGDataTypeFDD::ValidateDataUnits(const zor_enumUnits& v) const {
  if (outside(v, zor_eUnitsCount)) GenerateException(eInvalidDataUnits, __LINE__);
}
void CGDataTypeFDD::ValidateDataScale(const gdata_enumDataScale& v) const {
  if (outside(v, gdata_eScaleCount)) GenerateException(eInvalidDataScale, __LINE__);
}
void CGDataTypeFDD::ValidateDataRectification(const gdata_enumRectif& v) const {
  if (outside(v, gdata_eRectifCount)) GenerateException(eInvalidDataRectification, __LINE__);
}
void CGDataTypeFDD::ValidateDataBookmarkType(const eDataBookmarkType& v) const {
  if (outside(v, eDataBookmarkTypeCount)) GenerateException(eInvalidBookmarkType, __LINE__);
}
void CGDataTypeFDD::ValidatePatchID(const uint32_t& v) const {
  if (v > GetMaxPatchIDValue()) GenerateException(ePatchIDTooLarge, __LINE__);
}
void CGDataTypeFDD::ValidateGroupHandle(void* const& group) const {
  (void)group;
}
void CGDataTypeFDD::ValidateDataGroupHandle(void* const& group) const {
  (void)group;
}
