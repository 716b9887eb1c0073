#include "tests/support/pst_damage.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <vector>

#include <libpff.h>

#include "convert/ndb.h"
#include "tests/support/pst_builder.h"

namespace korvel::testing {

namespace {

constexpr std::size_t page_size = 512;

constexpr std::uint8_t node_leaf = 0x81;
constexpr std::uint8_t block_leaf = 0x80;

std::uint64_t little_endian(const std::uint8_t *bytes, std::size_t size)
{
    std::uint64_t value = 0;
    for (std::size_t b = 0; b < size; ++b) {
        value |= static_cast<std::uint64_t>(bytes[b]) << (8 * b);
    }
    return value;
}

// Puts a page's signature (from where it lies and its block id) and its CRC.
void seal_page(std::uint8_t *page, std::uint64_t at)
{
    const std::uint64_t mixed = at ^ little_endian(page + 504, 8);
    const auto signature = static_cast<std::uint16_t>((mixed >> 16) ^ (mixed & 0xFFFF));
    page[498] = static_cast<std::uint8_t>(signature);
    page[499] = static_cast<std::uint8_t>(signature >> 8);
    const std::uint32_t crc = convert::ndb::crc32(0, page, 496);
    for (std::size_t b = 0; b < 4; ++b) {
        page[500 + b] = static_cast<std::uint8_t>(crc >> (8 * b));
    }
}

// Calls change(page, entry) on the leaf entry of id in the node (node_leaf,
// 32-bit keys) or block (block_leaf, 64-bit keys) B-tree and writes the page
// back when change returns true. original (may be null) receives the page as
// it was.
bool patch_leaf_entry(const std::string &path, std::uint8_t leaf, std::uint64_t id,
                      const std::function<bool(std::uint8_t *, std::size_t)> &change,
                      std::vector<std::uint8_t> *original = nullptr)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<std::uint8_t> page(page_size);
    const std::size_t key_size = leaf == node_leaf ? 4 : 8;
    for (std::streamoff at = 0;; at += static_cast<std::streamoff>(page_size)) {
        f.seekg(at);
        if (!f.read(reinterpret_cast<char *>(page.data()), static_cast<std::streamsize>(page_size))) {
            return false;
        }
        if (page[496] != leaf || page[497] != leaf || page[491] != 0) {
            continue; // not a leaf of that tree
        }
        for (std::size_t i = 0; i < page[488]; ++i) {
            if (little_endian(page.data() + i * page[490], key_size) != id) {
                continue;
            }
            if (original != nullptr) {
                *original = page;
            }
            if (!change(page.data(), i)) {
                return false;
            }
            seal_page(page.data(), static_cast<std::uint64_t>(at));
            f.seekp(at);
            f.write(reinterpret_cast<const char *>(page.data()), static_cast<std::streamsize>(page_size));
            return static_cast<bool>(f);
        }
    }
}

bool patch_node_entry(const std::string &path, std::uint32_t nid,
                      const std::function<bool(std::uint8_t *, std::size_t)> &change,
                      std::vector<std::uint8_t> *original = nullptr)
{
    return patch_leaf_entry(path, node_leaf, nid, change, original);
}

// Takes a block's entry out of the block B-tree: the later entries move up.
bool drop_block(const std::string &path, std::uint64_t bid, std::vector<std::uint8_t> *original)
{
    return patch_leaf_entry(
        path, block_leaf, bid,
        [](std::uint8_t *page, std::size_t entry) {
            const std::size_t size = page[490];
            std::copy(page + (entry + 1) * size, page + page[488] * size, page + entry * size);
            --page[488];
            return true;
        },
        original);
}

// Writes pages into the file's free space as a B-tree update leaves the old
// pages behind: at the start of the last free block libpff reports.
bool leave_behind(const std::string &path, const std::vector<std::vector<std::uint8_t>> &pages)
{
    libpff_file_t *file = nullptr;
    if (libpff_file_initialize(&file, nullptr) != 1) {
        return false;
    }
    off64_t at = 0;
    size64_t size = 0;
    int count = 0;
    const bool found =
        libpff_file_open(file, path.c_str(), LIBPFF_OPEN_READ, nullptr) == 1 &&
        libpff_file_get_number_of_unallocated_blocks(file, LIBPFF_UNALLOCATED_BLOCK_TYPE_DATA,
                                                     &count, nullptr) == 1 &&
        count > 0 &&
        libpff_file_get_unallocated_block(file, LIBPFF_UNALLOCATED_BLOCK_TYPE_DATA, count - 1, &at,
                                          &size, nullptr) == 1;
    libpff_file_close(file, nullptr);
    libpff_file_free(&file, nullptr);
    const auto start = static_cast<std::uint64_t>(at + 511) / 512 * 512;
    if (!found || start + pages.size() * page_size > static_cast<std::uint64_t>(at) + size) {
        return false;
    }
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        std::vector<std::uint8_t> page = pages[i];
        const std::uint64_t where = start + i * page_size;
        seal_page(page.data(), where);
        f.seekp(static_cast<std::streamoff>(where));
        f.write(reinterpret_cast<const char *>(page.data()), static_cast<std::streamsize>(page_size));
    }
    return static_cast<bool>(f);
}

} // namespace

bool reparent_node(const std::string &path, std::uint32_t nid, std::uint32_t parent)
{
    return patch_node_entry(path, nid, [parent](std::uint8_t *page, std::size_t entry) {
        std::uint8_t *e = page + entry * page[490];
        for (std::size_t b = 0; b < 4; ++b) {
            e[24 + b] = static_cast<std::uint8_t>(parent >> (8 * b));
        }
        return true;
    });
}

bool delete_message(const std::string &path, std::uint32_t nid)
{
    std::vector<std::uint8_t> node_page;
    std::uint64_t blocks[2] = {0, 0};
    if (!patch_node_entry(
            path, nid,
            [&](std::uint8_t *page, std::size_t entry) {
                blocks[0] = little_endian(page + entry * page[490] + 8, 8);
                blocks[1] = little_endian(page + entry * page[490] + 16, 8);
                if (entry + 1 != page[488]) {
                    return false;
                }
                --page[488];
                return true;
            },
            &node_page)) {
        return false;
    }
    std::vector<std::vector<std::uint8_t>> old_pages{node_page};
    for (std::uint64_t bid : blocks) {
        std::vector<std::uint8_t> block_page;
        if (bid != 0 && drop_block(path, bid, &block_page)) {
            old_pages.push_back(block_page);
        }
    }
    return old_pages.size() > 1 && leave_behind(path, old_pages);
}

bool write_mailbox_with_recovered_items(const std::string &path)
{
    pst_builder b;
    auto &mail = b.root().add_folder(u8"Mail");
    auto add = [](pst_folder &folder, const char *subject) {
        auto &m = folder.add_message("IPM.Note");
        m.set_unicode(0x0037, subject);
        m.set_body(std::string("body of ") + subject);
    };
    add(mail, "Kept 1");
    add(mail, "Kept 2");
    auto &lost = b.root().add_folder(u8"Lost");
    add(lost, "In lost");
    add(lost.add_folder(u8"Lost below"), "Below lost");
    add(b.root().add_folder(u8"Old"), "Deleted");
    b.write(path);
    // Nodes are numbered folder by folder: "Lost" is the second folder
    // (0x8042), "Deleted" the last message (0x200084) and the last node of
    // the index.
    return reparent_node(path, (0x402u << 5) | 0x02, (0x7FF1u << 5) | 0x02) &&
           delete_message(path, 0x200084);
}

} // namespace korvel::testing
