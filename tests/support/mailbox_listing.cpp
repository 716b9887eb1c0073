#include "tests/support/mailbox_listing.h"

#include <algorithm>

#include "scan/folder_messages.h"
#include "scan/item_kinds.h"
#include "scan/pff_values.h"
#include "scan/text.h"

namespace korvel::testing {

mailbox_listing list_mailbox(scan_session &session, bool preview)
{
    mailbox_listing out;
    for (std::size_t i = 1; i < session.views.tree.size(); ++i) {
        out.tree.push_back(std::to_string(session.views.tree[i].level) + " " +
                           narrow(session.views.tree[i].text));
    }
    for (folder_node *node = session.state.folders.head; node != nullptr; node = node->next) {
        folder_fill(&session.state, node->item);
        std::vector<std::string> &lines = out.folders[narrow(node->parent_path + u"/" + node->name)];
        // The preview may append records (embedded messages): the folder's
        // own are taken first.
        std::vector<const item_record *> records;
        for (const item_record *r = session.state.records.head; r != nullptr; r = r->next) {
            records.push_back(r);
        }
        for (const item_record *r : records) {
            lines.push_back(narrow(r->kind) + "|" + narrow(r->from) + "|" + narrow(r->subject) +
                            "|" + narrow(r->date));
            ++out.records;
            item_holder item;
            error_slot error;
            std::uint32_t identifier = 0;
            if (export_handle_fetch_listed_message(r->parent, r->index, item.out(), error.get()) !=
                    1 ||
                libpff_item_get_identifier(item.get(), &identifier, error.get()) != 1) {
                continue;
            }
            out.fetched.insert(identifier);
            if (preview && export_record_item(&session.state, r) == 1) {
                out.previewed.insert(identifier);
            }
        }
        std::sort(lines.begin(), lines.end());
    }
    return out;
}

} // namespace korvel::testing
