// The static assets carried inside the executable: the page, its style sheets and scripts.
#pragma once

#include <span>
#include <string_view>

namespace wrenfield {

struct StaticAsset {
    std::string_view path;          // the exact URL path, e.g. "/css/styles.css"
    std::string_view content_type;  // one of the three text types
    std::string_view bytes;         // the file as it was at build time
};

// Every asset, in table order. Generated at build time (see assets.cmake).
std::span<const StaticAsset> static_assets();

// The asset whose URL path equals `path` byte for byte, or null.
const StaticAsset* find_static_asset(std::string_view path);

}  // namespace wrenfield
