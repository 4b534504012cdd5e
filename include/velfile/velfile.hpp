/// @file velfile.hpp
/// The C++ layer of velfile: files that close themselves, groups found by
/// path, typed items, data groups, module descriptors as data and one
/// exception type.
///
/// The layer is built on the exported operations of velfile.h and the module
/// headers and adds no dependency. Strings are UTF-8 at its boundary.
///
/// Ownership: a File owns its place in the library's table of open files.
/// Group, Item and DataGroup are light views that share a small state record
/// with the File they came from; when that File is closed (or moved from and
/// destroyed) the record is marked closed and every later use of a view
/// throws an Error with reason Reason::Closed instead of touching a handle
/// that no longer exists.
///
/// Threads: the library's operations share one table and must not overlap.
/// Every call the layer makes into them is serialised by one library-wide
/// lock (library_mutex()), so files can be used from several threads at
/// once through the layer. A host that also calls the exported operations
/// directly from other threads must serialise those calls itself, for
/// instance by holding library_mutex() around them.
#ifndef VELFILE_VELFILE_HPP
#define VELFILE_VELFILE_HPP

// The host chooses its C++ standard (the pkg-config file sets none, so that
// it never lowers a host's C++20); the layer needs 17 or later.
#if defined(_MSVC_LANG)
#if _MSVC_LANG < 201703L
#error "velfile.hpp needs C++17 or later: compile with /std:c++17"
#endif
#elif __cplusplus < 201703L
#error "velfile.hpp needs C++17 or later: compile with -std=c++17"
#endif

#include <velfile/gdata.h>
#include <velfile/modules.h>
#include <velfile/source.h>
#include <velfile/velfile.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <exception>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace velfile {

/// What went wrong, independent of the operation that reported it.
enum class Reason : int {
  Memory = 1,      ///< the heap is exhausted
  Io,              ///< reading, writing or positioning failed; damaged or cut file
  NotContainer,    ///< the file is not a container file
  NotFound,        ///< no such file, section, group or item
  InUse,           ///< the path is open in a way that excludes this use
  TooManyFiles,    ///< every slot of the library's table of open files is taken
  ReadOnly,        ///< the file or group cannot be written
  WrongType,       ///< the item's type cannot be read or written as asked
  Closed,          ///< the file was closed; its views are no longer usable
  BadPath,         ///< a group path that does not follow the grammar
  OutsideSection,  ///< a value, block or table that does not lie inside its section
  Invalid,         ///< an argument the operation cannot take
  Unsupported,     ///< data the layer has no reading or writing for
  Permission,      ///< the file system denies the access (no permission to read or write)
  OutOfRange,      ///< a range or index outside the data it reads (the axis and its bounds are named)
};

/// The one exception type of the layer.
///
/// what() is a complete sentence a person can act on, naming the file, the
/// group and the item where they apply.
class VELFILE_API Error : public std::runtime_error {
 public:
  /// Makes an error; message is the text of what(); item is -1 when no item
  /// is concerned.
  /// @param reason the fault's category
  /// @param code result code of the failed exported operation, 0 when the layer refused
  /// @param operation the exported operation or layer function that failed
  /// @param file the file's path, empty when none applies
  /// @param group the group's path, empty when none applies
  /// @param item the item id, -1 when none
  /// @param message the text of what()
  Error(Reason reason, int code, std::string operation, std::string file, std::string group, int item,
        const std::string& message);
  /// Copies an error.
  /// @param other the error copied
  Error(const Error& other);
  /// Assigns an error.
  /// @param other the error copied
  /// @return this error
  Error& operator=(const Error& other);
  /// Defined in the library, which so holds the type's information.
  ~Error() override;

  /// The fault's category.
  /// @return the reason
  Reason reason() const noexcept { return reason_; }
  /// The result code of the exported operation that failed, or 0 when the
  /// layer refused the call itself.
  /// @return the result code, or 0
  int code() const noexcept { return code_; }
  /// The exported operation that failed (for example "file_Open"), or the
  /// layer's own function.
  /// @return the operation's name
  const std::string& operation() const noexcept { return operation_; }
  /// The file's path as given when it was opened; empty when none applies.
  /// @return the path, or empty
  const std::string& file() const noexcept { return file_; }
  /// The group's path; empty when none applies.
  /// @return the group path, or empty
  const std::string& group() const noexcept { return group_; }
  /// The item id, or -1 when no item is concerned.
  /// @return the item id, or -1
  int item() const noexcept { return item_; }

 private:
  Reason reason_;
  int code_;
  std::string operation_;
  std::string file_;
  std::string group_;
  int item_;
};

/// The name of a reason ("Memory", "Io", "NotContainer", ...).
/// @param reason the reason named
/// @return its name, a static string; "Unknown" for a value outside the enum
VELFILE_API const char* reason_name(Reason reason);

/// The lock that serialises every call of the layer into the library. A host
/// that mixes the layer with direct calls of the exported operations from
/// several threads holds it around those calls.
/// @return the library-wide lock
VELFILE_API std::recursive_mutex& library_mutex();
/// Whether this thread is inside a Source's callback, where every call into
/// the layer is refused (Reason::InUse) rather than run under the lock its
/// caller holds.
/// @return whether this thread is inside a Source's callback
VELFILE_API bool inside_source_read();
/// Marks this thread as one that serves a Source's reads for another (a
/// host's fetching thread): every call into the layer from it is refused
/// (Reason::InUse) from now on, as the thread it serves holds the lock.
VELFILE_API void serve_sources_on_this_thread();

/// Name of an item type code as the tools print it ("int16", "float32",
/// "utf16", ...); "type N" for a code without meaning.
/// @param type an item type code
/// @return the type's name
VELFILE_API std::string type_name(uint16_t type);
/// The type code of a name that type_name() gives, or of a decimal code;
/// -1 when the text names no type.
/// @param name a type name or a decimal code
/// @return the type code, or -1
VELFILE_API int type_from_name(const std::string& name);

/// Byte order of a section, as its writer stored it.
enum class ByteOrder { Little, Big };
/// How a section stores its strings.
enum class StringFormat { Narrow = 0, Utf16 = 1 };

class File;
class Group;
class DataGroup;
class DataWriter;
struct DataStream;
struct FileState;
struct PathNode;
struct Access;

/// One section of a file, as the library loaded it.
class VELFILE_API Section {
 public:
  /// Position of the section in the file, from 0.
  /// @return the index
  uint32_t index() const { return index_; }
  /// Absolute offset of the section's header.
  /// @return the header's offset
  uint32_t start() const { return start_; }
  /// The writer's byte order.
  /// @return the byte order
  ByteOrder byte_order() const { return order_; }
  /// Whether the section's strings are UTF-16 or narrow.
  /// @return the string format
  StringFormat string_format() const { return format_; }
  /// Bytes from the header to the end of the section; for a section made in
  /// this opening, the bytes written so far.
  /// @return the size in bytes
  uint32_t size() const { return size_; }
  /// Entries of the section group's directory.
  /// @return the number of entries
  uint32_t entries() const { return entries_; }
  /// The section group's name.
  /// @return the name
  const std::string& name() const { return name_; }

 private:
  friend struct Access;
  uint32_t index_ = 0, start_ = 0, size_ = 0, entries_ = 0;
  ByteOrder order_ = ByteOrder::Little;
  StringFormat format_ = StringFormat::Utf16;
  std::string name_;
};

/// Bytes of a section header.
const size_t kSectionHeaderSize = 36;

