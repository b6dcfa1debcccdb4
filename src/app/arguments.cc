#include "app/arguments.h"

#include "base/text.h"

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
