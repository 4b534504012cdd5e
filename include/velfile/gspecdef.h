/// @file
/// The specimen definition group (one integer and seven floats).
/// The C++ layer calls the module @c specimen (velfile::find_module()).
#ifndef VELFILE_GSPECDEF_H
#define VELFILE_GSPECDEF_H

#include <velfile/veltypes.h>

/// Descriptor of the specimen definition group: the values of its items in memory.
class VELFILE_API CGSpecdefTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGSpecdefTypeDescr();
  /// @copydoc module_operations::Descr::Descr(const Descr&)
  CGSpecdefTypeDescr(const CGSpecdefTypeDescr& other) = default;
  /// Destroys the descriptor.
  ~CGSpecdefTypeDescr();
  /// @copydoc module_operations::Descr::operator=
  CGSpecdefTypeDescr& operator=(const CGSpecdefTypeDescr& other) = default;
  /// @copydoc module_operations::Descr::initializeData
  void initializeData();

  /// @name Fields of CGSpecdefTypeDescr
  /// The descriptor's fields, as the group stores them (see
  /// module_operations::Descr).
  ///@{
  VelChar groupName[32];  ///< One of the fields of CGSpecdefTypeDescr (see their description).
  int32_t layoutVersion;
  int32_t item1;
  float item2;
  float item3;
  float item4;
  float item5;
  float item6;
  float item7;
  float item8;
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gspecdef_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                               VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGSpecdefTypeDescr* gspecdef_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gspecdef_Delete(CGSpecdefTypeDescr* descr, int flag);
/// Fills a descriptor from the items of a group, starting from the
/// defaults: a field whose item the group lacks comes back at its default.
/// Stores the module's signature and the group handle, sets the swap flag
/// from VelFile::file_SwapNeeded, then reads the items in file order (the
/// last item of an id wins); item ids the module does not know are skipped.
/// @param group a group handle (VelFile::file_GroupOpen or
///        VelFile::file_GroupCreate); any other handle has no items, so
///        nothing is read and the result is 0
/// @param descr the descriptor to fill
/// @return
///   - 0: read;
///   - 1 (VelFile::kErrMemory): memory ran out;
///   - 2 (VelFile::kErrIo): the group's directory or an item's value cannot
///     be read (a damaged or cut file); fields read before keep their new
///     values (a diagnostic report);
///   - 3 (VelFile::kErrNotFound): a null @p descr.
VELFILE_API int gspecdef_ReadGroupInfo(void* group, CGSpecdefTypeDescr* descr);
/// @copydoc module_operations::WriteGroupInfo
VELFILE_API int gspecdef_WriteGroupInfo(void* group, CGSpecdefTypeDescr* previous,
                                        CGSpecdefTypeDescr* current);

#endif
