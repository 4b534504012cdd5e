// The data group's descriptor: defaults, validating setters and assignment.
#include <velfile/gdata.h>

#include <cmath>

#include "groupmodule.h"

using velfile::copyText;
using velfile::textLength;

namespace {

const uint32_t kSignature = 0x12345678;
const size_t kNameUnits = 260;
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
  layoutVersion = 0;
  copyText(groupName, kNameUnits, nullptr);
  dataClass = item10405 = item10200 = item10418 = item10206 = 0;
  for (VelChar* text : {item10407, item10406, item10208, item10419, item10207})
    copyText(text, kTextUnits, nullptr);
  item10401 = item10402 = item10403 = item10404 = 0;
  firstPointCount = secondPointCount = -1;
  firstAxisFactor = secondAxisFactor = sampleAxisFactor = 1.0f;
  firstAxisOffset = secondAxisOffset = sampleAxisOffset = 0.0f;
  firstAxisInteger = secondAxisInteger = sampleAxisInteger = 0;
  sampleQty = 0xFFFFFFFFu;
  item10465 = -1;
  item10466 = item10467 = item10468 = 0;
  item10451 = item10452 = 1.0e38f;
  item10454 = 1.0f;
  item10455 = item1007 = firstAngle = item1106 = secondAngle = 0.0f;
  item6 = 0;
  item2604 = item4 = item5 = 0.0f;
  item10456 = 3265.0f;
  item1 = item2 = item3 = 0;
  dataReference = 0;
  pointEntrySize = -1;
  sampleSize = 0;
  item10463 = 256;
  item10460 = 3;
  signature = kSignature;
  swapFlag = 0;
  item10480 = -1;
  item10481 = 0.0;
  depthEntryCount = 0;
  for (CSCSDepth& depth : depthTable) depth.initializeData();
  item10484 = 0.0f;
  item10485 = -1;
  item10486 = item10487 = item10488 = 0;
  item10440 = 0;
  spareFloat = 0.0f;
  item10100 = 0;
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

CGDataTypeFDD& CGDataTypeFDD::operator=(const CGDataTypeFDD& o) {
  if (this == &o) return *this;
  copyText(groupName, kNameUnits, o.groupName);
  copyText(item10407, kTextUnits, o.item10407);
  copyText(item10406, kTextUnits, o.item10406);
  copyText(item10208, kTextUnits, o.item10208);
  copyText(item10419, kTextUnits, o.item10419);
  copyPair5Text(item10207, o.item10207);
  const VelChar* name = nullptr;
  const uint32_t nameLength = static_cast<uint32_t>(o.GetPatchIDName(&name));
  SetPatchIDName(name, nameLength);  // the source's name is always shorter than 32

  layoutVersion = o.layoutVersion;
  dataClass = o.dataClass;
  item10405 = o.item10405;
  item10200 = o.item10200;
  item10418 = o.item10418;
  item10206 = o.item10206;
  item10401 = o.item10401;
  item10402 = o.item10402;
  item10403 = o.item10403;
  item10404 = o.item10404;
  firstPointCount = o.firstPointCount;
  firstAxisFactor = o.firstAxisFactor;
  firstAxisOffset = o.firstAxisOffset;
  firstAxisInteger = o.firstAxisInteger;
  secondPointCount = o.secondPointCount;
  secondAxisFactor = o.secondAxisFactor;
  secondAxisOffset = o.secondAxisOffset;
  secondAxisInteger = o.secondAxisInteger;
  SetSampleQty(o.sampleQty);
  sampleAxisFactor = o.sampleAxisFactor;
  sampleAxisOffset = o.sampleAxisOffset;
  sampleAxisInteger = o.sampleAxisInteger;
  item10465 = o.item10465;
  item10466 = o.item10466;
  item10467 = o.item10467;
  item10468 = o.item10468;
  item10451 = o.item10451;
  item10452 = o.item10452;
  item10454 = o.item10454;
  item10455 = o.item10455;
  item1007 = o.item1007;
  firstAngle = static_cast<float>(NormalizeAngle(o.firstAngle));
  item1106 = o.item1106;
  secondAngle = static_cast<float>(NormalizeAngle(o.secondAngle));
  item6 = o.item6;
  item2604 = o.item2604;
  item4 = o.item4;
  item5 = o.item5;
  item10456 = o.item10456;
  item1 = o.item1;
  item2 = o.item2;
  item3 = o.item3;
  dataReference = o.dataReference;
  pointEntrySize = o.pointEntrySize;
  sampleSize = o.sampleSize;
  item10463 = o.item10463;
  item10460 = o.item10460;
  signature = o.signature;
  swapFlag = o.swapFlag;
  item10480 = o.item10480;
  item10481 = o.item10481;
  depthEntryCount = o.depthEntryCount;
  for (size_t i = 0; i < 32; ++i) depthTable[i] = o.depthTable[i];
  item10484 = o.item10484;
  item10485 = o.item10485;
  item10486 = o.item10486;
  item10487 = o.item10487;
  item10488 = o.item10488;
  item10440 = o.item10440;
  spareFloat = o.spareFloat;
  item10100 = o.item10100;

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
