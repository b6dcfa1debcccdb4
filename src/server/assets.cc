#include "server/assets.h"

#include <cstdint>
#include <string>

namespace wrenfield {

namespace {

// The two names the page is opened under: the program gives out the first; the server also
// answers the second.
std::string origins_of_port(uint16_t port, std::string_view path) {
    const std::string port_text = std::to_string(port);
    std::string sources;
    for (const char* host : {"http://127.0.0.1:", "http://localhost:"}) {
        sources += ' ';
        sources += host;
        sources += port_text;
        sources += path;
    }
    return sources;
}

// Every asset of one content type, by its exact path under both names.
std::string assets_of_type(uint16_t port, std::string_view content_type) {
    std::string sources;
    for (const StaticAsset& asset : static_assets()) {
        if (asset.content_type == content_type && asset.path != "/")
            sources += origins_of_port(port, asset.path);
    }
    return sources;
}

}  // namespace

const StaticAsset* find_static_asset(std::string_view path) {
    for (const StaticAsset& asset : static_assets()) {
        if (asset.path == path)
            return &asset;
    }
    return nullptr;
}

std::string page_security_policy(uint16_t port) {
    std::string policy = "default-src 'none'";
    policy += "; script-src" + assets_of_type(port, javascript_asset_type);
    // Engines without worker-src take the worker's script from script-src, which names it too.
    policy += "; worker-src" + origins_of_port(port, listing_worker_path);
    // 'unsafe-inline' admits style attributes and style elements (the page's own, the capture's
    // copy of the page, a document's inline styles); what they load is still bound by the
    // directives for images and fonts, and an @import by the sheets named here.
    policy += "; style-src 'unsafe-inline'" + assets_of_type(port, css_asset_type) +
              " https://fonts.googleapis.com";
    policy += "; font-src https://fonts.gstatic.com";
    // Images from other sites and data: URLs (the page's icons, the capture's drawings), none
    // from this server: every path under /api/ acts or reads.
    policy += "; img-src https: data:";
    // The page's requests: the API only.
    policy += "; connect-src" + origins_of_port(port, "/api/");
    policy += "; frame-src 'none'; frame-ancestors 'none'; object-src 'none'";
    policy += "; form-action 'none'; base-uri 'none'";
    return policy;
}

}  // namespace wrenfield
