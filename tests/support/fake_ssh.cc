#include "support/fake_ssh.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace wrenfield::testing {

FakeSsh::FakeSsh(std::string_view body) : directory_("wrenfield-fake-ssh") {
    // Each call writes its arguments, NUL-terminated, to a numbered file of its own.
    const std::string script =
        "#!/bin/bash\n"
        "calls='" +
        directory_ / "calls" +
        "'\n"
        "mkdir -p \"$calls\"\n"
        "count=$(ls \"$calls\" | wc -l)\n"
        "printf '%s\\0' \"$@\" > \"$calls/$(printf %06d \"$count\")\"\n" +
        std::string(body) + "\n";
    const std::string program = directory_ / "bin/ssh";
    write_file(program, script);
    ::chmod(program.c_str(), 0755);
    const char* path = std::getenv("PATH");
    path_ = std::make_unique<ScopedEnvironmentVariable>(
        "PATH", directory_ / "bin" + (path ? ":" + std::string(path) : ""));
}

std::vector<std::vector<std::string>> FakeSsh::calls() const {
    std::vector<std::string> files;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(directory_ / "calls", ignored))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    std::vector<std::vector<std::string>> calls;
    for (const std::string& file : files) {
        const std::string content = read_file(file).value_or("");
        std::vector<std::string> arguments;
        size_t start = 0;
        for (size_t end; (end = content.find('\0', start)) != std::string::npos; start = end + 1)
            arguments.push_back(content.substr(start, end - start));
        calls.push_back(std::move(arguments));
    }
    return calls;
}

}  // namespace wrenfield::testing
