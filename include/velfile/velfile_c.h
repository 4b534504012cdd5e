/// @file velfile_c.h
/// The C interface of velfile (C99), for every language that calls C: C#
/// (P/Invoke), MATLAB and Octave (MEX), LabVIEW (Call Library Function
/// node), Julia (ccall), Rust (extern "C"), Python's ctypes.
///
/// It is built on the C++ layer (velfile.hpp) and follows its rules; it is
/// exported by the library velfile_c, installed beside velfile (CMake target
/// VelFile::velfile_c, pkg-config package velfile_c).
///
/// Rules of every call:
/// - **Statuses.** Every call but velfile_version() and velfile_status_name()
///   returns a velfile_status: VELFILE_OK (0), or the reason of the failure.
///   A failure also keeps its sentence (naming the file, group and item where
///   they apply) for the calling thread and, for a call on a file or on one of
///   its handles, for that file: velfile_last_error(), velfile_file_last_error().
///   No C++ exception leaves a call.
/// - **Handles** are numbers the library checks, never addresses: a slot and
///   a generation count. A null handle (0), a handle of another kind, a
///   released one or one of a closed file gives a status, never a crash.
///   Group, item, data and writer handles belong to their file and are
///   released when it is closed; velfile_release() releases one earlier.
///   Descriptor handles belong to no file: release them with
///   velfile_release().
/// - **Text** is UTF-8: paths, names, group paths, descriptor texts, error
///   sentences. Text given to the library must be valid UTF-8
///   (VELFILE_INVALID otherwise).
/// - **Buffers** belong to the caller. A call that fills one takes its length
///   in elements (bytes for text, which is written with its terminating zero)
///   and sets *needed (when needed is not NULL) to the elements the full
///   answer takes. Nothing is ever written past the given length. A buffer
///   that is too short gives VELFILE_BUFFER_TOO_SMALL, with text cut at a
///   character boundary and terminated, and arrays left untouched; a NULL
///   buffer with length 0 asks for the size alone and gives VELFILE_OK.
/// - **Threads.** Calls from several threads at once are safe: the handle
///   table has its own lock and every call into the library takes the
///   library's lock (velfile::library_mutex()), shared with C++ hosts in the
///   same process.
#ifndef VELFILE_VELFILE_C_H
#define VELFILE_VELFILE_C_H

#include <stddef.h>
#include <stdint.h>

#if defined(VELFILE_C_STATIC)
/// Marks a function of the C interface (empty for a static build).
#define VELFILE_C_API
#elif defined(_WIN32) && defined(VELFILE_C_BUILDING)
/// Marks a function of the C interface (exported while building it).
#define VELFILE_C_API __declspec(dllexport)
#elif defined(_WIN32)
/// Marks a function of the C interface (imported from the DLL).
#define VELFILE_C_API __declspec(dllimport)
#else
/// Marks a function of the C interface (exported from the shared library).
#define VELFILE_C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/// A file opened or created through velfile_open(), velfile_create() or
/// velfile_append(); 0 is no file.
typedef uint64_t velfile_file;
/// A group of a file; 0 is no group.
typedef uint64_t velfile_group;
/// An item (one directory entry) of a group; 0 is no item.
typedef uint64_t velfile_item;
/// A data group (a group read as acquired data); 0 is none.
typedef uint64_t velfile_data;
/// A module descriptor: one module's fields by name, read from a group or
/// made to be written; 0 is none.
typedef uint64_t velfile_descriptor;
/// A data class 1 group being written line by line; 0 is none.
typedef uint64_t velfile_writer;