/// A section header's words, for tools that check a file byte by byte: the
/// ones the library reads a section by, and those its reading passes over.
struct SectionHeaderFields {
  ByteOrder byte_order = ByteOrder::Little;  ///< the order of its words, as its first byte names it
  uint32_t marker = 0;                       ///< the byte-order marker, 0x11223344
  uint32_t version = 0;                      ///< the format version, 3
  uint32_t string_format = 0;                ///< 1 UTF-16, 0 narrow
  uint32_t entries = 0;                      ///< entries of the section group's directory
  uint32_t directory = 0;                    ///< offset of that directory from the header
  uint32_t size = 0;                         ///< bytes from the header to the end of the section
  uint32_t reserved[2] = {0, 0};             ///< the words at +28 and +32, both 0
};

/// Decodes a section header as the library does when it loads a file.
/// @param raw the header's kSectionHeaderSize bytes
/// @param out its words in the section's byte order, filled in either case
/// @return whether the library takes the bytes for a section header (its magic)
VELFILE_API bool decode_section_header(const unsigned char* raw, SectionHeaderFields* out);

/// A descriptor field's value: an integer, a real, UTF-8 text, or an array
/// of reals (the DAC points, the depth table).
using Value = std::variant<int64_t, double, std::string, std::vector<double>>;

/// One field of a module's descriptor, as the module's item table knows it.
struct Field {
  std::string name;    ///< the descriptor's member ("item3", "dataType", "groupName", ...)
  uint16_t id = 0;     ///< the item that carries it (10000: the group's name)
  uint16_t type = 0;   ///< the item type code the module writes
  uint32_t count = 1;  ///< elements: 1, the capacity of a text or array field, 0 when it varies
};

/// A group module described as data.
struct ModuleSchema {
  std::string name;           ///< the layer's short name ("probe")
  std::string prefix;         ///< the prefix of its exported functions ("gprobe")
  std::string descriptor;     ///< its descriptor type ("CGProbeTypeDescr")
  std::vector<Field> fields;  ///< its fields, in the order of its item table
};

/// The 21 modules; each module's header gives its short name.
/// @return every module's schema, in the order of VELFILE_LAYER_MODULES
VELFILE_API const std::vector<ModuleSchema>& modules();
/// A module by short name or prefix; Reason::NotFound for another name.
/// @param name a short name or a prefix
/// @return the module's schema
VELFILE_API const ModuleSchema& find_module(const std::string& name);

/// A guess of the module that wrote a group, from its item ids. A file does
/// not record the module; this is a guess and says so.
struct ModuleGuess {
  std::string module;      ///< short name of the best match; empty when nothing matched
  uint32_t matched = 0;    ///< the group's item ids in the module's table
  uint32_t unmatched = 0;  ///< the group's item ids outside it (9999 and 10000 not counted)
  std::string note;        ///< a sentence saying that this is a guess and how good
};

/// Where a value or a block lies in the file, for hosts that map it.
struct Extent {
  uint64_t offset = 0;     ///< absolute position in the file
  uint64_t size = 0;       ///< bytes
  bool host_order = true;  ///< false: the section's elements need swapping (they are read swapped)
};

/// Two 32-bit words: the value of one element of item types 8 and 9.
using Words = std::array<uint32_t, 2>;

/// The item type code a C++ element type is read and written as:
/// int8_t 2, uint8_t 3, int16_t 4, uint16_t 5, int32_t 6, uint32_t 7,
/// Words 8, float 10, double 11.
/// @tparam T the element type
/// @return its item type code
template <class T>
constexpr uint16_t type_of() {
  static_assert(std::is_arithmetic<T>::value || std::is_same<T, Words>::value, "no item type for this type");
  if constexpr (std::is_same<T, Words>::value)
    return VelFile::kTypeQuad8;
  else if constexpr (std::is_same<T, float>::value)
    return VelFile::kTypeFloat;
  else if constexpr (std::is_same<T, double>::value)
    return VelFile::kTypeDouble;
  else {
    static_assert(std::is_integral<T>::value && sizeof(T) <= 4, "no item type for this type");
    constexpr uint16_t k = sizeof(T) == 1 ? 2 : sizeof(T) == 2 ? 4 : 6;
    return static_cast<uint16_t>(k + (std::is_signed<T>::value ? 0 : 1));
  }
}

/// @name The layer's conversion rule
/// Every read of the layer that converts a value to a type asked for
/// (Item::as(), DataGroup::read_as(), the Python package's reads as a type)
/// follows one rule, and never changes a value without a word: a type that
/// cannot hold the value is refused with Reason::WrongType, naming the value
/// and the type.
/// - Integer to integer: when the value lies in the target's range (70000 is
///   no int16, -5 no uint32).
/// - Integer to float32 or float64: when the float holds it exactly (every
///   integer of 24 bits for float32; every stored integer for float64).
/// - float32 to float64: always.
/// - float64 to float32: when within float32's range, rounded to the nearest
///   float32; NaN and infinities are kept.
/// - A float to an integer: when it is integral (no NaN, no infinity, no
///   fraction) and in the integer's range.
/// - Types 8 and 9 read only as Words, raw bytes (13) only as uint8_t, text
///   only through Item::text(); a type read as itself is never changed.
///
/// This is the layer's own rule, on top of the exported file_IndexValueRead,
/// whose conversions (which narrow and wrap) stay as they are.
///@{

/// Converts one element by the layer's rule: the element at src, of item
/// type from, into item type to at dst (host order both, file_SizeOf()
/// bytes each; src and dst need no alignment).
/// @param to the item type asked for
/// @param dst receives the converted element; left untouched when refused
/// @param from the element's item type
/// @param src the element
/// @param why null, or receives why a refused conversion is refused ("holds
///        1e+38, which int16 cannot hold (-32768 to 32767)"), for a message
/// @return false when the rule refuses (dst untouched)
VELFILE_API bool convert_value(uint16_t to, void* dst, uint16_t from, const void* src,
                               std::string* why = nullptr);

/// convert_value() over count elements, one after another (a loop of the
/// pair's own types, for arrays): returns how many were converted, count
/// when all were; the first refused one, at that index, is left untouched
/// and why says why.
/// @param to the item type asked for
/// @param dst receives the converted elements
/// @param from the elements' item type
/// @param src the elements
/// @param count the number of elements
/// @param why null, or receives why the first refused element is refused
/// @return the number of elements converted before the first refused one
VELFILE_API size_t convert_values(uint16_t to, void* dst, uint16_t from, const void* src, size_t count,
                                  std::string* why = nullptr);

/// @cond
[[noreturn]] VELFILE_API void refuse_conversion(const std::string& why);
/// @endcond

/// A C++ number converted by the layer's rule; Reason::WrongType when T
/// cannot hold it (velfile::convert<int16_t>(70000.0) throws,
/// velfile::convert<int16_t>(-3.0) is -3).
/// @tparam T the type asked for (an element type of type_of())
/// @tparam S the value's type (an element type of type_of())
/// @param value the value
/// @return the value as T
template <class T, class S>
T convert(S value) {
  T out{};
  std::string why;
  if (!convert_value(type_of<T>(), &out, type_of<S>(), &value, &why)) refuse_conversion(why);
  return out;
}
///@}

