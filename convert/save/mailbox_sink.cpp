#include "convert/save/mailbox_sink.h"

#include "convert/mail/mail_sink.h"
#include "convert/save/pst_sink.h"

namespace korvel::convert {

namespace {

// Stands in for a format this build cannot write yet: open fails and says so.
class unavailable_sink : public mailbox_sink
{
public:
    explicit unavailable_sink(std::string what) : m_what(std::move(what)) {}
    int open(const std::string &, sink_error &error) override
    {
        error = {"Saving as " + m_what + " is not available in this version.", true};
        return -1;
    }
    int begin_folder(const sink_folder &, sink_error &error) override { return refuse(error); }
    int end_folder(sink_error &error) override { return refuse(error); }
    int add_message(libpff_item_t *, bool, sink_error &error) override { return refuse(error); }
    int close(sink_error &error) override { return refuse(error); }
    void abandon() override {}

private:
    int refuse(sink_error &error)
    {
        error = {"the output is not open", true};
        return -1;
    }
    std::string m_what;
};

} // namespace

std::unique_ptr<mailbox_sink> make_sink(output_format format)
{
    switch (format) {
    case output_format::pst:
        return make_pst_sink();
    case output_format::mbox:
        return make_mbox_sink();
    case output_format::eml:
        return make_eml_sink();
    }
    return std::make_unique<unavailable_sink>("this format");
}

} // namespace korvel::convert
