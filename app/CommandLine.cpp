#include "app/CommandLine.h"

#include <QDir>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

namespace korvel {

namespace {

const QString program = QStringLiteral("korvel-pst-repair");
const QString usage = QStringLiteral("usage: korvel-pst-repair [MAILBOX.pst]");

QString refusal(const QString &argument, const QString &reason)
{
    return QStringLiteral("%1: \"%2\": %3 (%4)").arg(program, argument, reason, usage);
}

// Why a path cannot be taken as the mailbox file, or empty when it can. The
// chooser offers only existing files; whether one is a readable mailbox is
// the scan's to say.
QString unusable(const QFileInfo &file)
{
    if (!file.exists()) {
        return QStringLiteral("no such file");
    }
    if (file.isDir()) {
        return QStringLiteral("is a directory");
    }
    return {};
}

} // namespace

CommandLine ParseCommandLine(const QStringList &arguments, const QString &current_directory)
{
    CommandLine line;
    QStringList names;
    bool options_ended = false;
    for (const QString &argument : arguments) {
        if (!options_ended && argument == QStringLiteral("--")) {
            options_ended = true;
        } else if (!options_ended && argument.startsWith(QLatin1Char('-'))) {
            line.error = refusal(argument, QStringLiteral("options are not accepted"));
            return line;
        } else {
            names.append(argument);
        }
    }
    if (names.isEmpty()) {
        return line;
    }
    if (names.size() > 1) {
        line.error = refusal(names.at(1), QStringLiteral("only one file at a time"));
        return line;
    }

    QString path = names.front();
    const QUrl url(path);
    if (url.isLocalFile()) {
        path = url.toLocalFile();
    }
    const QFileInfo file(QDir(current_directory), path);
    const QString reason = path.isEmpty() ? QStringLiteral("no such file") : unusable(file);
    if (!reason.isEmpty()) {
        line.error = refusal(names.front(), reason);
        return line;
    }
    line.file = QDir::cleanPath(file.absoluteFilePath());
    return line;
}

QString DroppedMailboxFile(const QMimeData *data)
{
    if (data == nullptr || !data->hasUrls()) {
        return {};
    }
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) {
        return {};
    }
    const QFileInfo file(urls.front().toLocalFile());
    if (!file.isAbsolute() || !unusable(file).isEmpty()) {
        return {};
    }
    return QDir::cleanPath(file.absoluteFilePath());
}

QString ChooserDirectory(const QString &chosen_file, const QString &start_directory,
                         const QString &home_directory)
{
    if (!chosen_file.isEmpty()) {
        const QFileInfo chosen(chosen_file);
        if (chosen.absoluteDir().exists()) {
            return chosen.absolutePath();
        }
    }
    if (QFileInfo::exists(QDir(start_directory).filePath(QStringLiteral("KorvelHelp.chm")))) {
        return home_directory;
    }
    return start_directory;
}

} // namespace korvel