/// Calls f with a value-initialised element of the C++ type of an item type
/// code (int8_t 2 ... uint32_t 7, Words 8 and 9, float 10, double 11,
/// uint8_t 13), for hosts that know the type only at run time:
/// `visit_type(dg.sample_type(), [&](auto tag) { using T = decltype(tag); ... })`.
/// Reason::WrongType for a code without elements of a C++ type (text, groups,
/// unknown codes).
/// @tparam F a callable taking every such element type, returning one type
/// @param type the item type code
/// @param f the callable
/// @return what f returns
template <class F>
decltype(auto) visit_type(uint16_t type, F&& f) {
  switch (type) {
    case 2:
      return f(int8_t{});
    case 4:
      return f(int16_t{});
    case 5:
      return f(uint16_t{});
    case 6:
      return f(int32_t{});
    case 7:
      return f(uint32_t{});
    case 8:
    case 9:
      return f(Words{});
    case 10:
      return f(float{});
    case 11:
      return f(double{});
    case 3:
    case 13:
      return f(uint8_t{});
    default:
      refuse_conversion("item type " + std::to_string(type) + " has no C++ element type");
  }
}

/// The samples of a data group in a vector of their own type, for hosts
/// that learn the type at run time: DataGroup::read_samples() gives one, a
/// Group::write_data() overload takes one; std::visit() reaches the vector.
/// Raw bytes (no sample type, or block entries of no whole number of
/// samples) come as uint8_t.
using Samples =
    std::variant<std::vector<int8_t>, std::vector<uint8_t>, std::vector<int16_t>, std::vector<uint16_t>,
                 std::vector<int32_t>, std::vector<uint32_t>, std::vector<float>, std::vector<double>>;

/// One entry of a group's directory. Like every view, each of its functions
/// throws Reason::Closed once its File was closed.
class VELFILE_API Item {
 public:
  /// The item id.
  /// @return the id
  uint16_t id() const;
  /// The item type code (see type_name()).
  /// @return the type code
  uint16_t type() const;
  /// Number of elements; for a group reference, the sub-group's entries.
  /// @return the element count
  uint32_t count() const;
  /// Position in the group's directory.
  /// @return the directory index
  uint32_t index() const;
  /// The 4-byte value field as the library gives it: the value itself when
  /// it fits, else the offset of its bytes in the section.
  /// @return the raw value field
  uint32_t value_field() const;
  /// Whether the value lies outside the directory entry.
  /// @return true when the value is stored outside the entry
  bool out_of_line() const;

  /// The value converted to T by the layer's conversion rule (see
  /// convert_value()). A scalar T needs an item of one element;
  /// std::vector<T> takes every element. Throws Reason::WrongType, naming
  /// the value and the type, when T cannot hold a value (or the stored type
  /// has no conversion to T).
  /// @tparam T a scalar element type, Words, or a std::vector of one
  /// @return the converted value
  template <class T>
  T as() const {
    if constexpr (is_vector<T>::value) {
      using E = typename T::value_type;
      T out(checked_elements());
      read_converted(type_of<E>(), out.data(), out.size(), true);
      return out;
    } else {
      T out{};
      read_converted(type_of<T>(), &out, 1, false);
      return out;
    }
  }
  /// As as<std::vector<T>>(), into count elements at out (exactly the item's
  /// count; Reason::Invalid otherwise).
  /// @tparam T an element type of type_of()
  /// @param out receives the elements
  /// @param count the elements out holds
  template <class T>
  void as(T* out, size_t count) const {
    if (count != checked_elements()) refuse_count(count);
    read_converted(type_of<T>(), out, count, true);
  }
  /// A string item (types 1 and 12) as UTF-8, up to its first zero.
  /// @return the text in UTF-8
  std::string text() const;
  /// A string item as UTF-16 units, up to its first zero.
  /// @return the text in UTF-16
  std::u16string u16text() const;
  /// The elements of their stored type in host byte order, as bytes
  /// (count x element size); types 8 and 9 as pairs of 32-bit words.
  /// @return the value's bytes
  std::vector<uint8_t> bytes() const;
  /// As bytes(), into a buffer of capacity bytes; returns the bytes stored.
  /// Throws Reason::Invalid when the buffer is too small.
  /// @param buffer receives the bytes
  /// @param capacity the buffer's size in bytes
  /// @return the bytes stored
  size_t read(void* buffer, size_t capacity) const;
  /// Where an out-of-line value lies (checked to be inside its section);
  /// Reason::Invalid for a value held in the directory entry.
  /// @return the value's offset and size
  Extent extent() const;

 private:
  friend struct Access;
  template <class T>
  struct is_vector : std::false_type {};
  template <class E, class A>
  struct is_vector<std::vector<E, A>> : std::true_type {};
  void read_converted(uint16_t requested, void* out, size_t count, bool vector) const;
  [[noreturn]] void refuse_count(size_t count) const;
  // The element count, once the value is known to lie inside its section:
  // no count from a file sizes an allocation before that.
  uint32_t checked_elements() const;
  std::shared_ptr<FileState> file_;
  std::shared_ptr<const PathNode> group_;
  void* handle_ = nullptr;
  uint32_t index_ = 0, count_ = 0, value_ = 0;
  uint16_t id_ = 0, type_ = 0;
};

/// The longest group name, in UTF-16 units, that the layer writes: a longer
/// name given to File::create_group(), Group::create_group(),
/// Group::set_name() or as a descriptor's groupName is refused
/// (Reason::Invalid) before anything is written, never cut.
const size_t kMaxGroupName = 31;

/// A group: a named directory of items, with sub-groups.
///
/// Groups are views: copying one is cheap and copies share the file. The
/// path of a group is kept as a chain shared with its parent, so holding
/// many groups costs their names, not their full paths. Once its File was
/// closed, valid() is false and every other function throws Reason::Closed.
class VELFILE_API Group {
 public:
  /// A group that refers to nothing; every use throws.
  Group() = default;
  /// Whether the group refers to an opened group of a File still open.
  /// @return true when it can be used
  bool valid() const;
  /// The group's name.
  /// @return the name in UTF-8
  std::string name() const;
  /// The group's path, in the grammar of parse_group_path().
  /// @return the path
  std::string path() const;

  class Children;
  class Items;
  /// The sub-groups in directory order, as a range whose iterator opens each
  /// one when it is reached (named as groups() names them):
  /// `for (const velfile::Group& child : g.children())`.
  /// @return the range of sub-groups
  Children children() const;
  /// Every item in directory order, as a range read one entry at a time:
  /// `for (const velfile::Item& it : g.entries())`.
  /// @return the range of items
  Items entries() const;
  /// The sub-groups in directory order (opened when asked for). Each is
  /// named in its path by the shortest step that names it alone: its name,
  /// else \#id, else [index]. The list does not look for cycles; walk() does.
  /// @return the sub-groups
  std::vector<Group> groups() const;
  /// Every item in directory order, the name item and the group references
  /// included.
  /// @return the items
  std::vector<Item> items() const;
  /// Number of items.
  /// @return the number of items
  uint32_t item_count() const;
  /// The first item with this id; Reason::NotFound when there is none.
  /// @param id the item id
  /// @return the item
  Item item(uint16_t id) const;
  /// Whether the group holds an item with this id.
  /// @param id the item id
  /// @return true when there is one
  bool has_item(uint16_t id) const;
  /// The item at a directory index; Reason::NotFound past the end.
  /// @param index the directory index
  /// @return the item
  Item item_at(uint32_t index) const;
  /// The sub-group a relative path names ("Channel 1/Gate A", "#3/[2]").
  /// @param relative the path below this group
  /// @return the sub-group
  Group group(std::string_view relative) const;
  /// The section the group lies in.
  /// @return the section
  Section section() const;
  /// Whether the group can be written (it was made in this opening).
  /// @return true when it can be written
  bool writable() const;

