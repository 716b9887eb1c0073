// Serves the preview pane's files: the private scheme names a file by its
// absolute path (korvel-preview:/tmp/.../Attachments/temp.html), "cid:" names
// an inline image by its content id. Only regular files inside the working
// directory are served, each with its content type and charset stated.
#pragma once

#include <QWebEngineUrlSchemeHandler>
#include <map>
#include <string>

namespace korvel {

class LocalSchemeHandler : public QWebEngineUrlSchemeHandler
{
    Q_OBJECT

public:
    static constexpr const char *local_scheme = "korvel-preview";
    static constexpr const char *cid_scheme = "cid";

    explicit LocalSchemeHandler(QObject *parent = nullptr);

    // Content id (no "cid:", no angle brackets) to the full path of the
    // attachment file written for it.
    void SetContentIds(std::map<std::string, std::string> content_ids);
    // The file a URL of ours names, or empty when it is not to be served
    // (another scheme, outside the working directory, missing, not a file).
    QString FileFor(const QUrl &url) const;

    void requestStarted(QWebEngineUrlRequestJob *job) override;

    // How many requests were answered with a file.
    int ServedRequests() const { return m_served; }

private:
    std::map<std::string, std::string> m_content_ids;
    int m_served = 0;
};

} // namespace korvel
