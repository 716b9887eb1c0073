#include "preview/browser/PageEncoding.h"

#include <QMimeDatabase>
#include <QStringDecoder>
#include <algorithm>

namespace korvel {

namespace {

// How far into a file its encoding is looked for.
constexpr qsizetype sniff_length = 4096;

bool startsWith(const QByteArray &bytes, const char *prefix)
{
    return bytes.startsWith(QByteArray(prefix));
}

bool isCharsetCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
           c == ':';
}

// The value after "name" and "=" at or after from, in lower-case text,
// quotes and blanks skipped; empty when name is not followed by "=".
QByteArray valueAfter(const QByteArray &lower, qsizetype from, qsizetype end, const char *name)
{
    const qsizetype at = lower.indexOf(name, from);
    if (at < 0 || at >= end) {
        return {};
    }
    qsizetype i = at + static_cast<qsizetype>(qstrlen(name));
    while (i < end &&
           (lower[i] == ' ' || lower[i] == '\t' || lower[i] == '\r' || lower[i] == '\n')) {
        ++i;
    }
    if (i >= end || lower[i] != '=') {
        return {};
    }
    ++i;
    while (i < end && (lower[i] == ' ' || lower[i] == '"' || lower[i] == '\'')) {
        ++i;
    }
    const qsizetype start = i;
    while (i < end && isCharsetCharacter(lower[i])) {
        ++i;
    }
    return lower.mid(start, i - start);
}

bool isUtf16Label(const QByteArray &charset)
{
    return charset.startsWith("utf-16") || charset == "unicode" || charset == "ucs-2";
}

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    static_cast<void>(text);
    return !decoder.hasError();
}

} // namespace

bool looks_like_utf16le(const QByteArray &bytes)
{
    if (startsWith(bytes, "\xFF\xFE")) {
        return true;
    }
    const qsizetype pairs = std::min(bytes.size(), sniff_length) / 2;
    if (pairs == 0) {
        return false;
    }
    qsizetype high_zero = 0;
    qsizetype low_zero = 0;
    for (qsizetype i = 0; i < pairs; ++i) {
        const char low = bytes[2 * i];
        const char high = bytes[2 * i + 1];
        if (high == 0 && low != 0) {
            ++high_zero;
        } else if (low == 0 && high != 0) {
            ++low_zero;
        }
    }
    // Eight-bit text has no zero bytes at all; UTF-16LE has one in the odd
    // place of every character below U+0100 (markup, blanks, line ends, also
    // between the words of Cyrillic or Greek text).
    // One stray zero byte in a longer text is not enough.
    return high_zero * 20 >= pairs && high_zero >= std::min<qsizetype>(pairs, 2) &&
           low_zero * 4 <= high_zero;
}

QByteArray declared_charset(const QByteArray &bytes)
{
    const QByteArray lower = bytes.left(sniff_length).toLower();
    if (lower.startsWith("<?xml")) {
        const qsizetype end = lower.indexOf("?>");
        const QByteArray encoding = valueAfter(lower, 0, end < 0 ? lower.size() : end, "encoding");
        if (!encoding.isEmpty()) {
            return encoding;
        }
    }
    qsizetype from = 0;
    while ((from = lower.indexOf("<meta", from)) >= 0) {
        qsizetype end = lower.indexOf('>', from);
        if (end < 0) {
            end = lower.size();
        }
        const QByteArray charset = valueAfter(lower, from, end, "charset");
        if (!charset.isEmpty()) {
            return charset;
        }
        from = end;
    }
    return {};
}

QByteArray text_charset(const QByteArray &bytes, bool html)
{
    if (startsWith(bytes, "\xEF\xBB\xBF")) {
        return "utf-8";
    }
    if (startsWith(bytes, "\xFE\xFF")) {
        return "utf-16be";
    }
    if (looks_like_utf16le(bytes)) {
        return "utf-16le";
    }
    if (html) {
        const QByteArray declared = declared_charset(bytes);
        // Eight-bit bytes that call themselves UTF-16 are read as if they
        // declared nothing.
        if (!declared.isEmpty() && !isUtf16Label(declared)) {
            return declared;
        }
    }
    return isValidUtf8(bytes) ? "utf-8" : "windows-1252";
}

QByteArray content_type_for(const QString &path, const QByteArray &bytes)
{
    const QString lower = path.toLower();
    if (lower.endsWith(QLatin1String(".html")) || lower.endsWith(QLatin1String(".htm"))) {
        return "text/html; charset=" + text_charset(bytes, true);
    }
    if (lower.endsWith(QLatin1String(".txt"))) {
        return "text/plain; charset=" + text_charset(bytes, false);
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFileNameAndData(path, bytes);
    // Anything else that is text is shown as plain text, never as markup.
    if (type.inherits(QStringLiteral("text/plain"))) {
        return "text/plain; charset=" + text_charset(bytes, false);
    }
    return type.name().toLatin1();
}

} // namespace korvel
