// The preview pane (dialog control 1012): a QWebEngineView that shows the
// preview's local files and nothing else. Navigate(path) loads a file of the
// working directory through a private URL scheme served here; JavaScript,
// plugins and the cache are off, and every other request is refused, so a
// previewed mail fetches nothing and runs nothing. A link the user clicks
// (http, https, mailto) goes to the desktop's browser or mail program.
#pragma once

#include <QWebEngineView>
#include <map>
#include <string>

class QWebEngineProfile;

namespace korvel {

class LocalSchemeHandler;
class PreviewPage;
class RequestGuard;

class CExplorer1 : public QWebEngineView
{
    Q_OBJECT

public:
    // Registers the private schemes; must run before the QApplication is
    // made (the program's and the tests' main do it).
    static void RegisterSchemes();
    // The URL Navigate loads for an absolute local path.
    static QUrl UrlFor(const QString &path);

    explicit CExplorer1(QWidget *parent = nullptr);
    ~CExplorer1() override;
    CExplorer1(const CExplorer1 &) = delete;
    CExplorer1 &operator=(const CExplorer1 &) = delete;

    // Shows the file at path (absolute, inside the working directory); an
    // HTML body's "cid:" images are looked up in content_ids. Returns at
    // once; loading goes on in the background. Window thread only.
    void Navigate(const QString &path, std::map<std::string, std::string> content_ids = {});

    // Hands a clicked link to the desktop when it is http, https or mailto;
    // anything else does nothing.
    void FollowLink(const QUrl &url);

    RequestGuard &Guard() const { return *m_guard; }
    LocalSchemeHandler &Handler() const { return *m_handler; }
    // Requests refused so far (network, file:, data:, frames and forms the
    // mail names).
    int RefusedRequests() const;

protected:
    // The desktop's own program for a link (tests answer it).
    virtual void OpenExternally(const QUrl &url);

private:
    QWebEngineProfile *m_profile = nullptr;
    LocalSchemeHandler *m_handler = nullptr;
    RequestGuard *m_guard = nullptr;
    PreviewPage *m_page = nullptr;
};

} // namespace korvel
