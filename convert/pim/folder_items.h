// A folder's contacts or calendar items written into one stream, one item at
// a time (memory stays bounded by the largest item). An unreadable item is
// counted and the rest written.
#pragma once

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <libpff.h>

namespace korvel::convert {

// What a folder write did.
struct folder_item_counts
{
    // Items written.
    std::size_t written = 0;
    // Items of other kinds, left out.
    std::size_t skipped = 0;
    // One line per item that could not be read: "item N: why".
    std::vector<std::string> unreadable;
    // What the conversion noted of an item it wrote, "item N: note".
    std::vector<std::string> notes;
};

// Converts one item into text: 1 written, 0 not of its kind, -1 unreadable
// (why says why).
using item_text_fn = std::function<int(libpff_item_t *item, std::string &text,
                                       std::vector<std::string> &notes, std::string &why)>;

// Writes what convert makes of each of the folder's messages into stream.
// Returns 1 when the folder's messages could be listed, -1 when not (error
// says so; the counts hold what was done). The caller checks the stream.
int folder_write_items(libpff_item_t *folder, std::ostream &stream, const item_text_fn &convert,
                       folder_item_counts &counts, std::string &error);

} // namespace korvel::convert
