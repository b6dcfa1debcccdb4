// The command line: what the argument scan reads from it, and the usage text.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace wrenfield {

struct CommandLine {
    // "-h" or "--help" was met; the other settings are then left as they were at that point.
    bool show_usage = false;
    bool browser = false;
    std::optional<std::string> host;
    std::optional<uint16_t> port;
};

// Scans the process arguments; the first is the program path and is skipped. Each argument is
// compared whole and case-sensitively; "--host" and "--port" take the next argument whatever it
// looks like, and are ignored when they come last. Everything else is ignored.
CommandLine scan_arguments(std::span<const std::string> arguments);

// The ten lines printed for "--help".
extern const std::string_view usage_text;

}  // namespace wrenfield
