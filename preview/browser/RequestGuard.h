// Refuses every request the preview pane makes but those for our own files,
// so a previewed mail fetches nothing (no remote image, stylesheet, frame or
// script; no file: or data: URL named by the mail) and counts what it
// refused.
#pragma once

#include <QWebEngineUrlRequestInterceptor>
#include <atomic>

namespace korvel {

class RequestGuard : public QWebEngineUrlRequestInterceptor
{
    Q_OBJECT

public:
    explicit RequestGuard(QObject *parent = nullptr);

    // True for the schemes the pane may load from.
    static bool Allowed(const QUrl &url);

    void interceptRequest(QWebEngineUrlRequestInfo &info) override;

    int Refused() const { return m_refused; }
    void CountRefusal() { ++m_refused; }

private:
    std::atomic<int> m_refused{0};
};

} // namespace korvel