  /// Makes a sub-group with this name, recorded under item id id. A name of
  /// more than kMaxGroupName units is refused (Reason::Invalid).
  /// @param name the sub-group's name
  /// @param id the item id of its reference
  /// @return the new sub-group
  Group create_group(std::string_view name, uint16_t id = 0);
  /// Sets the group's name; a name of more than kMaxGroupName units is
  /// refused (Reason::Invalid), the group keeping its name.
  /// @param name the new name in UTF-8
  void set_name(std::string_view name);
  /// Writes an item of count elements of type type from host-order data
  /// (count x element size bytes). Group references (type 0) are refused.
  /// @param id the item id
  /// @param type the item type code
  /// @param data the elements
  /// @param count the number of elements
  void write_item(uint16_t id, uint16_t type, const void* data, uint32_t count);
  /// Writes one value as its type_of() type.
  /// @tparam T an element type that type_of() knows
  /// @param id the item id
  /// @param value the value
  template <class T, std::enable_if_t<std::is_arithmetic<T>::value || std::is_same<T, Words>::value, int> = 0>
  void write_item(uint16_t id, const T& value) {
    write_item(id, type_of<T>(), &value, 1);
  }
  /// Writes an array as the type_of() type of its elements, from any
  /// contiguous range (std::vector, std::array, a C array, std::span); text
  /// (a range of char) goes through write_text().
  /// @tparam R a contiguous range of an element type that type_of() knows
  /// @param id the item id
  /// @param values the elements
  template <class R,
            class E = std::remove_cv_t<std::remove_pointer_t<decltype(std::data(std::declval<const R&>()))>>,
            std::enable_if_t<!std::is_same<R, Words>::value && !std::is_same<E, char>::value, int> = 0>
  void write_item(uint16_t id, const R& values) {
    write_item(id, type_of<E>(), std::data(values), checked_count(std::size(values)));
  }
  /// Writes a vector as the type_of() type of its elements.
  /// @tparam T an element type that type_of() knows
  /// @param id the item id
  /// @param values the elements
  template <class T>
  void write_item(uint16_t id, const std::vector<T>& values) {
    write_item(id, type_of<T>(), values.data(), checked_count(values.size()));
  }
  /// Writes count elements as the type_of() type of T.
  /// @tparam T an element type that type_of() knows
  /// @param id the item id
  /// @param values the elements
  /// @param count the number of elements
  template <class T>
  void write_item(uint16_t id, const T* values, size_t count) {
    write_item(id, type_of<T>(), values, checked_count(count));
  }
  /// Writes UTF-8 text as a UTF-16 string item (type 12; the library stores
  /// it narrow when the section is narrow).
  /// @param id the item id
  /// @param text the text in UTF-8
  void write_text(uint16_t id, std::string_view text);

  /// The group decoded by a module (named by its short name or prefix; see
  /// modules()), through the module's ReadGroupInfo into a fresh descriptor:
  /// the value of every field, in the order of the module's table. A file
  /// does not record which module wrote a group; guess_module() guesses.
  /// @param module the module's short name or prefix
  /// @return each field's name and value
  std::vector<std::pair<std::string, Value>> read_descriptor(const std::string& module) const;
  /// Writes a descriptor from field values through the module's
  /// WriteGroupInfo. Fields not given keep the module's defaults. With
  /// previous (the values the group already holds), only what changed is
  /// written, as the module decides. Unknown field names, and values a field
  /// cannot hold, are refused (Reason::Invalid) before anything is written:
  /// an integer field takes the range of its item's type (so that it reads
  /// back as written), a real field an integer only when it holds it exactly
  /// (float32: up to 2^24), and a real that is an integer goes into an
  /// integer field.
  /// The data module stores the data reference as given; bulk data goes
  /// through write_data().
  /// @param module the module's short name or prefix
  /// @param values the fields to set, by name
  /// @param previous null, or the values the group already holds
  void write_descriptor(const std::string& module, const std::vector<std::pair<std::string, Value>>& values,
                        const std::vector<std::pair<std::string, Value>>* previous = nullptr);
  /// The module whose item ids best match the group's, said to be a guess.
  /// @return the guess
  ModuleGuess guess_module() const;
  /// The group decoded into a descriptor D of one of the 21 modules (its
  /// header included by the host).
  /// @tparam D a module's descriptor type
  /// @return the descriptor
  template <class D>
  D read() const {
    D d;
    read_descriptor_into(*this, d);
    return d;
  }
  /// Writes every field of d through its module's WriteGroupInfo, which sets
  /// d's layout version. Here and in write_descriptor(), an empty group name
  /// keeps the group's (d takes it); a name of more than kMaxGroupName units
  /// is refused (Reason::Invalid).
  /// @tparam D a module's descriptor type
  /// @param d the descriptor written
  template <class D>
  void write(D& d) {
    write_descriptor_from(*this, d, nullptr);
  }
  /// As write(D&), from a copy: d is left as it is.
  /// @tparam D a module's descriptor type
  /// @param d the descriptor written
  template <class D>
  void write(const D& d) {
    D copy(d);
    write_descriptor_from(*this, copy, nullptr);
  }
  /// Writes what differs from previous, which then holds d (for most
  /// modules; the DAC and information modules leave it alone).
  /// @tparam D a module's descriptor type
  /// @param d the descriptor written
  /// @param previous what the group holds; afterwards d for most modules
  template <class D>
  void write(D& d, D& previous) {
    write_descriptor_from(*this, d, &previous);
  }

  /// The group read as a data group (through gdata_ReadGroupInfo);
  /// Reason::Unsupported when it has no data class with a layout.
  /// @return the data group
  DataGroup data() const;
  /// Makes this group a data group: writes descr's items and the samples
  /// through gdata_WriteGroupInfo, building the point table itself, so that
  /// no address passes through the host's hands.
  ///
  /// descr gives the data class, the point counts (second x first points,
  /// the first axis running fastest), the sample quantity q, the sample type
  /// and every other field; its data reference and handles are not used, and
  /// an empty group name takes the group's own.
  /// - Data class 1: samples holds every point's q samples, dense (second x
  ///   first x q x sample size bytes, host order); markers (marker_count =
  ///   second x first entries, or null for all points having data) holds 0,
  ///   1 or 2 for a point without data (its samples are not stored) and 3 or
  ///   more for a point with data. A point entry size below 4 is taken as 4.
  /// - A block class (2, 3, 5, 6, 17, 20, 30 to 37, 40 to 43): samples holds
  ///   second x first entries of E bytes, E being the point entry size, or
  ///   q x sample size when the entry size is unset (-1); markers must be
  ///   null.
  /// bytes and marker_count must match exactly (Reason::Invalid otherwise). A
  /// descriptor without a sample type is refused (Reason::Invalid), as is a
  /// groupName of more than kMaxGroupName units.
  /// @param descr the descriptor, as described above
  /// @param samples the samples or block, in host order
  /// @param bytes the size of samples in bytes
  /// @param markers null, or one marker per point (class 1 only)
  /// @param marker_count the entries of markers
  /// @return the group read back as a data group
  DataGroup write_data(const CGDataTypeFDD& descr, const void* samples, size_t bytes,
                       const uint8_t* markers = nullptr, size_t marker_count = 0);
  /// As write_data() above, from contiguous ranges (std::vector,
  /// std::array, std::span; markers empty: every point has data) whose
  /// element type T is the descriptor's sample type (type_of<T>() equals
  /// its data type; Reason::WrongType otherwise). Bytes of another layout,
  /// such as block entries that are no whole number of samples, go through
  /// the overload above.
  /// @tparam R a contiguous range of the sample type
  /// @param descr the descriptor, as described above
  /// @param samples the samples or block
  /// @param markers one marker per point, or empty
  /// @return the group read back as a data group
  template <class R>
  DataGroup write_data(const CGDataTypeFDD& descr, const R& samples,
                       const std::vector<uint8_t>& markers = std::vector<uint8_t>());
  /// As write_data() above, from a vector of the sample type held in a
  /// Samples variant (see DataGroup::read_samples()).
  /// @param descr the descriptor, as described above
  /// @param samples the samples or block
  /// @param markers one marker per point, or empty
  /// @return the group read back as a data group
  DataGroup write_data(const CGDataTypeFDD& descr, const Samples& samples,
                       const std::vector<uint8_t>& markers = std::vector<uint8_t>());
  /// Makes this group a data group written line by line, as an acquisition
  /// produces it: writes descr's items as write_data() does and reserves the
  /// bulk data, which the returned writer then takes one line at a time
  /// (see DataWriter). descr is as for write_data(); class 1 and the block
  /// classes are written.
  /// @param descr the descriptor, as for write_data()
  /// @return the writer of the group's lines
  DataWriter data_writer(const CGDataTypeFDD& descr);

