// The preview pane offscreen through the real CExplorer1: what it serves and
// refuses, how it reads each file's text, inline images, reloads, and links.
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTcpServer>
#include <QTcpSocket>

#include "preview/browser/LocalSchemeHandler.h"
#include "preview/browser/PageEncoding.h"
#include "preview/browser/RequestGuard.h"
#include "tests/app/browser_fixture.h"

namespace korvel::app_testing {
namespace {

class BrowserHost : public DialogTest
{
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        remove_directory(working_directory());
        QDir().mkpath(workingDirectory());
    }
};

// A frameset page as the preview writes it: rows, header.html beside it and
// the body by its full path.
QByteArray framesetPage(const QString &body_path)
{
    return utf16le(QStringLiteral("<html><head></head><frameset rows='28%,*' border='0'><frame "
                                  "src='header.html'  scrolling='auto' frameborder='1'><frame "
                                  "src='") +
                   body_path + QStringLiteral("'></frameset></html>"));
}

TEST_F(BrowserHost, ServesOnlyTheWorkingDirectorysFilesAndRefusesEveryOtherScheme)
{
    const QString header = writeWorkFile(QStringLiteral("header.html"), "<p>x</p>");
    const QString image = writeWorkFile(QStringLiteral("image001.png"), "png");
    QDir().mkpath(workingDirectory() + QStringLiteral("/sub"));
    const QString nested = writeWorkFile(QStringLiteral("sub/a.txt"), "a");
    // A file beside the working directory, and a link from inside to it.
    const QString outside = workingDirectory() + QStringLiteral("-outside.html");
    {
        QFile file(outside);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("secret");
    }
    const QString link = workingDirectory() + QStringLiteral("/link.html");
    QFile::remove(link);
    ASSERT_TRUE(QFile::link(outside, link));

    TestPane pane;
    LocalSchemeHandler &handler = pane.Handler();
    handler.SetContentIds({{"image001.png@01D0", image.toStdString()},
                           {"escape@x", outside.toStdString()},
                           {"missing@x", (workingDirectory() + "/gone.png").toStdString()}});
    const QString wd = workingDirectory();
    const QString local = QString::fromLatin1(LocalSchemeHandler::local_scheme) + ':';
    struct Case
    {
        QString url;
        QString served; // empty: refused
    };
    const Case cases[] = {
        {local + header, header},
        {local + nested, nested},
        {local + wd + QStringLiteral("/sub/../header.html"), header},
        {local + wd + QStringLiteral("/../") + QFileInfo(outside).fileName(), {}},
        {local + link, {}},
        {local + QStringLiteral("/etc/passwd"), {}},
        {local + wd, {}},
        {local + wd + QStringLiteral("/sub"), {}},
        {local + wd + QStringLiteral("/missing.html"), {}},
        {local + QStringLiteral("header.html"), {}},
        {local + QStringLiteral("//host") + header, {}},
        {QStringLiteral("cid:image001.png@01D0"), image},
        {QStringLiteral("cid:%3Cimage001.png@01D0%3E"), image},
        {QStringLiteral("cid:image001.png%4001D0"), image},
        {QStringLiteral("cid:IMAGE001.png@01D0"), {}},
        {QStringLiteral("cid:escape@x"), {}},
        {QStringLiteral("cid:missing@x"), {}},
        {QStringLiteral("cid:"), {}},
        {QStringLiteral("file://") + header, {}},
        {QStringLiteral("http://127.0.0.1/") + header, {}},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(handler.FileFor(QUrl(c.url)), c.served) << c.url.toStdString();
    }

    // What the request guard lets through to the handler at all.
    const std::pair<const char *, bool> schemes[] = {
        {"korvel-preview:/tmp/x/header.html", true},
        {"cid:a@b", true},
        {"http://example.org/a.png", false},
        {"https://example.org/a.css", false},
        {"ftp://example.org/a", false},
        {"file:///etc/passwd", false},
        {"data:image/png;base64,AAAA", false},
        {"blob:null/1234", false},
        {"ws://example.org/", false},
        {"about:blank", false},
        {"javascript:alert(1)", false},
    };
    for (const auto &[url, allowed] : schemes) {
        EXPECT_EQ(RequestGuard::Allowed(QUrl(QString::fromLatin1(url))), allowed) << url;
    }
    QFile::remove(outside);
}

TEST_F(BrowserHost, EachFileIsServedWithTheCharsetItsBytesCall)
{
    struct Case
    {
        const char *name;
        QByteArray bytes;
        QByteArray type;
    };
    const Case cases[] = {
        // Our own pages: UTF-16LE, no byte-order mark.
        {"header.html", utf16le(QStringLiteral("<html><b>Ann [Lee]</b></html>")),
         "text/html; charset=utf-16le"},
        {"body.txt", utf16le(QStringLiteral("RTF text")), "text/plain; charset=utf-16le"},
        {"body.txt",
         utf16le(
             QStringLiteral("\u041F\u0440\u0438\u0432\u0435\u0442, "
                            "\u043C\u0438\u0440. \u041A\u0430\u043A \u0434\u0435\u043B\u0430?")),
         "text/plain; charset=utf-16le"},
        {"body.txt", QByteArray("a\0bcdefghijklmnop", 17), "text/plain; charset=utf-8"},
        {"body.txt", QByteArray(" \0", 2), "text/plain; charset=utf-16le"},
        {"body.txt", QByteArray("\xFF\xFEh\0i\0", 6), "text/plain; charset=utf-16le"},
        {"body.html", QByteArray("\xFE\xFF\0h", 4), "text/html; charset=utf-16be"},
        // A body keeps the charset it declares ...
        {"body.html",
         "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
         "charset=ISO-8859-2\"></head><body>\xB1</body></html>",
         "text/html; charset=iso-8859-2"},
        {"body.html", "<meta charset='koi8-r'>\xC1", "text/html; charset=koi8-r"},
        {"body.html", "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><html></html>",
         "text/html; charset=shift_jis"},
        // ... unless it claims to be UTF-16 in eight-bit bytes.
        {"body.html", "<meta charset=\"utf-16\"><p>caf\xC3\xA9</p>", "text/html; charset=utf-8"},
        // Undeclared: UTF-8 when it decodes cleanly, else Windows-1252.
        {"body.html", "<p>Gr\xC3\xBC\xC3\x9F\x65</p>", "text/html; charset=utf-8"},
        {"body.html", "<p>caf\xE9 \x80</p>", "text/html; charset=windows-1252"},
        {"body.txt", "plain ascii", "text/plain; charset=utf-8"},
        {"body.txt", "truncated \xE2\x82", "text/plain; charset=windows-1252"},
        {"body.txt", "", "text/plain; charset=utf-8"},
        // A declaration in a plain-text body is only text.
        {"body.txt", "<meta charset=koi8-r> caf\xE9", "text/plain; charset=windows-1252"},
        // Attachments: by name and bytes; text never as markup.
        {"notes.log", "line", "text/plain; charset=utf-8"},
        {"page.shtml", "<b>x</b>", "text/plain; charset=utf-8"},
        {"image.png", QByteArray("\x89PNG\r\n\x1A\n", 8), "image/png"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(content_type_for(QString::fromLatin1(c.name), c.bytes), c.type)
            << c.name << " " << c.bytes.toStdString();
    }
}

TEST_F(BrowserHost, PaneIsBlankBeforeTheFirstPreview)
{
    TestPane pane;
    pane.resize(500, 300);
    pane.show();
    pumpFor(200);
    EXPECT_TRUE(pane.url().isEmpty());
    EXPECT_EQ(plainText(pane), QString());
}

TEST_F(BrowserHost, Utf16HeaderPageReadsRight)
{
    const QString text = QStringLiteral("From: Ann [Lee] \u2014 Gr\u00FC\u00DFe, \u0160koda");
    const QString header =
        writeWorkFile(QStringLiteral("header.html"), utf16le(QStringLiteral("<html><body>") + text +
                                                             QStringLiteral("</body></html>")));
    TestPane pane;
    pane.resize(500, 300);
    ASSERT_TRUE(navigateAndWait(pane, header));
    EXPECT_EQ(plainText(pane).trimmed(), text);
}

TEST_F(BrowserHost, BodiesInTheirFramesKeepTheirOwnCharset)
{
    const QString header_text = QStringLiteral("Subject Zo\u00EB");
    writeWorkFile(
        QStringLiteral("header.html"),
        utf16le(QStringLiteral("<html><body>") + header_text + QStringLiteral("</body></html>")));
    const QString utf8_text = QStringLiteral("Gr\u00FC\u00DFe aus K\u00F6ln \u2713");
    const QString cp1252_text = QStringLiteral("caf\u00E9 \u2013 3 \u20AC");
    const QString utf8_body = writeWorkFile(
        QStringLiteral("body.html"), "<html><body><p>" + utf8_text.toUtf8() + "</p></body></html>");
    // Windows-1252 bytes: e9 (é), 96 (en dash), 80 (euro sign).
    const QString cp1252_body =
        writeWorkFile(QStringLiteral("body.txt"), QByteArray("caf\xE9 \x96 3 \x80"));
    const QString frameset = writeWorkFile(QStringLiteral("temp.html"), framesetPage(utf8_body));

    TestPane pane;
    pane.resize(500, 400);
    pane.show();
    ASSERT_TRUE(navigateAndWait(pane, frameset));
    EXPECT_EQ(matchesShown(pane, header_text), 1);
    EXPECT_EQ(matchesShown(pane, utf8_text), 1);

    writeWorkFile(QStringLiteral("temp.html"), framesetPage(cp1252_body));
    ASSERT_TRUE(navigateAndWait(pane, frameset));
    EXPECT_EQ(matchesShown(pane, header_text), 1);
    EXPECT_EQ(matchesShown(pane, cp1252_text), 1);

    // Each file on its own reads the same.
    ASSERT_TRUE(navigateAndWait(pane, utf8_body));
    EXPECT_EQ(plainText(pane).trimmed(), utf8_text);
    ASSERT_TRUE(navigateAndWait(pane, cp1252_body));
    EXPECT_EQ(plainText(pane).trimmed(), cp1252_text);
    EXPECT_EQ(pane.RefusedRequests(), 0);
}

TEST_F(BrowserHost, BodiesWithAByteOrderMarkReadRight)
{
    const QString text = QStringLiteral("\u00C5ngstr\u00F6m \u2192 \u65E5\u672C");
    const QByteArray markup = "<html><body><p>" + text.toUtf8() + "</p></body></html>";
    QByteArray utf16be("\xFE\xFF", 2);
    for (const QChar c : QString::fromUtf8(markup)) {
        utf16be.append(static_cast<char>(c.unicode() >> 8));
        utf16be.append(static_cast<char>(c.unicode() & 0xFF));
    }
    const QByteArray bodies[] = {
        "\xEF\xBB\xBF" + markup,
        QByteArray("\xFF\xFE", 2) + utf16le(QString::fromUtf8(markup)),
        utf16be,
    };
    TestPane pane;
    pane.resize(400, 300);
    for (const QByteArray &bytes : bodies) {
        const QString body = writeWorkFile(QStringLiteral("body.html"), bytes);
        ASSERT_TRUE(navigateAndWait(pane, body));
        EXPECT_EQ(plainText(pane).trimmed(), text) << bytes.left(4).toHex().toStdString();
    }
}

TEST_F(BrowserHost, RemoteContentInABodyFetchesNothingAndRunsNothing)
{
    // Every remote URL points at this server: a request would show as a
    // connection.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    int connections = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            ++connections;
            socket->close();
            socket->deleteLater();
        }
    });
    const QByteArray remote = "127.0.0.1:" + QByteArray::number(server.serverPort());
    const QString outside = QDir::tempPath() + QStringLiteral("/korvel-outside.png");
    const QByteArray body =
        "<html><head><title>Original</title>"
        "<meta http-equiv='refresh' content='0; url=http://" +
        remote +
        "/refresh'>"
        "<link rel='stylesheet' href='http://" +
        remote +
        "/style.css'>"
        "<style>@import url('https://" +
        remote +
        "/import.css');"
        "body { background: url('http://" +
        remote +
        "/bg.png'); }</style>"
        "<script src='http://" +
        remote +
        "/script.js'></script>"
        "<script>document.title = 'Changed'; document.write('script ran');</script>"
        "</head><body><p>Body text</p>"
        "<img src='http://" +
        remote +
        "/image.png'>"
        "<img src='https://" +
        remote +
        "/image.png'>"
        "<img src='ftp://" +
        remote +
        "/image.png'>"
        "<img src='file://" +
        outside.toUtf8() +
        "'>"
        "<iframe src='http://" +
        remote +
        "/frame.html'></iframe>"
        "<iframe src='data:text/html,<p>data frame shown</p>'></iframe>"
        "<object data='http://" +
        remote +
        "/plugin.swf'></object>"
        "<noscript>scripts are off</noscript>"
        "</body></html>";
    const QString path = writeWorkFile(QStringLiteral("body.html"), body);

    TestPane pane;
    pane.resize(500, 400);
    pane.show();
    const bool loaded = navigateAndWait(pane, path);
    pumpFor(1500);
    EXPECT_TRUE(loaded);
    EXPECT_EQ(connections, 0);
    EXPECT_EQ(pane.title(), QStringLiteral("Original"));
    EXPECT_EQ(pane.url(), CExplorer1::UrlFor(path));
    const QString text = plainText(pane);
    EXPECT_TRUE(text.contains(QStringLiteral("Body text"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("script ran")));
    EXPECT_TRUE(text.contains(QStringLiteral("scripts are off")));
    EXPECT_EQ(matchesShown(pane, QStringLiteral("data frame shown")), 0);
    // Stylesheet, images, frames, the refresh: each one refused, none left
    // to the network.
    EXPECT_GE(pane.RefusedRequests(), 6);
    EXPECT_TRUE(pane.opened.empty());
}

