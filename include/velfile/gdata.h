/// @file
/// The acquisition data group.
/// The C++ layer calls the module @c data (velfile::find_module()).
///
/// A CGDataTypeFDD describes one block of acquired data: the point counts along
/// two axes, the samples per point, the sample type and units, the point entry
/// size and where the data lies in the file, plus labelled settings, two
/// angles, a depth table and a patch identifier. The five enumerations and the
/// patch identifier are guarded by validating setters.
///
/// The bulk data (the acquired points themselves) is not an item: the data
/// class (CGDataTypeFDD::dataClass) chooses its layout, and
/// gdata_WriteDataClassData places it in the file from what
/// CGDataTypeFDD::dataReference addresses in memory. With n = first point
/// count times second point count, E = point entry size (at least 4 for
/// classes 1 and 10) and S = sample size in bytes times sample quantity:
///
/// By data class, what the data reference addresses in memory, and what the
/// file receives:
/// - 1: an array of n 64-bit entries, one per point: 0, 1 or 2 marks a point
///   without data (the value is kept as its marker); any other value is the
///   address of that point's record of S bytes. The file receives a point
///   table of n entries of E bytes (the marker, or the position of the
///   point's record relative to the section start, as 32 bits, then zeros),
///   followed by the records, each 8-aligned.
/// - 10: as class 1, but each record is variable: a 16-bit count m in host
///   order, the whole record (2m + 1) times 2 bytes. The file receives the
///   point table, followed by the records packed one after another.
/// - 2, 3, 5, 6, 17, 20, 30 to 37, 40 to 43: one contiguous block of E times
///   n bytes, which the file receives unchanged.
/// - any other class: nothing; it has no layout, nothing is written
///   (gdata_WriteDataClassData returns 2).
///
/// A host that passes its dense sample buffer for class 1 or 10 hands the
/// library addresses that are not addresses: for those classes build the
/// array of entries first. All bytes are written in host byte order; a reader
/// swaps them itself when VelFile::file_SwapNeeded says so.
#ifndef VELFILE_GDATA_H
#define VELFILE_GDATA_H

#include <velfile/veltypes.h>

/// Sample type: an item type code of the container (the size of one sample is
/// VelFile::file_SizeOf of it), or none. Values 0 to 13 name the item types of
/// VelFile::VelItemType.
enum zor_enumDataType : int32_t {
  zor_eDataTypeNone = -1,    ///< no sample type (the default, and what a refused value becomes)
  zor_eDataTypeGroup = 0,    ///< VelFile::kTypeGroup
  zor_eDataTypeNarrow = 1,   ///< VelFile::kTypeNarrow
  zor_eDataTypeInt8 = 2,     ///< VelFile::kTypeInt8
  zor_eDataTypeUInt8 = 3,    ///< VelFile::kTypeUInt8
  zor_eDataTypeInt16 = 4,    ///< VelFile::kTypeInt16
  zor_eDataTypeUInt16 = 5,   ///< VelFile::kTypeUInt16
  zor_eDataTypeInt32 = 6,    ///< VelFile::kTypeInt32
  zor_eDataTypeUInt32 = 7,   ///< VelFile::kTypeUInt32
  zor_eDataTypeQuad8 = 8,    ///< VelFile::kTypeQuad8
  zor_eDataTypeQuad9 = 9,    ///< VelFile::kTypeQuad9
  zor_eDataTypeFloat = 10,   ///< VelFile::kTypeFloat
  zor_eDataTypeDouble = 11,  ///< VelFile::kTypeDouble
  zor_eDataTypeUtf16 = 12,   ///< VelFile::kTypeUtf16
  zor_eDataTypeRaw = 13,     ///< VelFile::kTypeRaw
  zor_eDataTypeCount = 14,   ///< number of valid types (0 to 13)
};

// The other four enumerations are stored and validated by range only.

