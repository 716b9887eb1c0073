#include "scan/folder_images.h"

#include <string>

namespace korvel {

int folder_image_for_name(std::u16string_view text, bool top_level)
{
    if (top_level) {
        return 0;
    }
    static const struct
    {
        const char16_t *name;
        int image;
    } names[] = {{u"CALENDAR", 3},     {u"CONTACTS", 4}, {u"DELETED ITEMS", 5},
                 {u"DRAFTS", 6},       {u"INBOX", 7},    {u"JOURNAL", 8},
                 {u"JUNK E-MAILS", 9}, {u"NOTES", 10},   {u"OUTBOX", 11},
                 {u"SENT ITEMS", 12},  {u"TASKS", 13},   {u"SYNC ISSUES", 14}};
    std::u16string upper(text);
    for (char16_t &c : upper) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
    }
    for (const auto &entry : names) {
        if (upper == entry.name) {
            return entry.image;
        }
    }
    return 0;
}

} // namespace korvel