  /// The library's handle of the group, for direct calls of the exported
  /// operations (which the host then serialises itself).
  /// @return the handle
  void* handle() const;
  /// The file's state record shared by the views (used by the layer).
  /// @return the shared state record
  const std::shared_ptr<FileState>& file_state() const { return file_; }

 private:
  friend struct Access;
  static uint32_t checked_count(size_t n);
  void check_sample_type(const CGDataTypeFDD& descr, uint16_t type) const;
  std::shared_ptr<FileState> file_;
  std::shared_ptr<const PathNode> node_;
  void* handle_ = nullptr;
};

struct ChildRefs;

/// A forward iterator over a range that makes each element when it is
/// dereferenced (Range::at(index)): the iterator of Group::children() and
/// Group::entries().
/// @tparam Range the range iterated
/// @tparam Value what an element is
template <class Range, class Value>
class IndexIterator {
 public:
  using iterator_category = std::forward_iterator_tag;  ///< a forward iterator
  using value_type = Value;                             ///< an element
  using difference_type = std::ptrdiff_t;               ///< a distance between positions
  using pointer = void;                                 ///< none: elements are made when reached
  using reference = Value;                              ///< an element by value
  /// An iterator of no range.
  IndexIterator() = default;
  /// An iterator at a position of a range.
  /// @param range the range
  /// @param index the position
  IndexIterator(const Range* range, size_t index) : range_(range), index_(index) {}
  /// The element at this position, made now.
  /// @return the element
  Value operator*() const { return range_->at(index_); }
  /// Steps to the next element.
  /// @return this iterator
  IndexIterator& operator++() {
    ++index_;
    return *this;
  }
  /// Steps to the next element.
  /// @return the iterator before the step
  IndexIterator operator++(int) {
    IndexIterator before = *this;
    ++index_;
    return before;
  }
  /// Whether both stand at the same position.
  /// @param other the iterator compared
  /// @return true when equal
  bool operator==(const IndexIterator& other) const { return index_ == other.index_; }
  /// Whether they stand at different positions.
  /// @param other the iterator compared
  /// @return true when different
  bool operator!=(const IndexIterator& other) const { return index_ != other.index_; }

 private:
  const Range* range_ = nullptr;
  size_t index_ = 0;
};

struct ChildRefs;

/// The sub-groups of a group (Group::children()): listed when the range is
/// made, each opened when its iterator is dereferenced.
class VELFILE_API Group::Children {
 public:
  /// The iterator over the sub-groups.
  using iterator = IndexIterator<Children, Group>;
  /// The first sub-group.
  /// @return its iterator
  iterator begin() const { return iterator(this, 0); }
  /// Past the last sub-group.
  /// @return its iterator
  iterator end() const { return iterator(this, size()); }
  /// Number of sub-groups.
  /// @return the count
  size_t size() const;
  /// The sub-group at position i (Reason::NotFound past the end), opened now.
  /// @param i its position among the sub-groups
  /// @return the sub-group
  Group at(size_t i) const;

 private:
  friend class Group;
  Group parent_;
  std::shared_ptr<const ChildRefs> refs_;
};

/// The items of a group (Group::entries()), each read when its iterator is
/// dereferenced.
class VELFILE_API Group::Items {
 public:
  /// The iterator over the items.
  using iterator = IndexIterator<Items, Item>;
  /// The first item.
  /// @return its iterator
  iterator begin() const { return iterator(this, 0); }
  /// Past the last item.
  /// @return its iterator
  iterator end() const { return iterator(this, count_); }
  /// Number of items (as the directory held them when the range was made).
  /// @return the count
  uint32_t size() const { return count_; }
  /// The item at directory index i, read now (Group::item_at()).
  /// @param i the directory index
  /// @return the item
  Item at(size_t i) const { return group_.item_at(static_cast<uint32_t>(i)); }

 private:
  friend class Group;
  Group group_;
  uint32_t count_ = 0;
};

/// @cond
// One overload per module of reading a group into a descriptor (starting
// from the module's defaults) and of writing one (what changed from previous
// when it is not null): Group::read() and Group::write() call them.
#define VELFILE_LAYER_READ(prefix, key, D) \
  VELFILE_API void read_descriptor_into(const Group& group, D& descr);
VELFILE_LAYER_MODULES(VELFILE_LAYER_READ)
#undef VELFILE_LAYER_READ
#define VELFILE_LAYER_WRITE(prefix, key, D) \
  VELFILE_API void write_descriptor_from(Group& group, D& descr, D* previous);
VELFILE_LAYER_MODULES(VELFILE_LAYER_WRITE)
#undef VELFILE_LAYER_WRITE
/// @endcond

/// A range along one axis of a data group: [start, start + count); a count
/// of UINT32_MAX reaches to the end of the axis.
struct Range {
  uint32_t start = 0;           ///< first index
  uint32_t count = UINT32_MAX;  ///< number of indices
};

/// One axis of a data group: coordinate of index i = offset + i x factor.
struct Axis {
  uint32_t count = 0;  ///< number of points (or samples)
  float factor = 1;    ///< step between neighbours
  float offset = 0;    ///< coordinate of index 0
};

/// The variable-length records of a data class 10 group.
struct Records {
  std::vector<uint16_t> units;   ///< every record, one after another: a count m, then 2m units
  std::vector<uint64_t> starts;  ///< where each point's record starts in units (points + 1 entries)
  std::vector<uint8_t> markers;  ///< per point: 0, 1, 2 (no data) or 3 (a record)
};