/// What a call returns: 0 for success; 1 to 99 are the C++ layer's reasons
/// (velfile::Reason, same numbers: a reason the layer adds later keeps its
/// number), 100 and up the C interface's own.
typedef enum velfile_status {
  VELFILE_OK = 0,                 ///< done
  VELFILE_MEMORY = 1,             ///< the heap is exhausted
  VELFILE_IO = 2,                 ///< reading, writing or positioning failed; damaged or cut file
  VELFILE_NOT_CONTAINER = 3,      ///< the file is not a container file
  VELFILE_NOT_FOUND = 4,          ///< no such file, section, group, item, module or field
  VELFILE_IN_USE = 5,             ///< the path is open in a way that excludes this use
  VELFILE_TOO_MANY_FILES = 6,     ///< every slot of the library's table of open files is taken
  VELFILE_READ_ONLY = 7,          ///< the file or group cannot be written
  VELFILE_WRONG_TYPE = 8,         ///< the value cannot be read or written as the type asked for
  VELFILE_CLOSED = 9,             ///< the file was closed; its handles are no longer usable
  VELFILE_BAD_PATH = 10,          ///< a group path that does not follow the grammar
  VELFILE_OUTSIDE_SECTION = 11,   ///< a value, block or table that does not lie inside its section
  VELFILE_INVALID = 12,           ///< an argument the call cannot take (a NULL pointer, bad UTF-8, ...)
  VELFILE_UNSUPPORTED = 13,       ///< data or an operation this library has no reading or writing for
  VELFILE_PERMISSION = 14,        ///< the file system denies the access
  VELFILE_OUT_OF_RANGE = 15,      ///< a range or index outside the data it reads
  VELFILE_BAD_HANDLE = 100,       ///< a null handle, one of another kind, or one released
  VELFILE_BUFFER_TOO_SMALL = 101  ///< the caller's buffer is shorter than *needed
} velfile_status;

/// Item type codes: the element type of an item, of a data group's samples,
/// and of a read asked for.
typedef enum velfile_type {
  VELFILE_TYPE_GROUP = 0,     ///< a reference to a sub-group
  VELFILE_TYPE_NARROW = 1,    ///< narrow text
  VELFILE_TYPE_INT8 = 2,      ///< int8_t
  VELFILE_TYPE_UINT8 = 3,     ///< uint8_t
  VELFILE_TYPE_INT16 = 4,     ///< int16_t
  VELFILE_TYPE_UINT16 = 5,    ///< uint16_t
  VELFILE_TYPE_INT32 = 6,     ///< int32_t
  VELFILE_TYPE_UINT32 = 7,    ///< uint32_t
  VELFILE_TYPE_QUAD8 = 8,     ///< two 32-bit words (uint32_t[2]) per element
  VELFILE_TYPE_QUAD9 = 9,     ///< two 32-bit words (uint32_t[2]) per element
  VELFILE_TYPE_FLOAT32 = 10,  ///< float
  VELFILE_TYPE_FLOAT64 = 11,  ///< double
  VELFILE_TYPE_UTF16 = 12,    ///< UTF-16 text (read as UTF-8 with velfile_item_text())
  VELFILE_TYPE_RAW = 13       ///< bytes
} velfile_type;

/// The kind of a descriptor field's value.
typedef enum velfile_field_kind {
  VELFILE_FIELD_INTEGER = 0,  ///< a number (velfile_descriptor_get_number()), integral
  VELFILE_FIELD_REAL = 1,     ///< a number (velfile_descriptor_get_number())
  VELFILE_FIELD_TEXT = 2,     ///< text (velfile_descriptor_get_text())
  VELFILE_FIELD_ARRAY = 3     ///< an array of numbers (velfile_descriptor_get_array())
} velfile_field_kind;

/// A count that reaches to the end of an axis in a range.
#define VELFILE_ALL UINT32_MAX

/// One section of a file.
typedef struct velfile_section_info {
  uint32_t index;       ///< position in the file, from 0
  uint32_t start;       ///< absolute offset of its header
  uint32_t size;        ///< bytes from the header to its end (written so far, for a new one)
  uint32_t entries;     ///< entries of the section group's directory
  uint32_t big_endian;  ///< 1 when its writer stored it big-endian, else 0
  uint32_t utf16;       ///< 1 when its strings are UTF-16, 0 when narrow
} velfile_section_info;

/// The shape, sample type and axes of a data group. Every member has 4
/// bytes, so the structure has no padding in any language.
typedef struct velfile_data_layout {
  uint32_t second_count;  ///< points along the second (slow) axis
  uint32_t first_count;   ///< points along the first (fast) axis
  uint32_t sample_count;  ///< elements of each point (0 for data class 10)
  uint32_t sample_type;   ///< a velfile_type: the type of the elements
  float second_factor;    ///< coordinate step along the second axis
  float second_offset;    ///< coordinate of second index 0
  float first_factor;     ///< coordinate step along the first axis
  float first_offset;     ///< coordinate of first index 0
  float sample_factor;    ///< coordinate step along the samples
  float sample_offset;    ///< coordinate of sample 0
} velfile_data_layout;

