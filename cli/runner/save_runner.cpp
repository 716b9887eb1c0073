#include "cli/runner/save_runner.h"

#include "scan/text.h"

namespace korvel::runner {

libpff_item_t *folder_at(const scan_session &session, const std::string &utf8_tree_path)
{
    const tree_item item = session.views.find_path(u16(utf8_tree_path));
    if (item == 0) {
        return nullptr;
    }
    for (const folder_node *node = session.state.folders.head; node; node = node->next) {
        if (node->item == item) {
            return node->folder_item;
        }
    }
    return nullptr;
}

bool check_folders(const scan_session &session, const std::vector<std::string> &tree_paths,
                   convert::save_request &request, std::string &unknown)
{
    for (const std::string &path : tree_paths) {
        libpff_item_t *folder = folder_at(session, path);
        if (folder == nullptr) {
            unknown = path;
            return false;
        }
        request.folders.push_back(folder);
    }
    return true;
}

} // namespace korvel::runner
