// What the browser is told about a served file's text: its MIME type and
// charset, read from the file's name and bytes. The preview's own pages are
// UTF-16LE without a byte-order mark; a mail body keeps the charset it
// declares, else it is UTF-8 when that decodes cleanly, else Windows-1252.
#pragma once

#include <QByteArray>
#include <QString>

namespace korvel {

// True when the bytes look like UTF-16LE text without a byte-order mark
// (most characters of our pages and of the RTF text are below U+0100).
bool looks_like_utf16le(const QByteArray &bytes);

// The charset an HTML body names in a meta element or an XML declaration
// (lower case), or empty.
QByteArray declared_charset(const QByteArray &bytes);

// The charset to state for a text file's bytes.
QByteArray text_charset(const QByteArray &bytes, bool html);

// The full content type to serve a file with ("text/html; charset=utf-8",
// "image/png", ...).
QByteArray content_type_for(const QString &path, const QByteArray &bytes);

} // namespace korvel