/// The version of the library ("1.0.0").
/// @return a static string
VELFILE_C_API const char* velfile_version(void);
/// The name of a status ("Ok", "NotFound", "BufferTooSmall", ...): the C++
/// layer's reason names (velfile::reason_name()) below 100.
/// @param status a velfile_status
/// @return a static string; "Unknown" for another value
VELFILE_C_API const char* velfile_status_name(int status);
/// The sentence of the calling thread's last failed call. Successful calls
/// leave it; this call never changes it. Empty when no call failed.
/// @param buffer receives the UTF-8 text and its terminating zero
/// @param length the buffer's size in bytes
/// @param needed NULL, or receives the bytes the whole text takes
/// @return VELFILE_OK, or VELFILE_BUFFER_TOO_SMALL
VELFILE_C_API velfile_status velfile_last_error(char* buffer, size_t length, size_t* needed);
/// The sentence of the last failed call on this file or on one of its
/// handles, from any thread (LabVIEW may run calls on any of its threads),
/// while the file is open; the failure of velfile_close() itself is the
/// calling thread's (velfile_last_error()).
/// @param file an open file
/// @param buffer receives the UTF-8 text and its terminating zero
/// @param length the buffer's size in bytes
/// @param needed NULL, or receives the bytes the whole text takes
/// @return VELFILE_OK, VELFILE_BUFFER_TOO_SMALL or VELFILE_BAD_HANDLE
VELFILE_C_API velfile_status velfile_file_last_error(velfile_file file, char* buffer, size_t length,
                                                     size_t* needed);

/// Opens a container file for reading. The file is opened shared: other
/// readers, and one writer adding a section, may have it open too.
/// @param path the file's path
/// @param file receives the file
/// @return a status (VELFILE_NOT_FOUND, VELFILE_NOT_CONTAINER, VELFILE_PERMISSION, ...)
VELFILE_C_API velfile_status velfile_open(const char* path, velfile_file* file);
/// Creates a container file, replacing a file of that name; its one new
/// section starts with velfile_create_section().
/// @param path the file's path
/// @param file receives the file
/// @return a status
VELFILE_C_API velfile_status velfile_create(const char* path, velfile_file* file);
/// Opens a file whose name ends in ".A01" (either letter case) to add one
/// section after its existing ones.
/// @param path the file's path
/// @param file receives the file
/// @return a status (VELFILE_INVALID for another name)
VELFILE_C_API velfile_status velfile_append(const char* path, velfile_file* file);
/// Closes a file: a written file gets its directories and headers, so a
/// failure (VELFILE_IO) means the new data is lost. A data group still
/// being written line by line gets its missing lines as points without data
/// and the call says so (VELFILE_INVALID, the file closed and whole). The
/// file's handle and every group, item, data and writer handle of it are
/// released, also on failure.
/// @param file the file
/// @return a status
VELFILE_C_API velfile_status velfile_close(velfile_file file);
/// Gives up a file being written: what it wrote is not made into a section
/// (see File::abandon() of the C++ layer), and its handles are released.
/// @param file the file
/// @return a status
VELFILE_C_API velfile_status velfile_abandon(velfile_file file);
/// Releases a group, item, data, descriptor or writer handle before its
/// file closes (a file is closed with velfile_close()).
/// @param handle the handle
/// @return VELFILE_OK, VELFILE_BAD_HANDLE or VELFILE_CLOSED
VELFILE_C_API velfile_status velfile_release(uint64_t handle);

/// The number of sections of a file.
/// @param file the file
/// @param count receives the number
/// @return a status
VELFILE_C_API velfile_status velfile_section_count(velfile_file file, uint32_t* count);
/// A section's facts and its section group.
/// @param file the file
/// @param index the section's index, from 0
/// @param info NULL, or receives the section's facts
/// @param group NULL, or receives the section group
/// @return a status (VELFILE_NOT_FOUND past the last section)
VELFILE_C_API velfile_status velfile_section(velfile_file file, uint32_t index, velfile_section_info* info,
                                             velfile_group* group);
