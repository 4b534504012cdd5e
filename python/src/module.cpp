// The extension velfile._velfile: files, sections, groups, items, the walk
// and the exceptions, bound from the C++ layer (velfile.hpp).
#include <pybind11/stl.h>

#include <array>
#include <fstream>
#include <map>
#include <optional>

#include "binding.h"
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
  if (Py_IsInitialized() && !finalizing && PyGILState_Check()) {
    py::gil_scoped_release unlock;
    file = velfile::File();
  } else {
    file = velfile::File();
  }
}

const velfile::Group& mappable(const velfile::Group& g) {
  if (g.writable())
    throw velfile::Error(Reason::Unsupported, 0, "view", "", g.path(), -1,
                         "is being written: its bytes are final only when the file is closed");
  return g;
}

py::tuple extentTuple(const OwnerPtr& owner, const velfile::Extent& e) {
  return py::make_tuple(owner->file.path(), e.offset, e.size, e.host_order);
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
};

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
  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const velfile::Error& e) {
      const auto found = errorTypes().find(static_cast<int>(e.reason()));
      py::object type = found != errorTypes().end() ? found->second : errorTypes().at(0);
      py::object exc = type(py::str(e.what()));
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

PyFile openFile(const std::string& path, const std::string& mode) {
  velfile::File f;
  if (mode == "r")
    f = released([&] { return velfile::File::open(path); });
  else if (mode == "a")
    f = released([&] { return velfile::File::append(path); });
  else if (mode == "w")
    f = released([&] { return velfile::File::create(path); });
  else
    throw velfile::Error(Reason::Invalid, 0, "open", path, "", -1,
                         "mode '" + mode + "' is not one of 'r' (read), 'a' (add a section), 'w' (create)");
  return PyFile{std::make_shared<Owner>(std::move(f), mode)};
}

std::vector<PyGroup> wrap(const OwnerPtr& owner, std::vector<velfile::Group> groups) {
  std::vector<PyGroup> out;
  out.reserve(groups.size());
  for (velfile::Group& g : groups) out.push_back(PyGroup{owner, std::move(g)});
  return out;
}

// --- items ---

bool isScalarType(uint16_t t) {
  return (t >= 2 && t <= 7) || t == 10 || t == 11;
}

py::object itemValue(const PyItem& p) {
  const velfile::Item& it = p.item;
  const uint16_t t = it.type();
  if (t == VelFile::kTypeGroup) {
    const std::string step = "[" + std::to_string(it.index()) + "]";
    return py::cast(PyGroup{p.owner, released([&] { return p.group.group(step); })});
  }
  if (t == VelFile::kTypeNarrow || t == VelFile::kTypeUtf16)
    return py::str(released([&] { return it.text(); }));
  const size_t bytes = size_t(VelFile::file_SizeOf(t)) * it.count();
  std::vector<py::ssize_t> shape{py::ssize_t(it.count())};
  if (t == VelFile::kTypeQuad8 || t == VelFile::kTypeQuad9) shape.push_back(2);
  if (t > VelFile::kTypeRaw) shape[0] = py::ssize_t(bytes);
  // A count from a damaged file must not size an allocation: an array that
  // lies outside its section is refused before one is made.
  if (bytes > 4) released([&] { return it.extent(); });
  py::array a(dtypeOf(t), shape);
  void* out = a.mutable_data();
  released([&] { return it.read(out, bytes); });
  if (it.count() == 1 && isScalarType(t)) return a.attr("item")(0);
  return std::move(a);
}

// --- the walk ---

struct PyWalkNode {
  py::object group;  // a Group, or None when the walk did not enter it
  std::string state, reason, name, path;
  int depth = 0;
  uint32_t index = 0, entries = 0, directory = 0, sectionStart = 0;
  uint16_t id = 0;
};

bool walkGroup(const PyGroup& root, const py::function& func, int maxDepth, uint64_t maxGroups,
               uint64_t maxItems) {
  velfile::WalkLimits limits;
  limits.max_depth = maxDepth;
  limits.max_groups = maxGroups;
  limits.max_items = maxItems;
  const OwnerPtr& owner = root.owner;
  auto enter = [&](const velfile::WalkNode& n) {
    std::string path = n.path();
    py::gil_scoped_acquire hold;
    PyWalkNode node;
    node.group = n.state == velfile::NodeState::Open ? py::cast(PyGroup{owner, n.group}) : py::none();
    node.state = velfile::state_name(n.state);
    node.reason = n.reason;
    node.name = n.name;
    node.path = std::move(path);
    node.depth = n.depth;
    node.index = n.index;
    node.entries = n.entries;
    node.directory = n.directory;
    node.sectionStart = n.section_start;
    node.id = n.id;
    py::object r = func(std::move(node));
    return r.is_none() || r.cast<bool>();
  };
  return released([&] { return velfile::walk(root.group, enter, velfile::WalkLeave(), limits); });
}

const char* kPathHelp =
    "Paths: the section's index (or @offset), then one step per level: a\n"
    "name, #id (the first reference with that item id) or [index] (the entry\n"
    "at that directory index); '\\' escapes '/' and '\\' in a name.";

}  // namespace

}  // namespace velfile_python

