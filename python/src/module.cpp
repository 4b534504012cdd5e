// The extension velfile._velfile: files, sections, groups, items, the walk
// and the exceptions of the C++ layer (velfile.hpp), a class for each of its
// classes and a method for each of their methods, under the same names. The
// package's own File, Group and Item (_tree.py) are Python classes over them.
#include <pybind11/stl.h>

#include <cerrno>
#include <fstream>
#include <map>

#include "binding.h"
#include "velinspect/exit_codes.h"
#if defined(VELFILE_PYTHON_CHECK)
#include "velinspect/commands.h"
#endif
#ifdef VELFILE_PYTHON_JSON
#include "velfile_json.h"
#endif

namespace velfile_python {

using velfile::Reason;
using Values = std::vector<std::pair<std::string, velfile::Value>>;

Owner::~Owner() {
  // Closing takes the layer's lock, so the GIL goes first; at interpreter
  // shutdown, or in a thread without the GIL, the file is closed as it is.
#if PY_VERSION_HEX >= 0x030D0000
  const bool finalizing = Py_IsFinalizing();
#else
  const bool finalizing = _Py_IsFinalizing();
#endif
  if (velfile::inside_source_read()) {
    closeLater(std::move(file));  // a finaliser run inside a source's read
    return;
  }
  closeDeferred();
  if (Py_IsInitialized() && !finalizing && PyGILState_Check()) {
    py::gil_scoped_release unlock;
    file = velfile::File();
  } else {
    file = velfile::File();
  }
}

py::tuple extentTuple(const velfile::Extent& e) {
  return py::make_tuple(e.offset, e.size, e.host_order);
}

py::dtype dtypeOf(uint16_t type) {
  static const char* const kFormats[] = {nullptr, nullptr, "i1",  "u1",  "<i2", "<u2",   "<i4",
                                         "<u4",   "<u4",   "<u4", "<f4", "<f8", nullptr, "u1"};
  if (type >= 14) return py::dtype("u1");
  if (!kFormats[type]) return py::dtype();
  // Host order: numpy's "=" prefix.
  std::string f = kFormats[type];
  if (f[0] == '<') f[0] = '=';
  return py::dtype(f);
}

int typeOfDtype(const py::dtype& dtype) {
  const char kind = dtype.kind();
  const auto size = dtype.itemsize();
  if (!dtype.attr("isnative").cast<bool>()) return -1;
  if (kind == 'i' && size <= 4) return size == 1 ? 2 : size == 2 ? 4 : 6;
  if (kind == 'u' && size <= 4) return size == 1 ? 3 : size == 2 ? 5 : 7;
  if (kind == 'f' && (size == 4 || size == 8)) return size == 4 ? 10 : 11;
  return -1;
}

py::array convertArray(const py::array& values, uint16_t to) {
  const int from = typeOfDtype(values.dtype());
  const bool number = (to >= 2 && to <= 7) || to == 10 || to == 11;
  if (from < 0 || !number)
    throw velfile::Error(Reason::WrongType, 0, "convert", "", "", -1,
                         "cannot convert " + std::string(py::str(values.dtype())) + " values to " +
                             velfile::type_name(to) + ": the rule converts numbers of the item types");
  const auto in = py::array::ensure(values, py::array::c_style);
  py::array out(dtypeOf(to), std::vector<py::ssize_t>(in.shape(), in.shape() + in.ndim()));
  const auto* src = static_cast<const char*>(in.data());
  auto* dst = static_cast<char*>(out.mutable_data());
  std::string why;
  if (velfile::convert_values(to, dst, uint16_t(from), src, size_t(in.size()), &why) < size_t(in.size()))
    throw velfile::Error(Reason::WrongType, 0, "convert", "", "", -1, why);
  return out;
}

namespace {

// --- exceptions ---

struct ErrorClass {
  Reason reason;
  const char* name;
  const char* extraBase;  // a built-in exception it also is, or null
  const char* doc;
};

const ErrorClass kErrorClasses[] = {
    {Reason::Memory, "NoMemoryError", "MemoryError", "Memory ran out."},
    {Reason::Io, "FileIOError", "OSError", "Reading, writing or positioning failed: a damaged or cut file."},
    {Reason::NotContainer, "NotContainerError", nullptr, "The file is not a container file."},
    {Reason::NotFound, "NotFoundError", "LookupError", "No such file, section, group or item."},
    {Reason::InUse, "InUseError", nullptr, "The path is open in a way that excludes this use."},
    {Reason::TooManyFiles, "TooManyFilesError", nullptr,
     "Every slot of the library's table of open files is taken: close a file first."},
    {Reason::ReadOnly, "ReadOnlyError", nullptr, "The file or group cannot be written."},
    {Reason::WrongType, "WrongTypeError", "TypeError",
     "The value cannot be read or written as the type asked for."},
    {Reason::Closed, "ClosedError", "ValueError", "The file was closed; its objects are no longer usable."},
    {Reason::BadPath, "BadPathError", "ValueError", "A group path that does not follow the grammar."},
    {Reason::OutsideSection, "OutsideSectionError", nullptr,
     "A value, block or table that does not lie inside its section (a damaged file)."},
    {Reason::Invalid, "InvalidError", "ValueError", "An argument the operation cannot take."},
    {Reason::Unsupported, "UnsupportedError", nullptr, "Data the package has no reading or writing for."},
    {Reason::Permission, "PermissionDeniedError", "PermissionError",
     "The file system denies the access: no permission to read or write the file."},
    {Reason::OutOfRange, "OutOfRangeError", "IndexError",
     "A range or index outside the data it reads; the message names the axis and its bounds."},
};

// A file that does not exist: a NotFoundError that is also Python's
// FileNotFoundError (errno ENOENT), raised for the opening of a file.
py::object& noSuchFile() {
  static auto* type = new py::object();  // never freed, as errorTypes()
  return *type;
}

bool opensAFile(const std::string& operation) {
  return operation.rfind("file_Open", 0) == 0 || operation.rfind("file_Create", 0) == 0;
}

std::map<int, py::object>& errorTypes() {
  static auto* types = new std::map<int, py::object>();  // never freed: outlives the interpreter's teardown
  return *types;
}

void addErrors(py::module_& m) {
  const char* baseDoc =
      "An error of the velfile package.\n\n"
      "Attributes: code (the result code of the library's operation, 0 when the\n"
      "package refused the call itself), reason (the kind of fault: 'NotFound',\n"
      "'Io', 'NotContainer', ...; one subclass each), operation, file, group (paths,\n"
      "'' when none applies) and item (the item id, -1 when none).";
  py::object base = py::reinterpret_steal<py::object>(
      PyErr_NewExceptionWithDoc("velfile.Error", baseDoc, PyExc_Exception, nullptr));
  m.attr("Error") = base;
  errorTypes()[0] = base;
  // Defaults for errors the package raises itself, without a result code.
  base.attr("code") = 0;
  base.attr("reason") = "";
  base.attr("operation") = "";
  base.attr("file") = "";
  base.attr("group") = "";
  base.attr("item") = -1;
  py::module_ builtins = py::module_::import("builtins");
  for (const ErrorClass& c : kErrorClasses) {
    py::tuple bases = c.extraBase ? py::make_tuple(base, builtins.attr(c.extraBase)) : py::make_tuple(base);
    const std::string name = std::string("velfile.") + c.name;
    py::object type = py::reinterpret_steal<py::object>(
        PyErr_NewExceptionWithDoc(name.c_str(), c.doc, bases.ptr(), nullptr));
    m.attr(c.name) = type;
    type.attr("reason") = velfile::reason_name(c.reason);
    errorTypes()[static_cast<int>(c.reason)] = type;
  }
  noSuchFile() = py::reinterpret_steal<py::object>(PyErr_NewExceptionWithDoc(
      "velfile.NoSuchFileError",
      "No such file (or directory): a NotFoundError that is also a FileNotFoundError.",
      py::make_tuple(errorTypes()[static_cast<int>(Reason::NotFound)], builtins.attr("FileNotFoundError"))
          .ptr(),
      nullptr));
  m.attr("NoSuchFileError") = noSuchFile();
  noSuchFile().attr("reason") = velfile::reason_name(Reason::NotFound);
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const velfile::Error& e) {
      const auto found = errorTypes().find(static_cast<int>(e.reason()));
      const bool missing = e.reason() == Reason::NotFound && opensAFile(e.operation());
      py::object type = missing                       ? noSuchFile()
                        : found != errorTypes().end() ? found->second
                                                      : errorTypes().at(0);
      // The OSError ones carry errno, as Python's own do (the file is in
      // the message and in the attribute file).
      py::object exc = type(py::str(e.what()));
      if (missing || e.reason() == Reason::Permission) {
        exc.attr("errno") = missing ? ENOENT : EACCES;
        exc.attr("strerror") = py::str(e.what());
      }
      exc.attr("code") = e.code();
      exc.attr("operation") = e.operation();
      exc.attr("file") = e.file();
      exc.attr("group") = e.group();
      exc.attr("item") = e.item();
      PyErr_SetObject(type.ptr(), exc.ptr());
    }
  });
}

