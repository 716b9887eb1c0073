#include "convert/mail/eml_sink.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/mail/mime_message.h"
#include "convert/pim/pim_values.h"

namespace korvel::convert {

namespace {

// Longest file name made from a subject, in bytes.
constexpr std::size_t file_name_limit = 100;

} // namespace

int eml_sink::make_folder(level &l, int container, sink_error &error)
{
    if (::mkdirat(container, l.name.c_str(), 0755) != 0) {
        return fail(error,
                    "Cannot create the folder \"" + l.original + "\": " + std::strerror(errno));
    }
    l.dir_fd = ::openat(container, l.name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (l.dir_fd < 0) {
        return fail(error,
                    "Cannot open the folder \"" + l.original + "\": " + std::strerror(errno));
    }
    return 1;
}

int eml_sink::children_directory(level &parent, sink_error &)
{
    return parent.dir_fd;
}

std::string eml_sink::mail_file_base(libpff_item_t *message) const
{
    return safe_file_name(pim_read_subject(message), file_name_limit, "message");
}

int eml_sink::add_mail(prepared_item &mail, level &l, sink_error &error)
{
    const std::string &base = mail.file_base;
    std::string name;
    int fd = -1;
    for (int n = 1; n < 100000 && fd < 0; ++n) {
        name = n == 1 ? base + ".eml" : base + " (" + std::to_string(n) + ").eml";
        fd = ::openat(l.dir_fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) {
            return fail(error, "Cannot create \"" + name + "\": " + std::strerror(errno));
        }
    }
    if (fd < 0) {
        return fail(error, "No free file name for \"" + base + "\"", false);
    }
    int result = 1;
    {
        fd_writer writer(fd, false);
        result = put_mail(mail, writer, error);
        if (result == 1 && !writer.flush()) {
            result = fail(error, "Cannot write \"" + name + "\": " + std::strerror(writer.error()));
        }
    }
    if (::close(fd) != 0 && result == 1) {
        result = fail(error, "Cannot write \"" + name + "\": " + std::strerror(errno));
    }
    if (result != 1) {
        ::unlinkat(l.dir_fd, name.c_str(), 0);
    }
    return result;
}

std::unique_ptr<mailbox_sink> make_eml_sink()
{
    return std::make_unique<eml_sink>();
}

} // namespace korvel::convert
