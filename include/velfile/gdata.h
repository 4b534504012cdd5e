// velfile: the acquisition data group.
//
// A CGDataTypeFDD describes one block of acquired data: the point counts along
// two axes, the samples per point, the sample type and units, the point entry
// size and where the data lies in the file, plus labelled settings, two
// angles, a depth table and a patch identifier. The five enumerations and the
// patch identifier are guarded by validating setters.
#ifndef VELFILE_GDATA_H
#define VELFILE_GDATA_H

#include <velfile/veltypes.h>

// Sample type: an item type code of the container (the size of one sample is
// file_SizeOf of it), or none.
enum zor_enumDataType : int32_t {
  zor_eDataTypeNone = -1,
  zor_eDataTypeGroup = 0,
  zor_eDataTypeNarrow = 1,
  zor_eDataTypeInt8 = 2,
  zor_eDataTypeUInt8 = 3,
  zor_eDataTypeInt16 = 4,
  zor_eDataTypeUInt16 = 5,
  zor_eDataTypeInt32 = 6,
  zor_eDataTypeUInt32 = 7,
  zor_eDataTypeQuad8 = 8,
  zor_eDataTypeQuad9 = 9,
  zor_eDataTypeFloat = 10,
  zor_eDataTypeDouble = 11,
  zor_eDataTypeUtf16 = 12,
  zor_eDataTypeRaw = 13,
  zor_eDataTypeCount = 14,
};

// The other four enumerations are stored and validated by range only.
enum zor_enumUnits : int32_t { zor_eUnitsFirst = 0, zor_eUnitsLast = 8, zor_eUnitsCount = 9 };
enum gdata_enumDataScale : int32_t { gdata_eScaleFirst = 0, gdata_eScaleLast = 1, gdata_eScaleCount = 2 };
enum gdata_enumRectif : int32_t { gdata_eRectifFirst = 0, gdata_eRectifLast = 3, gdata_eRectifCount = 4 };
enum eDataBookmarkType : int32_t {
  eDataBookmarkFirst = 0,
  eDataBookmarkLast = 23,
  eDataBookmarkTypeCount = 24,
};

// One entry of the depth table: a pair of doubles.
class VELFILE_API CSCSDepth {
 public:
  CSCSDepth();
  void initializeData();
  CSCSDepth& operator=(const CSCSDepth& other);
  // Double equality of both values: a NaN equals nothing but the entry itself.
  int operator==(const CSCSDepth& other) const;
  int operator!=(const CSCSDepth& other) const;

  double firstValue;
  double secondValue;
};

// Brings an angle in degrees into [0, 360).
VELFILE_API double NormalizeAngle(const double& degrees);

class VELFILE_API CGDataTypeFDD {
 public:
  // Thrown by SetPatchIDName; the other codes are caught inside the setters.
  enum eGDataTypeFDDErrorCode : int32_t {
    eUnusedCode0 = 0,
    eUnusedCode1 = 1,
    eUnusedCode2 = 2,
    ePatchIDTooLarge = 3,
    ePatchIDNameTooLong = 4,
    eUnknownError = 5,
    eInvalidDataType = 6,
    eInvalidBookmarkType = 7,
    eInvalidDataUnits = 8,
    eInvalidDataScale = 9,
    eInvalidDataRectification = 10,
  };

  static constexpr uint32_t kdwMaxPatchID = 1000;
  static constexpr uint32_t kdwMaxGroupNameLength = 520;  // bytes
  static constexpr uint32_t kdwMaxArraySize = 64;         // bytes of each 32-unit text

  CGDataTypeFDD();
  CGDataTypeFDD(const CGDataTypeFDD& other);
  ~CGDataTypeFDD();
  // Copies everything; the angles arrive normalised, the pair-5 text cut to
  // its field, and the guarded fields pass through their setters.
  CGDataTypeFDD& operator=(const CGDataTypeFDD& other);
  void InitializeData();

  const zor_enumDataType& GetDataType() const;
  const zor_enumUnits& GetDataUnits() const;
  const gdata_enumDataScale& GetDataScale() const;
  const gdata_enumRectif& GetDataRectification() const;
  const eDataBookmarkType& GetDataBookmarkType() const;
  const uint32_t& GetSampleQty() const;
  const uint32_t& GetPatchID() const;
  const uint32_t& GetMaxPatchIDValue() const;
  // Points *name (when given) at the patch ID name and returns its length.
  uint64_t GetPatchIDName(const VelChar** name) const;
  bool IsDataModified() const;
  int IsThicknessMeasurement() const;
  void* GetGroupHandle();
  void* GetDataGroupHandle();

  // A refused value stores -1 (data type), 0 (the other enumerations) or
  // 1000 (patch ID).
  void SetDataType(const zor_enumDataType& type);
  void SetDataUnits(const zor_enumUnits& units);
  void SetDataScale(const gdata_enumDataScale& scale);
  void SetDataRectification(const gdata_enumRectif& rectification);
  void SetDataBookmarkType(const eDataBookmarkType& type);
  void SetPatchID(const uint32_t& id);
  // Throws ePatchIDNameTooLong for a length of 32 or more, leaving the name.
  void SetPatchIDName(const VelChar* name, const uint32_t& length);
  void ResetPatchIDName();
  void SetSampleQty(const uint32_t& quantity);
  void SetThicknessMeasurement(int flag);
  void SetDataModified();
  void SetGroupHandle(void* group);
  void SetDataGroupHandle(void* group);

