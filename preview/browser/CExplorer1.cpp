#include "preview/browser/CExplorer1.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlScheme>

#include "preview/browser/LocalSchemeHandler.h"
#include "preview/browser/PreviewPage.h"
#include "preview/browser/RequestGuard.h"

namespace korvel {

namespace {

void turnOffExtras(QWebEngineSettings *settings)
{
    const QWebEngineSettings::WebAttribute off[] = {
        QWebEngineSettings::JavascriptEnabled,
        QWebEngineSettings::JavascriptCanOpenWindows,
        QWebEngineSettings::JavascriptCanAccessClipboard,
        QWebEngineSettings::PluginsEnabled,
        QWebEngineSettings::LocalContentCanAccessRemoteUrls,
        QWebEngineSettings::LocalContentCanAccessFileUrls,
        QWebEngineSettings::LocalStorageEnabled,
        QWebEngineSettings::XSSAuditingEnabled,
        QWebEngineSettings::HyperlinkAuditingEnabled,
        QWebEngineSettings::DnsPrefetchEnabled,
        QWebEngineSettings::AutoLoadIconsForPage,
        QWebEngineSettings::WebGLEnabled,
        QWebEngineSettings::Accelerated2dCanvasEnabled,
        QWebEngineSettings::PdfViewerEnabled,
        QWebEngineSettings::NavigateOnDropEnabled,
        QWebEngineSettings::ErrorPageEnabled,
        QWebEngineSettings::FullScreenSupportEnabled,
        QWebEngineSettings::ScreenCaptureEnabled,
    };
    for (const QWebEngineSettings::WebAttribute attribute : off) {
        settings->setAttribute(attribute, false);
    }
    // A mailto: link the user clicks reaches the page's navigation check
    // (which hands it to the desktop); the engine launches nothing itself.
    settings->setUnknownUrlSchemePolicy(
        QWebEngineSettings::AllowUnknownUrlSchemesFromUserInteraction);
}

} // namespace

void CExplorer1::RegisterSchemes()
{
    static bool registered = false;
    if (registered) {
        return;
    }
    registered = true;
    // Path syntax: "header.html" and "/tmp/.../body.html" in a frameset
    // resolve against the frameset's own URL.
    for (const char *name : {LocalSchemeHandler::local_scheme, LocalSchemeHandler::cid_scheme}) {
        QWebEngineUrlScheme scheme(name);
        scheme.setSyntax(QWebEngineUrlScheme::Syntax::Path);
        scheme.setFlags(QWebEngineUrlScheme::SecureScheme);
        QWebEngineUrlScheme::registerScheme(scheme);
    }
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

QUrl CExplorer1::UrlFor(const QString &path)
{
    QUrl url;
    url.setScheme(QString::fromLatin1(LocalSchemeHandler::local_scheme));
    url.setPath(path, QUrl::DecodedMode);
    return url;
}

CExplorer1::CExplorer1(QWidget *parent) : QWebEngineView(parent)
{
    setObjectName(QStringLiteral("CExplorer1"));
    // Off the record: no cache and no cookies on disk; and no HTTP cache in
    // memory either, so every Navigate reads the files as they are now.
    m_profile = new QWebEngineProfile();
    m_profile->setHttpCacheType(QWebEngineProfile::NoCache);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_profile->setSpellCheckEnabled(false);
    m_guard = new RequestGuard(m_profile);
    m_profile->setUrlRequestInterceptor(m_guard);
    m_handler = new LocalSchemeHandler(m_profile);
    m_profile->installUrlSchemeHandler(LocalSchemeHandler::local_scheme, m_handler);
    m_profile->installUrlSchemeHandler(LocalSchemeHandler::cid_scheme, m_handler);
    turnOffExtras(m_profile->settings());

    m_page = new PreviewPage(m_profile, *this);
    turnOffExtras(m_page->settings());
    setPage(m_page);
    setContextMenuPolicy(Qt::NoContextMenu);
    setAcceptDrops(false);
}

CExplorer1::~CExplorer1()
{
    // The pages (ours and any a link's new window left) go before the
    // profile they were made with.
    qDeleteAll(findChildren<PreviewPage *>(Qt::FindDirectChildrenOnly));
    m_page = nullptr;
    delete m_profile;
}

void CExplorer1::Navigate(const QString &path, std::map<std::string, std::string> content_ids)
{
    m_handler->SetContentIds(std::move(content_ids));
    m_page->load(UrlFor(path));
}

void CExplorer1::FollowLink(const QUrl &url)
{
    const QString scheme = url.scheme();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
        scheme == QLatin1String("mailto")) {
        OpenExternally(url);
    }
}

int CExplorer1::RefusedRequests() const
{
    return m_guard->Refused();
}

void CExplorer1::OpenExternally(const QUrl &url)
{
    QDesktopServices::openUrl(url);
}

} // namespace korvel
