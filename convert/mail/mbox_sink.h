// The mbox format of the mail sinks (mail_sink.h): one mbox file per folder,
// named after it, its sub-folders in "<name>.sbd/"; each message after a
// "From " line, body lines quoted the mboxrd way.
#pragma once

#include "convert/mail/mail_sink.h"

namespace korvel::convert {

class mbox_sink final : public mail_sink
{
protected:
    int make_folder(level &l, int container, sink_error &error) override;
    int children_directory(level &parent, sink_error &error) override;
    int add_mail(prepared_item &mail, level &l, sink_error &error) override;
    bool quotes_from_lines() const override { return true; }
    int finish_folder(level &l, sink_error &error) override;
    bool write_before(const mime_message &m, fd_writer &writer) const override;
    bool write_after(fd_writer &writer) const override;
};

} // namespace korvel::convert
