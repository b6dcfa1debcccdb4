// The one piece of shared mutable state: the current SSH connection, or none, behind a mutex,
// with the transfers (downloads and uploads) that run through its master beside other requests.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "ssh/connection.h"

namespace wrenfield {

// Transfers running at once through one master: under sshd's default MaxSessions (10), with
// room left for the requests that take the lock and for a connect probe.
inline constexpr size_t transfer_slots = 8;

struct ConnectionCell {
    std::mutex mutex;
    // Guarded by `mutex`.
    std::optional<SshConnection> connection;

    // The transfers, all guarded by `mutex`. A transfer runs on a borrowed copy of the record
    // without the lock; `generation` counts the records installed or removed, so that a
    // transfer can tell that its connection went away under it.
    size_t transfers_running = 0;
    uint64_t generation = 0;
    // The client sockets of the running transfers, to end them when the record goes.
    std::vector<int> transfer_sockets;
    std::condition_variable transfer_ended;
};

using SharedConnection = std::shared_ptr<ConnectionCell>;

}  // namespace wrenfield
