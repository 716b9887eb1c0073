// Any bytes as a mailbox file: the scan, a fill of each folder and the whole
// preview of every listed row, as a click on it runs it (re-read, header
// page, body file, attachments, frameset), must end cleanly.
#include <cstddef>
#include <cstdint>

#include "preview/preview_builder.h"
#include "tests/fuzz/fuzz_scan.h"

namespace {

// Bounds the work per input: a damaged file may claim any number of items.
constexpr std::size_t rows_previewed = 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace korvel;
    fuzzing::scan_and_fill(data, size, [](scan_state &state, const fuzzing::row_views &views) {
        // A preview can add rows (an attached message): walk a copy.
        const auto rows = views.rows;
        for (std::size_t i = 0; i < rows.size() && i < rows_previewed; ++i) {
            preview_outcome outcome;
            preview_selected_item(&state, rows[i].first, rows[i].second, outcome);
        }
    });
    return 0;
}
