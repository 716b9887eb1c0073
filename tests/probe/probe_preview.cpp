// korvel-probe preview FILE PATH N: scans FILE, fills the folder at tree PATH
// and previews the listed row whose sequence number is N through the same
// page builder the window calls, then prints every file of the working
// directory (file<TAB>name<TAB>size<TAB>sha256, by name) and where the pane
// would go (navigate<TAB>path, or navigate<TAB>(none)).
#include <cstdio>
#include <string>
#include <vector>

#include "preview/preview_builder.h"
#include "scan/files.h"
#include "scan/text.h"
#include "tests/probe/probe.h"
#include "tests/probe/probe_files.h"
#include "tests/support/scan_session.h"

namespace korvel::probe {
namespace {

using korvel::testing::narrow;

int run_preview(const std::vector<std::string> &arguments)
{
    if (arguments.size() != 3) {
        return 2;
    }
    korvel::testing::scan_session session;
    session.scan(arguments[0]);
    if (!session.fill(arguments[1])) {
        std::fprintf(stderr, "korvel-probe: no folder %s\n", arguments[1].c_str());
        return 1;
    }
    // The row is picked as a click picks it: by the text of its first column.
    const std::u16string sequence = u16(arguments[2]);
    const korvel::testing::recorded_row *row = nullptr;
    for (const korvel::testing::recorded_row &candidate : session.views.rows) {
        if (candidate.cells[0] && *candidate.cells[0] == sequence) {
            row = &candidate;
            break;
        }
    }
    if (row == nullptr) {
        std::fprintf(stderr, "korvel-probe: no row %s\n", arguments[2].c_str());
        return 1;
    }
    preview_outcome outcome;
    preview_selected_item(&session.state, *row->cells[0],
                          row->cells[1] ? *row->cells[1] : std::u16string(), outcome);
    print_files(working_directory());
    print_line({"navigate", outcome.navigate ? escaped(narrow(outcome.path)) : "(none)"});
    return 0;
}

const probe_command preview_command("preview", "FILE PATH N", run_preview);

} // namespace
} // namespace korvel::probe
