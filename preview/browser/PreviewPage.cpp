#include "preview/browser/PreviewPage.h"

#include "preview/browser/CExplorer1.h"
#include "preview/browser/LocalSchemeHandler.h"
#include "preview/browser/RequestGuard.h"

namespace korvel {

PreviewPage::PreviewPage(QWebEngineProfile *profile, CExplorer1 &explorer, bool catcher)
    : QWebEnginePage(profile, &explorer), m_explorer(explorer), m_catcher(catcher)
{
}

bool PreviewPage::acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame)
{
    if (m_catcher) {
        m_explorer.FollowLink(url);
        deleteLater();
        return false;
    }
    if (type == NavigationTypeLinkClicked) {
        // A link out of the mail is the desktop's business (or nobody's):
        // the pane keeps the preview. Links within our files (an anchor in
        // the body) stay in the pane.
        if (url.scheme() != QLatin1String(LocalSchemeHandler::local_scheme)) {
            m_explorer.FollowLink(url);
            return false;
        }
        return true;
    }
    if (type != NavigationTypeFormSubmitted &&
        url.scheme() == QLatin1String(LocalSchemeHandler::local_scheme)) {
        return true;
    }
    // A frame or a refresh the mail itself names (http, file:, data:, a form
    // post ...).
    static_cast<void>(isMainFrame);
    m_explorer.Guard().CountRefusal();
    return false;
}

QWebEnginePage *PreviewPage::createWindow(WebWindowType)
{
    if (m_catcher) {
        return nullptr;
    }
    return new PreviewPage(profile(), m_explorer, true);
}

} // namespace korvel

namespace korvel {

void PreviewPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &message,
                                           int, const QString &)
{
    if (message.startsWith(QLatin1String("Refused to")) ||
        message.startsWith(QLatin1String("Not allowed to load local resource"))) {
        m_explorer.Guard().CountRefusal();
    }
}

} // namespace korvel