/// Starts the one new section of a file made by velfile_create() or
/// velfile_append().
/// @param file the file
/// @param name the section group's name
/// @param group receives the section group
/// @return a status
VELFILE_C_API velfile_status velfile_create_section(velfile_file file, const char* name,
                                                    velfile_group* group);

/// The group a path names: "0/Channel 1/Gate A", "0/#3/[2]" (the grammar of
/// velfile::parse_group_path(); the first step is the section's index).
/// @param file the file
/// @param path the group path
/// @param group receives the group
/// @return a status (VELFILE_NOT_FOUND, VELFILE_BAD_PATH, ...)
VELFILE_C_API velfile_status velfile_group_by_path(velfile_file file, const char* path, velfile_group* group);
/// The sub-group a path relative to a group names ("Gate A", "#3/[2]").
/// @param group the group
/// @param relative the path below it
/// @param sub receives the sub-group
/// @return a status
VELFILE_C_API velfile_status velfile_group_sub(velfile_group group, const char* relative, velfile_group* sub);
/// A group's name.
/// @param group the group
/// @param buffer receives the UTF-8 name and its terminating zero
/// @param length the buffer's size in bytes
/// @param needed NULL, or receives the bytes the whole name takes
/// @return a status
VELFILE_C_API velfile_status velfile_group_name(velfile_group group, char* buffer, size_t length,
                                                size_t* needed);
/// A group's path, which velfile_group_by_path() takes back.
/// @param group the group
/// @param buffer receives the UTF-8 path and its terminating zero
/// @param length the buffer's size in bytes
/// @param needed NULL, or receives the bytes the whole path takes
/// @return a status
VELFILE_C_API velfile_status velfile_group_path(velfile_group group, char* buffer, size_t length,
                                                size_t* needed);
/// The groups below a group, depth first, each before its sub-groups, as the
/// C++ layer's bounded walk enters them: a directory reached a second time
/// (a cycle, or a sub-group shared by two groups) is listed once, and a
/// group that cannot be opened is left out. max_depth 1 gives the children.
/// Handles are made only when the buffer holds them all.
/// @param group the starting group (not listed itself)
/// @param max_depth the levels below it, 1 or more (at most 200)
/// @param groups receives the group handles
/// @param length the buffer's size in handles
/// @param needed NULL, or receives the number of groups
/// @return a status
VELFILE_C_API velfile_status velfile_group_walk(velfile_group group, uint32_t max_depth,
                                                velfile_group* groups, size_t length, size_t* needed);
/// Makes a sub-group of a group made in this opening.
/// @param parent the group
/// @param name the sub-group's name
/// @param id the item id of its reference in the parent
/// @param group receives the sub-group
/// @return a status (VELFILE_READ_ONLY for a group read from the file)
VELFILE_C_API velfile_status velfile_group_create(velfile_group parent, const char* name, uint16_t id,
                                                  velfile_group* group);
/// Renames a group made in this opening (the library keeps 31 characters).
/// @param group the group
/// @param name the new name
/// @return a status
VELFILE_C_API velfile_status velfile_group_set_name(velfile_group group, const char* name);

/// The number of items of a group (its name item and group references
/// included).
/// @param group the group
/// @param count receives the number
/// @return a status
VELFILE_C_API velfile_status velfile_item_count(velfile_group group, uint32_t* count);
/// The item at a directory index.
/// @param group the group
/// @param index the directory index, from 0
/// @param item receives the item
/// @return a status (VELFILE_NOT_FOUND past the end)
VELFILE_C_API velfile_status velfile_item_at(velfile_group group, uint32_t index, velfile_item* item);
/// The first item with an id.
/// @param group the group
/// @param id the item id
/// @param item receives the item
/// @return a status (VELFILE_NOT_FOUND when there is none)
VELFILE_C_API velfile_status velfile_item_by_id(velfile_group group, uint16_t id, velfile_item* item);
/// An item's id, type and element count.
/// @param item the item
/// @param id NULL, or receives the id
/// @param type NULL, or receives the item type (a velfile_type)
/// @param count NULL, or receives the number of elements
/// @return a status
VELFILE_C_API velfile_status velfile_item_info(velfile_item item, uint16_t* id, uint16_t* type,
                                               uint32_t* count);
