#include "cli/runner/scan_session.h"

#include "scan/text.h"

namespace korvel::runner {

int scan_session::scan(const std::string &utf8_path)
{
    const std::u16string path = u16(utf8_path);
    state.mailbox_path = path;
    scan_state_clear_stores(&state);
    views.insert_root(path);
    return scan_driver_run(&state);
}

bool scan_session::fill(const std::string &utf8_tree_path)
{
    const tree_item item = views.find_path(u16(utf8_tree_path));
    if (item == 0) {
        return false;
    }
    folder_fill(&state, item);
    return true;
}

} // namespace korvel::runner
