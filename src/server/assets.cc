#include "server/assets.h"

namespace wrenfield {

const StaticAsset* find_static_asset(std::string_view path) {
    for (const StaticAsset& asset : static_assets()) {
        if (asset.path == path)
            return &asset;
    }
    return nullptr;
}

}  // namespace wrenfield