/// Units of the data: a code from First to Last; others are refused.
enum zor_enumUnits : int32_t {
  zor_eUnitsFirst = 0,  ///< lowest valid code (the default, and what a refused value becomes)
  zor_eUnitsLast = 8,   ///< highest valid code
  zor_eUnitsCount = 9   ///< number of valid codes
};
/// Scale of the data: a code from First to Last; others are refused.
enum gdata_enumDataScale : int32_t {
  gdata_eScaleFirst = 0,  ///< lowest valid code (the default, and what a refused value becomes)
  gdata_eScaleLast = 1,   ///< highest valid code
  gdata_eScaleCount = 2   ///< number of valid codes
};
/// Rectification of the data: a code from First to Last; others are refused.
enum gdata_enumRectif : int32_t {
  gdata_eRectifFirst = 0,  ///< lowest valid code (the default, and what a refused value becomes)
  gdata_eRectifLast = 3,   ///< highest valid code
  gdata_eRectifCount = 4   ///< number of valid codes
};
/// Bookmark type of the data: a code from First to Last; others are refused.
enum eDataBookmarkType : int32_t {
  eDataBookmarkFirst = 0,       ///< lowest valid code (the default, and what a refused value becomes)
  eDataBookmarkLast = 23,       ///< highest valid code
  eDataBookmarkTypeCount = 24,  ///< number of valid codes
};

/// One entry of the depth table: a pair of doubles.
class VELFILE_API CSCSDepth {
 public:
  /// Constructs an entry of two zeros.
  CSCSDepth();
  /// Sets both values to 0.
  void initializeData();
  /// Copies both values.
  /// @param other the entry copied
  /// @return this entry
  CSCSDepth& operator=(const CSCSDepth& other);
  /// Compares both values as doubles (a NaN equals nothing but the entry itself).
  /// @param other the entry compared
  /// @return 1 when equal, 0 otherwise
  int operator==(const CSCSDepth& other) const;
  /// The negation of operator==.
  /// @param other the entry compared
  /// @return 1 when different, 0 when equal
  int operator!=(const CSCSDepth& other) const;

  double firstValue;   ///< first value of the pair
  double secondValue;  ///< second value of the pair
};

/// Brings an angle in degrees into [0, 360).
/// @param degrees the angle
/// @return the same angle within [0, 360)
VELFILE_API double NormalizeAngle(const double& degrees);

/// Descriptor of the data group: the shape and settings of one block of
/// acquired data, and where its bulk data lies (see the file's description
/// for the layouts by data class). Write it with gdata_WriteGroupInfo, read
/// it with gdata_ReadGroupInfo. Counts and sizes declared int32_t are used as
/// unsigned 32-bit values.
class VELFILE_API CGDataTypeFDD {
 public:
  /// Codes of the validation. Only SetPatchIDName lets one out, as an
  /// exception (ePatchIDNameTooLong); the other setters catch theirs and store
  /// a refusal value instead.
  enum eGDataTypeFDDErrorCode : int32_t {
    eUnusedCode0 = 0,                ///< not used
    eUnusedCode1 = 1,                ///< not used
    eUnusedCode2 = 2,                ///< not used
    ePatchIDTooLarge = 3,            ///< a patch ID above kdwMaxPatchID
    ePatchIDNameTooLong = 4,         ///< a patch ID name of 32 or more code units (thrown)
    eUnknownError = 5,               ///< any other code
    eInvalidDataType = 6,            ///< a data type outside 0 to 13
    eInvalidBookmarkType = 7,        ///< a bookmark type outside its range
    eInvalidDataUnits = 8,           ///< units outside their range
    eInvalidDataScale = 9,           ///< a scale outside its range
    eInvalidDataRectification = 10,  ///< a rectification outside its range
  };

  /// Highest valid patch ID.
  static constexpr uint32_t kdwMaxPatchID = 1000;
  /// Bytes of the group name field (260 UTF-16 code units).
  static constexpr uint32_t kdwMaxGroupNameLength = 520;  // bytes
  /// Bytes of each 32-unit text field.
  static constexpr uint32_t kdwMaxArraySize = 64;  // bytes of each 32-unit text

