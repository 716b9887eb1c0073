// The preview pane's page: it loads only our own files, and hands a link the
// user clicks to the desktop instead of following it. A link that asks for a
// new window lands in a throwaway page that does the same.
#pragma once

#include <QWebEnginePage>

namespace korvel {

class CExplorer1;

class PreviewPage : public QWebEnginePage
{
    Q_OBJECT

public:
    // A catcher is the throwaway page of a link that opens a new window.
    PreviewPage(QWebEngineProfile *profile, CExplorer1 &explorer, bool catcher = false);

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override;
    QWebEnginePage *createWindow(WebWindowType type) override;
    // The engine reports a resource its policy refused (data:, file:) here.
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int line, const QString &source) override;

private:
    CExplorer1 &m_explorer;
    bool m_catcher;
};

} // namespace korvel
