// The EML format of the mail sinks (mail_sink.h): a directory per folder
// (sub-folders inside it), one "<subject>.eml" per message, created
// exclusively (never over an existing file).
#pragma once

#include "convert/mail/mail_sink.h"

namespace korvel::convert {

class eml_sink final : public mail_sink
{
protected:
    int make_folder(level &l, int container, sink_error &error) override;
    int children_directory(level &parent, sink_error &error) override;
    int add_mail(prepared_item &mail, level &l, sink_error &error) override;
    std::string mail_file_base(libpff_item_t *message) const override;
};

} // namespace korvel::convert
