// Any bytes as a mailbox file: the scan, a fill of every folder and the
// preview-time export of every listed item must end cleanly. libpff reads the
// format; this target watches our engine over whatever libpff makes of it.
#include <cstddef>
#include <cstdint>

#include "scan/item_kinds.h"
#include "tests/fuzz/fuzz_scan.h"

namespace {

// Bounds the work per input: a damaged file may claim any number of items.
constexpr int items_exported = 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using namespace korvel;
    fuzzing::scan_and_fill(data, size, [](scan_state &state, const fuzzing::row_views &) {
        message_values &values = export_message_values();
        int exported = 0;
        for (const item_record *record = state.records.head;
             record != nullptr && exported < items_exported; record = record->next, ++exported) {
            message_values_clear(&values);
            message_values_reset_body(&values);
            export_record_item(&state, record);
        }
        remove_directory(fuzzing::scratch() + "/Attachments");
    });
    return 0;
}
