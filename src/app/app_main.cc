#include "app/app_main.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <glib.h>

#include "app/arguments.h"
#include "app/opener.h"
#include "app/updater.h"
#include "app/window.h"
#include "server/server.h"
#include "server/shared_connection.h"
#include "ssh/connection.h"
#include "ssh/process.h"
#include "ssh/remote.h"

namespace wrenfield {

namespace {

// Binds the port asked for, or 5050 and then any free port.
std::expected<BoundServer, std::string> bind_for(std::optional<uint16_t> explicit_port) {
    if (explicit_port) {
        auto bound = bind_server(*explicit_port);
        if (!bound) {
            return std::unexpected("Failed to bind to port " + std::to_string(*explicit_port) +
                                   ": " + bound.error());
        }
        return bound;
    }
    if (auto bound = bind_server(5050))
        return bound;
    auto bound = bind_server(0);
    if (!bound)
        return std::unexpected("Failed to bind to port: " + bound.error());
    return bound;
}

// Opens an SSH connection to the target before anything is served; a failure is only a warning
// and start-up goes on without a connection.
std::optional<SshConnection> auto_connect(const std::string& target) {
    std::printf("Auto-connecting to SSH target: %s\n", target.c_str());
    std::fflush(stdout);
    SshConnection connection = SshConnection::create(target);
    auto probe = connect_probe(connection);
    if (!probe) {
        std::fprintf(stderr, "Warning: Failed to auto-connect to %s: %s\n", target.c_str(),
                     probe.error().c_str());
        std::fflush(stderr);
        return std::nullopt;  // destroying the connection closes its master connection
    }
    return connection;
}

}  // namespace

std::expected<void, std::string> app_main(int argc, char** argv) {
    ignore_broken_pipe();
    init_sparkle();

    std::vector<std::string> arguments(argv, argv + argc);
    CommandLine settings = scan_arguments(arguments);
    if (settings.show_usage) {
        std::fwrite(usage_text.data(), 1, usage_text.size(), stdout);
        return {};
    }

    auto bound = bind_for(settings.port);
    if (!bound)
        return std::unexpected(bound.error());
    std::string page_address = "http://127.0.0.1:" + std::to_string(bound->port);
    std::printf("Wrenfield started at: %s\n", page_address.c_str());
    std::fflush(stdout);

    std::optional<SshConnection> connection;
    if (settings.host)
        connection = auto_connect(*settings.host);
    SharedConnection shared = std::make_shared<ConnectionCell>();
    shared->connection = std::move(connection);

    // When the request loop ends, the main loop ends with it, so browser mode can return.
    GMainLoop* main_loop = g_main_loop_new(nullptr, FALSE);
    std::thread server_thread;
    try {
        server_thread = std::thread([bound = std::move(*bound), shared, main_loop]() mutable {
            serve_requests(std::move(bound), std::move(shared), check_for_updates);
            g_idle_add(
                [](gpointer loop) -> gboolean {
                    g_main_loop_quit(static_cast<GMainLoop*>(loop));
                    return G_SOURCE_REMOVE;
                },
                main_loop);
        });
    } catch (const std::system_error& error) {
        return std::unexpected(std::string("failed to spawn thread: ") + error.what());
    }

    if (settings.browser) {
        std::printf("Opening in web browser: %s\n", page_address.c_str());
        std::fflush(stdout);
        open_in_browser(page_address);
        // The main loop runs instead of a bare wait, so that queued update checks still run.
        g_main_loop_run(main_loop);
        server_thread.join();
        return {};
    }

    // The server keeps running unjoined if the window fails; the process exit ends it.
    server_thread.detach();
    return run_window(page_address);
}

}  // namespace wrenfield
