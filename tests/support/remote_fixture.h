// The fixture of the tests that run the remote operations against the local server.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "ssh/connection.h"
#include "support/sshd_fixture.h"

namespace wrenfield::testing {

class RemoteServerTest : public SshServerTest {
  protected:
    // A failed write to a child that has ended comes back as an error, as in the program.
    void SetUp() override;

    // A probed connection to the test server through its alias, as `user` when one is given.
    SshConnection connect(const std::string& user = "");

    // Files in a directory whose names say they are left-over temporary files of a write.
    static std::vector<std::string> temporary_files(const std::string& directory);
};

// The pids of the remote interpreters (the server being local) running a program whose command
// line holds `marker`, such as the Base64 of the path it works on.
std::vector<pid_t> remote_interpreters(const std::string& marker);

}  // namespace wrenfield::testing
