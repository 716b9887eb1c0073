#include "tests/support/pst_damage.h"

#include <fstream>
#include <functional>
#include <vector>

#include "convert/ndb.h"
#include "tests/support/pst_builder.h"

namespace korvel::testing {

namespace {

constexpr std::size_t page_size = 512;

// Calls change(page, entry) on the node B-tree leaf entry of nid and writes
// the page back with its CRC when change returns true.
bool patch_node_entry(const std::string &path, std::uint32_t nid,
                      const std::function<bool(std::uint8_t *, std::size_t)> &change)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<std::uint8_t> page(page_size);
    for (std::streamoff at = 0;; at += static_cast<std::streamoff>(page_size)) {
        f.seekg(at);
        if (!f.read(reinterpret_cast<char *>(page.data()), static_cast<std::streamsize>(page_size))) {
            return false;
        }
        if (page[496] != 0x81 || page[497] != 0x81 || page[491] != 0) {
            continue; // not a node B-tree leaf
        }
        for (std::size_t i = 0; i < page[488]; ++i) {
            const std::uint8_t *e = page.data() + i * page[490];
            const auto id =
                static_cast<std::uint32_t>(e[0] | (e[1] << 8) | (e[2] << 16) | (e[3] << 24));
            if (id != nid) {
                continue;
            }
            if (!change(page.data(), i)) {
                return false;
            }
            const std::uint32_t crc = convert::ndb::crc32(0, page.data(), 496);
            for (std::size_t b = 0; b < 4; ++b) {
                page[500 + b] = static_cast<std::uint8_t>(crc >> (8 * b));
            }
            f.seekp(at);
            f.write(reinterpret_cast<const char *>(page.data()), static_cast<std::streamsize>(page_size));
            return static_cast<bool>(f);
        }
    }
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

bool delete_last_node(const std::string &path, std::uint32_t nid)
{
    return patch_node_entry(path, nid, [](std::uint8_t *page, std::size_t entry) {
        if (entry + 1 != page[488]) {
            return false;
        }
        --page[488];
        return true;
    });
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
           delete_last_node(path, 0x200084);
}

} // namespace korvel::testing