  // Bytes of bulk data for a data class, a x b points, q samples of s bytes.
  uint64_t EvaluateDataFileSize(uint32_t a, uint32_t b, uint32_t q, uint32_t s) const;
  uint64_t EvaluateDataFileSize(uint32_t a, uint32_t b) const;
  uint64_t EvaluateDataFileSize() const;
  uint64_t EvaluateDataFileSizeAscanPeak(uint32_t a, uint32_t b, uint32_t p) const;
  uint64_t EvaluateDataFileSizeAscanPeak(uint32_t p) const;
  uint64_t EvaluateDataFileSizeAscanVideo(uint32_t k) const;

  int32_t layoutVersion;
  VelChar groupName[260];
  int32_t dataClass;  // the code of pair 1
  VelChar item10407[32];
  int32_t item10405;
  VelChar item10406[32];
  int32_t item10200;
  VelChar item10208[32];
  int32_t item10418;
  VelChar item10419[32];
  int32_t item10206;
  VelChar item10207[32];
  int32_t item10401;
  int32_t item10402;
  int32_t item10403;
  int32_t item10404;
  int32_t firstPointCount;  // used as unsigned
  float firstAxisFactor;
  float firstAxisOffset;
  int32_t firstAxisInteger;
  int32_t secondPointCount;  // used as unsigned
  float secondAxisFactor;
  float secondAxisOffset;
  int32_t secondAxisInteger;

 private:
  uint32_t sampleQty;

 public:
  float sampleAxisFactor;
  float sampleAxisOffset;
  int32_t sampleAxisInteger;
  int32_t item10465;
  int32_t item10466;
  int32_t item10467;
  int32_t item10468;
  float item10451;
  float item10452;
  float item10454;
  float item10455;
  float item1007;
  float firstAngle;  // degrees
  float item1106;
  float secondAngle;  // degrees
  int32_t item6;
  float item2604;  // kept within 0 to 5 on reading
  float item4;
  float item5;
  float item10456;
  int32_t item1;
  int32_t item2;
  int32_t item3;
  // Before a data write: the address of the point data in memory; after it:
  // where the data went in the file. The group stores the low 32 bits.
  uint64_t dataReference;
  int32_t pointEntrySize;  // used as unsigned
  int32_t sampleSize;      // bytes per sample, set on reading from the data type
  int32_t item10463;
  int32_t item10460;
  uint32_t signature;
  int32_t swapFlag;
  int32_t item10480;
  double item10481;
  uint16_t depthEntryCount;
  CSCSDepth depthTable[32];
  float item10484;
  int32_t item10485;
  int32_t item10486;
  int32_t item10487;
  int32_t item10488;
  int32_t item10440;
  float spareFloat;  // held in memory only; no item carries it
  int32_t item10100;

 private:
  uint32_t patchID;
  VelChar patchIDName[32];
  zor_enumDataType dataType;
  zor_enumUnits dataUnits;
  gdata_enumDataScale dataScale;
  gdata_enumRectif dataRectification;
  bool modified;
  eDataBookmarkType bookmarkType;
  int thicknessMeasurement;
  void* groupHandle;
  void* dataGroupHandle;

  [[noreturn]] static void GenerateException(const eGDataTypeFDDErrorCode& code, const uint32_t& line);
  void ValidateDataType(const zor_enumDataType& type) const;
  void ValidateDataUnits(const zor_enumUnits& units) const;
  void ValidateDataScale(const gdata_enumDataScale& scale) const;
  void ValidateDataRectification(const gdata_enumRectif& rectification) const;
  void ValidateDataBookmarkType(const eDataBookmarkType& type) const;
  void ValidatePatchID(const uint32_t& id) const;
  void ValidateGroupHandle(void* const& group) const;
  void ValidateDataGroupHandle(void* const& group) const;
};

VELFILE_API void gdata_Init();
VELFILE_API CGDataTypeFDD* gdata_Allocate(int flag, const VelChar* name);
// Frees the descriptor (if any) and sets the caller's pointer to null.
VELFILE_API void gdata_Delete(CGDataTypeFDD*& descr);
VELFILE_API int gdata_Duplicate(CGDataTypeFDD* source, CGDataTypeFDD* destination);
VELFILE_API void gdata_InitDescr(CGDataTypeFDD* descr);
VELFILE_API int gdata_ReadGroupInfo(void* group, CGDataTypeFDD* descr);
// mode 0: the bulk data is written (through gdata_WriteDataClassData) when the
// data group changed or the data is marked modified; mode non-zero: only the
// data reference already in the descriptor is stored.
VELFILE_API int gdata_WriteGroupInfo(void* group, CGDataTypeFDD* previous, CGDataTypeFDD* current, int mode);
// Writes the bulk data addressed by current's data reference into the file of
// its data group handle and stores where it went (previous is not used).
VELFILE_API int gdata_WriteDataClassData(CGDataTypeFDD* previous, CGDataTypeFDD* current);

#endif
