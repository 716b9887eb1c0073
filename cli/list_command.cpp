// korvel-pst list FILE [FOLDER]: the rows a click on FOLDER lists, or the
// folder paths when no FOLDER is named.
#include <cstdio>

#include "cli/command_line.h"
#include "cli/mailbox.h"
#include "scan/names.h"

namespace korvel::cli {
namespace {

// A tab or line break inside a cell would split the line.
std::string cell_text(const std::u16string &text)
{
    std::string cell = runner::narrow(text);
    for (char &c : cell) {
        if (c == '\t' || c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return cell;
}

void print_fields(const std::vector<std::string> &fields)
{
    std::string line;
    for (const std::string &field : fields) {
        line += (line.empty() ? "" : "\t") + field;
    }
    std::printf("%s\n", line.c_str());
}

} // namespace

int run_list(const options &chosen)
{
    const std::string &file = chosen.operands[0];
    runner::scan_session session;
    if (chosen.operands.size() == 1) {
        std::string cause;
        const int status = scan_mailbox(session, file, chosen.quiet, cause);
        if (status != exit_done) {
            report_error(file, cause);
            return status;
        }
        std::vector<std::string> names;
        for (const auto &item : session.views.tree) {
            if (item.level == 0) {
                continue;
            }
            names.resize(static_cast<std::size_t>(item.level));
            names.back() = runner::narrow(item.text);
            std::string path;
            for (const std::string &name : names) {
                path += (path.empty() ? "" : "/") + name;
            }
            std::printf("%s\n", path.c_str());
        }
        return exit_done;
    }
    const int status = open_folder(session, file, chosen.operands[1], chosen.quiet);
    if (status != exit_done) {
        return status;
    }
    std::vector<std::string> titles;
    for (int column = 0; column < list_column_count; ++column) {
        titles.push_back(cell_text(session.views.column_titles[column]));
    }
    print_fields(titles);
    for (const auto &row : session.views.rows) {
        std::vector<std::string> fields;
        for (const auto &cell : row.cells) {
            fields.push_back(cell ? cell_text(*cell) : std::string());
        }
        print_fields(fields);
    }
    return exit_done;
}

} // namespace korvel::cli
