// The client a request is answered for, and the token that stops the request's remote runs once
// that client has gone.
#pragma once

#include <functional>

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

// Cancels a run once its client has gone. It is asked on the thread that waits for the run,
// which is the thread answering the client, so its question to the client never crosses a
// reply being written.
class ClientGone final : public CancelToken {
  public:
    explicit ClientGone(ClientWatch client) : client_(std::move(client)) {}

    int fd() const override { return client_.socket; }
    short events() const override;
    bool cancelled(short seen) override;

  private:
    ClientWatch client_;
    // Whether the client was asked if it still listens; the end of its sending side is not
    // watched for after that.
    bool asked_ = false;
};

}  // namespace wrenfield
