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
    auto *buffer = new QBuffer(job);
    buffer->setData(file.readAll());
    buffer->open(QIODevice::ReadOnly);
    ++m_served;
    job->reply(content_type_for(path, buffer->data()), buffer);
}

} // namespace korvel
