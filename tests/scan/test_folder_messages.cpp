// The message walk behind the folder fill: one pass over the folder's
// children in contents-table order must give what libpff's per-index lookup
// gives, and a message or sub-folder libpff cannot fetch must hide nothing
// else. Damaged mailboxes are made by our writer and then patched: the node
// of one message or folder gets a parent that does not exist, so libpff
// keeps it among its orphans while its parent's table still lists it.
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "format/crc.h"
#include "scan/folder_messages.h"
#include "scan/item_export.h"
#include "scan/item_kinds.h"
#include "scan/list_item.h"
#include "scan/pff_values.h"
#include "scan/text.h"
#include "tests/support/pst_builder.h"
#include "tests/support/pst_damage.h"
#include "tests/support/samples.h"
#include "tests/support/scan_session.h"

namespace korvel {
namespace {

using testing::narrow;
using testing::pst_builder;
using testing::scan_session;

// A node identifier no folder of a writer-made file has.
constexpr std::uint32_t missing_folder = 0x7FFFFE2;

std::string fixture_path(const std::string &name)
{
    return testing::scratch_directory("messages-" + name) + "/" + name + ".pst";
}

// A folder "Big" of count e-mails: subject "Message n", body "body n", and
// every fifth a contact, every seventh a task, so the titles and kinds vary.
std::string big_folder(const std::string &name, int count)
{
    pst_builder builder;
    auto &big = builder.root().add_folder("Big");
    for (int n = 0; n < count; ++n) {
        const bool contact = n % 5 == 4;
        const bool task = n % 7 == 6;
        auto &m = big.add_message(contact ? "IPM.Contact" : task ? "IPM.Task" : "IPM.Note");
        m.set_unicode(0x0037, "Message " + std::to_string(n));
        m.set_unicode(0x0C1A, "Sender " + std::to_string(n % 13));
        m.set_long(0x0E07, n % 3);
        m.set_body("body " + std::to_string(n));
    }
    const std::string path = fixture_path(name);
    builder.write(path);
    return path;
}

// Gives the node identifier's entry in the node B-tree a new parent and
// re-seals its page. Unicode file layout: 512-byte pages, node B-tree pages
// of type 0x81 with 32-byte leaf entries (nid 8, data 8, sub 8, parent 4).
void set_node_parent(const std::string &path, std::uint32_t nid, std::uint32_t parent)
{
    std::vector<std::uint8_t> bytes;
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(bytes[at]) |
               static_cast<std::uint32_t>(bytes[at + 1]) << 8 |
               static_cast<std::uint32_t>(bytes[at + 2]) << 16 |
               static_cast<std::uint32_t>(bytes[at + 3]) << 24;
    };
    auto put32 = [&](std::size_t at, std::uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    };
    int patched = 0;
    for (std::size_t page = 0; page + 512 <= bytes.size(); page += 512) {
        if (bytes[page + 496] != 0x81 || bytes[page + 497] != 0x81 || bytes[page + 491] != 0 ||
            bytes[page + 490] != 32) {
            continue;
        }
        for (std::size_t entry = 0; entry < bytes[page + 488]; ++entry) {
            const std::size_t at = page + entry * 32;
            if (u32(at) == nid && u32(at + 4) == 0) {
                put32(at + 24, parent);
                put32(page + 500, korvel::format::crc32(0, bytes.data() + page, 496));
                ++patched;
            }
        }
    }
    ASSERT_EQ(patched, 1) << "node " << nid;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// The node identifier libpff gives the item.
std::uint32_t identifier_of(libpff_item_t *item)
{
    std::uint32_t identifier = 0;
    error_slot error;
    EXPECT_EQ(libpff_item_get_identifier(item, &identifier, error.get()), 1);
    return identifier;
}

const folder_node *node_at(const scan_session &session, const std::string &tree_path)
{
    const tree_item item = session.views.find_path(u16(tree_path));
    for (const folder_node *node = session.state.folders.head; node != nullptr; node = node->next) {
        if (node->item == item) {
            return node;
        }
    }
    return nullptr;
}

// One record as comparable text.
std::string record_text(const item_record &r)
{
    std::string text = std::to_string(r.sequence) + "|" + std::to_string(r.index) + "|" +
                       narrow(r.path) + "|" + narrow(r.kind) + "|" + narrow(r.from) + "|" +
                       narrow(r.subject) + "|" + narrow(r.date) + "|" + narrow(r.priority) + "|" +
                       narrow(r.sensitivity);
    for (const auto *optional : {&r.size, &r.flags, &r.importance}) {
        text += '|';
        text += *optional ? narrow(**optional) : std::string("-");
    }
    return text;
}

struct listing
{
    std::vector<std::string> records;
    std::vector<std::string> rows;
    std::vector<const libpff_item_t *> parents;
    std::u16string title2;
    std::u16string title3;
};

listing listed(scan_session &session)
{
    listing out;
    for (const item_record *r = session.state.records.head; r != nullptr; r = r->next) {
        out.records.push_back(record_text(*r));
        out.parents.push_back(r->parent);
    }
    for (const auto &row : session.views.rows) {
        std::string text;
        for (const auto &cell : row.cells) {
            text += cell ? narrow(*cell) : std::string("<blank>");
            text += '|';
        }
        out.rows.push_back(text);
    }
    out.title2 = session.views.column_titles[2];
    out.title3 = session.views.column_titles[3];
    return out;
}

// What the per-index loop lists from the node's folder: one lookup per
// message, every message handed to the dispatcher as the fill does.
listing listed_by_index(scan_session &session, const folder_node *node)
{
    scan_state &state = session.state;
    session.views.list_delete_all_rows();
    item_record_list_free(&state.records);
    state.record_sequence = 0;
    const std::u16string path = node->parent_path + u"/" + node->name;
    int count = 0;
    error_slot error;
    EXPECT_EQ(libpff_folder_get_number_of_sub_messages(node->folder_item, &count, error.get()), 1);
    for (int index = 0; index < count; ++index) {
        item_holder message;
        if (libpff_folder_get_sub_message(node->folder_item, index, message.out(), error.get()) !=
            1) {
            message.take();
            continue;
        }
        state.current_parent_item = node->folder_item;
        export_handle_list_item(state.export_handle, message.get(), index, count, path.c_str(),
                                path.size() + 1, 'a', state.log_handle, error.get());
    }
    return listed(session);
}

listing listed_by_fill(scan_session &session, const folder_node *node)
{
    folder_fill(&session.state, node->item);
    return listed(session);
}

void expect_same_listing(const listing &by_fill, const listing &by_index, const std::string &what)
{
    EXPECT_EQ(by_fill.records, by_index.records) << what;
    EXPECT_EQ(by_fill.rows, by_index.rows) << what;
    EXPECT_EQ(by_fill.parents, by_index.parents) << what;
    EXPECT_EQ(by_fill.title2, by_index.title2) << what;
    EXPECT_EQ(by_fill.title3, by_index.title3) << what;
}

TEST(folder_messages, FillListsWhatThePerIndexLoopListsInEveryFolderOfTheSample)
{
    scan_session session;
    ASSERT_EQ(session.scan(testing::sample_path("enron.pst")), 1);
    std::size_t folders = 0;
    std::size_t records = 0;
    for (const folder_node *node = session.state.folders.head; node != nullptr; node = node->next) {
        const listing by_fill = listed_by_fill(session, node);
        const listing by_index = listed_by_index(session, node);
        expect_same_listing(by_fill, by_index, narrow(node->parent_path + u"/" + node->name));
        ++folders;
        records += by_fill.records.size();
    }
    EXPECT_GE(folders, 10u);
    EXPECT_GT(records, 50u);
}

TEST(folder_messages, FillListsWhatThePerIndexLoopListsInBigFolders)
{
    for (int count : {5000, 20000}) {
        scan_session session;
        ASSERT_EQ(session.scan(big_folder("big" + std::to_string(count), count)), 1);
        const folder_node *node = node_at(session, "Big");
        ASSERT_NE(node, nullptr);
        const listing by_fill = listed_by_fill(session, node);
        ASSERT_EQ(by_fill.records.size(), static_cast<std::size_t>(count));
        expect_same_listing(by_fill, listed_by_index(session, node), std::to_string(count));
        // The views keep the rows in the order told; the list shows the last
        // message read at the top.
        EXPECT_EQ(narrow(*session.views.rows.told().front().cells[0]), "1");
        EXPECT_EQ(by_fill.rows.front().substr(0, std::to_string(count).size() + 1),
                  std::to_string(count) + "|");
    }
}

// Calls visit(sub_folder, depth + 1) for each readable sub-folder of folder,
// down to 30 levels (a damaged file may loop).
template <typename Visit>
void for_each_sub_folder(libpff_item_t *folder, int depth, Visit visit)
{
    error_slot error;
    int sub_folders = 0;
    if (depth > 30 ||
        libpff_folder_get_number_of_sub_folders(folder, &sub_folders, error.get()) != 1) {
        return;
    }
    for (int index = 0; index < sub_folders; ++index) {
        item_holder sub_folder;
        if (libpff_folder_get_sub_folder(folder, index, sub_folder.out(), error.get()) == 1) {
            visit(sub_folder.get(), depth + 1);
        }
    }
}

// (index, identifier) of every message the walk visits, and of every one the
// per-index lookup fetches, for folder and the folders below it.
void compare_walk_below(libpff_item_t *folder, int depth, std::size_t *messages)
{
    std::vector<std::pair<int, std::uint32_t>> walked;
    std::vector<std::pair<int, std::uint32_t>> looked_up;
    error_slot error;
    const int result = export_handle_walk_sub_messages(
        nullptr, folder,
        [&](libpff_item_t *message, int index) {
            walked.emplace_back(index, identifier_of(message));
            return 1;
        },
        [](int) {}, error.get());
    int count = 0;
    if (libpff_folder_get_number_of_sub_messages(folder, &count, error.get()) != 1) {
        EXPECT_EQ(result, -1);
        return;
    }
    EXPECT_EQ(result, 1);
    for (int index = 0; index < count; ++index) {
        item_holder message;
        if (libpff_folder_get_sub_message(folder, index, message.out(), error.get()) == 1) {
            looked_up.emplace_back(index, identifier_of(message.get()));
        }
    }
    EXPECT_EQ(walked, looked_up);
    *messages += walked.size();
    for_each_sub_folder(folder, depth, [&](libpff_item_t *sub_folder, int sub_depth) {
        compare_walk_below(sub_folder, sub_depth, messages);
    });
}

TEST(folder_messages, TheWalkFetchesWhatThePerIndexLookupFetchesInEverySample)
{
    // The offline stores too, which the scan refuses but libpff reads.
    for (const char *name :
         {"enron.pst", "pstextractortest@outlook.com.ost", "pstextractortestpdf@outlook.com.ost"}) {
        libpff_file_t *file = nullptr;
        error_slot error;
        ASSERT_EQ(libpff_file_initialize(&file, error.get()), 1);
        ASSERT_EQ(libpff_file_open(file, testing::sample_path(name).c_str(), LIBPFF_OPEN_READ,
                                   error.get()),
                  1)
            << name;
        std::size_t messages = 0;
        {
            item_holder root;
            ASSERT_EQ(libpff_file_get_root_folder(file, root.out(), error.get()), 1);
            compare_walk_below(root.get(), 0, &messages);
        }
        EXPECT_GT(messages, 0u) << name;
        libpff_file_close(file, error.get());
        libpff_file_free(&file, error.get());
    }
}

// The number of rows and of entries a row of a table libpff hands out by
// get_table (one of the folder's contents, hierarchy or associated contents
// tables), or {-1, -1} when it hands out none.
using table_getter = int (*)(libpff_item_t *, libpff_item_t **, libpff_error_t **);

std::pair<int, int> table_shape(libpff_item_t *folder, table_getter get_table)
{
    item_holder table;
    error_slot error;
    int rows = 0;
    std::uint32_t entries = 0;
    if (get_table(folder, table.out(), error.get()) != 1 || table.get() == nullptr ||
        libpff_item_get_number_of_record_sets(table.get(), &rows, error.get()) != 1) {
        return {-1, -1};
    }
    if (rows > 0 && libpff_item_get_number_of_entries(table.get(), &entries, error.get()) != 1) {
        return {rows, -1};
    }
    return {rows, static_cast<int>(entries)};
}

// Below folder, after the walk's first looks at it (counts, and elements by
// index, which need the row identifiers alone): its tables are handed out
// whole, as by the same folder of a fresh open (other). Counts the tables of
// more than one column.
void expect_whole_tables_below(libpff_item_t *folder, libpff_file_t *other, int depth,
                               std::size_t *tables)
{
    error_slot error;
    int count = 0;
    item_holder first;
    if (libpff_folder_get_number_of_sub_messages(folder, &count, error.get()) == 1 && count > 0) {
        libpff_folder_get_sub_message(folder, 0, first.out(), error.get());
    }
    if (libpff_folder_get_number_of_sub_associated_contents(folder, &count, error.get()) == 1 &&
        count > 0) {
        libpff_folder_get_sub_associated_content(folder, 0, first.out(), error.get());
    }
    for_each_sub_folder(folder, depth, [](libpff_item_t *, int) {});
    item_holder fresh;
    ASSERT_EQ(libpff_file_get_item_by_identifier(other, identifier_of(folder), fresh.out(),
                                                 error.get()),
              1);
    for (table_getter get_table : {&libpff_folder_get_sub_messages, &libpff_folder_get_sub_folders,
                                   &libpff_folder_get_sub_associated_contents}) {
        const std::pair<int, int> shape = table_shape(folder, get_table);
        EXPECT_EQ(shape, table_shape(fresh.get(), get_table)) << identifier_of(folder);
        *tables += shape.second > 1 ? 1 : 0;
    }
    for_each_sub_folder(folder, depth, [&](libpff_item_t *sub_folder, int sub_depth) {
        expect_whole_tables_below(sub_folder, other, sub_depth, tables);
    });
}

TEST(folder_messages, AFolderLookedAtByIndexStillHandsOutItsWholeTables)
{
    const std::string path = testing::sample_path("enron.pst");
    libpff_file_t *files[2] = {nullptr, nullptr};
    error_slot error;
    for (libpff_file_t *&file : files) {
        ASSERT_EQ(libpff_file_initialize(&file, error.get()), 1);
        ASSERT_EQ(libpff_file_open(file, path.c_str(), LIBPFF_OPEN_READ, error.get()), 1);
    }
    std::size_t tables = 0;
    {
        item_holder root;
        ASSERT_EQ(libpff_file_get_root_folder(files[0], root.out(), error.get()), 1);
        expect_whole_tables_below(root.get(), files[1], 0, &tables);
    }
    EXPECT_GE(tables, 5u);
    for (libpff_file_t *&file : files) {
        libpff_file_close(file, error.get());
        libpff_file_free(&file, error.get());
    }
}

// A folder whose message k lost its parent: every other message is listed,
// with the index libpff knows it by, and the preview re-opens the right one.
class damaged_folder : public ::testing::Test
{
protected:
    static constexpr int count = 5000;
    static constexpr int broken = 10;

