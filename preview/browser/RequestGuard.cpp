#include "preview/browser/RequestGuard.h"

#include <QUrl>

#include "preview/browser/LocalSchemeHandler.h"

namespace korvel {

RequestGuard::RequestGuard(QObject *parent) : QWebEngineUrlRequestInterceptor(parent) {}

bool RequestGuard::Allowed(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QLatin1String(LocalSchemeHandler::local_scheme) ||
           scheme == QLatin1String(LocalSchemeHandler::cid_scheme);
}

void RequestGuard::interceptRequest(QWebEngineUrlRequestInfo &info)
{
    if (Allowed(info.requestUrl())) {
        return;
    }
    info.block(true);
    ++m_refused;
}

} // namespace korvel
