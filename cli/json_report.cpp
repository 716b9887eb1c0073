#include "cli/json_report.h"

#include <cstdio>
#include <regex>

#include "cli/command_line.h"

namespace korvel::cli {
namespace {

using nlohmann::json;

json unreadable_json(const std::string &folder, const std::string &what, std::size_t position,
                     const std::string &text)
{
    return {{"folder", folder},
            {"what", what},
            {"position", position == 0 ? json(nullptr) : json(position)},
            {"text", text}};
}

// A save's unreadable line ("Inbox, item 12: cannot be read") taken apart.
json save_line_json(const std::string &line)
{
    static const std::regex positioned(R"(^(.*?), (hidden item|item|folder) (\d+)(?:[:,] .*)?$)");
    static const std::regex folder_only(R"(^(.*?): .*$)");
    std::smatch match;
    if (std::regex_match(line, match, positioned)) {
        return unreadable_json(match[1], match[2], std::stoul(match[3]), line);
    }
    if (std::regex_match(line, match, folder_only)) {
        return unreadable_json(match[1], "folder", 0, line);
    }
    return unreadable_json("", "mailbox", 0, line);
}

} // namespace

json check_json(const std::vector<check_report> &reports, int status)
{
    json files = json::array();
    for (const check_report &report : reports) {
        json file = {{"file", report.file}, {"status", report.status}};
        if (!report.error.empty()) {
            file["error"] = report.error;
        }
        if (report.status == exit_done || report.status == exit_unreadable_items) {
            file["state"] = report.status == exit_done ? "intact" : "damaged";
        } else {
            file["state"] = report.status == exit_stopped ? "stopped" : "unreadable";
        }
        json folders = json::array();
        for (const folder_count &folder : report.folders) {
            folders.push_back({{"path", folder.path}, {"items", folder.items}});
        }
        json unreadable = json::array();
        for (const unreadable_entry &entry : report.unreadable) {
            unreadable.push_back(
                unreadable_json(entry.folder, entry.what, entry.position, entry.text()));
        }
        file["folders"] = std::move(folders);
        file["items"] = report.items();
        file["unreadable"] = std::move(unreadable);
        file["damage"] = report.damage;
        files.push_back(std::move(file));
    }
    return {{"command", "check"},
            {"version", KORVEL_VERSION},
            {"status", status},
            {"files", std::move(files)}};
}

json save_json(const std::vector<save_outcome> &outcomes, const std::string &command, int status)
{
    json files = json::array();
    for (const save_outcome &outcome : outcomes) {
        const convert::save_report &report = outcome.report;
        json unreadable = json::array();
        for (const std::string &line : report.unreadable) {
            unreadable.push_back(save_line_json(line));
        }
        json file = {
            {"file", outcome.file},
            {"target", outcome.target},
            {"format", outcome.format},
            {"status", outcome.status},
            {"written", outcome.status == exit_done || outcome.status == exit_unreadable_items},
            {"folders", report.folders},
            {"items", report.items},
            {"recovered", report.recovered},
            {"skipped", report.skipped},
            {"unreadable", std::move(unreadable)},
            {"notes", report.notes}};
        if (!outcome.error.empty()) {
            file["error"] = outcome.error;
        }
        files.push_back(std::move(file));
    }
    return {{"command", command},
            {"version", KORVEL_VERSION},
            {"status", status},
            {"files", std::move(files)}};
}

void print_json(const nlohmann::json &document)
{
    const std::string text = document.dump(2) + "\n";
    std::fwrite(text.data(), 1, text.size(), stdout);
}

} // namespace korvel::cli
