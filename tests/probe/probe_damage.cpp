// korvel-probe damage FILE KIND OUT: writes a copy of FILE damaged the named
// way (see tests/support/pst_damage.h). korvel-probe message-ends FILE: for
// each message node of an intact file, the offset just past its last block
// (0 when a block is missing): what a cut must leave for it to survive.
#include <string>
#include <vector>

#include "tests/probe/probe.h"
#include "tests/support/pst_damage.h"

namespace korvel::probe {
namespace {

int run_damage(const std::vector<std::string> &arguments)
{
    if (arguments.size() != 3) {
        return 2;
    }
    std::vector<std::uint8_t> bytes = testing::read_bytes(arguments[0]);
    if (bytes.size() < 0x4400 || !testing::damage_by_name(arguments[1], bytes)) {
        return 2;
    }
    testing::write_bytes(arguments[2], bytes);
    return 0;
}

int run_message_ends(const std::vector<std::string> &arguments)
{
    if (arguments.size() != 1) {
        return 2;
    }
    const std::vector<std::uint8_t> bytes = testing::read_bytes(arguments[0]);
    const testing::index_view view = testing::read_index(bytes);
    for (const auto &[nid, node] : view.nodes) {
        if ((nid & 0x1F) == 0x04) {
            print_line({"message", std::to_string(nid), std::to_string(view.node_end(bytes, nid))});
        }
    }
    return view.nodes.empty() ? 1 : 0;
}

const probe_command damage_command("damage", "FILE KIND OUT", run_damage);
const probe_command message_ends_command("message-ends", "FILE", run_message_ends);

} // namespace
} // namespace korvel::probe