/// A data group: a descriptor and its bulk data, read by range.
///
/// Points are numbered second-major (the first axis runs fastest); markers
/// hold 0, 1 or 2 for a point without data and gdata_kPointHasData (3) for
/// a point with data. Once its File was closed, every function throws
/// Reason::Closed.
class VELFILE_API DataGroup {
 public:
  /// The group it was read from.
  /// @return the group
  const Group& group() const;
  /// The descriptor as gdata_ReadGroupInfo filled it.
  /// @return the descriptor
  const CGDataTypeFDD& descriptor() const;
  /// The data class.
  /// @return the data class
  int32_t data_class() const;
  /// Second point count, first point count, and elements per point: the
  /// sample quantity (class 1), E / sample size or E bytes (block classes),
  /// 0 (class 10, whose records vary).
  /// @return the three extents
  std::array<uint32_t, 3> shape() const;
  /// The item type of the elements read(): the sample type (class 1; block
  /// classes whose entry size is a whole number of samples), 13 for raw
  /// bytes (other block classes, or no sample type), 5 for class 10.
  /// @return the item type code
  uint16_t sample_type() const;
  /// Bytes of one element of sample_type().
  /// @return the size in bytes
  size_t element_size() const;
  /// The second, first and sample axes: count, factor, offset.
  /// @return the three axes
  std::array<Axis, 3> axes() const;
  /// Bytes that read() needs for these ranges.
  /// @param second the range of second point indices
  /// @param first the range of first point indices
  /// @param samples the range of elements of each point
  /// @return the size in bytes
  uint64_t bytes_needed(Range second = Range(), Range first = Range(), Range samples = Range()) const;
  /// Reads the ranges into buffer (capacity bytes; Reason::Invalid when
  /// short, saying how many bytes the range needs), elements in host order,
  /// points without data as zeros; a range that reaches outside an axis is
  /// Reason::OutOfRange, naming the axis and its bounds. markers,
  /// when given, receives one marker per point. Data whose table, records or
  /// block lie outside the group's section is refused
  /// (Reason::OutsideSection). Not for class 10: see read_records().
  /// @param buffer receives the elements
  /// @param capacity the buffer's size in bytes
  /// @param markers null, or receives one marker per point
  /// @param second the range of second point indices
  /// @param first the range of first point indices
  /// @param samples the range of elements of each point
  void read(void* buffer, size_t capacity, uint8_t* markers = nullptr, Range second = Range(),
            Range first = Range(), Range samples = Range()) const;
  /// As read(), into a vector of T, which must be the type of the elements
  /// (type_of<T>() equals sample_type(); uint8_t for raw bytes):
  /// Reason::WrongType otherwise. read_as() converts.
  /// @tparam T the element type
  /// @param markers null, or receives one marker per point
  /// @param second the range of second point indices
  /// @param first the range of first point indices
  /// @param samples the range of elements of each point
  /// @return the elements
  template <class T>
  std::vector<T> read(std::vector<uint8_t>* markers = nullptr, Range second = Range(), Range first = Range(),
                      Range samples = Range()) const {
    check_element(type_of<T>());
    std::vector<T> out(static_cast<size_t>(bytes_needed(second, first, samples) / sizeof(T)));
    if (markers) markers->assign(points(second, first), 0);
    read(out.data(), out.size() * sizeof(T), markers ? markers->data() : nullptr, second, first, samples);
    return out;
  }
  /// As read<T>(), into a contiguous range of T (std::vector, std::array,
  /// std::span) holding at least the elements of the ranges.
  /// @tparam R a contiguous range of the element type
  /// @param out receives the elements
  /// @param markers null, or receives one marker per point
  /// @param second the range of second point indices
  /// @param first the range of first point indices
  /// @param samples the range of elements of each point
  /// @return the elements stored
  template <class R>
  size_t read_into(R&& out, uint8_t* markers = nullptr, Range second = Range(), Range first = Range(),
                   Range samples = Range()) const {
    using T = std::remove_pointer_t<decltype(std::data(out))>;
    check_element(type_of<T>());
    const size_t n = static_cast<size_t>(bytes_needed(second, first, samples) / sizeof(T));
    read(std::data(out), std::size(out) * sizeof(T), markers, second, first, samples);
    return n;
  }
  /// The elements of the ranges converted to T by the layer's conversion rule
  /// (see convert_value()): Reason::WrongType, naming the first sample T
  /// cannot hold, otherwise. Points without data read as zeros.
  /// @tparam T the element type asked for
  /// @param markers null, or receives one marker per point
  /// @param second the range of second point indices
  /// @param first the range of first point indices
  /// @param samples the range of elements of each point
  /// @return the converted elements
  template <class T>
  std::vector<T> read_as(std::vector<uint8_t>* markers = nullptr, Range second = Range(),
                         Range first = Range(), Range samples = Range()) const {
    std::vector<T> out;
    read_converted(
        type_of<T>(), [&](size_t n) { return out.resize(n), static_cast<void*>(out.data()); }, markers,
        second, first, samples);
    return out;
  }
  /// The elements of the ranges in a vector of their own type, for a host
  /// that learns the type at run time (std::visit() reaches the vector).
  /// @param markers null, or receives one marker per point
  /// @param second the range of second point indices
  /// @param first the range of first point indices
  /// @param samples the range of elements of each point
  /// @return the elements
  Samples read_samples(std::vector<uint8_t>* markers = nullptr, Range second = Range(), Range first = Range(),
                       Range samples = Range()) const;
  /// The records of a class 10 group for the ranges of points.
  /// @param second the range of second point indices
  /// @param first the range of first point indices
  /// @return the records and markers of those points
  Records read_records(Range second = Range(), Range first = Range()) const;
  /// Where the block of a block class lies (second x first entries of the
  /// point entry size), checked to be inside its section; Reason::Unsupported
  /// for classes 1 and 10, whose points are scattered.
  /// @return the block's offset and size
  Extent block() const;
  /// Class 1: where each point's record lies in the file, second-major (its
  /// absolute offset, or the point's marker 0, 1 or 2 when it has no data),
  /// checked as read() checks them; a record holds shape()[2] samples in the
  /// section's byte order. Reason::Unsupported for other classes.
  /// @return one entry per point
  std::vector<uint64_t> record_offsets() const;

 private:
  friend struct Access;
  void check_element(uint16_t type) const;
  void read_converted(uint16_t type, const std::function<void*(size_t)>& allocate,
                      std::vector<uint8_t>* markers, Range second, Range first, Range samples) const;
  size_t points(Range second, Range first) const;
  std::shared_ptr<CGDataTypeFDD> descr_;
  Group group_;
};