  /// Constructs a descriptor at its defaults (InitializeData).
  CGDataTypeFDD();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGDataTypeFDD(const CGDataTypeFDD& other);
  /// Destroys the descriptor.
  ~CGDataTypeFDD();
  /// Copies everything; the angles arrive normalised, the pair-5 text cut to
  /// its field, and the guarded fields pass through their setters.
  /// @param other the descriptor copied
  /// @return this descriptor
  CGDataTypeFDD& operator=(const CGDataTypeFDD& other);
  /// Sets every field to its default: name empty, the module's signature,
  /// swap flag 0, handles null, both point counts and the point entry size -1,
  /// sample quantity 0xFFFFFFFF, data type none, data class 0.
  void InitializeData();

  /// The sample type.
  /// @return the data type (zor_eDataTypeNone when unset or refused)
  const zor_enumDataType& GetDataType() const;
  /// The units.
  /// @return the units code
  const zor_enumUnits& GetDataUnits() const;
  /// The scale.
  /// @return the scale code
  const gdata_enumDataScale& GetDataScale() const;
  /// The rectification.
  /// @return the rectification code
  const gdata_enumRectif& GetDataRectification() const;
  /// The bookmark type.
  /// @return the bookmark type code
  const eDataBookmarkType& GetDataBookmarkType() const;
  /// The number of samples per point.
  /// @return the sample quantity
  const uint32_t& GetSampleQty() const;
  /// The patch identifier.
  /// @return the patch ID, 0 to kdwMaxPatchID
  const uint32_t& GetPatchID() const;
  /// The highest valid patch identifier.
  /// @return kdwMaxPatchID
  const uint32_t& GetMaxPatchIDValue() const;
  /// Points *name (when given) at the patch ID name and returns its length.
  /// @param name receives the address of the zero-terminated name, owned by
  ///        the descriptor; may be null
  /// @return the name's length in code units
  uint64_t GetPatchIDName(const VelChar** name) const;
  /// Tells whether SetDataModified was called since the defaults.
  /// @return true when the bulk data is marked modified
  bool IsDataModified() const;
  /// The thickness measurement flag.
  /// @return the flag as set (the write stores 0 and resets it)
  int IsThicknessMeasurement() const;
  /// The group that receives item 10461 (where the bulk data went).
  /// @return the group handle; null at the defaults
  void* GetGroupHandle();
  /// The group whose file receives the bulk data.
  /// @return the data group handle; null at the defaults
  void* GetDataGroupHandle();

  // A refused value stores -1 (data type), 0 (the other enumerations) or
  // 1000 (patch ID).

  /// Sets the sample type; a value outside 0 to 13 stores zor_eDataTypeNone.
  /// @param type the sample type
  void SetDataType(const zor_enumDataType& type);
  /// Sets the units; a value outside their range stores zor_eUnitsFirst.
  /// @param units the units code
  void SetDataUnits(const zor_enumUnits& units);
  /// Sets the scale; a value outside its range stores gdata_eScaleFirst.
  /// @param scale the scale code
  void SetDataScale(const gdata_enumDataScale& scale);
  /// Sets the rectification; a value outside its range stores gdata_eRectifFirst.
  /// @param rectification the rectification code
  void SetDataRectification(const gdata_enumRectif& rectification);
  /// Sets the bookmark type; a value outside its range stores eDataBookmarkFirst.
  /// @param type the bookmark type code
  void SetDataBookmarkType(const eDataBookmarkType& type);
  /// Sets the patch identifier; a value above kdwMaxPatchID stores kdwMaxPatchID.
  /// @param id the patch ID
  void SetPatchID(const uint32_t& id);
  /// Sets the patch ID name from at most @p length code units of @p name.
  /// Throws ePatchIDNameTooLong for a length of 32 or more, leaving the name.
  /// @param name the name (up to its terminator or @p length units); null
  ///        empties it
  /// @param length the most code units taken, below 32
  void SetPatchIDName(const VelChar* name, const uint32_t& length);
  /// Empties the patch ID name.
  void ResetPatchIDName();
  /// Sets the number of samples per point.
  /// @param quantity the sample quantity
  void SetSampleQty(const uint32_t& quantity);
  /// Sets the thickness measurement flag.
  /// @param flag the flag
  void SetThicknessMeasurement(int flag);
  /// Marks the bulk data modified, so that gdata_WriteGroupInfo (mode 0)
  /// writes it again for an unchanged data group.
  void SetDataModified();
  /// Sets the group that receives item 10461 in gdata_WriteDataClassData.
  /// @param group a group handle
  void SetGroupHandle(void* group);
  /// Sets the group whose file receives the bulk data in
  /// gdata_WriteDataClassData.
  /// @param group a group handle (or a file handle standing for its new
  ///        section; see VelFile::file_Allocate)
  void SetDataGroupHandle(void* group);

