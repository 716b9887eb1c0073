// The preview pane under test: the real CExplorer1 offscreen, with the
// desktop's link handler answered by the test, and helpers that wait for a
// load and read back what the pane shows.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QUrl>
#include <QWebEngineFindTextResult>
#include <QWebEnginePage>
#include <string>
#include <vector>

#include "preview/browser/CExplorer1.h"
#include "scan/files.h"
#include "tests/app/dialog_fixture.h"

namespace korvel::app_testing {

class TestPane : public CExplorer1
{
public:
    std::vector<QUrl> opened;

protected:
    void OpenExternally(const QUrl &url) override { opened.push_back(url); }
};

inline QString workingDirectory()
{
    return QString::fromStdString(working_directory());
}

// Writes bytes to name in the working directory; returns the full path.
inline QString writeWorkFile(const QString &name, const QByteArray &bytes)
{
    QDir().mkpath(workingDirectory());
    const QString path = workingDirectory() + QLatin1Char('/') + name;
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
    return path;
}

// Text as UTF-16LE code units, no byte-order mark (how the preview's own
// pages are written).
inline QByteArray utf16le(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text) {
        bytes.append(static_cast<char>(c.unicode() & 0xFF));
        bytes.append(static_cast<char>(c.unicode() >> 8));
    }
    return bytes;
}

// Waits for the pane's loads started by start() to end; true when one
// succeeded. (A click on a row previews twice, for the click and for the
// selection: the first load may be cut short by the second.)
inline bool waitForLoad(CExplorer1 &pane, const std::function<void()> &start)
{
    bool succeeded = false;
    int failed = 0;
    const QMetaObject::Connection connection =
        QObject::connect(pane.page(), &QWebEnginePage::loadFinished, [&](bool success) {
            if (success) {
                succeeded = true;
            } else {
                ++failed;
            }
        });
    start();
    bool in_time = waitUntil([&] { return succeeded || failed > 0; }, 20000);
    if (in_time && !succeeded) {
        waitUntil([&] { return succeeded; }, 3000);
    }
    QObject::disconnect(connection);
    // Frames and images may still be on their way after the main frame.
    pumpFor(150);
    return in_time && succeeded;
}

inline bool navigateAndWait(CExplorer1 &pane, const QString &path,
                            std::map<std::string, std::string> content_ids = {})
{
    return waitForLoad(pane, [&] { pane.Navigate(path, std::move(content_ids)); });
}

// The main frame's text as the page renders it.
inline QString plainText(CExplorer1 &pane)
{
    QString text;
    bool done = false;
    pane.page()->toPlainText([&](const QString &result) {
        text = result;
        done = true;
    });
    EXPECT_TRUE(waitUntil([&] { return done; }, 10000));
    return text;
}

// How often text is shown anywhere in the pane, frames included.
inline int matchesShown(CExplorer1 &pane, const QString &text)
{
    int matches = -1;
    bool done = false;
    pane.page()->findText(text, {}, [&](const QWebEngineFindTextResult &result) {
        matches = result.numberOfMatches();
        done = true;
    });
    EXPECT_TRUE(waitUntil([&] { return done; }, 10000));
    pane.page()->findText(QString());
    return matches;
}

} // namespace korvel::app_testing
