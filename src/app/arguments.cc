#include "app/arguments.h"

namespace wrenfield {

const std::string_view usage_text =
    "Wrenfield\n"
    "\n"
    "USAGE:\n"
    "  wrenfield [OPTIONS]\n"
    "\n"
    "OPTIONS:\n"
    "  --browser          Open in default web browser instead of native window\n"
    "  --host <target>    Auto-connect to SSH host on launch (e.g. user@hostname or alias)\n"
    "  --port <port>      Specify local HTTP server port (default: auto)\n"
    "  --help, -h         Show help information\n";

std::optional<uint16_t> parse_port(std::string_view text) {
    if (text.starts_with('+')) {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
        if (value > UINT16_MAX) {
            return std::nullopt;
        }
    }
    return static_cast<uint16_t>(value);
}

CommandLine scan_arguments(std::span<const std::string> arguments) {
    CommandLine settings;
    for (size_t index = 1; index < arguments.size(); ++index) {
        const std::string& argument = arguments[index];
        bool has_value = index + 1 < arguments.size();
        if (argument == "-h" || argument == "--help") {
            settings.show_usage = true;
            return settings;
        }
        if (argument == "--browser") {
            settings.browser = true;
        } else if (argument == "--host" && has_value) {
            settings.host = arguments[++index];
        } else if (argument == "--port" && has_value) {
            // An invalid value clears an earlier valid port rather than keeping it.
            settings.port = parse_port(arguments[++index]);
        }
    }
    return settings;
}

}  // namespace wrenfield
