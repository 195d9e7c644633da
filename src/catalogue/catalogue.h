// The tables whose synchronization status the program reports.
#ifndef SYNCSTATUS_CATALOGUE_CATALOGUE_H_
#define SYNCSTATUS_CATALOGUE_CATALOGUE_H_

#include <array>
#include <cstddef>
#include <string_view>

namespace syncstatus {

/// Number of known tables; table indexes run from 1 to kTableCount.
inline constexpr std::size_t kTableCount = 16;

/// One known table: the key that names it on the command line and the
/// singular display name that its section heading shows.
struct Table {
  std::string_view key;
  std::string_view display_name;
};

/// The catalogue in index order; entry i - 1 is the table of index i.
inline constexpr std::array<Table, kTableCount> tables = {{
    {"kemployee", "Employee"},
    {"kunits", "Unit"},
    {"ksetupstates", "Setup State"},
    {"kqteams", "Qualified Team"},
    {"kmachines", "Machine"},
    {"kitems", "Item"},
    {"kcustitems", "Customized Item"},
    {"kroutings", "Routing"},
    {"kcustroutings", "Customized Routing"},
    {"kmpsorders", "MPS Order"},
    {"kprporders", "PRP Order"},
    {"kmrporders", "MRP Order"},
    {"ksfcorders", "SFC Order"},
    {"kitemstock", "Item Stock Level"},
    {"kcustitemstock", "Customized Item Stock Level"},
    {"kpurorders", "Purchase Order"},
}};

/// Display names addressed by table index: row 0 is the empty name of a key
/// that names no table, rows 1 to 16 are the catalogue's.
using DisplayNames = std::array<std::string_view, kTableCount + 1>;

/// Returns the index (1 to 16) of the table whose key equals `table_key`
/// byte for byte, or 0 when no key does. No trimming, no case folding.
int resolve_table_index(std::string_view table_key);

/// Returns the display names by table index (row 0 empty).
const DisplayNames& load_display_names();

}  // namespace syncstatus

#endif  // SYNCSTATUS_CATALOGUE_CATALOGUE_H_