// A dict of fields as the layer takes them; a value of no field kind is
// refused with its field's name.
Values toValues(const py::dict& fields) {
  Values out;
  for (const auto& kv : fields) {
    const std::string name = py::str(kv.first);
    try {
      out.emplace_back(name, kv.second.cast<velfile::Value>());
    } catch (const py::cast_error&) {
      throw velfile::Error(Reason::WrongType, 0, "Group.write_descriptor", "", "", -1,
                           "field '" + name + "' takes an int, a float, a str or a list of floats, not " +
                               std::string(py::str(kv.second.get_type().attr("__name__"))));
    }
  }
  return out;
}

// --- files ---

PyFile owned(velfile::File f) {
  return PyFile{std::make_shared<Owner>(std::move(f))};
}

std::vector<PyGroup> wrap(const OwnerPtr& owner, std::vector<velfile::Group> groups) {
  std::vector<PyGroup> out;
  out.reserve(groups.size());
  for (velfile::Group& g : groups) out.push_back(PyGroup{owner, std::move(g)});
  return out;
}

// --- the walk ---

struct PyWalkNode {
  py::object group;  // a Group, or None when the walk did not enter it
  std::string state, reason, name, path;
  int depth = 0;
  uint32_t index = 0, entries = 0, directory = 0, sectionStart = 0;
  uint16_t id = 0;
};

