#include "support/program_launcher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <functional>

#include <httplib.h>

#include "base/text.h"
#include "support/wait_until.h"

namespace wrenfield::testing {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view start_line_prefix = "Wrenfield started at: ";
constexpr std::string_view local_address_prefix = "http://127.0.0.1:";

}  // namespace

LaunchedProgram::LaunchedProgram(Options options) {
    ::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> arguments = std::move(options.arguments);
    arguments.insert(arguments.begin(), options.binary);
    auto spawned =
        spawn_process(arguments, environment_with(options.environment), ChildInput::NullDevice);
    if (!spawned) {
        start_error_ = spawned.error();
        streams_closed_ = true;
        return;
    }
    pid_ = spawned->pid;
    output_fd_ = std::move(spawned->output);
    error_fd_ = std::move(spawned->error);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) == 0) {
        wake_read_.reset(wake[0]);
        wake_write_.reset(wake[1]);
    }
    reader_ = std::thread([this] { read_streams(); });
}

LaunchedProgram::~LaunchedProgram() {
    if (pid_ > 0 && !exit_status_) {
        send_signal(SIGTERM);
        if (!wait_exit(std::chrono::seconds(3))) {
            send_signal(SIGKILL);
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            exit_status_ = decode_wait_status(status);
        }
    }
    if (reader_.joinable()) {
        // A child of the program may still hold the pipes; stop reading regardless.
        if (wake_write_) {
            char byte = 1;
            [[maybe_unused]] ssize_t ignored = ::write(wake_write_.get(), &byte, 1);
        }
        reader_.join();
    }
}

void LaunchedProgram::read_streams() {
    while (output_fd_ || error_fd_) {
        pollfd watched[3];
        int count = 0;
        if (output_fd_)
            watched[count++] = {output_fd_.get(), POLLIN, 0};
        if (error_fd_)
            watched[count++] = {error_fd_.get(), POLLIN, 0};
        watched[count++] = {wake_read_.get(), POLLIN, 0};
        if (::poll(watched, count, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (watched[count - 1].revents != 0)
            break;
        for (int index = 0; index < count - 1; ++index) {
            if (watched[index].revents == 0)
                continue;
            bool is_output = watched[index].fd == output_fd_.get();
            char buffer[65536];
            ssize_t got = ::read(watched[index].fd, buffer, sizeof buffer);
            if (got < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            std::lock_guard lock(mutex_);
            if (got <= 0)
                (is_output ? output_fd_ : error_fd_).reset();
            else
                (is_output ? output_ : error_output_).append(buffer, static_cast<size_t>(got));
            changed_.notify_all();
        }
    }
    std::lock_guard lock(mutex_);
    streams_closed_ = true;
    changed_.notify_all();
}

bool LaunchedProgram::wait_for(const std::function<bool()>& condition,
                               std::chrono::milliseconds timeout) {
    auto deadline = Clock::now() + timeout;
    std::unique_lock lock(mutex_);
    while (!condition()) {
        if (Clock::now() >= deadline)
            return false;
        // Woken by new output; the slice bounds how late an exit without output is noticed.
        changed_.wait_for(lock, std::chrono::milliseconds(50));
    }
    return true;
}

std::expected<std::string, std::string> LaunchedProgram::wait_for_start(
    std::chrono::milliseconds timeout) {
    if (!start_error_.empty())
        return std::unexpected("the program did not start: " + start_error_);
    std::string line;
    bool ended = false;
    wait_for(
        [&] {
            auto at = output_.find(start_line_prefix);
            auto end = at == std::string::npos ? at : output_.find('\n', at);
            if (end != std::string::npos) {
                line = output_.substr(at + start_line_prefix.size(),
                                      end - at - start_line_prefix.size());
                return true;
            }
            ended = streams_closed_;
            return ended;
        },
        timeout);
    if (line.empty()) {
        std::lock_guard lock(mutex_);
        return std::unexpected(
            std::string(ended ? "the program ended" : "time-out") +
            " before its start-up line; standard output: " + debug_quote(output_) +
            ", standard error: " + debug_quote(error_output_));
    }
    if (!line.starts_with(local_address_prefix))
        return std::unexpected("unexpected start-up line: " + debug_quote(line));
    std::string_view port_text = std::string_view(line).substr(local_address_prefix.size());
    uint16_t port = 0;
    auto [end, failure] =
        std::from_chars(port_text.data(), port_text.data() + port_text.size(), port);
    if (failure != std::errc() || end != port_text.data() + port_text.size() || port == 0)
        return std::unexpected("no port in the start-up line: " + debug_quote(line));
    url_ = line;
    port_ = port;
    return url_;
}

bool LaunchedProgram::wait_for_output(const std::string& text, std::chrono::milliseconds timeout) {
    return wait_for([&] { return output_.find(text) != std::string::npos; }, timeout);
}

bool LaunchedProgram::wait_for_error_output(const std::string& text,
                                            std::chrono::milliseconds timeout) {
    return wait_for([&] { return error_output_.find(text) != std::string::npos; }, timeout);
}

std::string LaunchedProgram::output() const {
    std::lock_guard lock(mutex_);
    return output_;
}

std::string LaunchedProgram::error_output() const {
    std::lock_guard lock(mutex_);
    return error_output_;
}

std::optional<ChildExit> LaunchedProgram::wait_exit(std::chrono::milliseconds timeout) {
    if (pid_ <= 0)
        return std::nullopt;
    wait_until(
        [&] {
            if (exit_status_)
                return true;
            int status = 0;
            const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
            if (reaped == pid_)
                exit_status_ = decode_wait_status(status);
            // A child that cannot be waited for (already reaped elsewhere) ends the wait too.
            return exit_status_.has_value() || (reaped < 0 && errno != EINTR);
        },
        timeout);
    if (!exit_status_)
        return std::nullopt;
    finish_reading(std::chrono::seconds(1));
    return exit_status_;
}

void LaunchedProgram::finish_reading(std::chrono::milliseconds grace) {
    wait_for([&] { return streams_closed_; }, grace);
}

void LaunchedProgram::send_signal(int signal) {
    if (pid_ > 0 && !exit_status_)
        ::kill(pid_, signal);
}

std::string HttpReply::header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (ascii_iequals(key, name))
            return value;
    }
    return "";
}

HttpReply http_request(uint16_t port, const std::string& method, const std::string& path,
                       const std::string& body, const std::string& content_type,
                       const std::multimap<std::string, std::string>& headers) {
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(std::chrono::seconds(5));
    client.set_read_timeout(std::chrono::seconds(120));
    client.set_write_timeout(std::chrono::seconds(120));
    httplib::Request request;
    request.method = method;
    request.path = path;
    for (const auto& [name, value] : headers)
        request.headers.emplace(name, value);
    if (!content_type.empty())
        request.headers.emplace("Content-Type", content_type);
    request.body = body;

    HttpReply reply;
    httplib::Result result = client.send(request);
    if (!result) {
        reply.error = httplib::to_string(result.error());
        return reply;
    }
    reply.status = result->status;
    reply.body = result->body;
    for (const auto& [name, value] : result->headers)
        reply.headers.emplace(name, value);
    return reply;
}

HttpReply http_get(uint16_t port, const std::string& path,
                   const std::multimap<std::string, std::string>& headers) {
    return http_request(port, "GET", path, "", "", headers);
}

HttpReply http_post_json(uint16_t port, const std::string& path, const std::string& json,
                         const std::multimap<std::string, std::string>& headers) {
    return http_request(port, "POST", path, json, "application/json", headers);
}

}  // namespace wrenfield::testing