/// Reads an item's elements converted to a type by the C++ layer's
/// conversion rule (VELFILE_WRONG_TYPE when they do not convert).
/// @param item the item
/// @param type the element type asked for: a number type, or
///        VELFILE_TYPE_QUAD8 (two uint32_t words per element)
/// @param buffer receives the elements
/// @param length the buffer's size in elements
/// @param needed NULL, or receives the number of elements
/// @return a status
VELFILE_C_API velfile_status velfile_item_read(velfile_item item, int type, void* buffer, size_t length,
                                               size_t* needed);
/// Reads a text item (narrow or UTF-16) as UTF-8, up to its first zero.
/// @param item the item
/// @param buffer receives the text and its terminating zero
/// @param length the buffer's size in bytes
/// @param needed NULL, or receives the bytes the whole text takes
/// @return a status
VELFILE_C_API velfile_status velfile_item_text(velfile_item item, char* buffer, size_t length,
                                               size_t* needed);
/// Writes an item of count elements of a type, in host order, into a group
/// made in this opening.
/// @param group the group
/// @param id the item id
/// @param type the item type (not VELFILE_TYPE_GROUP)
/// @param data the elements
/// @param count the number of elements
/// @return a status
VELFILE_C_API velfile_status velfile_item_write(velfile_group group, uint16_t id, int type, const void* data,
                                                uint32_t count);
/// Writes UTF-8 text as a text item (UTF-16, or narrow in a narrow section).
/// @param group the group
/// @param id the item id
/// @param text the text
/// @return a status
VELFILE_C_API velfile_status velfile_item_write_text(velfile_group group, uint16_t id, const char* text);

/// The number of group modules (21).
/// @param count receives the number
/// @return VELFILE_OK, or VELFILE_INVALID for a NULL count
VELFILE_C_API velfile_status velfile_module_count(uint32_t* count);
/// A module's short name ("probe", "gate", "dac", "data", ...).
/// @param index the module's index, from 0
/// @param buffer receives the name and its terminating zero
/// @param length the buffer's size in bytes
/// @param needed NULL, or receives the bytes the whole name takes
/// @return a status
VELFILE_C_API velfile_status velfile_module_name(uint32_t index, char* buffer, size_t length, size_t* needed);
/// Reads a group through a module: every field's value.
/// @param group the group
/// @param module the module's short name or prefix ("gate" or "ggate")
/// @param descriptor receives the descriptor (release it with velfile_release())
/// @return a status
VELFILE_C_API velfile_status velfile_descriptor_read(velfile_group group, const char* module,
                                                     velfile_descriptor* descriptor);
/// Makes an empty descriptor of a module, to be filled and written; the
/// fields not set keep the module's defaults when it is written.
/// @param module the module's short name or prefix
/// @param descriptor receives the descriptor (release it with velfile_release())
/// @return a status (VELFILE_NOT_FOUND for another name)
VELFILE_C_API velfile_status velfile_descriptor_new(const char* module, velfile_descriptor* descriptor);
/// Writes the fields a descriptor holds into a group made in this opening,
/// through the module. Values a field cannot hold are refused
/// (VELFILE_INVALID) before anything is written.
/// @param group the group
/// @param descriptor the descriptor
/// @return a status
VELFILE_C_API velfile_status velfile_descriptor_write(velfile_group group, velfile_descriptor descriptor);
/// The number of fields of a descriptor's module.
/// @param descriptor the descriptor
/// @param count receives the number
/// @return a status
VELFILE_C_API velfile_status velfile_descriptor_field_count(velfile_descriptor descriptor, uint32_t* count);
/// A field of a descriptor's module, in the order of the module's table.
/// @param descriptor the descriptor
/// @param index the field's index, from 0
/// @param name receives the field's name and its terminating zero
/// @param length the name buffer's size in bytes
/// @param needed NULL, or receives the bytes the whole name takes
/// @param kind NULL, or receives the kind of the field's value (a velfile_field_kind)
/// @param capacity NULL, or receives the elements the field holds at most
///        (bytes with the terminator for text; 1 for a number)
/// @return a status
VELFILE_C_API velfile_status velfile_descriptor_field(velfile_descriptor descriptor, uint32_t index,
                                                      char* name, size_t length, size_t* needed, int* kind,
                                                      uint32_t* capacity);
