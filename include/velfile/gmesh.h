/// @file
/// The mesh group (one float and four integers; no mesh data).
/// The C++ layer calls the module @c mesh (velfile::find_module()).
#ifndef VELFILE_GMESH_H
#define VELFILE_GMESH_H

#include <velfile/veltypes.h>

/// The members belong to the module: hosts get descriptors from
/// gmesh_Allocate and give them back with gmesh_Delete.
class CGMeshTypeDescr {
 public:
  /// Constructs a descriptor at the module's defaults (initializeData).
  CGMeshTypeDescr();
  /// Copies another descriptor, as the assignment does.
  /// @param other the descriptor copied
  CGMeshTypeDescr(const CGMeshTypeDescr& other) = default;
  /// Destroys the descriptor.
  ~CGMeshTypeDescr();
  /// Copies another descriptor: every field, signature, swap flag and
  /// group handle included.
  /// @param other the descriptor copied
  /// @return this descriptor
  CGMeshTypeDescr& operator=(const CGMeshTypeDescr& other) = default;

  /// @name Fields of CGMeshTypeDescr
  /// The descriptor's fields, as the group stores them. Each @c itemN holds
  /// the value of item N of the group (the module converts between the field's
  /// type and the item's). @c layoutVersion is item 9999: the module's layout
  /// version, which the write stores in it. @c groupName is the group's name
  /// (item 10000), zero-terminated, at most 31 code units. @c signature is the
  /// module's descriptor signature, set by Allocate, InitDescr, initializeData
  /// and ReadGroupInfo and never checked. @c swapFlag is 0, or 1 once read from
  /// a section written in the other byte order. @c groupHandle is the group the
  /// descriptor was last read from (null at the defaults).
  ///@{
  VelChar groupName[32];  ///< One of the fields of CGMeshTypeDescr (see their description).
  int32_t layoutVersion;
  float item1;
  int32_t item2;
  int32_t item3;  ///< signed in the file
  /// A previous descriptor keeps its own value across writes.
  int32_t item4;
  int32_t item5;
  uint32_t signature;
  int32_t swapFlag;
  void* groupHandle;
  ///@}
};

/// @copydoc module_operations::Init
VELFILE_API void gmesh_Init(VelEnterHook enter, VelLeaveHook leave, VelAllocHook alloc, VelFreeHook free,
                            VelErrorHook error);
/// @copydoc module_operations::Allocate
VELFILE_API CGMeshTypeDescr* gmesh_Allocate(int flag, const VelChar* name);
/// @copydoc module_operations::Delete
VELFILE_API void gmesh_Delete(CGMeshTypeDescr* descr, int flag);
/// @copydoc module_operations::ReadGroupInfoSkipping
VELFILE_API int gmesh_ReadGroupInfo(void* group, CGMeshTypeDescr* descr);
/// Stores a descriptor in a group, every item on every call (the name, item
/// 9999 with the layout version, then each item of the module); @p previous
/// is only brought up to date, keeping its own @c item4.
/// Every item written is appended to the group (a reader takes the last item
/// of an id); a failing write does not stop the others.
/// @param group a group handle of a group created since the file was opened
///        (VelFile::file_GroupCreate)
/// @param previous brought up to date with @p current; may be null
/// @param current the descriptor to store
/// @return 0, or the bitwise OR of the codes of the failed item writes:
///   1 memory, 2 a value that could not be written, 3 not a group handle or
///   a text the narrow character set cannot hold, 8 a group loaded from the
///   file (read-only); 3 alone for a null descriptor. The result of setting
///   the name is not part of it.
VELFILE_API int gmesh_WriteGroupInfo(void* group, CGMeshTypeDescr* previous, CGMeshTypeDescr* current);

#endif