TEST_F(BrowserHost, InlineImageComesFromItsAttachmentFile)
{
    QImage red(64, 64, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString image_path = workingDirectory() + QStringLiteral("/image001.png");
    ASSERT_TRUE(red.save(image_path));
    const QString body =
        writeWorkFile(QStringLiteral("body.html"),
                      "<html><body style='margin:0;background:#fff'>"
                      "<img src='cid:image001.png@01D0A1B2.C3D4E5F0' width='64' height='64'>"
                      "<img src='cid:unknown@01D0' width='64' height='64'></body></html>");

    TestPane pane;
    pane.resize(300, 200);
    pane.show();
    const int served_before = pane.Handler().ServedRequests();
    ASSERT_TRUE(navigateAndWait(pane, body,
                                {{"image001.png@01D0A1B2.C3D4E5F0", image_path.toStdString()}}));
    pumpFor(300);
    // The page and the one known image.
    EXPECT_EQ(pane.Handler().ServedRequests() - served_before, 2);
    const QImage shown = pane.grab().toImage();
    EXPECT_EQ(QColor(shown.pixel(32, 32)), QColor(Qt::red));
    EXPECT_EQ(pane.RefusedRequests(), 0);
}

TEST_F(BrowserHost, ImagesNamedByDataOrFileUrlsStayBlank)
{
    QImage red(64, 64, QImage::Format_RGB32);
    red.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    ASSERT_TRUE(red.save(&buffer, "PNG"));
    const QString outside = QDir::tempPath() + QStringLiteral("/korvel-red.png");
    ASSERT_TRUE(red.save(outside));
    const QString body = writeWorkFile(
        QStringLiteral("body.html"),
        "<html><body style='margin:0;background:#fff'><img src='data:image/png;base64," +
            png.toBase64() + "' width='64' height='64'><img src='file://" + outside.toUtf8() +
            "' width='64' height='64'></body></html>");
    TestPane pane;
    pane.resize(300, 200);
    pane.show();
    ASSERT_TRUE(navigateAndWait(pane, body));
    pumpFor(300);
    const QImage shown = pane.grab().toImage();
    EXPECT_NE(QColor(shown.pixel(32, 32)), QColor(Qt::red)) << "data: image shown";
    EXPECT_NE(QColor(shown.pixel(96, 32)), QColor(Qt::red)) << "file: image shown";
    EXPECT_GE(pane.RefusedRequests(), 2);
    QFile::remove(outside);
}

TEST_F(BrowserHost, NavigatingAgainAfterARewriteShowsTheNewFiles)
{
    writeWorkFile(QStringLiteral("header.html"), utf16le(QStringLiteral("<b>first header</b>")));
    const QString body = writeWorkFile(QStringLiteral("body.txt"), "first body");
    const QString frameset = writeWorkFile(QStringLiteral("temp.html"), framesetPage(body));

    TestPane pane;
    pane.resize(500, 400);
    pane.show();
    ASSERT_TRUE(navigateAndWait(pane, frameset));
    EXPECT_EQ(matchesShown(pane, QStringLiteral("first header")), 1);
    EXPECT_EQ(matchesShown(pane, QStringLiteral("first body")), 1);

    writeWorkFile(QStringLiteral("header.html"), utf16le(QStringLiteral("<b>second header</b>")));
    writeWorkFile(QStringLiteral("body.txt"), "second body");
    ASSERT_TRUE(navigateAndWait(pane, frameset));
    EXPECT_EQ(matchesShown(pane, QStringLiteral("second header")), 1);
    EXPECT_EQ(matchesShown(pane, QStringLiteral("second body")), 1);
    EXPECT_EQ(matchesShown(pane, QStringLiteral("first body")), 0);

    // The body file alone, twice.
    ASSERT_TRUE(navigateAndWait(pane, body));
    EXPECT_EQ(plainText(pane).trimmed(), QStringLiteral("second body"));
    writeWorkFile(QStringLiteral("body.txt"), "third body");
    ASSERT_TRUE(navigateAndWait(pane, body));
    EXPECT_EQ(plainText(pane).trimmed(), QStringLiteral("third body"));
}

TEST_F(BrowserHost, ClickedLinksGoToTheDesktopAndTheDesktopOnly)
{
    TestPane pane;
    pane.resize(400, 300);
    pane.show();
    struct Case
    {
        const char *href;
        bool opened;
    };
    const Case cases[] = {
        {"https://example.org/page?q=1", true}, {"http://example.org/", true},
        {"mailto:ann@example.org", true},       {"ftp://example.org/file", false},
        {"file:///etc/passwd", false},          {"javascript:document.title='Changed'", false},
    };
    for (const Case &c : cases) {
        for (const char *target : {"", " target='_blank'"}) {
            const QString body = writeWorkFile(
                QStringLiteral("body.html"),
                QByteArray("<html><head><title>Links</title></head><body style='margin:0'>"
                           "<a href=\"") +
                    c.href + "\"" + target +
                    " style='display:block;width:400px;height:300px'>link</a></body></html>");
            ASSERT_TRUE(navigateAndWait(pane, body));
            pane.opened.clear();
            QWidget *surface = pane.focusProxy() ? pane.focusProxy() : &pane;
            mouseClick(surface, QPoint(100, 100));
            pumpFor(500);
            if (c.opened) {
                ASSERT_EQ(pane.opened.size(), 1u) << c.href << target;
                EXPECT_EQ(pane.opened[0], QUrl(QString::fromLatin1(c.href)));
            } else {
                EXPECT_TRUE(pane.opened.empty()) << c.href << target;
            }
            // The pane keeps the preview.
            EXPECT_EQ(pane.url(), CExplorer1::UrlFor(body)) << c.href << target;
            EXPECT_EQ(pane.title(), QStringLiteral("Links"));
        }
    }
}

} // namespace
} // namespace korvel::app_testing