// Walks below a group, or every section of a file (a section group that
// cannot be opened, as in a file cut short, is an error node of its own).
bool walkTree(const py::object& root, const py::object& enter, const py::object& leave, int maxDepth,
              uint64_t maxGroups, uint64_t maxItems) {
  velfile::WalkLimits limits;
  limits.max_depth = maxDepth;
  limits.max_groups = maxGroups;
  limits.max_items = maxItems;
  const bool wholeFile = py::isinstance<PyFile>(root);
  const OwnerPtr owner = wholeFile ? root.cast<const PyFile&>().owner : root.cast<const PyGroup&>().owner;
  auto node = [&](const velfile::WalkNode& n) {
    PyWalkNode out;
    out.group = n.state == velfile::NodeState::Open ? py::cast(PyGroup{owner, n.group}) : py::none();
    out.state = velfile::state_name(n.state);
    out.reason = n.reason;
    out.name = n.name;
    out.path = n.path();
    out.depth = n.depth;
    out.index = n.index;
    out.entries = n.entries;
    out.directory = n.directory;
    out.sectionStart = n.section_start;
    out.id = n.id;
    return out;
  };
  const velfile::WalkEnter onEnter = [&](const velfile::WalkNode& n) {
    py::gil_scoped_acquire hold;
    py::object r = enter(node(n));
    return r.is_none() || r.cast<bool>();
  };
  velfile::WalkLeave onLeave;
  if (!leave.is_none())
    onLeave = [&](const velfile::WalkNode& n) {
      py::gil_scoped_acquire hold;
      leave(node(n));
    };
  if (wholeFile) return released([&] { return velfile::walk(owner->file, onEnter, onLeave, limits); });
  const velfile::Group& group = root.cast<const PyGroup&>().group;
  return released([&] { return velfile::walk(group, onEnter, onLeave, limits); });
}

}  // namespace

}  // namespace velfile_python

using namespace velfile_python;

