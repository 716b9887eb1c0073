// The RTF reader: turns an RTF body into the plain text that the preview
// shows. A small table-driven state machine over the RTF syntax: it follows
// the group structure, skips the destinations that hold no body text (font
// and colour tables, style sheets, document information, pictures, headers
// and footers, ...), resolves the character escapes and appends every
// remaining text byte, taken as Windows-1252, to the RTF text.
//
// The reader state is process-wide and one reader runs at a time. Each
// rtf_parse resets only the destination and input states: the open groups
// (saved-state stack and group depth) and the "*" flag carry over from one
// document to the next, so that a document ending inside open groups hands
// them to the next one.
//
// The reader keeps its own lock: any thread may call any function here.
// rtf_text itself is the single-threaded callers' text; a caller that may
// share the process with another reads into its own string.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace korvel {

// The text accumulated by the RTF reader; the preview clears it before a
// document and writes it out afterwards.
extern std::u16string rtf_text;

// Results of rtf_parse.
enum rtf_result : int
{
    rtf_ok = 0,
    // A "}" with no open group.
    rtf_unbalanced_close = 1,
    // No memory for the saved state of a "{".
    rtf_out_of_memory = 2,
    // The document ended inside an open group.
    rtf_unclosed_group = 3,
    // A character that is not a hexadecimal digit after "\'".
    rtf_bad_hex = 4,
    // A keyword table entry of an unknown kind or index.
    rtf_bad_table = 5,
    // The document ended directly after a backslash, or after the "-" of a
    // parameter.
    rtf_end_of_file = 7,
};

// Reads the RTF document on stream (positioned at its start) to the end of
// the stream, appending its text to rtf_text. Stops at the first error and
// returns its code (rtf_result); the text appended so far stays. Leaves the
// reader state as the document leaves it.
int rtf_parse(std::FILE *stream);

// rtf_parse appending to text instead of rtf_text: the same process-wide
// reader state, with the text the caller's own.
int rtf_parse(std::FILE *stream, std::u16string &text);

// Reads one document with a reader state of its own, as at process start,
// and appends its text to text: nothing carries over from or to any other
// document.
int rtf_parse_alone(std::FILE *stream, std::u16string &text);

// Drops the carried-over reader state (open groups, group depth, "*" flag,
// formatting properties) and releases its memory, as at process start.
void rtf_reader_reset();

// Number of groups left open by the documents read so far.
std::uint64_t rtf_reader_group_depth();

// Bytes held for the saved states of the open groups.
std::size_t rtf_reader_stack_bytes();

} // namespace korvel