/// Writes a data group line by line (made by Group::data_writer()), so
/// that an acquisition host holds one line at a time, whatever the size of
/// its scan.
///
/// A line is one second point index: its first point count points, each
/// with its samples and whether it has data. Lines are written in order,
/// from 0, each once: a line out of order, written twice or past the last is
/// refused (Reason::Invalid) and nothing is written. Each line goes to the
/// file as it comes (its part of the point table and its records, or its
/// part of the block), and the group is whole when the last line is
/// written. When nothing else is written to the file in between, the file
/// receives the same bytes as write_data() of the whole scan.
///
/// Lines never written are stored as points without data (marker 0; in a
/// block class, which has no such points, as zero bytes), so that what was
/// acquired is kept: finish() does so and says how many lines it stored so;
/// File::close() does so for a writer not finished and then throws
/// Reason::Invalid naming the lines, the file being closed and whole; the
/// destructor of the File does so silently. A File abandoned (explicitly,
/// or destroyed while an exception unwinds) keeps nothing of the section.
class VELFILE_API DataWriter {
 public:
  /// A writer of nothing; every use throws.
  DataWriter() = default;
  /// The group being written.
  /// @return the group
  const Group& group() const { return group_; }
  /// The lines of the group: its second point count.
  /// @return the number of lines
  uint32_t lines() const;
  /// The lines written so far, which is the index of the next one.
  /// @return the lines written
  uint32_t next_line() const;
  /// Whether every line was written (or finish() stored the rest).
  /// @return true when the group is whole
  bool complete() const;
  /// Writes lines [line, line + count): for class 1, their points' samples,
  /// dense (count x first x q x sample size bytes, host order), and markers
  /// (count x first entries, or null for all points having data) as
  /// write_data() takes them; for a block class, count x first entries of
  /// the point entry size, and no markers. bytes and marker_count must match
  /// exactly (Reason::Invalid otherwise).
  /// @param line the index of the first line: next_line()
  /// @param count the number of lines
  /// @param samples the lines' samples or entries, in host order
  /// @param bytes the size of samples in bytes
  /// @param markers null, or one marker per point (class 1 only)
  /// @param marker_count the entries of markers
  void write_lines(uint32_t line, uint32_t count, const void* samples, size_t bytes,
                   const uint8_t* markers = nullptr, size_t marker_count = 0);
  /// Writes one line: write_lines(line, 1, ...).
  /// @param line the line's index: next_line()
  /// @param samples the line's samples or entries, in host order
  /// @param bytes the size of samples in bytes
  /// @param markers null, or one marker per point of the line (class 1 only)
  /// @param marker_count the entries of markers
  void write_line(uint32_t line, const void* samples, size_t bytes, const uint8_t* markers = nullptr,
                  size_t marker_count = 0) {
    write_lines(line, 1, samples, bytes, markers, marker_count);
  }
  /// Writes one line from vectors; T must be the sample type (for a block
  /// class whose entries are no whole number of samples, uint8_t), else
  /// Reason::WrongType.
  /// @tparam T the element type of samples
  /// @param line the line's index: next_line()
  /// @param samples the line's samples or entries
  /// @param markers one marker per point of the line, or empty (all have data)
  template <class T>
  void write_line(uint32_t line, const std::vector<T>& samples,
                  const std::vector<uint8_t>& markers = std::vector<uint8_t>()) {
    check_element(type_of<T>());
    write_lines(line, 1, samples.data(), samples.size() * sizeof(T),
                markers.empty() ? nullptr : markers.data(), markers.size());
  }
  /// Ends the group: the lines not written are stored as points without
  /// data (a block class: zero bytes). Ending a whole group does nothing.
  /// @return the number of lines so stored (0 when the group was whole)
  uint32_t finish();
  /// The group read back as a data group, once complete() (Reason::Invalid
  /// before).
  /// @return the data group
  DataGroup data() const;

 private:
  friend struct Access;
  void check_element(uint16_t type) const;
  std::shared_ptr<DataStream> stream_;
  Group group_;
};

template <class R>
DataGroup Group::write_data(const CGDataTypeFDD& descr, const R& samples,
                            const std::vector<uint8_t>& markers) {
  using T = std::remove_cv_t<std::remove_pointer_t<decltype(std::data(samples))>>;
  check_sample_type(descr, type_of<T>());
  return write_data(descr, std::data(samples), std::size(samples) * sizeof(T),
                    markers.empty() ? nullptr : markers.data(), markers.size());
}

/// One step of a group path.
struct PathStep {
  /// How the step names a sub-group.
  enum Kind {
    Name,  ///< the first sub-group with this name
    Id,    ///< the first group reference with this item id
    Index  ///< the group reference at this directory index
  };
  Kind kind = Name;     ///< how the step names its group
  std::string name;     ///< Name: the name, escapes removed
  uint32_t number = 0;  ///< Id and Index: the number
};

/// A parsed group path.
///
/// Grammar:
///   PATH    := SECTION { '/' STEP }
///   SECTION := index of the section in file order (0, 1, ...) | '@' start offset
///   STEP    := NAME | '#' ID | '[' N ']'
/// A NAME is written as escape_text() shows text: `\\` `\"` `\n` `\r` `\t`
/// `\xNN` (a byte) `\uXXXX` (a character); a backslash before any other
/// character takes it literally (`a\/b` is the name a/b). Numbers are decimal
/// or 0x hexadecimal.
struct GroupPath {
  bool by_offset = false;       ///< the section is given by its start offset
  uint32_t section = 0;         ///< the section's index or start offset
  std::vector<PathStep> steps;  ///< the steps below the section group
};

/// Parses a group path; Reason::BadPath with the offending part otherwise.
/// @param text the path
/// @return the parsed path
VELFILE_API GroupPath parse_group_path(const std::string& text);
/// Parses the steps of a relative path (no section part).
/// @param text the relative path
/// @return its steps
VELFILE_API std::vector<PathStep> parse_relative_path(const std::string& text);
/// Text from a file as it is printed, so that no byte of it can act on a
/// terminal: a backslash and a double quote get a backslash, `\n` `\r` `\t`
/// stand for those controls, any other control character and every byte
/// that is not part of valid UTF-8 is `\xNN`, and C1 controls and the
/// characters that break or reorder lines (U+2028, U+2029, direction marks)
/// are `\uXXXX`.
/// Group paths are made of names in this form.
/// @param text the text, any bytes
/// @return the escaped text
VELFILE_API std::string escape_text(const std::string& text);
/// UTF-16 text as UTF-8, as Item::text() gives it: an unpaired surrogate
/// becomes U+FFFD.
/// @param text the code units
/// @return the UTF-8 bytes
VELFILE_API std::string to_utf8(const std::u16string& text);
/// A stored 32-bit float as the decimal its writer meant: the double nearest
/// to the shortest decimal that reads back as the same float (2.98 for the
/// float nearest 2.98, not 2.9800000190734863). Descriptors read 32-bit
/// float fields this way, so that texts and JSON show them as written; the
/// value converts back to the same float.
/// @param value the stored float (NaN and infinities are kept)
/// @return the decimal as a double
VELFILE_API double decimal_of(float value);
/// UTF-16 text as UTF-8 when it is well-formed: the same decoder as
/// to_utf8(), refusing what that one replaces.
/// @param text the code units
/// @param out the UTF-8 bytes; left as it was when the text is refused
/// @return false for text with an unpaired surrogate
VELFILE_API bool to_utf8_strict(const std::u16string& text, std::string* out);
/// A name as a path step: escape_text(), then '/' and a leading '#' or '['
/// get a backslash.
/// @param name the group name
/// @return the escaped step
VELFILE_API std::string escape_step(const std::string& name);

/// How the walk met a group.
enum class NodeState {
  Open,     ///< opened; its sub-groups follow
  Cycle,    ///< its directory is one of its ancestors'
  Shared,   ///< its directory was reached before by another path
  TooDeep,  ///< deeper than WalkLimits::max_depth
  Limit,    ///< past WalkLimits::max_groups or max_items
  Error     ///< cannot be opened; see WalkNode::reason
};
/// Name of a state: "open", "cycle", "shared", "too deep", "limit", "error".
/// @param state the state named
/// @return its name, a static string
VELFILE_API const char* state_name(NodeState state);

/// Bounds of a walk.
struct WalkLimits {
  int max_depth = 200;                     ///< levels below the starting group
  uint64_t max_groups = 100000;            ///< groups entered
  uint64_t max_items = uint64_t(1) << 22;  ///< items of the groups entered
};

