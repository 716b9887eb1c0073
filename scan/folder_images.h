// The folder tree's image choice: well-known folder names get their own icon.
// Plain C++ so that the window and korvel-probe choose alike.
#pragma once

#include <string_view>

namespace korvel {

// Number of images in the folder tree's image list.
inline constexpr int folder_image_count = 17;

// The image index for an item with this text: 0 at the top level, else the
// well-known name it equals when upper-cased ("INBOX" gives 7), else 0.
int folder_image_for_name(std::u16string_view text, bool top_level);

} // namespace korvel
