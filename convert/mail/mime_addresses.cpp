#include "convert/mail/mime_addresses.h"

#include <cstring>
#include <string_view>
#include <unordered_map>

namespace korvel::convert {

namespace {

// Longer domains are not cached: no real one is longer than 253 bytes.
constexpr std::size_t cached_domain_limit = 255;
constexpr std::size_t cached_domains_limit = 1024;

// GMime formats an address with its domain in IDN ASCII form, which libidn2
// takes some 25,000 instructions to work out even for a plain ASCII domain:
// more than the rest of the address header. A mailbox holds that form in a
// public field GMime fills once and reads after. A mailbox file has few
// domains: GMime works out each domain's form once (per thread), and the next
// mailboxes of that domain are given the same form, so the output is GMime's
// own.
void give_idn_addr(InternetAddressMailbox *mailbox)
{
    thread_local std::unordered_map<std::string, std::string> domains;
    if (mailbox->idn_addr != nullptr || mailbox->addr == nullptr || mailbox->at <= 0) {
        return;
    }
    const std::size_t prefix = static_cast<std::size_t>(mailbox->at) + 1; // local part and '@'
    const std::string_view domain(mailbox->addr + prefix);
    if (domain.size() > cached_domain_limit) {
        return;
    }
    const auto known = domains.find(std::string(domain));
    if (known != domains.end()) {
        std::string whole(mailbox->addr, prefix);
        whole += known->second;
        mailbox->idn_addr = g_strndup(whole.data(), whole.size());
        return;
    }
    const char *converted = internet_address_mailbox_get_idn_addr(mailbox);
    // Kept only when it is the local part, '@' and the domain's form, as
    // GMime makes it: a GMime built without IDN returns the address itself.
    if (converted == nullptr || converted == mailbox->addr ||
        std::strncmp(converted, mailbox->addr, prefix) != 0) {
        return;
    }
    if (domains.size() >= cached_domains_limit) {
        domains.clear();
    }
    domains.emplace(std::string(domain), std::string(converted + prefix));
}

void add_address(InternetAddressList *list, const address &a)
{
    InternetAddress *ia =
        internet_address_mailbox_new(a.name.empty() ? nullptr : a.name.c_str(), a.email.c_str());
    give_idn_addr(INTERNET_ADDRESS_MAILBOX(ia));
    internet_address_list_add(list, ia);
    g_object_unref(ia);
}

bool names_someone(const address &a)
{
    return !a.name.empty() || !a.email.empty();
}

} // namespace

InternetAddressList *address_list(const std::vector<address> &addresses)
{
    InternetAddressList *list = nullptr;
    for (const address &a : addresses) {
        if (names_someone(a)) {
            if (list == nullptr) {
                list = internet_address_list_new();
            }
            add_address(list, a);
        }
    }
    return list;
}

} // namespace korvel::convert
