// The static assets carried inside the executable: the page, its style sheets and scripts, and
// the security policy the page is served with.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace wrenfield {

struct StaticAsset {
    std::string_view path;          // the exact URL path, e.g. "/css/styles.css"
    std::string_view content_type;  // one of the three text types
    std::string_view bytes;         // the file as it was at build time
};

inline constexpr std::string_view html_asset_type = "text/html; charset=utf-8";
inline constexpr std::string_view css_asset_type = "text/css; charset=utf-8";
inline constexpr std::string_view javascript_asset_type = "application/javascript; charset=utf-8";

// The script of the page's one worker (it reads and sorts folder listings), an asset of the
// table.
inline constexpr std::string_view listing_worker_path = "/js/listing-worker.js";

// Every asset, in table order. Generated at build time (see assets.cmake).
std::span<const StaticAsset> static_assets();

// The asset whose URL path equals `path` byte for byte, or null.
const StaticAsset* find_static_asset(std::string_view path);

// The Content-Security-Policy of the page served on `port`. A viewed document becomes part of
// the page, so the page loads nothing it does not name: its own scripts and style sheets by
// exact path, its one worker by exact path, the web font, images only from https: and data:
// (never from this server), and requests only to the API; no frames, plugins, form submissions
// or base URL.
std::string page_security_policy(uint16_t port);

}  // namespace wrenfield
