#include "catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <string>

namespace syncstatus {
namespace {

struct KeyCase {
  std::string key;
  int index;
  std::string display_name;
};

class ResolveTableIndex : public testing::TestWithParam<KeyCase> {};

TEST_P(ResolveTableIndex, GivesIndexAndDisplayName) {
  const KeyCase& c = GetParam();
  const int index = resolve_table_index(c.key);
  EXPECT_EQ(index, c.index);
  EXPECT_EQ(load_display_names().at(static_cast<std::size_t>(index)), c.display_name);
}

INSTANTIATE_TEST_SUITE_P(
    AllSixteenKeys, ResolveTableIndex,
    testing::Values(KeyCase{"kemployee", 1, "Employee"}, KeyCase{"kunits", 2, "Unit"},
                    KeyCase{"ksetupstates", 3, "Setup State"},
                    KeyCase{"kqteams", 4, "Qualified Team"}, KeyCase{"kmachines", 5, "Machine"},
                    KeyCase{"kitems", 6, "Item"}, KeyCase{"kcustitems", 7, "Customized Item"},
                    KeyCase{"kroutings", 8, "Routing"},
                    KeyCase{"kcustroutings", 9, "Customized Routing"},
                    KeyCase{"kmpsorders", 10, "MPS Order"}, KeyCase{"kprporders", 11, "PRP Order"},
                    KeyCase{"kmrporders", 12, "MRP Order"}, KeyCase{"ksfcorders", 13, "SFC Order"},
                    KeyCase{"kitemstock", 14, "Item Stock Level"},
                    KeyCase{"kcustitemstock", 15, "Customized Item Stock Level"},
                    KeyCase{"kpurorders", 16, "Purchase Order"}));

// Keys that almost name a table must name none: the heading then shows an
// empty display name.
INSTANTIATE_TEST_SUITE_P(NearMisses, ResolveTableIndex,
                         testing::Values(KeyCase{"", 0, ""}, KeyCase{"KROUTINGS", 0, ""},
                                         KeyCase{"kRoutings", 0, ""}, KeyCase{" kroutings", 0, ""},
                                         KeyCase{"kroutings ", 0, ""}, KeyCase{"routings", 0, ""},
                                         KeyCase{"kitem", 0, ""}, KeyCase{"kitemstocks", 0, ""},
                                         KeyCase{"kcustitem", 0, ""}, KeyCase{"kroutings\n", 0, ""},
                                         KeyCase{std::string("kroutings\0x", 11), 0, ""},
                                         KeyCase{std::string(200, 'k'), 0, ""}));

TEST(LoadDisplayNames, RowZeroIsEmpty) {
  EXPECT_EQ(load_display_names()[0], "");
}

}  // namespace
}  // namespace syncstatus