using namespace velfile_python;

PYBIND11_MODULE(_velfile, m) {
  m.doc() = "The binding of velfile's C++ layer; use the package velfile, not this module.";
  m.attr("__version__") = VELFILE_VERSION;
  m.attr("MAX_OPEN_FILES") = int(VelFile::kMaxOpenFiles);
  addErrors(m);
  // Registered first, so that every signature names them; under the
  // package's name, so that help() and repr() read velfile.Group.
  m.attr("__name__") = "velfile";
  py::class_<velfile::Section> sectionClass(m, "Section", "One section of a file, as the library loaded it.");
  py::class_<PyFile> fileClass(
      m, "File",
      "A container file. Made by velfile.open() or velfile.create(); closed by close(),\n"
      "by a with block, or when the file and every object taken from it are gone.\n\n"
      "f[path] is the group a path names (see Group.__getitem__).");
  py::class_<PyGroup> groupClass(
      m, "Group",
      "A group: a named directory of items, with sub-groups. Light: it refers to its\n"
      "file, which stays open while the group is alive.");
  py::class_<PyWalkNode> walkNodeClass(m, "WalkNode", "One group as Group.walk() meets it.");
  py::class_<PyItem> itemClass(m, "Item", "One entry of a group's directory.");
  bindData(m);
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

  sectionClass
      .def_property_readonly("index", &velfile::Section::index,
                             "Position of the section in the file, from 0.")
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
      .def_property_readonly(
          "path", [](const PyFile& f) { return f.owner->file.path(); }, "The path as given.")
      .def_property_readonly(
          "mode", [](const PyFile& f) { return f.owner->mode; },
          "'r' (read), 'a' (adding a section) or 'w' (created).")
      .def_property_readonly(
          "closed", [](const PyFile& f) { return !released([&] { return f.owner->file.is_open(); }); },
          "Whether the file was closed.")
      .def_property_readonly(
          "writable", [](const PyFile& f) { return f.owner->file.writable(); },
          "Whether the file takes a new section (modes 'a' and 'w').")
      .def_property_readonly(
          "sections", [](const PyFile& f) { return released([&] { return f.owner->file.sections(); }); },
          "The sections in file order (start, byte order, string format, size).")
      .def_property_readonly(
          "groups",
          [](const PyFile& f) {
            const auto n = released([&] { return f.owner->file.sections().size(); });
            std::vector<velfile::Group> out;
            for (size_t i = 0; i < n; ++i)
              out.push_back(released([&] { return f.owner->file.section_group(uint32_t(i)); }));
            return wrap(f.owner, std::move(out));
          },
          "The section groups, one per section.")
      .def(
          "__getitem__",
          [](const PyFile& f, const std::string& path) {
            return PyGroup{f.owner, released([&] { return f.owner->file.group(path); })};
          },
          py::arg("path"),
          (std::string("The group a path names, as '0/Channel 1/Gate A'.\n\n") + kPathHelp).c_str())
      .def(
          "create_group",
          [](const PyFile& f, const std::string& name) {
            return PyGroup{f.owner, released([&] { return f.owner->file.create_group(name); })};
          },
          py::arg("name"),
          "Starts the file's new section, whose section group this is. A file takes one new\n"
          "section per opening: a second call raises ReadOnlyError.")
      .def(
          "close", [](const PyFile& f) { released([&] { f.owner->file.close(); }); },
          "Closes the file (for a written file: writes its directories and headers, and raises\n"
          "when that fails). Its groups, items and data then raise ClosedError. A closed file\n"
          "closes again without effect.")
      .def("__enter__", [](py::object self) { return self; })
      .def(
          "__exit__",
          [](const PyFile& f, const py::object&, const py::object&, const py::object&) {
            released([&] { f.owner->file.close(); });
            return false;
          },
          py::arg("type"), py::arg("value"), py::arg("traceback"))
      .def("__repr__", [](const PyFile& f) {
        const bool open = released([&] { return f.owner->file.is_open(); });
        return std::string("<velfile.File ") + py::repr(py::str(f.owner->file.path())).cast<std::string>() +
               " mode '" + f.owner->mode + "'" + (open ? "" : " (closed)") + ">";
      });
  m.def("_open", &openFile, py::arg("path"), py::arg("mode"));
  m.def(
      "_write_json",
      [](const PyFile& f, const std::string& out, size_t maxElements) {
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
      },
      py::arg("file"), py::arg("out"), py::arg("max_elements") = 16);

  groupClass
      .def_property(
          "name", [](const PyGroup& g) { return released([&] { return g.group.name(); }); },
          [](PyGroup& g, const std::string& name) { released([&] { g.group.set_name(name); }); },
          "The group's name (settable on a group being written; 31 characters are kept).")
      .def_property_readonly(
          "path", [](const PyGroup& g) { return g.group.path(); },
          (std::string("The group's path.\n\n") + kPathHelp).c_str())
      .def_property_readonly(
          "file", [](const PyGroup& g) { return PyFile{g.owner}; }, "The file of the group.")
      .def_property_readonly(
          "section", [](const PyGroup& g) { return released([&] { return g.group.section(); }); },
          "The section the group lies in.")
      .def_property_readonly(
          "writable", [](const PyGroup& g) { return released([&] { return g.group.writable(); }); },
          "Whether the group was made in this opening and can be written.")
      .def_property_readonly(
          "groups",
          [](const PyGroup& g) { return wrap(g.owner, released([&] { return g.group.groups(); })); },
          "The sub-groups in directory order, each named in its path by the shortest step\n"
          "that names it alone.")
      .def_property_readonly(
          "items",
          [](const PyGroup& g) {
            std::vector<velfile::Item> items = released([&] { return g.group.items(); });
            std::vector<PyItem> out;
            out.reserve(items.size());
            for (velfile::Item& it : items) out.push_back(PyItem{g.owner, g.group, std::move(it)});
            return out;
          },
          "Every item in directory order (a list), the name item and group references included.")
      .def(
          "item",
          [](const PyGroup& g, uint16_t id) {
            return PyItem{g.owner, g.group, released([&] { return g.group.item(id); })};
          },
          py::arg("id"), "The first item with this id; NotFoundError when there is none.")
      .def(
          "__contains__",
          [](const PyGroup& g, const py::object& key) {
            if (py::isinstance<py::int_>(key)) {
              const int id = key.cast<int>();
              return id >= 0 && id <= 0xFFFF && released([&] { return g.group.has_item(uint16_t(id)); });
            }
            const std::string path = key.cast<std::string>();
            try {
              released([&] { return g.group.group(path); });
              return true;
            } catch (const velfile::Error& e) {
              if (e.reason() == Reason::NotFound) return false;
              throw;
            }
          },
          py::arg("key"), "An item id (int) or a relative group path (str).")
      .def(
          "__getitem__",
          [](const PyGroup& g, const std::string& path) {
            return PyGroup{g.owner, released([&] { return g.group.group(path); })};
          },
          py::arg("path"), "The sub-group a relative path names ('Channel 1/Gate A', '#3/[2]').")
      .def(
          "create_group",
          [](PyGroup& g, const std::string& name, uint16_t id) {
            return PyGroup{g.owner, released([&] { return g.group.create_group(name, id); })};
          },
          py::arg("name"), py::arg("id") = 0, "Makes a sub-group with this name, recorded under item id id.")
      .def(
          "_write",
          [](PyGroup& g, uint16_t id, uint16_t type, const py::array& data, uint32_t count) {
            const void* p = data.data();
            if (!(data.flags() & py::array::c_style) ||
                data.nbytes() != py::ssize_t(VelFile::file_SizeOf(type)) * count)
              throw velfile::Error(Reason::Invalid, 0, "Group.write_item", "", g.group.path(), id,
                                   "got a buffer of the wrong size");
            released([&] { g.group.write_item(id, type, p, count); });
          },
          py::arg("id"), py::arg("type"), py::arg("data"), py::arg("count"))
      .def(
          "_write_text",
          [](PyGroup& g, uint16_t id, const std::string& text) {
            released([&] { g.group.write_text(id, text); });
          },
          py::arg("id"), py::arg("text"))
      .def(
          "descriptor",
          [](const PyGroup& g, const std::string& module) {
            const auto values = released([&] { return g.group.read_descriptor(module); });
            py::dict out;
            for (const auto& nv : values) out[py::str(nv.first)] = py::cast(nv.second);
            return out;
          },
          py::arg("module"),
          "The group decoded by a module (its short name, as 'gate', or its prefix, as\n"
          "'ggate'; see velfile.modules()) through the module's ReadGroupInfo: a dict of\n"
          "every field by name, in the order of the module's table. A file does not record\n"
          "which module wrote a group; guess_module() offers a guess.")
      .def(
          "write_descriptor",
          [](PyGroup& g, const std::string& module, const py::dict& fields, const py::object& previous) {
            const Values now = toValues(fields);
            const Values before = previous.is_none() ? Values() : toValues(previous.cast<py::dict>());
            released([&] { g.group.write_descriptor(module, now, previous.is_none() ? nullptr : &before); });
          },
          py::arg("module"), py::arg("fields"), py::arg("previous") = py::none(),
          "Writes a descriptor through the module's WriteGroupInfo from a dict of fields\n"
          "(names as descriptor() gives them; fields not given keep the module's defaults).\n"
          "With previous (the fields the group already holds), only what changed is written.\n"
          "Unknown names and values a field cannot hold raise InvalidError before anything\n"
          "is written.")
      .def(
          "guess_module",
          [](const PyGroup& g) {
            const velfile::ModuleGuess r = released([&] { return g.group.guess_module(); });
            py::dict out;
            out["module"] = r.module.empty() ? py::object(py::none()) : py::object(py::str(r.module));
            out["matched"] = r.matched;
            out["unmatched"] = r.unmatched;
            out["note"] = r.note;
            return out;
          },
          "A guess of the module that wrote the group, from its item ids: a dict with the\n"
          "module (None when nothing matched), the ids matched and unmatched, and a note\n"
          "saying that this is a guess and how good it is.")
      .def(
          "walk",
          [](const PyGroup& g, const py::function& func, int maxDepth, uint64_t maxGroups,
             uint64_t maxItems) { return walkGroup(g, func, maxDepth, maxGroups, maxItems); },
          py::arg("func"), py::arg("max_depth") = 200, py::arg("max_groups") = 100000,
          py::arg("max_items") = uint64_t(1) << 22,
          "Walks the tree below this group depth-first, calling func(node) for each group\n"
          "before its sub-groups (node: a WalkNode); func returning False skips the\n"
          "sub-groups. Cycles, shared sub-groups, depth and size limits and groups that\n"
          "cannot be opened are reported once each (node.state) and not entered. Returns\n"
          "whether every group was entered.")
      .def("__repr__", [](const PyGroup& g) {
        const std::string name = released([&] { return g.group.name(); });
        return "<velfile.Group " + py::repr(py::str(g.group.path())).cast<std::string>() + " name " +
               py::repr(py::str(name)).cast<std::string>() + ">";
      });

  walkNodeClass
      .def_readonly("group", &PyWalkNode::group, "The Group, or None when the walk did not enter it.")
      .def_readonly("state", &PyWalkNode::state, "'open', 'cycle', 'shared', 'too deep', 'limit' or 'error'.")
      .def_readonly("reason", &PyWalkNode::reason, "Why it was not entered ('' when open).")
      .def_readonly("name", &PyWalkNode::name, "Its name.")
      .def_readonly("path", &PyWalkNode::path, "Its path.")
      .def_readonly("depth", &PyWalkNode::depth, "0 for the group walked from.")
      .def_readonly("index", &PyWalkNode::index, "Index of its reference in the parent's directory.")
      .def_readonly("id", &PyWalkNode::id, "Item id of that reference.")
      .def_readonly("entries", &PyWalkNode::entries, "Entries of its directory.")
      .def_readonly("directory", &PyWalkNode::directory,
                    "Offset of its directory in its section: with section_start, the directory's\n"
                    "place in the file, which a shared sub-group has in common with its first path.")
      .def_readonly("section_start", &PyWalkNode::sectionStart, "Absolute offset of its section.")
      .def("__repr__", [](const PyWalkNode& n) {
        return "<velfile.WalkNode " + py::repr(py::str(n.path)).cast<std::string>() + " " + n.state + ">";
      });

  itemClass
      .def_property_readonly(
          "id", [](const PyItem& i) { return i.item.id(); }, "The item id.")
      .def_property_readonly(
          "type", [](const PyItem& i) { return i.item.type(); }, "The item type code (see type_name).")
      .def_property_readonly(
          "type_name", [](const PyItem& i) { return velfile::type_name(i.item.type()); },
          "The item type's name ('int16', 'utf16', ...).")
      .def_property_readonly(
          "count", [](const PyItem& i) { return i.item.count(); },
          "Number of elements; for a group reference, the sub-group's entries.")
      .def_property_readonly(
          "file", [](const PyItem& i) { return PyFile{i.owner}; }, "The file of the item.")
      .def_property_readonly(
          "index", [](const PyItem& i) { return i.item.index(); }, "Position in the group's directory.")
      .def_property_readonly("value", &itemValue,
                             "The value: a str for strings; an int or float for one number; a numpy array\n"
                             "(host byte order) for several numbers, for raw bytes (uint8) and for types 8\n"
                             "and 9 (uint32 pairs, shape (count, 2)); the Group for a group reference.")
      .def("_bytes",
           [](const PyItem& i) {
             // The value as stored, elements in host order (strings too): a
             // value outside its section is refused before anything is sized.
             const size_t bytes = size_t(VelFile::file_SizeOf(i.item.type())) * i.item.count();
             if (bytes > 4) released([&] { return i.item.extent(); });
             py::array_t<uint8_t> out{py::ssize_t(bytes)};
             void* p = out.mutable_data();
             released([&] { return i.item.read(p, bytes); });
             return out;
           })
      .def("_extent",
           [](const PyItem& i) {
             return extentTuple(i.owner, released([&] {
                                  mappable(i.group);
                                  return i.item.extent();
                                }));
           })
      .def("__repr__", [](const PyItem& i) {
        return "<velfile.Item id " + std::to_string(i.item.id()) + " " + velfile::type_name(i.item.type()) +
               " x " + std::to_string(i.item.count()) + ">";
      });

  m.attr("__name__") = "velfile._velfile";
}
