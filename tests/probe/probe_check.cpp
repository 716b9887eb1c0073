// korvel-probe check FILE: the damage report of the index rebuild, run on the
// file whatever state its index is in.
#include <string>
#include <vector>

#include "scan/recovery/index_rebuild.h"
#include "tests/probe/probe.h"

namespace korvel::probe {
namespace {

int run_check(const std::vector<std::string> &arguments)
{
    if (arguments.size() != 1) {
        return 2;
    }
    recovery::rebuilt_index index;
    recovery::damage_report report;
    const int result = recovery::recovery_rebuild_index(arguments[0], {}, &index, &report);
    const recovery::scan_result &scan = report.scan;
    if (result != 1) {
        print_line({"no index found"});
        print_line({"blocks found", std::to_string(scan.blocks.size())});
        print_line({"message contexts", std::to_string(scan.message_blocks.size())});
        print_line({"folder contexts", std::to_string(scan.folder_blocks.size())});
        return 1;
    }
    print_line({"layout", report.unicode ? "unicode" : "ansi"});
    print_line({"size", std::to_string(report.file_size)});
    print_line({"header end", std::to_string(report.header_file_eof)});
    for (const recovery::byte_range &range : scan.failed) {
        print_line({"failing", std::to_string(range.begin), std::to_string(range.end)});
    }
    print_line({"failing bytes", std::to_string(scan.failed_bytes)});
    print_line({"node pages", std::to_string(scan.nbt_pages)});
    print_line({"block pages", std::to_string(scan.bbt_pages)});
    print_line({"map pages", std::to_string(scan.map_pages)});
    print_line({"blocks found", std::to_string(scan.blocks.size())});
    print_line({"message contexts", std::to_string(scan.message_blocks.size())});
    print_line({"folder contexts", std::to_string(scan.folder_blocks.size())});
    print_line({"nodes rebuilt", std::to_string(report.nodes)});
    print_line({"blocks rebuilt", std::to_string(report.blocks)});
    print_line({"blocks from trailers", std::to_string(report.blocks_from_trailers)});
    print_line({"folders", std::to_string(report.folders)});
    print_line({"items", std::to_string(report.messages)});
    print_line({"items recovered", std::to_string(report.lost.size())});
    return 0;
}

const probe_command check_command("check", "FILE", run_check);

} // namespace
} // namespace korvel::probe
