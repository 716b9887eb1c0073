// A click on a listed e-mail until the pane is told where to go: the page
// builder's whole run (re-export through libpff, attachment files, header,
// body and frameset pages) for a typical e-mail with two attachments, written
// by our own writer. The browser's rendering is not part of it.
//
//   bench_preview WORKDIR [RUNS]
//
// Prints the median and the slowest tenth of RUNS previews (goal: median at
// most 50 ms).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/writer/pst_writer.h"
#include "bench/counting_views.h"
#include "preview/preview_builder.h"
#include "scan/item_export.h"
#include "scan/scan_state.h"
#include "scan/text.h"

namespace {

using namespace korvel;

// One e-mail as mail usually comes: a sender, three recipients, an HTML body
// with its plain-text twin, a document and a picture.
void write_mailbox(const std::string &path)
{
    convert::pst_writer writer(path);
    convert::property_bag folder;
    folder.set_unicode(0x3001, std::string_view("Inbox"));
    const std::uint32_t inbox = writer.add_folder(writer.root_folder(), folder);

    convert::message mail("IPM.Note");
    mail.set_unicode(0x0037, "Quarterly figures and the venue");
    mail.set_unicode(0x0C1A, "Ann Smith");
    mail.set_unicode(0x0C1F, "ann.smith@example.com");
    mail.set_long(0x0E07, 1);
    mail.set_long(0x0017, 1);
    mail.set_systime(0x0E06, convert::filetime_from_unix(1262699107));
    mail.add_recipient(1, "Bo Lee", "bo.lee@example.com");
    mail.add_recipient(1, "Cy Park", "cy.park@example.com");
    mail.add_recipient(2, "Dee Ross", "dee.ross@example.com");
    std::string html = "<html><body><p>Hello all,</p>";
    std::string text = "Hello all,\n";
    while (html.size() < 12000) {
        html += "<p>Please find the figures for the quarter attached, with the map to the venue "
                "<b>below</b>.</p>";
        text += "Please find the figures for the quarter attached, with the map to the venue.\n";
    }
    html += "<img src=\"cid:map@example.com\"></body></html>";
    mail.set_html(html);
    mail.set_body(text);
    mail.add_attachment("figures.pdf", convert::data_source::pattern(180 * 1024, 1));
    mail.add_attachment("map.jpg", convert::data_source::pattern(60 * 1024, 2))
        .set_unicode(0x3712, "map@example.com");
    writer.add_message(inbox, mail);
    writer.finish();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_preview WORKDIR [RUNS]\n");
        return 2;
    }
    const std::string directory = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
    std::filesystem::create_directories(directory + "/preview-tmp");
    const std::string mailbox = directory + "/preview.pst";
    write_mailbox(mailbox);

    bench::counting_views views;
    views.root = 1;
    views.items.emplace_back(0, u16(mailbox));
    scan_state state;
    state.views = &views;
    state.mailbox_path = u16(mailbox);
    if (scan_driver_run(&state) != 1) {
        return 1;
    }
    const tree_item inbox = views.find(u"Inbox");
    folder_fill(&state, inbox);
    if (state.records.head == nullptr) {
        std::fprintf(stderr, "no e-mail listed\n");
        return 1;
    }
    // What the list shows in columns 0 and 1 of the row.
    const std::u16string sequence = u16(std::to_string(state.records.head->sequence));
    const std::u16string kind = state.records.head->kind;
    export_message_values().temporary_directory = directory + "/preview-tmp";

    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(runs));
    preview_outcome outcome;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        preview_selected_item(&state, sequence, kind, outcome);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (!outcome.navigate || outcome.content_ids.size() != 1) {
            std::fprintf(stderr, "the preview did not come out as expected\n");
            return 1;
        }
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    const double slow = times[times.size() * 9 / 10];
    std::printf("preview of an e-mail with two attachments (240 KiB): median %.2f ms, "
                "90th percentile %.2f ms over %d runs (goal: median <= 50 ms)\n",
                median, slow, runs);
    return 0;
}
