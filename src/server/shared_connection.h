// The one piece of shared mutable state: the current SSH connection, or none, behind a mutex,
// with the remote runs that go through its master beside one another.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "server/run_stop.h"
#include "ssh/connection.h"

namespace wrenfield {

// The master's sessions that runs may take at once: under sshd's default MaxSessions (10), with
// one left for a connect probe that goes through the same master.
inline constexpr size_t run_sessions = 9;
// Transfers (downloads and uploads) take at most this many of them, so that a listing, a read or
// a change always finds a session that no transfer holds.
inline constexpr size_t transfer_slots = 6;

struct ConnectionCell {
    // Guards the record and the counts below; it is held only to look at them or change them,
    // never across a remote run.
    std::mutex mutex;
    std::optional<SshConnection> connection;

    // Every remote run goes on a borrowed copy of the record, without the lock. `generation`
    // counts the records installed or removed, so that a run can tell that its connection went
    // away under it.
    size_t runs_running = 0;
    size_t transfers_running = 0;
    // The changes (write, mkdir, rename, delete) among them, which a disconnect lets finish.
    size_t changes_running = 0;
    uint64_t generation = 0;
    // Raised when the record goes, to stop the runs through it; a fresh one serves the next.
    std::shared_ptr<ClosingSignal> closing = ClosingSignal::make();
    // The client sockets of the running transfers, whose request bodies stop when the record
    // goes.
    std::vector<int> transfer_sockets;
    std::condition_variable run_ended;
};

using SharedConnection = std::shared_ptr<ConnectionCell>;

}  // namespace wrenfield
