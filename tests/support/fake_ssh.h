// An `ssh` stand-in put first on PATH: it records the arguments of every call and answers with
// a shell text of the test's choosing. For what a real server cannot be made to do on demand.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/local_system.h"

namespace wrenfield::testing {

class FakeSsh {
  public:
    // `body` is bash text run for each call, with ssh's arguments as "$@".
    explicit FakeSsh(std::string_view body = "exit 0");
    FakeSsh(const FakeSsh&) = delete;
    FakeSsh& operator=(const FakeSsh&) = delete;

    // The argument lists of the calls so far, in order.
    std::vector<std::vector<std::string>> calls() const;

  private:
    TemporaryDirectory directory_;
    std::unique_ptr<ScopedEnvironmentVariable> path_;
};

}  // namespace wrenfield::testing
