#include "convert/save/save.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_set>

#include "convert/save/folder_readers.h"
#include "convert/save/free_space_search.h"
#include "convert/save/malloc_arenas.h"
#include "convert/save/pff_source.h"
#include "scan/folder_messages.h"
#include "scan/names.h"
#include "scan/pff_values.h"
#include "scan/recovered_items.h"
#include "scan/scan_state.h"
#include "scan/text.h"

namespace korvel::convert {

namespace {

constexpr char recovered_folder_name[] = "Recovered Items";

std::string directory_of(const std::string &path)
{
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_name_of(const std::string &path)
{
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder's display name (UTF-8), "" when it has none or it cannot be read.
std::string folder_name(libpff_item_t *folder)
{
    libpff_error_t *error = nullptr;
    std::size_t size = 0;
    if (libpff_folder_get_utf8_name_size(folder, &size, &error) != 1 || size == 0 ||
        size > (1u << 20)) {
        libpff_error_free(&error);
        return {};
    }
    std::string name(size, '\0');
    if (libpff_folder_get_utf8_name(folder, reinterpret_cast<std::uint8_t *>(name.data()), size,
                                    &error) != 1) {
        libpff_error_free(&error);
        return {};
    }
    name.resize(std::strlen(name.c_str()));
    return name;
}

// PidTagContainerClass of the folder, "" when absent.
std::string container_class(libpff_item_t *folder)
{
    libpff_error_t *error = nullptr;
    libpff_record_set_t *set = nullptr;
    if (libpff_item_get_record_set_by_index(folder, 0, &set, &error) != 1) {
        libpff_error_free(&error);
        return {};
    }
    std::string out;
    libpff_record_entry_t *entry = nullptr;
    if (libpff_record_set_get_entry_by_type(set, tag_container_class, 0, &entry,
                                            LIBPFF_ENTRY_VALUE_FLAG_MATCH_ANY_VALUE_TYPE,
                                            &error) == 1) {
        std::size_t size = 0;
        if (libpff_record_entry_get_data_as_utf8_string_size(entry, &size, &error) == 1 &&
            size > 0 && size < (1u << 16)) {
            out.assign(size, '\0');
            if (libpff_record_entry_get_data_as_utf8_string(
                    entry, reinterpret_cast<std::uint8_t *>(out.data()), size, &error) == 1) {
                out.resize(std::strlen(out.c_str()));
            } else {
                out.clear();
            }
        }
        libpff_record_entry_free(&entry, nullptr);
    }
    libpff_error_free(&error);
    libpff_record_set_free(&set, nullptr);
    return out;
}

// Owns a libpff item for one scope.
struct item_holder
{
    libpff_item_t *item = nullptr;
    item_holder() = default;
    item_holder(const item_holder &) = delete;
    item_holder &operator=(const item_holder &) = delete;
    ~item_holder()
    {
        if (item) {
            libpff_item_free(&item, nullptr);
        }
    }
};

// A folder on the way down to a checked one: begun in the output only when a
// checked folder below it is found.
struct ancestor
{
    std::string name;
    std::string container_class;
    libpff_item_t *folder;
    bool begun;
};

class save_walk
{
public:
    save_walk(scan_state *state, const save_request &request, mailbox_sink &sink,
              const std::function<void(int)> &progress, save_report &report)
        : m_state(state), m_request(request), m_sink(sink), m_progress(progress), m_report(report)
    {
    }

    // Counting (no writes) when count_only; returns 1 done, 0 stopped, -1 fatal.
    int run(libpff_item_t *root, bool count_only)
    {
        m_count_only = count_only;
        m_path.clear();
        m_ids.assign(1, root ? identifier_of(root) : 0);
        m_ancestors.clear();
        m_met.clear();
        m_walked.clear();
        if (count_only) {
            m_order.clear();
        }
        int r = 1;
        if (!root) {
            m_report.unreadable.push_back("The folder hierarchy cannot be read.");
        } else if (m_request.folders.empty() || m_checked.count(m_ids.front())) {
            return walk_sub_folders(root, true);
        } else {
            r = walk_sub_folders(root, false);
        }
        if (r != 1) {
            return r;
        }
        // Checked folders the hierarchy does not lead to are saved at the top.
        for (libpff_item_t *folder : m_request.folders) {
            std::uint32_t id = identifier_of(folder);
            if (m_met.count(id) || !m_checked.count(id)) {
                continue;
            }
            m_met.insert(id);
            if (m_walked.count(id)) {
                continue; // saved inside another checked folder
            }
            m_path.assign(1, folder_name(folder));
            m_ids.push_back(id);
            r = save_folder(folder, container_class(folder));
            m_ids.pop_back();
            if (r != 1) {
                return r;
            }
        }
        return 1;
    }

    void set_checked()
    {
        for (libpff_item_t *folder : m_request.folders) {
            m_checked.insert(identifier_of(folder));
        }
    }

    // "Recovered Items": the messages lying in the root folder itself (root;
    // nullptr for none), then, when recovered, what libpff finds outside the
    // hierarchy.
    int save_recovered(libpff_item_t *root, bool recovered);

    std::size_t total = 0;

    // Passes the Stop gate; false when a Stop was confirmed.
    bool still_going() { return go_on(); }

    // The counting pass takes the counts the folders state, reading a
    // contents table only for a folder that states none: the total only
    // paces the progress, and the reading threads read every table anyway.
    void count_from_folders() { m_counts_from_folders = true; }

    // Reads the folders the counting pass found on threads reading
    // threads, each through a libpff file of its own on the mailbox at path.
    void read_ahead(const std::string &path, unsigned threads)
    {
        // Their arenas are worth trimming only while the search beside goes on
        // allocating: at the end of the save the trim (a madvise a run of free
        // pages) held up a 14,000-message conversion for a tenth of a second.
        m_readers = std::make_unique<folder_readers>(
            path, m_order, threads, m_sink, m_state->stop_requested,
            [this] { return m_search && m_search->running(); });
    }
    // Ends the reading threads (before the sink goes).
    void end_read_ahead() { m_readers.reset(); }

    // Starts libpff's search of the free space on a file of its own (the
    // mailbox at path) to overlap the walk. Returns false when stopped.
    bool search_ahead(const std::string &path)
    {
        // The orphans go before it in "Recovered Items" and out of its list.
        if (recovered_items_find_orphans(m_state) != 1) {
            return false;
        }
        m_search =
            std::make_unique<free_space_search>(path, m_state->recovered, m_state->stop_requested);
        return true;
    }

private:
    std::string where() const
    {
        std::string out;
        for (const std::string &name : m_path) {
            out += out.empty() ? "" : "/";
            out += name.empty() ? "(no name)" : name;
        }
        return out.empty() ? "(top)" : out;
    }

    void unreadable(const std::string &line) { m_report.unreadable.push_back(line); }

    // Passes the Stop gate. Returns false when a Stop was confirmed.
    bool go_on()
    {
        m_state->gate.pass();
        return !m_state->stop_requested.load();
    }

    void advance()
    {
        ++m_done;
        if (m_progress && total > 0) {
            int percent = static_cast<int>(std::min<std::size_t>(m_done * 100 / total, 99));
            if (percent != m_last_percent) {
                m_last_percent = percent;
                m_progress(percent);
            }
        }
    }

    int fail(const sink_error &error)
    {
        m_report.failure = error.message;
        return -1;
    }

    int begin(const std::string &class_name, libpff_item_t *folder)
    {
        if (m_count_only) {
            return 1;
        }
        sink_error error;
        if (m_sink.begin_folder({m_path, class_name, folder}, error) != 1) {
            if (error.fatal) {
                return fail(error);
            }
            unreadable(where() + ": the folder cannot be written: " + error.message);
            return 0;
        }
        ++m_report.folders;
        for (const std::string &line : m_sink.take_problems()) {
            unreadable(where() + ": " + line);
        }
        return 1;
    }

    int end()
    {
        if (m_count_only) {
            return 1;
        }
        sink_error error;
        if (m_sink.end_folder(error) != 1) {
            return error.fatal ? fail(error) : 1;
        }
        return 1;
    }

    // Begins the ancestors of a checked folder that are not begun yet.
    int begin_ancestors()
    {
        std::vector<std::string> saved_path = m_path;
        for (std::size_t i = 0; i < m_ancestors.size(); ++i) {
            ancestor &a = m_ancestors[i];
            if (a.begun) {
                continue;
            }
            m_path.assign(saved_path.begin(),
                          saved_path.begin() + static_cast<std::ptrdiff_t>(i + 1));
            int r = begin(a.container_class, a.folder);
            if (r != 1) {
                m_path = saved_path;
                return r == 0 ? -2 : r;
            }
            a.begun = true;
        }
        m_path = saved_path;
        return 1;
    }

    // One message, from the contents (associated false) or the associated contents.
    int save_message(libpff_item_t *message, int index, bool associated)
    {
        if (!go_on()) {
            return 0;
        }
        sink_error error;
        int r = m_sink.add_message(message, associated, error);
        return message_written(r, error, identifier_of(message), index, associated);
    }

    // The same for a message a reading thread prepared.
    int save_prepared(read_ahead_entry &entry)
    {
        if (!go_on()) {
            return 0;
        }
        sink_error error;
        int r = -1;
        if (entry.prepared) {
            r = m_sink.write_prepared(*entry.prepared, entry.associated, error);
        } else {
            error = {"cannot be read", false};
        }
        return message_written(r, error, entry.identifier, entry.index, entry.associated);
    }

    // Counts and reports what the sink made of a message. Returns 1 on, 0
    // stopped, -1 fatal.
    int message_written(int r, const sink_error &error, std::uint32_t id, int index,
                        bool associated)
    {
        const std::string position =
            where() + (associated ? ", hidden item " : ", item ") + std::to_string(index + 1);
        const int result = sink_outcome(r, error, position, m_report.items);
        if (result != 1) {
            return result;
        }
        if (r == 1 && id != 0) {
            m_saved.insert(id);
        }
        advance();
        return 1;
    }

    // Counts the sink's answer r for the message at position (a written one
    // in written) and reports its problems. Returns 1 on, 0 stopped, -1 fatal.
    int sink_outcome(int r, const sink_error &error, const std::string &position,
                     std::size_t &written)
    {
        if (r == -1 && m_state->stop_requested.load()) {
            m_sink.take_problems();
            return 0; // a Stop ended the write part-way
        }
        if (r == 1) {
            ++written;
        } else if (r == 0) {
            ++m_report.skipped;
        } else if (error.fatal) {
            return fail(error);
        } else {
            unreadable(position + ": " + error.message);
        }
        for (const std::string &line : m_sink.take_problems()) {
            unreadable(position + ", " + line);
        }
        return 1;
    }

    void lost_message(bool associated, int index)
    {
        unreadable(where() + (associated ? ", hidden item " : ", item ") +
                   std::to_string(index + 1) + ": cannot be read");
        advance();
    }

    // What the end of a walk over a folder's contents tells the user.
    void walk_ended(bool associated, int result, bool from_node_index)
    {
        if (from_node_index) {
            m_report.notes.push_back(where() +
                                     ": its contents table cannot be read; its items were "
                                     "listed from the node index");
        }
        if (result == -1) {
            unreadable(where() + (associated ? ": its hidden items" : ": its items") +
                       " cannot be read");
        }
    }

    // The folder's contents as the reading threads prepared them.
    int save_read_ahead()
    {
        for (;;) {
            read_ahead_entry *e = m_readers->next();
            if (!e) {
                return 0; // a Stop
            }
            if (e->what == read_ahead_entry::kind::message) {
                int r = save_prepared(*e);
                if (r != 1) {
                    return r;
                }
            } else if (e->what == read_ahead_entry::kind::lost) {
                lost_message(e->associated, e->index);
            } else if (e->what == read_ahead_entry::kind::walked) {
                walk_ended(e->associated, e->walk_result, e->from_node_index);
                if (e->associated) {
                    return 1;
                }
            }
        }
    }

    int save_contents(libpff_item_t *folder)
    {
        if (m_count_only) {
            m_order.push_back(m_ids.back());
            libpff_error_t *error = nullptr;
            int n = 0;
            std::uint32_t told = 0;
            if (m_counts_from_folders && read_int32(folder, tag_content_count, &told) == 1) {
                total += told;
            } else if (libpff_folder_get_number_of_sub_messages(folder, &n, &error) == 1) {
                total += static_cast<std::size_t>(n);
            }
            libpff_error_free(&error);
            if (m_counts_from_folders &&
                read_int32(folder, tag_associated_content_count, &told) == 1) {
                total += told;
            } else if (libpff_folder_get_number_of_sub_associated_contents(folder, &n, &error) ==
                       1) {
                total += static_cast<std::size_t>(n);
            }
            libpff_error_free(&error);
            return go_on() ? 1 : 0;
        }
        if (m_readers && m_readers->begin(m_ids.back())) {
            return save_read_ahead();
        }
        for (bool associated : {false, true}) {
            int outcome = 1;
            auto visit = [&](libpff_item_t *message, int index) {
                outcome = save_message(message, index, associated);
                return outcome == 1 ? 1 : 0;
            };
            auto lost = [&](int index) { lost_message(associated, index); };
            bool from_node_index = false;
            int r = walk_folder_contents(folder, associated, visit, lost, &from_node_index);
            if (r == 0) {
                if (from_node_index) {
                    walk_ended(associated, 1, true);
                }
                return outcome;
            }
            walk_ended(associated, r, from_node_index);
        }
        return 1;
    }

    // Saves a folder with all it holds. Returns 1 on, 0 stopped, -1 fatal.
    int save_folder(libpff_item_t *folder, const std::string &class_name)
    {
        if (!go_on()) {
            return 0;
        }
        m_walked.insert(m_ids.back());
        int r = begin(class_name, folder);
        if (r != 1) {
            return r == 0 ? 1 : r; // an unwritable folder is reported and left out
        }
        r = save_contents(folder);
        if (r == 1) {
            r = walk_sub_folders(folder, true);
        }
        if (r != 1) {
            return r;
        }
        return end();
    }

    // The sub-folders of folder: each saved whole when save_all, else only
    // the checked ones (and the way down to them).
    int walk_sub_folders(libpff_item_t *folder, bool save_all)
    {
        bool from_node_index = false;
        std::size_t offered = 0;
        int outcome = 1;
        libpff_error_t *error = nullptr;
        const int walked = export_handle_walk_sub_folders(
            nullptr, folder,
            [&](libpff_item_t *sub_folder, int) {
                ++offered;
                outcome = go_on() ? walk_into(sub_folder, save_all) : 0;
                return outcome == 1 ? 1 : 0;
            },
            [&](int i) {
                if (!m_count_only) {
                    unreadable(where() + ", folder " + std::to_string(i + 1) + ": cannot be read");
                }
            },
            &from_node_index, &error);
        libpff_error_free(&error);
        if (walked == 0) {
            return outcome;
        }
        const bool reported = !m_count_only && (save_all || m_path.empty());
        if (walked == -1 || (from_node_index && offered == 0)) {
            if (reported) {
                unreadable(where() + ": its sub-folders cannot be read");
            }
        } else if (from_node_index && reported) {
            m_report.notes.push_back(where() +
                                     ": its hierarchy table cannot be read; its sub-folders were "
                                     "listed from the node index");
        }
        return 1;
    }

    // One sub-folder of the walk: saved whole when save_all, else saved when
    // checked or walked on the way down. Returns 1 on, 0 stopped, -1 fatal.
    int walk_into(libpff_item_t *sub, bool save_all)
    {
        std::uint32_t id = identifier_of(sub);
        if (std::find(m_ids.begin(), m_ids.end(), id) != m_ids.end()) {
            return 1; // a damaged hierarchy leading back up: walked already
        }
        m_ids.push_back(id);
        m_path.push_back(folder_name(sub));
        int r = 1;
        if (save_all) {
            r = save_folder(sub, container_class(sub));
        } else if (m_checked.count(id)) {
            m_met.insert(id);
            r = m_count_only ? 1 : begin_ancestors();
            if (r == 1) {
                r = save_folder(sub, container_class(sub));
            } else if (r == -2) {
                r = 1; // an ancestor could not be written: reported
            }
        } else {
            m_ancestors.push_back({m_path.back(), container_class(sub), sub, false});
            r = walk_sub_folders(sub, false);
            bool begun = m_ancestors.back().begun;
            m_ancestors.pop_back();
            if (r == 1 && begun) {
                r = end();
            }
        }
        m_path.pop_back();
        m_ids.pop_back();
        return r;
    }

    scan_state *m_state;
    const save_request &m_request;
    mailbox_sink &m_sink;
    const std::function<void(int)> &m_progress;
    save_report &m_report;
    bool m_count_only = false;
    bool m_counts_from_folders = false;
    std::vector<std::string> m_path;
    std::vector<std::uint32_t> m_ids;
    std::vector<ancestor> m_ancestors;
    std::unordered_set<std::uint32_t> m_checked;
    std::unordered_set<std::uint32_t> m_met;
    // Folders saved so far (by identifier).
    std::unordered_set<std::uint32_t> m_walked;
    std::unordered_set<std::uint32_t> m_saved;
    std::size_t m_done = 0;
    int m_last_percent = -1;
    // The folders whose contents the save writes, in order (the counting
    // pass's), and the threads reading them ahead.
    std::vector<std::uint32_t> m_order;
    std::unique_ptr<folder_readers> m_readers;
    std::unique_ptr<free_space_search> m_search;
    // "Recovered Items": begun in the output; cannot be made.
    struct
    {
        bool open = false;
        bool give_up = false;
    } m_recovered;
    int open_recovered(libpff_item_t *item, const std::string &position);
    int offer_recovered(libpff_item_t *item, const std::string &position);
};

// "Recovered Items" is begun with its first item that can be read. Returns
// 1 begun, 0 not (the item or the folder is named in the report and the
// caller moves on), -1 fatal.
int save_walk::open_recovered(libpff_item_t *item, const std::string &position)
{
    if (m_recovered.open) {
        return 1;
    }
    // No empty "Recovered Items": an item whose values cannot be read at all
    // (a message rebuilt without its sub-nodes, say) is named in the report
    // without making the folder. libpff keeps the values it reads here for
    // the sink.
    libpff_error_t *error = nullptr;
    int sets = 0;
    if (libpff_item_get_number_of_record_sets(item, &sets, &error) != 1) {
        unreadable(std::string(recovered_folder_name) + ", " + position +
                   ": its properties cannot be read: " + pff_error_text(error));
        libpff_error_free(&error);
        return 0;
    }
    m_path.assign(1, recovered_folder_name);
    int r = begin("IPF.Note", nullptr);
    if (r == 0) {
        m_recovered.give_up = true;
        return 0;
    }
    if (r != 1) {
        return -1;
    }
    m_recovered.open = true;
    return 1;
}

// One item for "Recovered Items". Returns 1 on, 0 stopped, -1 fatal.
int save_walk::offer_recovered(libpff_item_t *item, const std::string &position)
{
    if (!go_on()) {
        return 0;
    }
    // The root folder's messages may be in the recovered list too (the index
    // rebuild puts its messages there when no folder survived).
    const std::uint32_t id = identifier_of(item);
    if (id != 0 && !m_saved.insert(id).second) {
        return 1;
    }
    const int opened = open_recovered(item, position);
    if (opened != 1) {
        return opened == 0 ? 1 : -1;
    }
    sink_error error;
    const int r = m_sink.add_message(item, false, error);
    return sink_outcome(r, error, std::string(recovered_folder_name) + ", " + position,
                        m_report.recovered);
}

int save_walk::save_recovered(libpff_item_t *root, bool recovered)
{
    m_recovered = {};
    int result = 1;
    // The new file's root holds no messages: those of the source's root (a
    // damaged hierarchy leaves some there) are kept here.
    if (root) {
        std::unordered_set<std::uint32_t> seen;
        auto visit = [&](libpff_item_t *message, int index) {
            if (!seen.insert(identifier_of(message)).second) {
                return 1;
            }
            result = offer_recovered(message, "root folder, item " + std::to_string(index + 1));
            return result == 1 && !m_recovered.give_up ? 1 : 0;
        };
        walk_folder_contents(
            root, false, visit, [](int) {}, nullptr);
        if (result == 1 && !m_recovered.give_up) {
            walk_folder_contents(
                root, true, visit, [](int) {}, nullptr);
        }
    }
    if (recovered && result == 1) {
        // The same list the window's "Recovered Items" node shows; found now
        // when the scan did not get that far, by the search that ran beside
        // the walk or else on the scan's file.
        const int searched = m_search ? m_search->wait(m_request.searching_free_space) : -1;
        if (searched == 0 || recovered_items_find_orphans(m_state) != 1 ||
            (searched == -1 &&
             recovered_items_find_free_space(m_state, m_request.searching_free_space) != 1)) {
            return 0;
        }
        for (recovered_source source : recovered_sources) {
            const bool beside = searched == 1 && source == recovered_source::free_space;
            const std::size_t count =
                beside ? m_search->count() : recovered_items_count(&m_state->recovered, source);
            for (std::size_t i = 0; i < count && result == 1 && !m_recovered.give_up; ++i) {
                result = offer_recovered(
                    beside ? m_search->get(i) : recovered_items_get(&m_state->recovered, source, i),
                    utf16_to_utf8(recovered_source_name(source)) + ", item " +
                        std::to_string(i + 1));
            }
        }
    }
    return result == 1 && m_recovered.open ? end() : result;
}

bool same_file(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A name beside the target that does not exist yet.
std::string temporary_name(const std::string &target)
{
    std::string directory = directory_of(target);
    std::string base = base_name_of(target);
    for (unsigned n = 0;; ++n) {
        std::string candidate = directory + "/." + base + ".part-" + std::to_string(::getpid()) +
                                "-" + std::to_string(n);
        struct stat st;
        if (::lstat(candidate.c_str(), &st) != 0 && errno == ENOENT) {
            return candidate;
        }
    }
}

// Puts the finished output in place. Returns 1, or -1 with why set.
int move_into_place(const std::string &temporary, const std::string &target, bool replace,
                    std::string &why)
{
    // Some file systems (FAT, network shares) know neither flag: there the
    // check and the rename are two steps.
    auto unsupported = [] { return errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP; };
    struct stat st;
    if (!replace) {
        if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) ==
            0) {
            return 1;
        }
        if (unsupported()) {
            if (::lstat(target.c_str(), &st) == 0) {
                errno = EEXIST;
            } else if (::rename(temporary.c_str(), target.c_str()) == 0) {
                return 1;
            }
        }
        why = errno == EEXIST ? "the file already exists" : std::strerror(errno);
        return -1;
    }
    if (::lstat(target.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        // A directory output replacing a directory: swap, then remove the old one.
        if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) !=
            0) {
            if (!unsupported()) {
                why = std::strerror(errno);
                return -1;
            }
            const std::string aside = temporary + ".old";
            if (::rename(target.c_str(), aside.c_str()) != 0) {
                why = std::strerror(errno);
                return -1;
            }
            if (::rename(temporary.c_str(), target.c_str()) != 0) {
                why = std::strerror(errno);
                ::rename(aside.c_str(), target.c_str());
                return -1;
            }
            std::error_code ignored;
            std::filesystem::remove_all(aside, ignored);
            return 1;
        }
        std::error_code ignored;
        std::filesystem::remove_all(temporary, ignored);
        return 1;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        why = std::strerror(errno);
        return -1;
    }
    return 1;
}

// Why the request's target cannot be used, "" when it can.
std::string target_refusal(const std::string &source, const save_request &request)
{
    switch (check_save_target(source, request.target)) {
    case target_check::is_source:
        return "The mailbox cannot be saved over itself. Choose another file.";
    case target_check::exists:
        return request.replace_existing ? "" : request.target + " already exists.";
    case target_check::no_directory:
        return "The folder " + directory_of(request.target) + " does not exist.";
    case target_check::ok:
        break;
    }
    return {};
}

// Closes the output of a walk that ended with r and moves it into place, or
// gives it up. Returns 1 saved, 0 stopped, -1 failed (report says why).
int complete_output(mailbox_sink &sink, int r, const std::string &source,
                    const std::string &temporary, const save_request &request, save_report &report)
{
    sink_error sink_failure;
    if (r == 1 && sink.close(sink_failure) != 1) {
        report.failure = sink_failure.message;
        r = -1;
    }
    if (r == 0) {
        sink.abandon();
        report.stopped = true;
        return 0;
    }
    if (r == -1) {
        sink.abandon();
        report.failure = "Cannot write " + request.target + ": " + report.failure;
        return -1;
    }
    std::string why;
    if (check_save_target(source, request.target) == target_check::is_source ||
        move_into_place(temporary, request.target, request.replace_existing, why) != 1) {
        sink.abandon();
        report.failure = "Cannot write " + request.target + ": " +
                         (why.empty() ? "it is the mailbox being saved" : why);
        return -1;
    }
    return 1;
}

} // namespace

namespace {

// Below this size the files the reading threads open again (each building
// libpff's index of the whole mailbox) and the threads' start cost more than
// they share out: a 1,400-message mailbox of 8 MB converted into mbox in
// 0.14 s with two threads and 0.10 s with one; at 78 MB both took 0.75 s.
constexpr std::uint64_t small_mailbox_bytes = 64ull << 20;

bool small_mailbox(const std::string &source)
{
    struct stat st;
    return ::stat(source.c_str(), &st) == 0 &&
           static_cast<std::uint64_t>(st.st_size) < small_mailbox_bytes;
}

} // namespace

unsigned default_save_threads()
{
    return std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
}

target_check check_save_target(const std::string &source, const std::string &target)
{
    struct stat source_st;
    struct stat target_st;
    if (::stat(target.c_str(), &target_st) == 0 && ::stat(source.c_str(), &source_st) == 0 &&
        same_file(source_st, target_st)) {
        return target_check::is_source;
    }
    if (::lstat(target.c_str(), &target_st) == 0) {
        return target_check::exists;
    }
    struct stat dir_st;
    if (::stat(directory_of(target).c_str(), &dir_st) != 0 || !S_ISDIR(dir_st.st_mode)) {
        return target_check::no_directory;
    }
    return target_check::ok;
}

std::string default_save_target(const std::string &source, output_format format)
{
    std::string directory = directory_of(source);
    std::string base = base_name_of(source);
    std::string extension;
    std::size_t dot = base.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        extension = base.substr(dot);
        base.resize(dot);
    }
    std::string name = base + "-repaired";
    switch (format) {
    case output_format::pst: {
        std::string lower = extension;
        for (char &c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        name += lower == ".pst" ? extension : ".pst";
        break;
    }
    case output_format::mbox:
        name += ".mbox";
        break;
    case output_format::eml:
        name += ".eml";
        break;
    }
    return directory == "." && source.find('/') == std::string::npos ? name
                                                                     : directory + "/" + name;
}

int save_mailbox(scan_state *state, const save_request &request,
                 const std::function<void(int)> &progress, save_report &report)
{
    std::lock_guard<std::recursive_mutex> lock(state->mailbox_mutex);
    report = save_report{};
    if (!state->file) {
        report.failure = "No mailbox is open.";
        return -1;
    }
    const std::string source = utf16_to_utf8(state->mailbox_path);
    report.failure = target_refusal(source, request);
    if (!report.failure.empty()) {
        return -1;
    }

    libpff_error_t *error = nullptr;
    item_holder root;
    if (libpff_file_get_root_folder(state->file, &root.item, &error) != 1) {
        // What libpff finds outside the hierarchy is still saved.
        libpff_error_free(&error);
        root.item = nullptr;
    }

    std::unique_ptr<mailbox_sink> sink = make_sink(request.format);
    sink->set_stop_flag(&state->stop_requested);
    const unsigned threads = request.threads != 0 ? request.threads
                             : small_mailbox(source)  ? 1
                                                      : default_save_threads();
    sink->set_threads(threads);
    save_walk walk(state, request, *sink, progress, report);
    walk.set_checked();
    // Other libpff files on the same file read the same folders only when
    // the mailbox opens from its name as it is (not through a rebuilt index).
    const bool read_ahead =
        threads > 1 && sink->prepares_messages() && !state->rebuilt_io && !request.recovered_only;
    if (read_ahead) {
        walk.count_from_folders();
    }
    if (progress) {
        progress(0);
    }
    int r = request.recovered_only ? 1 : walk.run(root.item, true);
    report.unreadable.clear(); // the counting pass reports nothing
    // A mailbox opened through a rebuilt index says so first.
    report.notes = state->rebuild_report;
    if (r == 0) {
        report.stopped = true;
        return 0;
    }

    const std::string temporary = temporary_name(request.target);
    sink_error sink_failure;
    if (sink->open(temporary, sink_failure) != 1) {
        sink->abandon();
        report.failure = "Cannot write " + request.target + ": " + sink_failure.message;
        return -1;
    }
    const bool search_ahead = threads > 1 && !state->rebuilt_io &&
                              !state->recovered.free_space_searched &&
                              (request.recovered_items || request.recovered_only);
    if (search_ahead) {
        // With the search beside the reading threads, each thread's arena
        // kept what libpff freed in it: a 1 GB mailbox's save peaked near
        // 240 MB instead of 155. Two arenas for all keep it near 165, for
        // some 0.5 s of that save's 3.6; set before any of them starts, or
        // the threads already running keep arenas of their own.
        share_malloc_arenas();
    }
    // The search starts first: the reading threads ask whether it still runs.
    const bool searching = !search_ahead || walk.search_ahead(source);
    if (read_ahead && searching) {
        walk.read_ahead(source, threads);
    }
    r = !searching                ? 0
        : request.recovered_only ? 1
                                 : walk.run(root.item, false);
    if (r != 1) {
        walk.end_read_ahead();
    }
    if (r == 1) {
        // The reading threads close their files meanwhile.
        r = walk.save_recovered(request.folders.empty() && !request.recovered_only ? root.item
                                                                                   : nullptr,
                                request.recovered_items || request.recovered_only);
    }
    walk.end_read_ahead();
    if (r == 1 && !walk.still_going()) {
        r = 0; // a Stop during the last item
    }
    r = complete_output(*sink, r, source, temporary, request, report);
    if (r == 1 && progress) {
        progress(100);
    }
    return r;
}

} // namespace korvel::convert
