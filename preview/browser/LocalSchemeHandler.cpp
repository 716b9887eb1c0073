#include "preview/browser/LocalSchemeHandler.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QWebEngineUrlRequestJob>

#include "preview/browser/PageEncoding.h"
#include "scan/files.h"

namespace korvel {

namespace {

// The working directory with links resolved, or empty when it does not exist.
QString canonicalWorkingDirectory()
{
    const std::string directory = working_directory();
    if (temporary_directory().empty() || directory.empty()) {
        return {};
    }
    return QFileInfo(QString::fromStdString(directory)).canonicalFilePath();
}

// A path made absolute and free of links, when it lies inside the working
// directory and is a regular file; else empty.
QString insideWorkingDirectory(const QString &path)
{
    const QString root = canonicalWorkingDirectory();
    if (root.isEmpty() || !QDir::isAbsolutePath(path)) {
        return {};
    }
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty() || !info.isFile() || !canonical.startsWith(root + QLatin1Char('/'))) {
        return {};
    }
    return canonical;
}

// What an HTML page of ours may load: our own files and inline images, its
// own style; no script, plugin, form or remote, file: or data: resource.
constexpr char content_policy[] =
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
    "img-src korvel-preview: cid:; style-src korvel-preview: cid: 'unsafe-inline'; "
    "font-src korvel-preview: cid:; frame-src korvel-preview:; child-src korvel-preview:; "
    "media-src korvel-preview: cid:; script-src 'none'; object-src 'none'; "
    "form-action 'none'; base-uri 'none'\">";

// The bytes served for an HTML page: the policy first (after a byte-order
// mark), in the page's own code units. The file itself is left as it is.
QByteArray withContentPolicy(const QByteArray &bytes, const QByteArray &content_type)
{
    const qsizetype at = content_type.indexOf("charset=");
    const QByteArray charset = at < 0 ? QByteArray() : content_type.mid(at + 8);
    const QByteArray policy(content_policy);
    QByteArray prefix;
    qsizetype mark = 0;
    if (charset == "utf-16le" || charset == "utf-16be") {
        const bool little = charset == "utf-16le";
        for (const char c : policy) {
            prefix.append(little ? c : '\0');
            prefix.append(little ? '\0' : c);
        }
        if (bytes.startsWith(little ? "\xFF\xFE" : "\xFE\xFF")) {
            mark = 2;
        }
    } else {
        prefix = policy;
        if (bytes.startsWith("\xEF\xBB\xBF")) {
            mark = 3;
        }
    }
    return bytes.left(mark) + prefix + bytes.mid(mark);
}

} // namespace

LocalSchemeHandler::LocalSchemeHandler(QObject *parent) : QWebEngineUrlSchemeHandler(parent) {}

void LocalSchemeHandler::SetContentIds(std::map<std::string, std::string> content_ids)
{
    m_content_ids = std::move(content_ids);
}

QString LocalSchemeHandler::FileFor(const QUrl &url) const
{
    const QString scheme = url.scheme();
    if (scheme == QLatin1String(local_scheme)) {
        if (!url.host().isEmpty()) {
            return {};
        }
        return insideWorkingDirectory(url.path(QUrl::FullyDecoded));
    }
    if (scheme == QLatin1String(cid_scheme)) {
        // The id as the body names it; a URL carries it percent-encoded.
        std::string id = url.path(QUrl::FullyDecoded).toStdString();
        if (id.size() >= 2 && id.front() == '<' && id.back() == '>') {
            id = id.substr(1, id.size() - 2);
        }
        const auto found = m_content_ids.find(id);
        if (found == m_content_ids.end()) {
            return {};
        }
        return insideWorkingDirectory(QString::fromStdString(found->second));
    }
    return {};
}

void LocalSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    if (job->requestMethod() != "GET") {
        job->fail(QWebEngineUrlRequestJob::RequestDenied);
        return;
    }
    const QString path = FileFor(job->requestUrl());
    if (path.isEmpty()) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        job->fail(QWebEngineUrlRequestJob::UrlNotFound);
        return;
    }
    // Read now, so a later rewrite of the file shows on the next request and
    // never half-way through this one.
    const QByteArray bytes = file.readAll();
    const QByteArray content_type = content_type_for(path, bytes);
    auto *buffer = new QBuffer(job);
    buffer->setData(content_type.startsWith("text/html") ? withContentPolicy(bytes, content_type)
                                                         : bytes);
    buffer->open(QIODevice::ReadOnly);
    ++m_served;
    job->reply(content_type, buffer);
}

} // namespace korvel
