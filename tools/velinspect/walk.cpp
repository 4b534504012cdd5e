// velinspect: the group walk and group paths.
#include "walk.h"

#include <velfile/velfile.h>

#include <algorithm>
#include <cstdlib>

namespace velinspect {

namespace {

const uint32_t kNameCapacity = 1024;

std::u16string units(const VelChar* name) {
  std::u16string out;
  for (size_t i = 0; i < kNameCapacity && name[i]; ++i) out.push_back(static_cast<char16_t>(name[i]));
  return out;
}

bool parseNumber(const std::string& text, uint64_t limit, uint32_t* out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  const bool isHex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, isHex ? 16 : 10);
  if (*end != 0 || v > limit) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

// A name as a path step: escaped as all text from a file is shown, and a
// slash, or a leading '#' or '[', taken literally.
std::string escapeName(const std::string& name) {
  std::string out;
  for (const char c : escaped(name)) {
    if (c == '/' || (out.empty() && (c == '#' || c == '['))) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

// A step as the path of the group it reaches shows it.
std::string stepText(const PathStep& step) {
  if (step.kind == PathStep::kName) return escapeName(step.name);
  const std::string n = std::to_string(step.number);
  return step.kind == PathStep::kId ? "#" + n : "[" + n + "]";
}

std::string given(const std::string& text) {
  return "'" + shortened(escaped(text), kPathShown) + "'";
}

}  // namespace

bool parseGroupPath(const std::string& text, GroupPath* out, std::string* error) {
  // Split at the slashes that are not escaped; escapes stay in the parts.
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      parts.back() += text.substr(i, 2);
      ++i;
    } else if (text[i] == '/') {
      parts.emplace_back();
    } else {
      parts.back().push_back(text[i]);
    }
  }
  *out = GroupPath();
  const std::string& first = parts[0];
  out->byOffset = !first.empty() && first[0] == '@';
  if (!parseNumber(out->byOffset ? first.substr(1) : first, UINT32_MAX, &out->section)) {
    *error = "group path " + given(text) + ": " + given(first) + " is not a section index or @offset";
    return false;
  }
  for (size_t k = 1; k < parts.size(); ++k) {
    const std::string& p = parts[k];
    PathStep step;
    if (p.empty()) {
      *error = "group path " + given(text) + ": empty step";
      return false;
    }
    if (p[0] == '#') {
      step.kind = PathStep::kId;
      if (!parseNumber(p.substr(1), 0xFFFF, &step.number)) {
        *error = "group path " + given(text) + ": " + given(p) + " is not an item id (0 to 65535)";
        return false;
      }
    } else if (p[0] == '[') {
      step.kind = PathStep::kIndex;
      if (p.back() != ']' || !parseNumber(p.substr(1, p.size() - 2), UINT32_MAX, &step.number)) {
        *error = "group path " + given(text) + ": " + given(p) + " is not a directory index [N]";
        return false;
      }
    } else {
      for (size_t i = 0; i < p.size();) {
        if (p[i] == '\\')
          i += unescapeAt(p, i, &step.name);
        else
          step.name.push_back(p[i++]);
      }
    }
    out->steps.push_back(step);
  }
  return true;
}

const char* stateName(Node::State s) {
  switch (s) {
    case Node::kOpen:
      return "open";
    case Node::kCycle:
      return "cycle";
    case Node::kShared:
      return "shared";
    case Node::kTooDeep:
      return "too deep";
    case Node::kLimit:
      return "limit";
    case Node::kError:
      return "error";
  }
  return "error";
}

std::vector<Section> Walker::sections() {
  std::vector<Section> out;
  const uint32_t n = VelFile::file_ItemNbrGet(file_);
  for (uint32_t i = 0; i < n; ++i) {
    Section s;
    s.index = i;
    VelChar name[kNameCapacity] = {};
    if (VelFile::file_ItemInfo(file_, i, nullptr, nullptr, &s.entries, &s.start, name, kNameCapacity) != 0)
      break;
    s.name = units(name);
    uint8_t raw[kHeaderSize];
    if (raw_->read(s.start, raw, sizeof raw)) {
      s.header = decodeHeader(raw);
      s.headerRead = true;
    }
    out.push_back(s);
  }
  return out;
}

Node Walker::rootNode(const Section& s, std::string* error) {
  Node node;
  node.isSection = true;
  node.index = s.index;
  node.path = std::to_string(s.index);
  node.name = storedText(s.name, false);
  node.sectionStart = s.start;
  node.entries = s.entries;
  node.directoryKnown = s.headerRead;
  node.directory = s.headerRead ? s.header.dirOffset : 0;
  const int rc = VelFile::file_GroupOpen(file_, &node.group, s.start);
  if (rc != VelFile::kOk) {
    node.state = Node::kError;
    node.note = "cannot open its group: " + resultText(rc);
    incomplete_ = true;
    if (error) *error = "section " + node.path + ": " + node.note;
    return node;
  }
  node.name = storedText(s.name, VelFile::file_SwapNeeded(node.group) != 0);
  node.entries = VelFile::file_ItemNbrGet(node.group);
  // A section whose header we could not read still gets a key of its own.
  const uint64_t key = s.headerRead ? uint64_t(s.start) + node.directory : (uint64_t(1) << 40) + s.index;
  ancestors_.assign(1, key);
  seen_[key] = node.path;
  ++groups_;
  items_ += node.entries;
  return node;
}

Node Walker::sectionTree(const Section& s) {
  Node node = rootNode(s, nullptr);
  if (node.state == Node::kOpen) expand(node, 0);
  return node;
}

int Walker::listRefs(void* group, std::vector<Ref>* refs) {
  const uint32_t n = VelFile::file_ItemNbrGet(group);
  const bool swapped = VelFile::file_SwapNeeded(group) != 0;
  for (uint32_t j = 0; j < n; ++j) {
    Ref r{j, 0, 0, 0, std::string()};
    uint16_t type = 0;
    VelChar name[kNameCapacity] = {};
    const int rc = VelFile::file_ItemInfo(group, j, &r.id, &type, &r.count, &r.value, name, kNameCapacity);
    if (rc != VelFile::kOk) return rc;
    if (type != VelFile::kTypeGroup) continue;
    r.name = storedText(units(name), swapped);
    refs->push_back(std::move(r));
  }
  return VelFile::kOk;
}

// The shortest step that names each reference alone: its name, else its
// id, else its directory index.
std::vector<std::string> Walker::steps(const std::vector<Ref>& refs) {
  std::map<std::string, int> names;
  std::map<uint16_t, int> ids;
  for (const Ref& r : refs) ++names[r.name], ++ids[r.id];
  std::vector<std::string> out;
  for (const Ref& r : refs) {
    if (!r.name.empty() && names[r.name] == 1)
      out.push_back(escapeName(r.name));
    else if (ids[r.id] == 1)
      out.push_back("#" + std::to_string(r.id));
    else
      out.push_back("[" + std::to_string(r.index) + "]");
  }
  return out;
}

void Walker::enter(const Node& parent, const Ref& r, int depth, Node* child) {
  child->index = r.index;
  child->id = r.id;
  child->name = r.name;
  child->sectionStart = parent.sectionStart;
  child->entries = r.count;
  child->directory = r.value;
  child->directoryKnown = true;
  const uint64_t key = uint64_t(parent.sectionStart) + r.value;
  const auto seen = seen_.find(key);
  if (std::find(ancestors_.begin(), ancestors_.end(), key) != ancestors_.end()) {
    child->state = Node::kCycle;
    child->note = "reference cycle: leads back to " + shownPath(seen->second);
  } else if (seen != seen_.end()) {
    child->state = Node::kShared;
    child->note = "same directory as " + shownPath(seen->second);
  } else if (depth > kMaxDepth) {
    child->state = Node::kTooDeep;
    child->note = "nested more than " + std::to_string(kMaxDepth) + " levels deep";
  } else if (key + uint64_t(r.count) * kEntrySize > raw_->size()) {
    child->state = Node::kError;
    child->note = "its directory (" + std::to_string(r.count) + " entries at +" + hex(r.value) +
                  ") lies past the end of the file";
  } else if (groups_ >= kMaxGroups) {
    child->state = Node::kLimit;
    child->note = "walk stopped: more than " + std::to_string(kMaxGroups) + " groups";
  } else if (items_ + r.count > kMaxItems) {
    child->state = Node::kLimit;
    child->note = "walk stopped: more than " + std::to_string(kMaxItems) + " items";
  } else {
    const int rc = VelFile::file_GroupOpen(parent.group, &child->group, r.value);
    if (rc != VelFile::kOk) {
      child->state = Node::kError;
      child->note = "cannot open: " + resultText(rc);
    } else {
      child->entries = VelFile::file_ItemNbrGet(child->group);
      seen_[key] = child->path;
      ++groups_;
      items_ += child->entries;
    }
  }
  if (child->state != Node::kOpen) incomplete_ = true;
}

void Walker::expand(Node& node, int depth) {
  std::vector<Ref> refs;
  const int rc = listRefs(node.group, &refs);
  if (rc != VelFile::kOk) {
    node.note = "cannot list its items: " + resultText(rc);
    incomplete_ = true;
  }
  const std::vector<std::string> names = steps(refs);
  for (size_t k = 0; k < refs.size(); ++k) {
    const Ref& r = refs[k];
    Node child;
    child.path = node.path + "/" + names[k];
    enter(node, r, depth + 1, &child);
    if (child.state == Node::kOpen) {
      ancestors_.push_back(uint64_t(node.sectionStart) + r.value);
      expand(child, depth + 1);
      ancestors_.pop_back();
    }
    node.children.push_back(std::move(child));
  }
}

int Walker::resolve(const GroupPath& path, const std::string& text, bool expandBelow, Node* out,
                    std::string* error) {
  const std::vector<Section> all = sections();
  const Section* section = nullptr;
  for (const Section& s : all)
    if ((path.byOffset ? s.start : s.index) == path.section) section = &s;
  if (!section) {
    *error = path.byOffset ? "no section starts at " + std::to_string(path.section)
                           : "no section " + std::to_string(path.section) + " (the file has " +
                                 std::to_string(all.size()) + ")";
    return kExitUsage;
  }
  Node current = rootNode(*section, error);
  if (current.state != Node::kOpen) return kExitDamaged;
  // The path shown keeps the section as given (a number, checked above);
  // each step is shown as the walk would name it.
  const size_t firstSlash = text.find('/');
  current.path = text.substr(0, firstSlash);
  int depth = 0;
  for (const PathStep& step : path.steps) {
    std::vector<Ref> refs;
    const int rc = listRefs(current.group, &refs);
    if (rc != VelFile::kOk) {
      *error = shownPath(current.path) + ": cannot list its items: " + resultText(rc);
      return kExitDamaged;
    }
    auto match = std::find_if(refs.begin(), refs.end(), [&](const Ref& r) {
      return step.kind == PathStep::kName ? r.name == step.name
                                          : (step.kind == PathStep::kId ? r.id : r.index) == step.number;
    });
    const std::string shown = stepText(step);
    if (match == refs.end()) {
      *error = "no group '" + shortened(shown, kNameShown) + "' in " + shownPath(current.path);
      if (step.kind == PathStep::kIndex && step.number < VelFile::file_ItemNbrGet(current.group))
        *error = "item " + shown + " of " + shownPath(current.path) + " is not a group reference";
      return kExitUsage;
    }
    Node child;
    child.path = current.path + "/" + shown;
    enter(current, *match, ++depth, &child);
    if (child.state != Node::kOpen) {
      *error = shownPath(child.path) + ": " + child.note;
      return kExitDamaged;
    }
    ancestors_.push_back(uint64_t(current.sectionStart) + match->value);
    current = std::move(child);
  }
  if (expandBelow) expand(current, depth);
  *out = std::move(current);
  return kExitOk;
}

}  // namespace velinspect