/// A number field's value.
/// @param descriptor the descriptor
/// @param field the field's name ("item6", "dataClass", ...)
/// @param value receives the value
/// @return a status (VELFILE_NOT_FOUND for a field not held, VELFILE_WRONG_TYPE for text or an array)
VELFILE_C_API velfile_status velfile_descriptor_get_number(velfile_descriptor descriptor, const char* field,
                                                           double* value);
/// A text field's value.
/// @param descriptor the descriptor
/// @param field the field's name
/// @param buffer receives the UTF-8 text and its terminating zero
/// @param length the buffer's size in bytes
/// @param needed NULL, or receives the bytes the whole text takes
/// @return a status
VELFILE_C_API velfile_status velfile_descriptor_get_text(velfile_descriptor descriptor, const char* field,
                                                         char* buffer, size_t length, size_t* needed);
/// An array field's values (the DAC points, the depth table, ...).
/// @param descriptor the descriptor
/// @param field the field's name
/// @param values receives the values
/// @param length the buffer's size in elements
/// @param needed NULL, or receives the number of values
/// @return a status
VELFILE_C_API velfile_status velfile_descriptor_get_array(velfile_descriptor descriptor, const char* field,
                                                          double* values, size_t length, size_t* needed);
/// Sets a number field (an integer field takes an integral value within the
/// range of its item type, as it reads back).
/// @param descriptor the descriptor
/// @param field the field's name
/// @param value the value
/// @return a status (VELFILE_NOT_FOUND for a field the module lacks)
VELFILE_C_API velfile_status velfile_descriptor_set_number(velfile_descriptor descriptor, const char* field,
                                                           double value);
/// Sets a text field.
/// @param descriptor the descriptor
/// @param field the field's name
/// @param text the UTF-8 text
/// @return a status
VELFILE_C_API velfile_status velfile_descriptor_set_text(velfile_descriptor descriptor, const char* field,
                                                         const char* text);
/// Sets an array field.
/// @param descriptor the descriptor
/// @param field the field's name
/// @param values the values
/// @param count the number of values
/// @return a status
VELFILE_C_API velfile_status velfile_descriptor_set_array(velfile_descriptor descriptor, const char* field,
                                                          const double* values, size_t count);

/// A group read as a data group.
/// @param group the group
/// @param data receives the data group
/// @return a status (VELFILE_UNSUPPORTED when it holds no data of a known layout)
VELFILE_C_API velfile_status velfile_data_open(velfile_group group, velfile_data* data);
/// A data group's shape, sample type and axes, and its data class.
/// @param data the data group
/// @param layout receives the shape, type and axes
/// @param data_class NULL, or receives the data class
/// @return a status
VELFILE_C_API velfile_status velfile_data_layout_of(velfile_data data, velfile_data_layout* layout,
                                                    int32_t* data_class);
/// Which points of a range hold data: 1 or 0 per point, second-major (the
/// first index runs fastest).
/// @param data the data group
/// @param second_start first second index
/// @param second_count second indices (VELFILE_ALL: to the end)
/// @param first_start first first index
/// @param first_count first indices (VELFILE_ALL: to the end)
/// @param mask receives one byte per point
/// @param length the buffer's size in bytes
/// @param needed NULL, or receives the number of points
/// @return a status
VELFILE_C_API velfile_status velfile_data_has_data(velfile_data data, uint32_t second_start,
                                                   uint32_t second_count, uint32_t first_start,
                                                   uint32_t first_count, uint8_t* mask, size_t length,
                                                   size_t* needed);