PYBIND11_MODULE(_velfile, m) {
  m.doc() =
      "The binding of velfile's C++ layer, one class and method for each of the layer's;\n"
      "use the package velfile, whose File, Group, Item and DataGroup are built on it.";
  m.attr("__version__") = VELFILE_VERSION;
  m.attr("MAX_OPEN_FILES") = int(VelFile::kMaxOpenFiles);
  addErrors(m);
  py::list exits;
  for (const velfile_exit::ExitCode& c : velfile_exit::kExitCodes)
    exits.append(py::make_tuple(int(c.code), c.name, c.meaning, c.velinspect));
  m.attr("EXIT_CODES") = exits;
#if defined(VELFILE_PYTHON_CHECK)
  m.def(
      "_check",
      [](const std::string& path) {
        velinspect::CheckReport r;
        {
          py::gil_scoped_release unlocked;
          r = velinspect::checkFile(path);
        }
        return py::make_tuple(r.code, r.problems, r.error);
      },
      py::arg("path"), "velinspect check's exit code, problems and error for a file.");
#endif
  py::class_<velfile::Section> sectionClass(m, "Section", "One section of a file, as the library loaded it.");
  py::class_<PyFile> fileClass(m, "File", "velfile::File");
  py::class_<PyGroup> groupClass(m, "Group", "velfile::Group");
  py::class_<PyWalkNode> walkNodeClass(m, "WalkNode", "velfile::WalkNode");
  py::class_<PyItem> itemClass(m, "Item", "velfile::Item");
  bindData(m);
  bindSource(m);
  m.def("type_name", &velfile::type_name, py::arg("type"),
        "Name of an item type code ('int16', 'utf16', ...), 'type N' for an unknown one.");
  m.def("type_from_name", &velfile::type_from_name, py::arg("name"),
        "The item type code of a name type_name() gives, or of a decimal code; -1 for none.");
  m.def(
      "modules",
      [] {
        py::list out;
        for (const velfile::ModuleSchema& s : velfile::modules()) {
          py::list fields;
          for (const velfile::Field& f : s.fields)
            fields.append(py::make_tuple(f.name, f.id, f.type, f.count));
          py::dict d;
          d["name"] = s.name;
          d["prefix"] = s.prefix;
          d["descriptor"] = s.descriptor;
          d["fields"] = fields;
          out.append(d);
        }
        return out;
      },
      "The 21 group modules: dicts of name, prefix, descriptor type and fields\n"
      "(name, item id, item type, count), as the modules' item tables know them.");
  m.def(
      "_utf16_text",
      [](const py::bytes& little) -> py::object {
        const std::string bytes = little;
        std::u16string units(bytes.size() / 2, u'\0');
        for (size_t i = 0; i < units.size(); ++i)
          units[i] = static_cast<char16_t>(uint8_t(bytes[2 * i]) | uint8_t(bytes[2 * i + 1]) << 8);
        std::string text;
        if (!velfile::to_utf8_strict(units, &text)) return py::none();
        return py::str(text);
      },
      py::arg("little"), "UTF-16 text, little-endian, as a str; None for text with an unpaired surrogate.");
  m.def("_dtype_of", &dtypeOf, py::arg("type"));
  m.def("_type_of_dtype", &typeOfDtype, py::arg("dtype"));
  m.def("_convert", &convertArray, py::arg("values"), py::arg("type"),
        "The values (an array of an item type's dtype) as item type `type`, by the C++ layer's\n"
        "conversion rule (velfile::convert_value); WrongTypeError naming the first value refused.");
  m.def(
      "_size_of", [](uint16_t type) { return VelFile::file_SizeOf(type); }, py::arg("type"));
  m.def("walk", &walkTree, py::arg("root"), py::arg("enter"), py::arg("leave") = py::none(),
        py::arg("max_depth") = 200, py::arg("max_groups") = 100000, py::arg("max_items") = uint64_t(1) << 22);

  sectionClass.def_property_readonly("index", &velfile::Section::index)
      .def_property_readonly("start", &velfile::Section::start, "Absolute offset of the section's header.")
      .def_property_readonly(
          "byte_order",
          [](const velfile::Section& s) {
            return s.byte_order() == velfile::ByteOrder::Little ? "little" : "big";
          },
          "The writer's byte order: 'little' or 'big'.")
      .def_property_readonly(
          "string_format",
          [](const velfile::Section& s) {
            return s.string_format() == velfile::StringFormat::Utf16 ? "utf16" : "narrow";
          },
          "How the section stores its strings: 'utf16' or 'narrow'.")
      .def_property_readonly("size", &velfile::Section::size,
                             "Bytes from the header to the end of the section.")
      .def_property_readonly("entries", &velfile::Section::entries,
                             "Entries of the section group's directory.")
      .def_property_readonly("name", &velfile::Section::name, "The section group's name.")
      .def("__repr__", [](const velfile::Section& s) {
        return "<velfile.Section " + std::to_string(s.index()) + " at " + std::to_string(s.start()) + ", " +
               std::to_string(s.size()) + " bytes, " +
               (s.byte_order() == velfile::ByteOrder::Little ? "little" : "big") + "-endian>";
      });

  fileClass
      .def_static(
          "open",
          [](const std::string& path) { return owned(released([&] { return velfile::File::open(path); })); })
      .def_static("create",
                  [](const std::string& path) {
                    return owned(released([&] { return velfile::File::create(path); }));
                  })
      .def_static("append",
                  [](const std::string& path) {
                    return owned(released([&] { return velfile::File::append(path); }));
                  })
      .def("close", [](const PyFile& f) { released([&] { f.owner->file.close(); }); })
      .def("abandon", [](const PyFile& f) { released([&] { f.owner->file.abandon(); }); })
      .def("is_open", [](const PyFile& f) { return released([&] { return f.owner->file.is_open(); }); })
      .def("path", [](const PyFile& f) { return released([&] { return f.owner->file.path(); }); })
      .def("writable", [](const PyFile& f) { return released([&] { return f.owner->file.writable(); }); })
      .def("sections", [](const PyFile& f) { return released([&] { return f.owner->file.sections(); }); })
      .def("group",
           [](const PyFile& f, const std::string& path) {
             return PyGroup{f.owner, released([&] { return f.owner->file.group(path); })};
           })
      .def("section_group",
           [](const PyFile& f, uint32_t index) {
             return PyGroup{f.owner, released([&] { return f.owner->file.section_group(index); })};
           })
      .def("create_group",
           [](const PyFile& f, const std::string& name) {
             return PyGroup{f.owner, released([&] { return f.owner->file.create_group(name); })};
           })
      .def("write_json", [](const PyFile& f, const std::string& out, size_t maxElements) {
  // (written, complete): whether out was written whole, and whether
  // every group was entered and every value read.
#ifdef VELFILE_PYTHON_JSON
        return released([&] {
          std::ofstream stream(out, std::ios::binary | std::ios::trunc);
          velfile_json::Options options;
          options.max_elements = maxElements;
          const bool complete = stream && velfile_json::write_file(stream, f.owner->file, options);
          stream.close();
          return std::make_pair(bool(stream), complete);
        });
#else
        (void)f, (void)out, (void)maxElements;
        throw velfile::Error(Reason::Unsupported, 0, "export", "", "", -1,
                             "the package was built without the JSON form (tools/json)");
#endif
      });

  groupClass.def("name", [](const PyGroup& g) { return released([&] { return g.group.name(); }); })
      .def("set_name", [](PyGroup& g, const std::string& name) { released([&] { g.group.set_name(name); }); })
      .def("path", [](const PyGroup& g) { return released([&] { return g.group.path(); }); })
      .def("section", [](const PyGroup& g) { return released([&] { return g.group.section(); }); })
      .def("writable", [](const PyGroup& g) { return released([&] { return g.group.writable(); }); })
      .def("groups",
           [](const PyGroup& g) { return wrap(g.owner, released([&] { return g.group.groups(); })); })
      .def("items",
           [](const PyGroup& g) {
             std::vector<velfile::Item> items = released([&] { return g.group.items(); });
             std::vector<PyItem> out;
             out.reserve(items.size());
             for (velfile::Item& it : items) out.push_back(PyItem{g.owner, g.group, std::move(it)});
             return out;
           })
      .def("item_count", [](const PyGroup& g) { return released([&] { return g.group.item_count(); }); })
      .def("item",
           [](const PyGroup& g, uint16_t id) {
             return PyItem{g.owner, g.group, released([&] { return g.group.item(id); })};
           })
      .def("has_item",
           [](const PyGroup& g, uint16_t id) { return released([&] { return g.group.has_item(id); }); })
      .def("group",
           [](const PyGroup& g, const std::string& path) {
             return PyGroup{g.owner, released([&] { return g.group.group(path); })};
           })
      .def("create_group",
           [](PyGroup& g, const std::string& name, uint16_t id) {
             return PyGroup{g.owner, released([&] { return g.group.create_group(name, id); })};
           })
      .def("write_item",
           [](PyGroup& g, uint16_t id, uint16_t type, const py::array& data, uint32_t count) {
             const void* p = data.data();
             if (!(data.flags() & py::array::c_style) ||
                 data.nbytes() != py::ssize_t(VelFile::file_SizeOf(type)) * count)
               throw velfile::Error(Reason::Invalid, 0, "Group.write_item", "",
                                    released([&] { return g.group.path(); }), id,
                                    "got a buffer of the wrong size");
             released([&] { g.group.write_item(id, type, p, count); });
           })
      .def("write_text", [](PyGroup& g, uint16_t id,
                            const std::string& text) { released([&] { g.group.write_text(id, text); }); })
      .def("read_descriptor",
           [](const PyGroup& g, const std::string& module) {
             const auto values = released([&] { return g.group.read_descriptor(module); });
             py::dict out;
             for (const auto& nv : values) out[py::str(nv.first)] = py::cast(nv.second);
             return out;
           })
      .def("write_descriptor",
           [](PyGroup& g, const std::string& module, const py::dict& fields, const py::object& previous) {
             const Values now = toValues(fields);
             const Values before = previous.is_none() ? Values() : toValues(previous.cast<py::dict>());
             released([&] { g.group.write_descriptor(module, now, previous.is_none() ? nullptr : &before); });
           })
      .def("data",
           [](const PyGroup& g) {
             return PyData{g.owner, released([&] { return g.group.data(); })};
           })
      .def("write_data", &writeData)
      .def("data_writer", &dataWriter)
      .def("guess_module", [](const PyGroup& g) {
        const velfile::ModuleGuess r = released([&] { return g.group.guess_module(); });
        py::dict out;
        out["module"] = r.module.empty() ? py::object(py::none()) : py::object(py::str(r.module));
        out["matched"] = r.matched;
        out["unmatched"] = r.unmatched;
        out["note"] = r.note;
        return out;
      });

  walkNodeClass.def_readonly("group", &PyWalkNode::group)
      .def_readonly("state", &PyWalkNode::state)
      .def_readonly("reason", &PyWalkNode::reason)
      .def_readonly("name", &PyWalkNode::name)
      .def_readonly("path", &PyWalkNode::path)
      .def_readonly("depth", &PyWalkNode::depth)
      .def_readonly("index", &PyWalkNode::index)
      .def_readonly("id", &PyWalkNode::id)
      .def_readonly("entries", &PyWalkNode::entries)
      .def_readonly("directory", &PyWalkNode::directory)
      .def_readonly("section_start", &PyWalkNode::sectionStart);

  itemClass.def("id", [](const PyItem& i) { return released([&] { return i.item.id(); }); })
      .def("type", [](const PyItem& i) { return released([&] { return i.item.type(); }); })
      .def("count", [](const PyItem& i) { return released([&] { return i.item.count(); }); })
      .def("index", [](const PyItem& i) { return released([&] { return i.item.index(); }); })
      .def("value_field", [](const PyItem& i) { return released([&] { return i.item.value_field(); }); })
      .def("out_of_line", [](const PyItem& i) { return released([&] { return i.item.out_of_line(); }); })
      .def("text", [](const PyItem& i) { return released([&] { return i.item.text(); }); })
      .def("read",
           [](const PyItem& i, py::array& out) {
             // Into a buffer the caller sized: a count from a damaged file
             // sizes nothing here.
             if (!out.writeable() || !(out.flags() & py::array::c_style))
               throw velfile::Error(
                   Reason::Invalid, 0, "Item.read", "", released([&] { return i.group.path(); }),
                   released([&] { return i.item.id(); }), "takes a writable C-contiguous array");
             void* p = out.mutable_data();
             const size_t capacity = size_t(out.nbytes());
             return released([&] { return i.item.read(p, capacity); });
           })
      .def("extent", [](const PyItem& i) { return extentTuple(released([&] { return i.item.extent(); })); });
}
