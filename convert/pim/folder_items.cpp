#include "convert/pim/folder_items.h"

#include "scan/folder_messages.h"
#include "scan/pff_values.h"

namespace korvel::convert {

int folder_write_items(libpff_item_t *folder, std::ostream &stream, const item_text_fn &convert,
                       folder_item_counts &counts, std::string &error)
{
    if (folder == nullptr) {
        error = "no folder";
        return -1;
    }
    const auto where = [](int index) { return "item " + std::to_string(index + 1) + ": "; };
    error_slot pff_error;
    const int walked = export_handle_walk_sub_messages(
        nullptr, folder,
        [&](libpff_item_t *message, int index) {
            std::string text;
            std::string why;
            std::vector<std::string> notes;
            const int result = convert(message, text, notes, why);
            for (const auto &note : notes) {
                counts.notes.push_back(where(index) + note);
            }
            if (result == 0) {
                ++counts.skipped;
            } else if (result < 0) {
                counts.unreadable.push_back(where(index) + why);
            } else {
                stream.write(text.data(), static_cast<std::streamsize>(text.size()));
                ++counts.written;
            }
            return stream ? 1 : 0;
        },
        [&](int index) { counts.unreadable.push_back(where(index) + "cannot be read"); },
        pff_error.get());
    if (walked == -1) {
        error = "the folder's messages cannot be listed";
        return -1;
    }
    return 1;
}

} // namespace korvel::convert
