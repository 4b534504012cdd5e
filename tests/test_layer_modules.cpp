// Module descriptors through the C++ layer: every module's fields written
// by name and read back, what-changed writes, refusals, the typed path and
// the module guess.
#include <velfile/ggate.h>

#include <set>
#include <velfile/velfile.hpp>

#include "testutil.h"

using velfile::Error;
using velfile::File;
using velfile::Group;
using velfile::Reason;
using velfile::Value;
using Values = std::vector<std::pair<std::string, Value>>;

namespace {

// Values every module accepts: small integers (the data module validates
// its enumerations), reals within the bounded float, short texts, and one
// pair of points for the array fields.
Value sample(const velfile::Field& f, size_t i, const Value& current) {
  if (f.name == "groupName") return std::string("G") + std::to_string(i);
  if (std::holds_alternative<int64_t>(current)) return int64_t(i % 2);
  if (std::holds_alternative<double>(current)) return 0.5 + double(i % 3);
  if (std::holds_alternative<std::string>(current)) return "t" + std::to_string(i);
  return std::vector<double>{1.5, -2.5};
}

class LayerModules : public vt::VelTest {};

TEST_F(LayerModules, EveryModulesDescriptorByName) {
  // Fields a module sets itself on writing, or keeps one-shot.
  const std::set<std::string> kModuleOwned = {"layoutVersion", "thicknessMeasurement"};
  ASSERT_EQ(21u, velfile::modules().size());
  File f = File::create(path("modules.A01"));
  Group section = f.create_group("Modules");
  std::vector<Values> written;
  for (const velfile::ModuleSchema& m : velfile::modules()) {
    Group g = section.create_group("G0", 1);
    const Values defaults = g.read_descriptor(m.name);
    ASSERT_EQ(m.fields.size(), defaults.size()) << m.name;
    Values values;
    for (size_t i = 0; i < m.fields.size(); ++i) {
      const velfile::Field& fd = m.fields[i];
      // The count and the points follow each other: one pair of each.
      if (fd.name == "pointCount" || fd.name == "depthEntryCount") {
        values.emplace_back(fd.name, int64_t(1));
      } else if (fd.name == "groupName" && m.name == "dac") {
        values.emplace_back(fd.name, std::string("G0"));  // the DAC module leaves the name alone
      } else {
        values.emplace_back(fd.name, sample(fd, i, defaults[i].second));
      }
    }
    g.write_descriptor(m.name, values);
    written.push_back(values);
    const velfile::ModuleGuess guess = g.guess_module();
    EXPECT_EQ(0u, guess.unmatched) << m.name << ": " << guess.module;
    EXPECT_NE(std::string::npos, guess.note.find("guess")) << m.name;
  }
  f.close();
  File r = File::open(path("modules.A01"));
  const std::vector<Group> groups = r.group("0").groups();
  ASSERT_EQ(21u, groups.size());
  for (size_t k = 0; k < groups.size(); ++k) {
    const std::string name = velfile::modules()[k].name;
    const Values got = groups[k].read_descriptor(name);
    for (size_t i = 0; i < got.size(); ++i) {
      if (!kModuleOwned.count(got[i].first)) {
        EXPECT_EQ(written[k][i].second, got[i].second) << name << " " << got[i].first;
      }
    }
  }
}

TEST_F(LayerModules, ChangesUnknownFieldsAndTypedDescriptors) {
  File f = File::create(path("probe.A01"));
  Group g = f.create_group("S").create_group("Probe");
  const Values before = {{"item3", 2.0}, {"item4", 3.0}};
  Values after = before;
  after[1].second = 4.0;
  g.write_descriptor("probe", after, &before);
  std::vector<uint16_t> ids;
  for (const velfile::Item& it : g.items()) ids.push_back(it.id());
  EXPECT_EQ((std::vector<uint16_t>{10000, 1, 9999, 4}), ids) << "the name, the unconditional items, item 4";
  const std::vector<std::pair<Values, std::string>> refused = {
      {{{"nope", int64_t(1)}}, "module 'probe' has no such field (it has groupName, item1, layoutVersion"},
      {{{"item1", 0.5}}, "field 'item1'"},
      {{{"groupName", std::string(40, 'x')}}, "at most 31 elements"},
  };
  for (const auto& c : refused) {
    try {
      g.write_descriptor("gprobe", c.first);
      ADD_FAILURE() << c.second;
    } catch (const Error& e) {
      EXPECT_EQ(Reason::Invalid, e.reason()) << e.what();
      EXPECT_NE(std::string::npos, std::string(e.what()).find(c.second)) << e.what();
    }
  }
  EXPECT_THROW(g.read_descriptor("sonar"), Error);
  CGGateTypeDescr gate;
  gate.item6 = 12.5f;
  gate.SetOriginalPosition(7);
  Group gg = g.create_group("Gate A");
  gg.write(gate);
  const CGGateTypeDescr back = gg.read<CGGateTypeDescr>();
  EXPECT_EQ(12.5f, back.item6);
  EXPECT_EQ(7, back.GetOriginalPosition());
  EXPECT_EQ(int64_t(7), std::get<int64_t>(gg.read_descriptor("gate").at(15).second));
}

}  // namespace