  // Bytes of bulk data for a data class, a x b points, q samples of s bytes.
  // Every factor is taken as unsigned 32-bit; products wrap at 2 to the 64.

  /// Bytes of bulk data for the data class, @p a times @p b points, @p q
  /// samples of @p s bytes, with n = a times b and E = the point entry size:
  /// class 1, n times E plus n times q times s; classes 2, 3 and 20, n times
  /// s; classes 10, 11, 2000 and 2001, 0; any other, n times E.
  /// @param a first point count
  /// @param b second point count
  /// @param q samples per point
  /// @param s bytes per sample
  /// @return the byte count
  uint64_t EvaluateDataFileSize(uint32_t a, uint32_t b, uint32_t q, uint32_t s) const;
  /// As the four-argument form, with the descriptor's sample quantity and
  /// sample size.
  /// @param a first point count
  /// @param b second point count
  /// @return the byte count
  uint64_t EvaluateDataFileSize(uint32_t a, uint32_t b) const;
  /// As the four-argument form, with the descriptor's point counts, sample
  /// quantity and sample size.
  /// @return the byte count
  uint64_t EvaluateDataFileSize() const;
  /// Bytes of peak data: n plus n times (4p + 2), with n = a times b (the
  /// factor computed in 32 bits).
  /// @param a first point count
  /// @param b second point count
  /// @param p peaks per point
  /// @return the byte count
  uint64_t EvaluateDataFileSizeAscanPeak(uint32_t a, uint32_t b, uint32_t p) const;
  /// As the three-argument form, with the descriptor's point counts.
  /// @param p peaks per point
  /// @return the byte count
  uint64_t EvaluateDataFileSizeAscanPeak(uint32_t p) const;
  /// Bytes of @p k points of video data: k times (E plus sample quantity
  /// times sample size).
  /// @param k number of points
  /// @return the byte count
  uint64_t EvaluateDataFileSizeAscanVideo(uint32_t k) const;

  /// @name Fields of CGDataTypeFDD
  /// The descriptor's fields. Each @c itemN holds the value of item N of the
  /// group. @c layoutVersion is item 9999 (2 once written); @c groupName is
  /// the group's name (item 10000), at most 259 code units; @c signature is
  /// the module's signature; @c swapFlag is 0, or 1 once read from a section
  /// written in the other byte order. Fields with a role of their own say so.
  ///@{
  int32_t layoutVersion;   ///< One of the fields of CGDataTypeFDD (see their description).
  VelChar groupName[260];  ///< the group's name (item 10000), zero-terminated
  int32_t dataClass;       ///< the data class (item 10400): chooses the bulk data layout
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
  int32_t firstPointCount;    ///< points along the first axis (used as unsigned)
  float firstAxisFactor;      ///< first axis: factor
  float firstAxisOffset;      ///< first axis: offset
  int32_t firstAxisInteger;   ///< first axis: integer setting
  int32_t secondPointCount;   ///< points along the second axis (used as unsigned)
  float secondAxisFactor;     ///< second axis: factor
  float secondAxisOffset;     ///< second axis: offset
  int32_t secondAxisInteger;  ///< second axis: integer setting
                              ///@}

 private:
  uint32_t sampleQty;

