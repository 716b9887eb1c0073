// korvel-pst check FILE...: the scan, then one pass over every folder's
// messages and sub-folders, reading nothing but what the tree and the list
// would show.
#include <cstdio>

#include "cli/check_report.h"
#include "cli/command_line.h"
#include "cli/interrupt.h"
#include "cli/json_report.h"
#include "cli/mailbox.h"
#include "cli/progress.h"
#include "scan/folder_messages.h"
#include "scan/pff_values.h"
#include "scan/text.h"

namespace korvel::cli {
namespace {

const folder_node *node_of(const runner::scan_session &session, tree_item item)
{
    for (const folder_node *node = session.state.folders.head; node; node = node->next) {
        if (node->item == item) {
            return node;
        }
    }
    return nullptr;
}

// Counts one folder's messages and tries its sub-folders. Returns false when
// a Ctrl-C ended the walk (the scan's handle sees the stop).
bool count_folder(export_handle_t *handle, libpff_item_t *folder, folder_count &count,
                  check_report &report)
{
    error_slot error;
    const int walked = export_handle_walk_sub_messages(
        handle, folder,
        [&count](libpff_item_t *, int) {
            ++count.items;
            return 1;
        },
        [&](int index) {
            report.unreadable.push_back({count.path, "item", static_cast<std::size_t>(index) + 1});
        },
        error.get());
    if (walked == 0 || interrupted()) {
        return false;
    }
    if (walked == -1) {
        report.unreadable.push_back({count.path, "items", 0});
    }
    int sub_folders = 0;
    if (libpff_folder_get_number_of_sub_folders(folder, &sub_folders, error.get()) != 1) {
        report.unreadable.push_back({count.path, "sub-folders", 0});
        return true;
    }
    for (int i = 0; i < sub_folders; ++i) {
        item_holder sub;
        if (libpff_folder_get_sub_folder(folder, i, sub.out(), error.get()) != 1) {
            report.unreadable.push_back({count.path, "folder", static_cast<std::size_t>(i) + 1});
        }
    }
    return true;
}

void print_report(const check_report &report)
{
    if (report.status == exit_unreadable_file) {
        return; // said on standard error
    }
    std::printf("%s: %s: %zu folders, %zu items, %zu unreadable\n", report.file.c_str(),
                report.status == exit_done ? "intact" : "damaged but read", report.folders.size(),
                report.items(), report.unreadable.size());
    std::printf("%8s  %s\n", "items", "folder");
    for (const folder_count &folder : report.folders) {
        const std::size_t slash = folder.path.rfind('/');
        const std::string name =
            slash == std::string::npos ? folder.path : folder.path.substr(slash + 1);
        std::printf("%8zu  %s%s\n", folder.items,
                    std::string(2 * static_cast<std::size_t>(folder.level - 1), ' ').c_str(),
                    name.c_str());
    }
    if (!report.unreadable.empty()) {
        std::printf("unreadable:\n");
        for (const unreadable_entry &entry : report.unreadable) {
            std::printf("  %s\n", entry.text().c_str());
        }
    }
    if (!report.damage.empty()) {
        std::printf("damage:\n");
        for (const std::string &line : report.damage) {
            std::printf("  %s\n", line.c_str());
        }
    }
}

check_report check_file(const std::string &path, bool quiet)
{
    check_report report;
    report.file = path;
    runner::scan_session session;
    report.status = scan_mailbox(session, path, quiet, report.error);
    if (report.status != exit_done) {
        return report;
    }
    report.damage = session.state.rebuild_report;
    if (!count_folders(session, quiet, report)) {
        report.status = exit_stopped;
        report.error = "stopped";
    } else if (!report.unreadable.empty() || !report.damage.empty()) {
        report.status = exit_unreadable_items;
    }
    return report;
}

} // namespace

std::string unreadable_entry::text() const
{
    if (position == 0) {
        return folder + ": its " + what + " cannot be read";
    }
    return folder + ", " + what + " " + std::to_string(position) + ": cannot be read";
}

std::size_t check_report::items() const
{
    std::size_t total = 0;
    for (const folder_count &folder : folders) {
        total += folder.items;
    }
    return total;
}

bool count_folders(runner::scan_session &session, bool quiet, check_report &report)
{
    std::lock_guard<std::recursive_mutex> lock(session.state.mailbox_mutex);
    progress_meter meter(quiet, base_name(report.file) + ": counting");
    meter.set_count_items(true);
    // The tree lists the folders in walk order, each after its parent.
    std::vector<std::string> names;
    const auto &tree = session.views.tree;
    std::size_t done = 0;
    for (const auto &item : tree) {
        ++done;
        if (item.level == 0) {
            continue;
        }
        if (interrupted()) {
            return false;
        }
        const auto level = static_cast<std::size_t>(item.level);
        names.resize(level);
        names[level - 1] = runner::narrow(item.text);
        folder_count count;
        for (const std::string &name : names) {
            count.path += (count.path.empty() ? "" : "/") + name;
        }
        count.level = item.level;
        const folder_node *node = node_of(session, item.handle);
        if (node && !count_folder(session.state.export_handle, node->folder_item, count, report)) {
            return false;
        }
        report.folders.push_back(count);
        meter.update(static_cast<int>(done * 100 / tree.size()), report.items());
    }
    return true;
}

int run_check(const options &chosen)
{
    std::vector<check_report> reports;
    int status = exit_done;
    for (const std::string &path : chosen.operands) {
        check_report report = check_file(path, chosen.quiet);
        if (!report.error.empty()) {
            report_error(path, report.error);
        }
        status = worse(status, report.status);
        if (!chosen.json) {
            print_report(report);
        }
        reports.push_back(std::move(report));
        if (status == exit_stopped) {
            break;
        }
    }
    if (chosen.json) {
        print_json(check_json(reports, status));
    }
    return status;
}

} // namespace korvel::cli