/// One group as the walk meets it.
struct VELFILE_API WalkNode {
  Group group;                        ///< the group; valid() only when state is Open
  NodeState state = NodeState::Open;  ///< how the walk met it
  std::string reason;                 ///< why it was not entered (empty when Open)
  int depth = 0;                      ///< 0 for the starting group
  uint32_t index = 0;                 ///< index of its reference in the parent's directory
  uint16_t id = 0;                    ///< item id of that reference
  uint32_t entries = 0;               ///< entries of its directory
  uint32_t directory = 0;             ///< offset of its directory in the section
  uint32_t section_start = 0;         ///< absolute offset of its section
  std::string name;                   ///< its name
  /// Its path, built when asked for.
  /// @return the path
  std::string path() const;
  std::shared_ptr<const PathNode> node;  ///< the path chain (used by path())
};

/// Called for each group before its sub-groups; returning false skips them.
using WalkEnter = std::function<bool(const WalkNode&)>;
/// Called for each group after its sub-groups.
using WalkLeave = std::function<void(const WalkNode&)>;

/// Walks the tree below root depth-first, reading each directory only when
/// it is reached. Memory grows with the depth and the longest name, and by
/// a few bytes per sub-group of the directories on the current path (their
/// names are read one at a time, never kept), never with the number of
/// groups walked (past the set of directories seen, bounded by max_groups). Cycles, directories reached
/// twice, depth and size limits and groups that cannot be opened are
/// reported once each, through the node's state, and not entered. The
/// library lock is not held while enter and leave run. Returns true when
/// every group was entered.
/// @param root the starting group
/// @param enter called for each group before its sub-groups
/// @param leave called for each group after its sub-groups
/// @param limits the walk's bounds
/// @return true when every group was entered
VELFILE_API bool walk(const Group& root, const WalkEnter& enter, const WalkLeave& leave = WalkLeave(),
                      const WalkLimits& limits = WalkLimits());

/// A container file opened through the library.
///
/// Two File objects on the same path share the library's one handle; the
/// layer counts them and closes the handle when the last one closes. A path
/// open for reading cannot be opened for writing, nor the reverse.
/// (The library also hands that handle to a host calling file_Open on the
/// same path directly; such a host must not close it under the layer.)
class VELFILE_API File {
 public:
  /// Opens a container for reading. Throws Reason::NotContainer,
  /// Reason::NotFound, Reason::TooManyFiles, Reason::InUse, ...
  /// @param path the file's path
  /// @return the open File
  static File open(std::string_view path);
  /// Opens a container for reading through a host's Source (a file on a web
  /// server, in object storage, behind a stream of the host's): read ahead in
  /// blocks that are kept, and never written (create_group is refused with
  /// Reason::ReadOnly). Throws as open(path) does; a failing source gives
  /// Reason::Io with the source's own words.
  /// @param source the file's bytes
  /// @param name what errors and path() call the file (its URL)
  /// @param block the bytes each request reads at least (0: 256 KiB)
  /// @return the open File
  static File open(std::shared_ptr<Source> source, std::string_view name, size_t block = 0);
  /// Creates a container, replacing a file of that name; the first
  /// create_group() starts its one section. A file closed without a group is
  /// left empty (0 bytes), which no reader accepts.
  /// @param path the file's path
  /// @return the new File
  static File create(std::string_view path);
  /// Opens a file whose name ends in ".A01" (any letter case) to add one
  /// section to it; other files are refused (Reason::Invalid), as is one
  /// the library cannot write or extend (Reason::ReadOnly).
  /// @param path the file's path
  /// @return the File, open for adding a section
  static File append(std::string_view path);
  /// open(), create() and append() of a std::filesystem::path (text given
  /// as UTF-8 goes through the std::string_view overloads).
  /// @tparam P std::filesystem::path
  /// @param path the file's path
  /// @return the open File
  template <class P, std::enable_if_t<std::is_same<P, std::filesystem::path>::value, int> = 0>
  static File open(const P& path) {
    return open_path(path, 0);
  }
  /// @copydoc open(const P&)
  template <class P, std::enable_if_t<std::is_same<P, std::filesystem::path>::value, int> = 0>
  static File create(const P& path) {
    return open_path(path, 1);
  }
  /// @copydoc open(const P&)
  template <class P, std::enable_if_t<std::is_same<P, std::filesystem::path>::value, int> = 0>
  static File append(const P& path) {
    return open_path(path, 2);
  }

  /// A File that is not open.
  File() = default;
  /// Takes the other File's place; the other is left not open.
  /// @param other the File moved from
  File(File&& other) noexcept;
  /// Closes this File (errors ignored) and takes the other's place.
  /// @param other the File moved from
  /// @return this File
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  /// Closes the file if still open, ignoring failures; call close() to learn
  /// of them. A File destroyed while an exception unwinds the stack (one
  /// thrown after it was made) abandons its new section instead, as
  /// abandon() does: work cut short by an error is never committed.
  ~File();

  /// Closes the file: for a written file this writes the directories and
  /// headers, so a failure means lost data and throws (Reason::Io). A data
  /// group still being written line by line (DataWriter) is ended first,
  /// its lines not written stored as points without data; the file is then
  /// closed and whole, and close() throws Reason::Invalid naming those
  /// lines. The views of this File stop working. Closing a closed File does
  /// nothing.
  void close();
  /// Closes the file without committing its new section
  /// (VelFile::file_Abandon): its groups' directories and its header are not
  /// written, so no reader finds it. An appended file keeps its earlier
  /// sections byte for byte, with the bytes written for the new one lying
  /// after the last section, unread (the next append goes over them); a
  /// created file, emptied when it was created, is left with no section, so
  /// no reader takes it for a container. For a File opened for reading
  /// this is close(). The views of this File stop working; abandoning a
  /// closed File does nothing.
  void abandon();
  /// Whether the File is open.
  /// @return true when open
  bool is_open() const;
  /// The path as given.
  /// @return the path
  const std::string& path() const;
  /// Whether the File was made by create() or append().
  /// @return true when it can be written
  bool writable() const;

  /// The sections in file order.
  /// @return the sections
  std::vector<Section> sections() const;
  /// The group a path names (see GroupPath); Reason::NotFound with the step
  /// that failed when there is none.
  /// @param path the group path
  /// @return the group
  Group group(std::string_view path) const;
  /// The section group of a section, by index.
  /// @param index the section's index
  /// @return its section group
  Group section_group(uint32_t index) const;
  /// Starts the new section of a File made by create() or append() and
  /// returns its section group. A file takes one new section per opening: a
  /// second call throws Reason::ReadOnly.
  /// A name of more than kMaxGroupName units is refused (Reason::Invalid).
  /// @param name the section group's name
  /// @return the section group
  Group create_group(std::string_view name);

  /// The library's file handle, for direct calls of the exported operations.
  /// @return the handle
  void* handle() const;

 private:
  friend struct Access;
  static File open_path(const std::filesystem::path& path, int mode);
  void end_quietly() noexcept;
  std::shared_ptr<FileState> state_;
  int exceptions_ = std::uncaught_exceptions();  // unwinding when the File was made
};

/// walk() over every section of a file in file order, each section group a
/// root of its own (depth 0; the limits hold for each section). A section
/// group that cannot be opened is reported as an Error node. Returns true
/// when every group of every section was entered.
/// @param file the open file
/// @param enter called for each group before its sub-groups
/// @param leave called for each group after its sub-groups
/// @param limits the bounds of each section's walk
/// @return true when every group was entered
VELFILE_API bool walk(const File& file, const WalkEnter& enter, const WalkLeave& leave = WalkLeave(),
                      const WalkLimits& limits = WalkLimits());

}  // namespace velfile

#endif
