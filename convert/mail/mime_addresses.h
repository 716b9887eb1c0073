// The address headers of a message made from its properties: each list set
// once, with every recipient of its kind in it.
#pragma once

#include <string>
#include <vector>

#include <gmime/gmime.h>

namespace korvel::convert {

struct address
{
    std::string name;
    std::string email;
};

// Adds the addresses that have a name or an email to the message's list of
// that kind; the header is formatted once for all of them.
void add_addresses(GMimeMessage *message, GMimeAddressType kind,
                   const std::vector<address> &addresses);

} // namespace korvel::convert