    static void SetUpTestSuite()
    {
        path = new std::string(big_folder("damaged", count));
        std::uint32_t nid = 0;
        {
            scan_session session;
            ASSERT_EQ(session.scan(*path), 1);
            item_holder message;
            error_slot error;
            ASSERT_EQ(libpff_folder_get_sub_message(node_at(session, "Big")->folder_item, broken,
                                                    message.out(), error.get()),
                      1);
            nid = identifier_of(message.get());
        }
        set_node_parent(*path, nid, missing_folder);
    }
    static void TearDownTestSuite()
    {
        delete path;
        path = nullptr;
    }
    static std::string *path;
};

std::string *damaged_folder::path = nullptr;

TEST_F(damaged_folder, EveryOtherMessageIsListedWithItsOwnIndex)
{
    scan_session session;
    ASSERT_EQ(session.scan(*path), 1);
    const folder_node *node = node_at(session, "Big");
    ASSERT_NE(node, nullptr);
    session.views.progress.clear();
    const listing by_fill = listed_by_fill(session, node);
    ASSERT_EQ(by_fill.records.size(), static_cast<std::size_t>(count - 1));
    // Progress counts the messages read: 0, 1 to 100, 1 to 100, ..., then 0.
    const std::vector<int> progress = session.views.progress;
    ASSERT_EQ(progress.size(), static_cast<std::size_t>(count));
    EXPECT_EQ(progress[0], 0);
    EXPECT_EQ(progress[100], 100);
    EXPECT_EQ(progress[101], 1);
    EXPECT_EQ(progress[count - 2], (count - 2 - 1) % 100 + 1);
    EXPECT_EQ(progress.back(), 0);
    int expected_index = 0;
    std::int32_t expected_sequence = 1;
    for (const item_record *r = session.state.records.head; r != nullptr; r = r->next) {
        if (expected_index == broken) {
            ++expected_index;
        }
        ASSERT_EQ(r->index, expected_index);
        ASSERT_EQ(r->sequence, expected_sequence);
        ++expected_index;
        ++expected_sequence;
    }
    // The per-index loop skipping the same message lists the same.
    expect_same_listing(by_fill, listed_by_index(session, node), "damaged");
}

TEST_F(damaged_folder, TheWalkReportsTheUnreadableMessageOnceAndGoesOn)
{
    scan_session session;
    ASSERT_EQ(session.scan(*path), 1);
    const folder_node *node = node_at(session, "Big");
    ASSERT_NE(node, nullptr);
    std::vector<int> visited;
    std::vector<int> unreadable;
    error_slot error;
    EXPECT_EQ(export_handle_walk_sub_messages(
                  session.state.export_handle, node->folder_item,
                  [&](libpff_item_t *message, int index) {
                      std::string subject;
                      EXPECT_EQ(read_utf8_string(message, 0x0037, &subject), 1);
                      EXPECT_EQ(subject, "Message " + std::to_string(index));
                      visited.push_back(index);
                      return 1;
                  },
                  [&](int index) { unreadable.push_back(index); }, error.get()),
              1);
    EXPECT_EQ(unreadable, std::vector<int>{broken});
    ASSERT_EQ(visited.size(), static_cast<std::size_t>(count - 1));
    for (std::size_t i = 0; i < visited.size(); ++i) {
        ASSERT_EQ(visited[i], static_cast<int>(i < broken ? i : i + 1));
    }
}

TEST_F(damaged_folder, ThePreviewOfTheRowAfterTheGapReadsItsOwnMessage)
{
    scan_session session;
    ASSERT_EQ(session.scan(*path), 1);
    ASSERT_TRUE(session.fill("Big"));
    // Record broken + 1 (sequence) is message broken + 1.
    const item_record *record = item_record_list_find(&session.state.records, broken + 1);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->index, broken + 1);
    EXPECT_EQ(narrow(record->subject), "Message " + std::to_string(broken + 1));
    message_values &values = export_message_values();
    message_values_clear(&values);
    ASSERT_EQ(export_record_item(&session.state, record), 1);
    const std::string body(values.body_bytes.begin(), values.body_bytes.end());
    EXPECT_EQ(body.substr(0, body.find('\0')), "body " + std::to_string(broken + 1));
}

TEST_F(damaged_folder, AStopEndsTheWalkAtOnce)
{
    scan_session session;
    ASSERT_EQ(session.scan(*path), 1);
    const folder_node *node = node_at(session, "Big");
    ASSERT_NE(node, nullptr);
    int visits = 0;
    error_slot error;
    EXPECT_EQ(export_handle_walk_sub_messages(
                  session.state.export_handle, node->folder_item,
                  [&](libpff_item_t *, int) { return ++visits < 3 ? 1 : 0; }, [](int) {},
                  error.get()),
              0);
    EXPECT_EQ(visits, 3);
    session.state.export_handle->abort = 1;
    EXPECT_EQ(export_handle_walk_sub_messages(
                  session.state.export_handle, node->folder_item,
                  [&](libpff_item_t *, int) { return ++visits, 1; }, [](int) {}, error.get()),
              0);
    EXPECT_EQ(visits, 3);
    session.state.export_handle->abort = 0;
}

// What a walk offers, in order: (index, whether it was fetched).
using offers = std::vector<std::pair<int, bool>>;

offers walk_share(libpff_item_t *folder, const walk_wanted &wanted)
{
    offers got;
    error_slot error;
    export_handle_walk_sub_messages(
        nullptr, folder,
        [&](libpff_item_t *, int index) {
            got.emplace_back(index, true);
            return 1;
        },
        [&](int index) { got.emplace_back(index, false); }, nullptr, wanted, error.get());
    return got;
}

// Three reading threads' shares (runs of two places in turn) are, place for
// place, the whole walk of folder and of every folder below it.
void expect_shares_make_the_walk(libpff_item_t *folder, int depth, std::size_t *offered)
{
    const offers whole = walk_share(folder, walk_wanted());
    constexpr int shares = 3;
    for (int share = 0; share < shares; ++share) {
        auto mine = [share](int place) { return (place / 2) % shares == share; };
        offers expected;
        for (std::size_t place = 0; place < whole.size(); ++place) {
            if (mine(static_cast<int>(place))) {
                expected.push_back(whole[place]);
            }
        }
        EXPECT_EQ(walk_share(folder, mine), expected) << "share " << share;
    }
    *offered += whole.size();
    for_each_sub_folder(folder, depth, [&](libpff_item_t *sub_folder, int sub_depth) {
        expect_shares_make_the_walk(sub_folder, sub_depth, offered);
    });
}

TEST_F(damaged_folder, SharesOfTheWalkTakeTheirOwnPlacesAlsoAcrossTheGapAndLostTables)
{
    {
        scan_session session;
        ASSERT_EQ(session.scan(*path), 1);
        std::size_t offered = 0;
        expect_shares_make_the_walk(node_at(session, "Big")->folder_item, 0, &offered);
        EXPECT_EQ(offered, static_cast<std::size_t>(count));
    }
    // Without contents tables the places are the node index's children.
    const std::string lost = testing::scratch_directory("walk-shares") + "/lost.pst";
    std::vector<std::uint8_t> bytes = testing::read_bytes(testing::sample_path("enron.pst"));
    ASSERT_GT(testing::zero_contents_tables(bytes), 5);
    testing::write_bytes(lost, bytes);
    std::size_t offered[2] = {0, 0};
    for (int damaged = 0; damaged < 2; ++damaged) {
        scan_session session;
        ASSERT_EQ(session.scan(damaged ? lost : testing::sample_path("enron.pst")), 1);
        item_holder root;
        error_slot error;
        ASSERT_EQ(libpff_file_get_root_folder(session.state.file, root.out(), error.get()), 1);
        expect_shares_make_the_walk(root.get(), 0, &offered[damaged]);
    }
    EXPECT_GT(offered[0], 0u);
    EXPECT_EQ(offered[1], offered[0]);
}

TEST(folder_messages, AnUnreadableSubFolderHidesNoneOfItsSiblings)
{
    pst_builder builder;
    auto &parent = builder.root().add_folder("Parent");
    for (const char *name : {"First", "Second", "Third", "Fourth"}) {
        auto &folder = parent.add_folder(name);
        folder.add_folder(std::string(name) + " child");
        folder.add_message("IPM.Note").set_unicode(0x0037, std::string("in ") + name);
    }
    const std::string path = fixture_path("subfolder");
    builder.write(path);
    {
        scan_session session;
        ASSERT_EQ(session.scan(path), 1);
        item_holder second;
        error_slot error;
        ASSERT_EQ(libpff_folder_get_sub_folder(node_at(session, "Parent")->folder_item, 1,
                                               second.out(), error.get()),
                  1);
        set_node_parent(path, identifier_of(second.get()), missing_folder);
    }

    scan_session session;
    ASSERT_EQ(session.scan(path), 1);
    std::vector<std::string> lines;
    for (std::size_t i = 1; i < session.views.tree.size(); ++i) {
        lines.push_back(std::to_string(session.views.tree[i].level) + " " +
                        narrow(session.views.tree[i].text));
    }
    // The cut-off folder's message is found again outside the folders.
    EXPECT_EQ(lines, (std::vector<std::string>{"1 Parent", "2 First", "3 First child", "2 Third",
                                               "3 Third child", "2 Fourth", "3 Fourth child",
                                               "1 Recovered Items", "2 Outside any folder (1)"}));
    ASSERT_TRUE(session.fill("Parent/Fourth"));
    ASSERT_EQ(session.views.rows.size(), 1u);
    EXPECT_EQ(narrow(*session.views.rows[0].cells[3]), "in Fourth");
}

} // namespace
} // namespace korvel
