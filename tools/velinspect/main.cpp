// velinspect: looks into container files. It reads them through the
// library's public API only; the check command alone parses the raw bytes,
// to find damage the library would merely refuse.
#include <velfile/velfile.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <new>

#include "commands.h"
#include "common.h"

namespace {

// Diagnostic reports are meant for host developers; the tool stays quiet.
void quietDiagnostics(const char*, int) {}

const char kPathHelp[] =
    "Group paths (--group):\n"
    "  PATH = SECTION{/STEP}\n"
    "  SECTION  index of the section in file order (0, 1, ...), or @START, its\n"
    "           start offset in the file\n"
    "  STEP     NAME    the first sub-group with that name\n"
    "           #ID     the first group reference with that item id\n"
    "           [N]     the group reference at directory index N\n"
    "  A NAME is written as tree and dump show text (see below); a backslash\n"
    "  before any other character takes it literally (a\\/b is the name \"a/b\").\n"
    "  Numbers are decimal or 0x hexadecimal. tree and dump print the path of\n"
    "  every group. Examples: 0  @0x1f8/Probes  0/Probes/#12  1/[3]/[0]\n";

std::string textHelp() {
  using velinspect::kNameShown;
  using velinspect::kPathShown;
  return "Text from the file (names, paths, strings) is shown escaped, so that it\n"
         "cannot act on a terminal: \\\\ and \\\" for a backslash and a double quote,\n"
         "\\n \\r \\t, \\xNN for any other control character and for a byte that is\n"
         "not valid UTF-8, \\uXXXX for C1 controls, line separators and direction\n"
         "marks. In text output a name longer than " +
         std::to_string(kNameShown) + " characters or a path longer than\n" + std::to_string(kPathShown) +
         " (an escape counts as one) keeps its start and end, with \"...\" in place\n"
         "of the middle. JSON output holds the full text.\n";
}

const char kTreeHelp[] =
    "Prints every section (start offset, byte order, string format, entry count,\n"
    "size) and, indented below it, the tree of its groups: path, name, item id of\n"
    "the group reference and item count. Groups that cannot be entered (damaged,\n"
    "a reference cycle, nested too deep) are listed with the reason.\n";

const char kDumpHelp[] =
    "Prints every item of the chosen groups: directory index, item id, type,\n"
    "count, the value decoded by its type, and where a value that does not stand\n"
    "in the directory lies (+offset in the section, and in the file). Without\n"
    "--group every group of every section is shown; with it, that group and the\n"
    "groups below it. Arrays are cut after --max-elements elements, strings after\n"
    "4096 characters, raw bytes are shown in hex. Narrow strings are shown as\n"
    "UTF-8 when they are valid UTF-8, else byte by byte as Latin-1.\n";

const char kCheckHelp[] =
    "Validates the whole file from its raw bytes: every section header, directory,\n"
    "value and group reference lies in the file and in its section and is\n"
    "8-aligned; every group starts with its name item (id 10000, a terminated\n"
    "string); no group reference leads back to a group above it; no two headers,\n"
    "directories or values overlap. In each section header it checks the\n"
    "byte-order marker (0x11223344), the format version (3), the string format\n"
    "(1 utf16 or 0 narrow), the entry count, directory offset and section size (a\n"
    "multiple of 8), and the two reserved words (0). A partial section header\n"
    "after the last section marks a file cut short and is a problem; other bytes\n"
    "there are a note. Prints one line per problem, starting with the file offset\n"
    "where it lies, then a summary line.\n";

const char kExtractHelp[] =
    "Writes the value bytes of one item (--item ID or --index N) to OUT, numbers\n"
    "and UTF-16 text in this machine's byte order, or a bulk block of the\n"
    "group's section (--offset and --size, relative to the section start;\n"
    "--type T swaps its elements as items of type T, a name as dump shows it\n"
    "(int16, float32, ...) or its number; default raw: bytes as stored). On a\n"
    "terminal a progress bar follows copies of 1 MiB and more. OUT is replaced\n"
    "only once everything was read: a regular file (also through a link) is\n"
    "written beside it and renamed over it, keeping its mode; - (standard\n"
    "output) and special files are written directly. OUT may not be FILE. A\n"
    "value or block that does not lie inside its section is not read (exit 1).\n";

std::string footer(const char* what, bool paths) {
  return std::string("\n") + what + (paths ? std::string("\n") + kPathHelp : "") + "\n" + textHelp() + "\n" +
         velfile_exit::exitHelp(true);
}

int run(int argc, char** argv) {
  using namespace velinspect;

  CLI::App app{"velinspect: shows, checks and extracts the contents of container files."};
  app.footer(std::string("\nRun velinspect COMMAND --help for the details of a command.\n\n") + kPathHelp +
             "\n" + textHelp() + "\n" + velfile_exit::exitHelp(true));
  app.set_version_flag("--version", "velinspect " VELINSPECT_VERSION);
  app.require_subcommand(1);
  // Options are --long or -s on every platform, so that a path that starts
  // with / (which CLI11 takes for an option on Windows) is a path.
  app.allow_windows_style_options(false);

  std::string file;
  bool json = false;

  CLI::App* tree = app.add_subcommand("tree", "sections and the tree of groups in them");
  tree->footer(footer(kTreeHelp, false));
  tree->add_option("FILE", file, "container file")->required();
  tree->add_flag("--json", json, "write JSON instead of text");

  DumpOptions dump;
  CLI::App* dumpCmd = app.add_subcommand("dump", "every item of the chosen groups, with its value");
  dumpCmd->footer(footer(kDumpHelp, true));
  dumpCmd->add_option("FILE", dump.file, "container file")->required();
  CLI::Option* dumpGroup = dumpCmd->add_option("--group,-g", dump.group, "group path (see below)");
  dumpCmd
      ->add_option("--max-elements,-n", dump.maxElements, "show at most N elements of an array (default 16)")
      ->check(CLI::Range(size_t(0), size_t(1) << 24));
  dumpCmd->add_flag("--json", dump.json, "write JSON instead of text");

  CLI::App* check =
      app.add_subcommand("check", "validate the whole file: exit 0 sound, 1 damaged, 2 unreadable");
  check->footer(footer(kCheckHelp, false));
  check->add_option("FILE", file, "container file")->required();

  ExtractOptions ex;
  uint32_t itemId = 0, itemIndex = 0;
  CLI::App* extract = app.add_subcommand("extract", "write an item's value or a bulk block to a file");
  extract->footer(footer(kExtractHelp, true));
  extract->add_option("FILE", ex.file, "container file")->required();
  extract
      ->add_option("--group,-g", ex.group, "group path (see below); for a block, the group's section is used")
      ->required();
  CLI::Option* item = extract->add_option("--item", itemId, "item id (the first item with this id)")
                          ->check(CLI::Range(0, 65535));
  CLI::Option* index = extract->add_option("--index", itemIndex, "item directory index");
  CLI::Option* offset =
      extract->add_option("--offset", ex.offset, "block offset, relative to the section start");
  CLI::Option* size = extract->add_option("--size", ex.size, "block size in bytes");
  std::string typeText;
  CLI::Option* type = extract->add_option("--type", typeText,
                                          "item type of the block's elements (int16, float32, ... or a "
                                          "number), which sets the byte swapping (default raw)");
  extract->add_option("-o,--output", ex.out, "output file, - for standard output")->required();
  item->excludes(index)->excludes(offset)->excludes(size)->excludes(type);
  index->excludes(offset)->excludes(size)->excludes(type);
  offset->needs(size);
  size->needs(offset);
  type->needs(size);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }

  if (tree->parsed()) return runTree(file, json);
  if (dumpCmd->parsed()) {
    dump.groupGiven = dumpGroup->count() > 0;
    return runDump(dump);
  }
  if (check->parsed()) return runCheck(file);
  ex.byId = item->count() > 0;
  ex.byIndex = index->count() > 0;
  ex.item = ex.byId ? itemId : itemIndex;
  // dump shows a code without a name as "type N", which the layer's table
  // does not read back.
  const bool numbered = typeText.compare(0, 5, "type ") == 0;
  const int typeCode = type->count() > 0 ? velfile::type_from_name(numbered ? typeText.substr(5) : typeText)
                                         : VelFile::kTypeRaw;
  if (typeCode < 0) {
    std::cerr << "velinspect extract: --type " << escaped(typeText)
              << " is no item type: give a name as dump shows it (int16, float32, ...) or a number\n";
    return kExitUsage;
  }
  ex.type = static_cast<uint16_t>(typeCode);
  if (!ex.byId && !ex.byIndex && offset->count() == 0) {
    std::cerr << "velinspect extract: give --item ID, --index N, or --offset and --size\n";
    return kExitUsage;
  }
  return runExtract(ex);
}

}  // namespace

// Nothing escapes as an abort: a run that cannot complete says so and ends
// with its own exit code.
int main(int argc, char** argv) {
  VelFile::SetDiagnosticHook(&quietDiagnostics);
  try {
    return run(argc, argv);
  } catch (const velfile::Error& e) {
    return velinspect::report(e);
  } catch (const std::bad_alloc&) {
    std::fputs("velinspect: out of memory: the run could not complete\n", stderr);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "velinspect: the run could not complete: %s\n",
                 velinspect::escaped(e.what()).c_str());
  } catch (...) {
    std::fputs("velinspect: the run could not complete: unexpected error\n", stderr);
  }
  return velinspect::kExitAborted;
}
