// korvel-probe calendar FILE PATH [ics|vcf]: prints the iCalendar text (the
// default) or the vCard text the conversion writes for the folder at PATH
// (folder names from the root folder down, separated by "/"). Notes and
// unreadable items go to standard error, one per line.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <libpff.h>

#include "convert/pim/icalendar.h"
#include "convert/pim/vcard.h"
#include "scan/pff_values.h"
#include "tests/probe/probe.h"

namespace korvel::probe {
namespace {

class file_holder
{
public:
    file_holder() { libpff_file_initialize(&m_file, nullptr); }
    ~file_holder()
    {
        if (m_file != nullptr) {
            if (m_open) {
                libpff_file_close(m_file, nullptr);
            }
            libpff_file_free(&m_file, nullptr);
        }
    }
    file_holder(const file_holder &) = delete;
    file_holder &operator=(const file_holder &) = delete;
    bool open(const std::string &path)
    {
        m_open = m_file != nullptr &&
                 libpff_file_open(m_file, path.c_str(), LIBPFF_OPEN_READ, nullptr) == 1;
        return m_open;
    }
    libpff_file_t *get() const { return m_file; }

private:
    libpff_file_t *m_file = nullptr;
    bool m_open = false;
};

std::string folder_name(libpff_item_t *folder)
{
    std::size_t size = 0;
    if (libpff_folder_get_utf8_name_size(folder, &size, nullptr) != 1 || size == 0) {
        return {};
    }
    std::string name(size, '\0');
    if (libpff_folder_get_utf8_name(folder, reinterpret_cast<std::uint8_t *>(name.data()), size,
                                    nullptr) != 1) {
        return {};
    }
    name.resize(name.find('\0') == std::string::npos ? name.size() : name.find('\0'));
    return name;
}

// The folder at path below the root folder; false when a step is missing.
bool find_folder(libpff_file_t *file, const std::string &path, item_holder &folder)
{
    if (libpff_file_get_root_folder(file, folder.out(), nullptr) != 1) {
        return false;
    }
    std::stringstream steps(path);
    std::string step;
    while (std::getline(steps, step, '/')) {
        if (step.empty()) {
            continue;
        }
        int count = 0;
        if (libpff_folder_get_number_of_sub_folders(folder.get(), &count, nullptr) != 1) {
            return false;
        }
        item_holder found;
        for (int index = 0; index < count && found.get() == nullptr; ++index) {
            item_holder sub;
            if (libpff_folder_get_sub_folder(folder.get(), index, sub.out(), nullptr) == 1 &&
                folder_name(sub.get()) == step) {
                *found.out() = sub.take();
            }
        }
        if (found.get() == nullptr) {
            return false;
        }
        *folder.out() = found.take();
    }
    return true;
}

int probe_calendar(const std::vector<std::string> &arguments)
{
    if (arguments.size() < 2 || arguments.size() > 3 ||
        (arguments.size() == 3 && arguments[2] != "ics" && arguments[2] != "vcf")) {
        std::fprintf(stderr, "usage: korvel-probe calendar FILE PATH [ics|vcf]\n");
        return 2;
    }
    file_holder file;
    if (!file.open(arguments[0])) {
        std::fprintf(stderr, "korvel-probe calendar: cannot open %s\n", arguments[0].c_str());
        return 1;
    }
    item_holder folder;
    if (!find_folder(file.get(), arguments[1], folder)) {
        std::fprintf(stderr, "korvel-probe calendar: no folder %s\n", arguments[1].c_str());
        return 1;
    }
    std::string error;
    std::vector<std::string> report;
    int result = 0;
    if (arguments.size() == 3 && arguments[2] == "vcf") {
        convert::vcard_folder_counts counts;
        result = convert::folder_write_vcards(folder.get(), std::cout, counts, error);
        report = counts.unreadable;
    } else {
        convert::ical_folder_counts counts;
        result = convert::folder_write_icalendar(folder.get(), std::cout, counts, error);
        report = counts.unreadable;
        report.insert(report.end(), counts.notes.begin(), counts.notes.end());
    }
    std::cout.flush();
    for (const auto &line : report) {
        std::fprintf(stderr, "%s\n", line.c_str());
    }
    if (result != 1) {
        std::fprintf(stderr, "korvel-probe calendar: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

const probe_command command("calendar", "FILE PATH [ics|vcf]", probe_calendar);

} // namespace
} // namespace korvel::probe
