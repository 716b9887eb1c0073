// korvel-probe tree FILE: the scan's message boxes, then its tree inserts.
// korvel-probe list FILE [PATH]: the list after the scan, or after a click on
// the folder at tree PATH.
#include <string>
#include <vector>

#include "tests/probe/probe.h"
#include "tests/support/scan_session.h"

namespace korvel::probe {
namespace {

using korvel::testing::narrow;

void print_messages(const korvel::testing::recording_views &views)
{
    for (const auto &message : views.messages) {
        print_line({"message", narrow(message.caption), narrow(message.text)});
    }
}

int run_tree(const std::vector<std::string> &arguments)
{
    if (arguments.size() != 1) {
        return 2;
    }
    korvel::testing::scan_session session;
    session.scan(arguments[0]);
    print_messages(session.views);
    for (const auto &item : session.views.tree) {
        print_line({"item", std::to_string(item.level), std::to_string(item.image),
                    item.bold ? "1" : "0", narrow(item.text)});
    }
    return 0;
}

int run_list(const std::vector<std::string> &arguments)
{
    if (arguments.empty() || arguments.size() > 2) {
        return 2;
    }
    korvel::testing::scan_session session;
    session.scan(arguments[0]);
    if (arguments.size() == 2 && !session.fill(arguments[1])) {
        std::fprintf(stderr, "korvel-probe: no folder %s\n", arguments[1].c_str());
        return 1;
    }
    print_line(
        {"titles", narrow(session.views.column_titles[2]), narrow(session.views.column_titles[3])});
    for (const auto &row : session.views.rows) {
        std::vector<std::string> fields{"row"};
        for (const auto &cell : row.cells) {
            fields.push_back(cell ? narrow(*cell) : std::string());
        }
        print_line(fields);
    }
    return 0;
}

const probe_command tree_command("tree", "FILE", run_tree);
const probe_command list_command("list", "FILE [PATH]", run_list);

} // namespace
} // namespace korvel::probe
