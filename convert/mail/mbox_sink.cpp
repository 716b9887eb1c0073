#include "convert/mail/mbox_sink.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>

#include "convert/mail/mime_message.h"

namespace korvel::convert {

namespace {

std::string from_line(const mime_message &m)
{
    std::time_t t = static_cast<std::time_t>(m.envelope_time());
    std::tm tm{};
    char date[64] = "Thu Jan  1 00:00:00 1970";
    if (gmtime_r(&t, &tm) != nullptr) {
        std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", &tm);
    }
    return "From " + m.envelope_sender() + " " + date + "\n";
}

} // namespace

int mbox_sink::make_folder(level &l, int container, sink_error &error)
{
    l.file_fd = ::openat(container, l.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (l.file_fd < 0) {
        return fail(error, "Cannot create the mailbox file for \"" + l.original +
                               "\": " + std::strerror(errno));
    }
    l.writer = std::make_unique<fd_writer>(l.file_fd, true);
    return 1;
}

// Sub-folders go into "<name>.sbd" beside the folder's file, made on the
// first one.
int mbox_sink::children_directory(level &parent, sink_error &error)
{
    if (parent.children_fd >= 0) {
        return parent.children_fd;
    }
    std::string sbd = parent.name + ".sbd";
    if (::mkdirat(parent.parent_fd, sbd.c_str(), 0755) != 0 && errno != EEXIST) {
        fail(error, "Cannot create the folder directory \"" + sbd + "\": " + std::strerror(errno));
        return -1;
    }
    parent.children_fd =
        ::openat(parent.parent_fd, sbd.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parent.children_fd < 0) {
        fail(error, "Cannot open the folder directory \"" + sbd + "\": " + std::strerror(errno));
        return -1;
    }
    return parent.children_fd;
}

int mbox_sink::add_mail(prepared_item &mail, level &l, sink_error &error)
{
    return put_mail(mail, *l.writer, error);
}

int mbox_sink::finish_folder(level &l, sink_error &error)
{
    if (l.writer && !l.writer->flush()) {
        return fail(error, "Cannot write the mailbox file \"" + l.name +
                               "\": " + std::strerror(l.writer->error()));
    }
    return 1;
}

bool mbox_sink::write_before(const mime_message &m, fd_writer &writer) const
{
    std::string line = from_line(m);
    return writer.write_raw(line.data(), line.size());
}

// A blank line ends each message, so that the next "From " line starts a
// paragraph of its own.
bool mbox_sink::write_after(fd_writer &writer) const
{
    return writer.write_raw("\n", 1);
}

std::unique_ptr<mailbox_sink> make_mbox_sink()
{
    return std::make_unique<mbox_sink>();
}

} // namespace korvel::convert
