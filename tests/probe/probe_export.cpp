// korvel-probe export FILE PATH N: scans FILE, fills the folder at tree PATH,
// re-exports the item of record N as the preview does, then prints every
// value holder (holder<TAB>name<TAB>value, "(absent)" for an absent one; body
// bytes as their size and SHA-256) and every file in the working directory
// (file<TAB>name<TAB>size<TAB>sha256).
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "scan/files.h"
#include "scan/item_export.h"
#include "scan/item_kinds.h"
#include "scan/item_record.h"
#include "tests/probe/probe.h"
#include "tests/probe/probe_files.h"
#include "tests/support/scan_session.h"

namespace korvel::probe {
namespace {

using korvel::testing::narrow;

void print_holder(const std::string &name, const std::u16string &value)
{
    print_line({"holder", name, escaped(narrow(value))});
}

void print_holder(const std::string &name, const std::optional<std::u16string> &value)
{
    print_line({"holder", name, value ? escaped(narrow(*value)) : std::string("(absent)")});
}

void print_holders(const korvel::scan_state &state)
{
    const message_values &message = export_message_values();
    print_holder("kind_name", state.kind_name);
    print_holder("body_kind", message.body_kind);
    sha256 body_hash;
    body_hash.update(message.body_bytes.data(), message.body_bytes.size());
    print_line({"holder", "body_bytes",
                std::to_string(message.body_bytes.size()) + " " + body_hash.hex_digest()});
    print_line({"holder", "body_size", std::to_string(message.body_size)});
    print_holder("to", message.to_text);
    print_holder("cc", message.cc_text);
    print_holder("bcc", message.bcc_text);
    print_holder("attachment_list", message.attachment_list);

    const kind_values &kinds = export_kind_values();
    for (std::size_t i = 0; i < contact_properties.size(); ++i) {
        print_holder(std::string("contact.") + contact_properties[i].name, kinds.contact.values[i]);
    }
    const appointment_values &appointment = kinds.appointment;
    print_holder("appointment.start", appointment.start);
    print_holder("appointment.end", appointment.end);
    print_holder("appointment.duration", appointment.duration);
    print_holder("appointment.location", appointment.location);
    print_holder("appointment.recurrence_pattern", appointment.recurrence_pattern);
    print_holder("appointment.clip_start", appointment.clip_start);
    print_holder("appointment.clip_end", appointment.clip_end);
    print_holder("appointment.busy_status", appointment.busy_status);
    const task_values &task = kinds.task;
    print_holder("task.start_date", task.start_date);
    print_holder("task.due_date", task.due_date);
    print_holder("task.status", task.status);
    print_holder("task.percent_complete", task.percent_complete);
    print_holder("task.actual_effort", task.actual_effort);
    print_holder("task.total_effort", task.total_effort);
    print_holder("task.complete", task.complete);
    print_holder("task.version", task.version);
}

int run_export(const std::vector<std::string> &arguments)
{
    if (arguments.size() != 3) {
        return 2;
    }
    std::int32_t sequence = 0;
    try {
        sequence = static_cast<std::int32_t>(std::stol(arguments[2]));
    } catch (...) {
        std::fprintf(stderr, "korvel-probe: N must be a number\n");
        return 2;
    }
    korvel::testing::scan_session session;
    session.scan(arguments[0]);
    if (!session.fill(arguments[1])) {
        std::fprintf(stderr, "korvel-probe: no folder %s\n", arguments[1].c_str());
        return 1;
    }
    // As the preview: an empty working directory, the default body and no
    // attachment names before the re-export.
    const std::string directory = working_directory();
    if (directory.empty()) {
        std::fprintf(stderr, "korvel-probe: no working directory\n");
        return 1;
    }
    remove_directory(directory);
    ::mkdir(directory.c_str(), 0700);
    message_values &message = export_message_values();
    message_values_reset_body(&message);
    message.attachment_list.clear();

    const item_record *record = item_record_list_find(&session.state.records, sequence);
    if (record == nullptr) {
        std::fprintf(stderr, "korvel-probe: no record %d\n", sequence);
        return 1;
    }
    export_record_item(&session.state, record);
    print_holders(session.state);
    print_files(directory);
    return 0;
}

const probe_command export_command("export", "FILE PATH N", run_export);

} // namespace
} // namespace korvel::probe