/// Reads a range of a data group's elements, in host order: points
/// second-major, each point's elements together; points without data read as
/// zeros.
/// @param data the data group
/// @param second_start first second index
/// @param second_count second indices (VELFILE_ALL: to the end)
/// @param first_start first first index
/// @param first_count first indices (VELFILE_ALL: to the end)
/// @param sample_start first element of each point
/// @param sample_count elements of each point (VELFILE_ALL: to the end)
/// @param type the element type of the buffer: the layout's sample_type
///        (read as stored), or another number type, converted by the C++
///        layer's conversion rule (VELFILE_WRONG_TYPE for a value the type
///        cannot hold)
/// @param buffer receives the elements
/// @param length the buffer's size in elements
/// @param needed NULL, or receives the number of elements
/// @return a status
VELFILE_C_API velfile_status velfile_data_read(velfile_data data, uint32_t second_start,
                                               uint32_t second_count, uint32_t first_start,
                                               uint32_t first_count, uint32_t sample_start,
                                               uint32_t sample_count, int type, void* buffer, size_t length,
                                               size_t* needed);
/// Makes a group a data class 1 group from a buffer of every point's
/// samples (second x first x sample_count elements of sample_type, host
/// order).
/// @param group a group made in this opening
/// @param layout the shape, sample type and axes
/// @param samples the samples
/// @param count the number of elements of samples
/// @param has_data NULL (every point has data), or one byte per point: 0 for
///        a point without data, whose samples are not stored
/// @param points the entries of has_data (second x first), 0 with NULL
/// @param data NULL, or receives the group read back as a data group
/// @return a status
VELFILE_C_API velfile_status velfile_data_write(velfile_group group, const velfile_data_layout* layout,
                                                const void* samples, size_t count, const uint8_t* has_data,
                                                size_t points, velfile_data* data);
/// Starts writing a data class 1 group line by line, as an acquisition
/// produces it: one second index (a line of first_count points) at a time,
/// in order. Each line goes to the file as it comes; when nothing else is
/// written to the file in between, the file gets the same bytes as
/// velfile_data_write() of the whole scan. Lines never written are stored as
/// points without data by velfile_writer_finish() or, reported, by
/// velfile_close(); velfile_abandon() keeps nothing. The C++ layer's DataWriter does the writing.
/// @param group a group made in this opening
/// @param layout the shape, sample type and axes
/// @param writer receives the writer (released by velfile_writer_finish()
///        or with its file)
/// @return a status
VELFILE_C_API velfile_status velfile_writer_begin(velfile_group group, const velfile_data_layout* layout,
                                                  velfile_writer* writer);
/// Writes the next line: first_count x sample_count elements of the
/// layout's sample type, in host order.
/// @param writer the writer
/// @param samples the line's samples
/// @param count the number of elements of samples
/// @param has_data NULL (every point has data), or one byte per point of the
///        line: 0 for a point without data
/// @param points the entries of has_data (first_count), 0 with NULL
/// @return a status (VELFILE_INVALID past the last line)
VELFILE_C_API velfile_status velfile_writer_line(velfile_writer writer, const void* samples, size_t count,
                                                 const uint8_t* has_data, size_t points);
/// Ends the group, storing the lines not written as points without data,
/// and releases the writer.
/// @param writer the writer
/// @param unwritten NULL, or receives the number of lines so stored (0 when
///        every line was written)
/// @param data NULL, or receives the group read back as a data group
/// @return a status
VELFILE_C_API velfile_status velfile_writer_finish(velfile_writer writer, uint32_t* unwritten,
                                                   velfile_data* data);

/// Checks a file as velinspect check does: the problems it lists, one
/// sentence a line (each ended by '\\n'), as one UTF-8 text.
/// @param path the file's path
/// @param buffer receives the text and its terminating zero
/// @param length the buffer's size in bytes
/// @param needed NULL, or receives the bytes the whole text takes
/// @param problems NULL, or receives the number of problems (0: the file is sound)
/// @return a status; a file that cannot be checked at all gives the reason
///         of opening it (VELFILE_NOT_FOUND, VELFILE_NOT_CONTAINER, ...)
VELFILE_C_API velfile_status velfile_check(const char* path, char* buffer, size_t length, size_t* needed,
                                           uint32_t* problems);

#ifdef __cplusplus
}
#endif

#endif
