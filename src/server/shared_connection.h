// The one piece of shared mutable state: the current SSH connection, or none, behind a mutex.
#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "ssh/connection.h"

namespace wrenfield {

struct ConnectionCell {
    std::mutex mutex;
    std::optional<SshConnection> connection;
};

using SharedConnection = std::shared_ptr<ConnectionCell>;

}  // namespace wrenfield
