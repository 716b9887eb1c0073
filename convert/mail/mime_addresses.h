// The address lists of the headers of a message made from its properties.
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

// A new list of the addresses that have a name or an email (its domains'
// IDN forms worked out once per thread), or nullptr when none does.
InternetAddressList *address_list(const std::vector<address> &addresses);

} // namespace korvel::convert