 public:
  float sampleAxisFactor;     ///< sample axis: factor
  float sampleAxisOffset;     ///< sample axis: offset
  int32_t sampleAxisInteger;  ///< sample axis: integer setting
  /// @name More fields of CGDataTypeFDD
  /// As the fields above: each @c itemN holds item N of the group.
  ///@{
  int32_t item10465;  ///< One of the fields of CGDataTypeFDD (see their description).
  int32_t item10466;
  int32_t item10467;
  int32_t item10468;
  float item10451;
  float item10452;
  float item10454;
  float item10455;
  float item1007;
  float firstAngle;  ///< an angle in degrees, kept within [0, 360)
  float item1106;
  float secondAngle;  ///< an angle in degrees, kept within [0, 360)
  int32_t item6;
  float item2604;  ///< kept within 0 to 5 on reading (else 0.05)
  float item4;
  float item5;
  float item10456;
  int32_t item1;
  int32_t item2;
  int32_t item3;
  /// Before a data write: the address of the point data in memory; after it:
  /// where the data went in the file. The group stores the low 32 bits.
  ///
  /// Writing (gdata_WriteDataClassData, or gdata_WriteGroupInfo with mode 0)
  /// takes it as the address of the caller's data, by data class: for
  /// classes 1 and 10, an array of first point count times second point
  /// count 64-bit entries, each 0, 1 or 2 (a point without data) or the
  /// address of the point's record; for the block classes, the block of
  /// point entry size times point count bytes. The write replaces it with the
  /// offset of the point table or block relative to the section start, and
  /// stores that as item 10461. Reading replaces only its low 32 bits with
  /// item 10461 (the high half stays: clear it before reading), which is the
  /// offset of the table or block in the group's section; with
  /// VelFile::file_Read or VelFile::file_ReadBlock on the group a reader
  /// reaches the point table, whose 32-bit entries are markers (0, 1, 2) or
  /// record offsets relative to the section start.
  uint64_t dataReference;
  int32_t pointEntrySize;  ///< E, bytes per point-table entry or per point of a block (used as unsigned)
  int32_t sampleSize;  ///< bytes per sample, set on reading from the data type; set it before a class-1 write
  int32_t item10463;
  int32_t item10460;
  uint32_t signature;
  int32_t swapFlag;
  int32_t item10480;
  double item10481;
  uint16_t depthEntryCount;  ///< entries used in depthTable (0 to 32)
  CSCSDepth depthTable[32];  ///< the depth table (item 10482, two doubles per entry)
  float item10484;
  int32_t item10485;
  int32_t item10486;
  int32_t item10487;
  int32_t item10488;
  int32_t item10440;
  float spareFloat;  ///< held in memory only; no item carries it
  int32_t item10100;
  ///@}

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

/// Clears the module's five hook slots: the data module calls no hooks.
VELFILE_API void gdata_Init();
/// Creates a descriptor at its defaults on the library's heap, with the
/// module's signature and @p name as its group name.
/// @param flag not used
/// @param name zero-terminated UTF-16 group name, cut to 259 code units;
///        null gives an empty name
/// @return the descriptor, to be freed with gdata_Delete; null when memory ran out
VELFILE_API CGDataTypeFDD* gdata_Allocate(int flag, const VelChar* name);
/// Frees the descriptor (if any) and sets the caller's pointer to null.
/// @param descr the caller's pointer to the descriptor; null afterwards
VELFILE_API void gdata_Delete(CGDataTypeFDD*& descr);
/// Copies one descriptor into another (CGDataTypeFDD's assignment).
/// @param source the descriptor copied
/// @param destination the descriptor overwritten
/// @return 0 when copied, -1 (nothing copied) when either pointer is null
VELFILE_API int gdata_Duplicate(CGDataTypeFDD* source, CGDataTypeFDD* destination);
/// Sets a descriptor back to its defaults (InitializeData) with the module's
/// signature.
/// @param descr the descriptor; null does nothing (a diagnostic report)
VELFILE_API void gdata_InitDescr(CGDataTypeFDD* descr);
/// Fills a descriptor from the items of a data group (not the bulk data).
/// Stores the signature and the group handle, sets the swap flag from
/// VelFile::file_SwapNeeded unless already non-zero, then reads the items in
/// file order; fields whose item the group lacks keep their values, unknown
/// ids are skipped. Guarded values pass through their setters (a refused one
/// becomes the setter's refusal value), angles are normalised, the data
/// reference receives item 10461 in its low 32 bits only (see
/// CGDataTypeFDD::dataReference). Then the sample size becomes
/// VelFile::file_SizeOf of the data type.
/// @param group a data group's handle (VelFile::file_GroupOpen); any other
///        handle has no items, so nothing is read and the result is 0
/// @param descr the descriptor to fill
/// @return
///   - 0: read;
///   - 1 (VelFile::kErrMemory): memory ran out;
///   - 2 (VelFile::kErrIo): the group's directory or an item's value cannot
///     be read (a damaged or cut file); fields read before keep their new
///     values, the sample size is not set (a diagnostic report);
///   - 3 (VelFile::kErrNotFound): a null @p descr.
VELFILE_API int gdata_ReadGroupInfo(void* group, CGDataTypeFDD* descr);
/// Stores a descriptor in a data group: the name, the always-written items,
/// item 9999 (layout version 2, also stored in @p current), then each other
/// item when @p previous is null or it differs; the depth table every time.
/// Then, by @p mode, the data reference: mode 0 writes the bulk data (through
/// gdata_WriteDataClassData) when the data group changed or the data is
/// marked modified; mode non-zero: only the data reference already in the
/// descriptor is stored. For mode 0, set @p current's data class, counts,
/// sizes and CGDataTypeFDD::dataReference (the address of the data in
/// memory, as the file's description lays out by class) first; the call sets
/// the data group handle (to @p previous's group handle, or to @p group
/// without a previous descriptor) and the group handle (@p group) itself.
/// Afterwards @p previous becomes a copy of @p current, keeping its own data
/// reference.
/// @param group a group handle of a data group created since the file was
///        opened (VelFile::file_GroupCreate)
/// @param previous what the group already holds, or null to write every item
///        and the bulk data
/// @param current the descriptor to store
/// @param mode 0: write the bulk data as described; non-zero: store the data
///        reference (item 10461, low 32 bits) when it changed
/// @return 0, or the bitwise OR of the codes of the failed writes: 1 memory,
///   2 a value or the bulk data could not be written, or a data class without
///   a layout (mode 0), 3 not a group handle or a text the narrow character
///   set cannot hold, 8 a group loaded from the file (read-only); 3 alone for
///   a null @p current.
VELFILE_API int gdata_WriteGroupInfo(void* group, CGDataTypeFDD* previous, CGDataTypeFDD* current, int mode);
/// Writes the bulk data addressed by current's data reference into the file of
/// its data group handle and stores where it went (previous is not used).
///
/// Before the call set, in @p current: the data class; the first and second
/// point counts (n is their product); the point entry size E; for class 1 the
/// sample size and sample quantity (S bytes per record); the data group
/// handle (CGDataTypeFDD::SetDataGroupHandle: the group whose section
/// receives the data); the group handle (CGDataTypeFDD::SetGroupHandle: the
/// group that receives item 10461); and CGDataTypeFDD::dataReference, the
/// address of the data in memory, which must hold, by class:
///   - class 1: an array of n 64-bit entries; an entry of 0, 1 or 2 marks a
///     point without data, any other entry is the address of that point's
///     record of S bytes. Not the dense sample buffer: its samples would be
///     taken for addresses.
///   - class 10: as class 1, each record a 16-bit count m followed by the
///     rest of its (2m + 1) times 2 bytes.
///   - classes 2, 3, 5, 6, 17, 20, 30 to 37 and 40 to 43: one block of E
///     times n bytes.
///
/// What the file receives: for classes 1 and 10 a point table of n entries of
/// E bytes (each the 32-bit marker or the record's offset relative to the
/// section start, padded with zeros), then the records (class 1 each
/// 8-aligned, class 10 packed); for the block classes the block unchanged.
/// The data reference then holds the offset of the table or block relative
/// to the section start, also stored as item 10461 (type 7) of the group.
/// Everything is written in host byte order. Calls no hooks.
/// @param previous not used
/// @param current the descriptor, set up as above
/// @return 0, or the bitwise OR of the codes of the failed writes (2 for a
///   failed write of the data, the codes of VelFile::file_ItemValueWrite for
///   item 10461); 1 when memory ran out; 2 with nothing written for a null
///   @p current, a data class without a layout, an entry size below 4 (classes
///   1 and 10), counts or sizes whose products pass 32 bits, a null data
///   reference with points to write, or a data group handle that stands for
///   no writable section (nothing could be reserved).
VELFILE_API int gdata_WriteDataClassData(CGDataTypeFDD* previous, CGDataTypeFDD* current);

/// Marker that gdata_ReadDataClassData gives a point whose data it read.
const uint8_t gdata_kPointHasData = 3;

/// Reads a range of a data group's bulk data, the mirror of
/// gdata_WriteDataClassData. descr is a descriptor filled by
/// gdata_ReadGroupInfo from the data group (its group handle, data
/// reference, counts, entry size, sample type and data class are used; it is
/// not changed). No hook is called.
///
/// The points read are the second point indices [secondStart, secondStart +
/// secondCount) times the first point indices [firstStart, firstStart +
/// firstCount); a count of UINT32_MAX means "to the end of the axis". They
/// are delivered second-major: point (s, f) is number s x firstCount + f.
/// Per data class, with s = file_SizeOf(sample type) (1 when the type is
/// -1) and the samples of a point being [sampleStart, sampleStart +
/// sampleCount) (UINT32_MAX: to the end):
///
/// - 1: buffer receives points x sampleCount samples of the sample type, in
///   host byte order; a point without data gets zeros. A point holds the
///   sample quantity of samples.
/// - 2, 3, 5, 6, 17, 20, 30 to 37, 40 to 43 (one block): a point holds E / s
///   samples of the sample type when the point entry size E is a multiple of
///   s, else E raw bytes; buffer receives points x sampleCount of those, in
///   host byte order.
/// - 10: the sample range is not used. buffer receives the records of the
///   points with data one after another, each as 16-bit units in host order
///   (its count m, then 2m units); recordStarts (points + 1 entries) receives
///   where each point's record starts in buffer, in bytes, and where the
///   last one ends; a point without data has an empty record.
///
/// markers (may be null; points entries) receives per point the marker of a
/// point without data (0, 1 or 2) or gdata_kPointHasData; block classes give
/// gdata_kPointHasData for every point. bytesUsed (may be null) receives the
/// bytes the range needs. A null buffer only measures.
///
/// Every offset, count and size taken from the file is checked against the
/// group's section before it is used. A measure (null buffer) checks the
/// whole point table and every record; a read checks the range against
/// bufferSize first and each record as it comes to it, so a damaged record
/// found partway gives 2 with the buffer and markers partly filled.
///
/// Results:
/// - 0: read (or measured);
/// - 1: memory ran out;
/// - 2: the point table, a record or the block lies outside the group's
///   section, a point entry size is below 4, or the file could not be read;
/// - 3: no descriptor or group, a range outside the data, a buffer smaller
///   than needed, or recordStarts null for class 10;
/// - 4: a data class without a layout.
/// @param descr the data group's descriptor, filled by gdata_ReadGroupInfo
/// @param secondStart first second point index of the range
/// @param secondCount second point indices in the range (UINT32_MAX: to the end)
/// @param firstStart first first point index of the range
/// @param firstCount first point indices in the range (UINT32_MAX: to the end)
/// @param sampleStart first sample of each point (not used for class 10)
/// @param sampleCount samples of each point (UINT32_MAX: to the end; not used
///   for class 10)
/// @param buffer receives the data; null only measures
/// @param bufferSize capacity of buffer in bytes
/// @param markers null, or receives one marker per point
/// @param recordStarts class 10: receives points + 1 record starts in bytes;
///   otherwise not used
/// @param bytesUsed null, or receives the bytes the range needs
/// @return 0 on success, else 1, 2, 3 or 4 as listed above.
VELFILE_API int gdata_ReadDataClassData(CGDataTypeFDD* descr, uint32_t secondStart, uint32_t secondCount,
                                        uint32_t firstStart, uint32_t firstCount, uint32_t sampleStart,
                                        uint32_t sampleCount, void* buffer, uint64_t bufferSize,
                                        uint8_t* markers, uint64_t* recordStarts, uint64_t* bytesUsed);

#endif
