// What stops a request's remote runs: its client gone, or its connection closed (a disconnect or
// a switch to another host) while they run.
#pragma once

#include <functional>
#include <memory>

#include "ssh/process.h"

namespace wrenfield {

// The client's connection, watched while a remote run is waited for.
struct ClientWatch {
    // The socket (-1: none). It stays the caller's.
    int socket = -1;
    // Asked once, when the client has ended its sending side, which may mean that it has gone or
    // only that it has sent all it means to: true when it may still wait for the answer (from
    // then on only a reset or a hang-up of the whole connection ends the run), false when it has
    // gone. Without it, the end of the client's sending side ends the run.
    std::function<bool()> still_listening;
};

// Raised once, from any thread, when a connection record goes: every run through it is stopped.
class ClosingSignal {
  public:
    static std::shared_ptr<ClosingSignal> make();
    ~ClosingSignal();
    ClosingSignal(const ClosingSignal&) = delete;
    ClosingSignal& operator=(const ClosingSignal&) = delete;

    void raise();
    // Readable once raised (-1 when it could not be made: nothing then stops a run).
    int fd() const { return fd_; }

  private:
    explicit ClosingSignal(int fd) : fd_(fd) {}
    int fd_;
};

// Stops a run once its connection closes or its client has gone. It is asked on the thread that
// waits for the run, which is the thread answering the client, so its question to the client
// never crosses a reply being written. The two are watched through one epoll descriptor.
class RunStop final : public CancelToken {
  public:
    RunStop(std::shared_ptr<ClosingSignal> closing, ClientWatch client = {});
    ~RunStop() override;
    RunStop(const RunStop&) = delete;
    RunStop& operator=(const RunStop&) = delete;

    int fd() const override { return epoll_; }
    short events() const override;
    bool cancelled(short seen) override;

  private:
    std::shared_ptr<ClosingSignal> closing_;
    ClientWatch client_;
    int epoll_ = -1;
    // Whether the client was asked if it still listens; the end of its sending side is not
    // watched for after that.
    bool asked_ = false;
};

}  // namespace wrenfield
