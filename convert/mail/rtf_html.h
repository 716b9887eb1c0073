// Recovers the HTML that an RTF body encapsulates. Outlook keeps most HTML mail
// only as compressed RTF whose header carries \fromhtml1: the HTML markup sits
// in {\*\htmltag<N> ...} groups and the text between them is the HTML's own
// text, except the runs marked \htmlrtf ... \htmlrtf0, which exist only for RTF
// readers. Joining the two gives back the original HTML.
//
// Plain C++ over a byte buffer; any input, however broken, ends in time and the
// result never grows beyond a small multiple of the input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvel::convert {

// True when the RTF header marks encapsulated HTML (\fromhtml1 among the first
// control words of the document, before any group or text).
bool rtf_encapsulates_html(std::string_view rtf);

// Extracts the encapsulated HTML into html (bytes in the document's code page:
// \'hh escapes are copied as bytes, \uN becomes the character reference
// "&#N;"). code_page receives \ansicpgN (1252 when absent). Returns 1 when
// the document encapsulates HTML (html may then be empty), 0 when it does not
// (html is left empty).
int rtf_html_extract(std::string_view rtf, std::string &html, std::uint32_t &code_page);

} // namespace korvel::convert
