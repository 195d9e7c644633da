#include "catalogue/catalogue.h"

namespace syncstatus {

namespace {

constexpr DisplayNames make_display_names() {
  DisplayNames names{};
  for (std::size_t i = 0; i < tables.size(); ++i) names[i + 1] = tables[i].display_name;
  return names;
}

constexpr DisplayNames display_names = make_display_names();

}  // namespace

int resolve_table_index(std::string_view table_key) {
  for (std::size_t i = 0; i < tables.size(); ++i) {
    if (tables[i].key == table_key) return static_cast<int>(i + 1);
  }
  return 0;
}

const DisplayNames& load_display_names() {
  return display_names;
}

}  // namespace syncstatus
