// Reads what libpff holds of an item as the writer's properties: every record
// entry as stored (tag, type, value bytes), named properties by property set
// and name or number, 8-bit strings decoded to Unicode by the item's code page.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include <libpff.h>

#include "convert/writer/pst_writer.h"
#include "scan/code_page.h"
#include "scan/names.h"

namespace korvel::convert {

// The engine's code page rules, shared with the save.
using korvel::code_page_decoder;
using korvel::default_code_page;
using korvel::iconv_code_page_name;

// One record entry as stored.
struct source_entry
{
    property_key key;
    std::uint16_t type = 0;
    std::vector<std::uint8_t> value;
};

// Why an entry or a set could not be read, for the report.
struct source_problem
{
    std::string text;
};

// Reads the entries of one record set. Entries libpff cannot read, and named
// entries whose name libpff cannot resolve, are left out and described in
// problems. skip(id, type) leaves out entries the caller writes itself
// (checked before the value is read). Returns 1, or -1 when the set cannot be
// read at all.
int read_record_set(libpff_record_set_t *record_set,
                    bool (*skip)(std::uint16_t id, std::uint16_t type),
                    std::vector<source_entry> &entries, std::vector<source_problem> &problems);

// Reads record set index of item (see read_record_set). Returns 1, 0 when the
// item has no such set, -1 when it cannot be read.
int read_item_record_set(libpff_item_t *item, int index,
                         bool (*skip)(std::uint16_t id, std::uint16_t type),
                         std::vector<source_entry> &entries, std::vector<source_problem> &problems);

// The code page named by the entries (PidTagMessageCodepage, else
// PidTagInternetCodepage), or fallback.
std::uint32_t entries_code_page(const std::vector<source_entry> &entries, std::uint32_t fallback);

// Moves the entries into a bag; PT_STRING8 and PT_MV_STRING8 become PT_UNICODE
// and PT_MV_UNICODE decoded in code_page (one trailing NUL dropped).
void entries_to_bag(std::vector<source_entry> &entries, std::uint32_t code_page,
                    code_page_decoder &decoder, property_bag &bag);

// UTF-16 text as the little-endian bytes of a stored PT_UNICODE value.
std::vector<std::uint8_t> utf16_bytes(const std::u16string &text);

// The item's node identifier, 0 when libpff cannot read it.
std::uint32_t identifier_of(libpff_item_t *item);

// The text of a libpff error (its backtrace), "" for none.
std::string pff_error_text(libpff_error_t *error);

} // namespace korvel::convert
