// Moves 1 GiB each way through the real program (build/wrenfield in browser mode): download
// and upload beside the bare `ssh cat` pipe through the same master connection in the same
// run, with the peak memory of the program and of the remote python3. The timed rounds drop
// the bytes on both sides (read and counted, or written from one block in memory); one more
// round, untimed, checks every byte of both directions. With --load, `stress-ng --cpu N`
// (N = the number of processors) runs beside the timed rounds.
//
// Runs as root: it makes a test account whose logins go through a forced command that puts a
// python3 wrapper first on PATH; the wrapper runs the real interpreter under GNU time and
// appends its peak resident size to a log. The data lies on tmpfs, so that the disk is not
// what is measured. Account, server and data are removed at the end.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench_support.h"
#include "ssh/connection.h"
#include "ssh/remote.h"
#include "support/local_system.h"
#include "support/program_launcher.h"
#include "support/spawn.h"
#include "support/sshd_fixture.h"

namespace {

using namespace wrenfield;
using namespace wrenfield::testing;
using namespace wrenfield::bench;
using Clock = std::chrono::steady_clock;

constexpr const char* account = "wrenfield-stream";
constexpr size_t file_size = size_t{1} << 30;
constexpr size_t buffer_size = 1 << 20;

// Logins with the test key run their command with `wrappers` first on PATH.
std::string forced_path_command(const std::string& wrappers) {
    return "command=\"PATH=" + wrappers +
           ":$PATH; export PATH; exec /bin/sh -c \\\"$SSH_ORIGINAL_COMMAND\\\"\"";
}

// User and system CPU time of the process so far, in seconds.
double cpu_seconds(pid_t pid) {
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat").value_or("");
    size_t at = stat.rfind(')');
    if (at == std::string::npos)
        return 0;
    // After the command name: state is field 3; utime and stime are fields 14 and 15.
    std::vector<std::string> fields;
    size_t start = at + 2;
    while (start < stat.size() && fields.size() < 13) {
        size_t end = stat.find(' ', start);
        fields.push_back(stat.substr(start, end - start));
        start = end + 1;
    }
    if (fields.size() < 13)
        return 0;
    return (std::stod(fields[11]) + std::stod(fields[12])) /
           static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The peak of the last python3 run, from the wrapper's log ("Command exited ..." lines skipped).
long last_python_peak_kib(const std::string& log) {
    std::string text = read_file(log).value_or("");
    long peak = -1;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0])))
            peak = std::strtol(line.c_str(), nullptr, 10);
        start = end + 1;
    }
    return peak;
}

// What a body's bytes are handed to, in order (null: they are only counted).
using BodySink = std::function<void(std::string_view)>;

// Reads a whole reply: the head is kept, a chunked body is taken apart and its bytes counted
// and handed to `sink`. Returns the body's byte count, or nothing when the reply was cut or
// not 200.
std::optional<size_t> read_reply(int fd, std::string& head, const BodySink& sink = nullptr) {
    std::string buffer(buffer_size, '\0');
    std::string pending;
    size_t body = 0;
    bool chunked = false;
    size_t chunk_left = 0;
    bool in_head = true;
    for (;;) {
        ssize_t count = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (count <= 0)
            return in_head || chunked ? std::nullopt : std::optional<size_t>(body);
        std::string_view data(buffer.data(), static_cast<size_t>(count));
        if (in_head) {
            pending.append(data);
            size_t end = pending.find("\r\n\r\n");
            if (end == std::string::npos)
                continue;
            head = pending.substr(0, end);
            in_head = false;
            chunked = head.find("Transfer-Encoding: chunked") != std::string::npos;
            pending.erase(0, end + 4);
            if (!head.starts_with("HTTP/1.1 200"))
                return std::nullopt;
            if (!chunked) {
                if (sink)
                    sink(pending);
                body += pending.size();
                pending.clear();
                continue;
            }
            data = {};
        } else if (!chunked) {
            if (sink)
                sink(data);
            body += data.size();
            continue;
        }
        // Chunked: whole chunk bodies are skipped without copying; framing lines are gathered.
        while (!data.empty() || !pending.empty()) {
            if (chunk_left > 0) {
                if (!pending.empty()) {
                    size_t take = std::min(chunk_left, pending.size());
                    if (sink)
                        sink(std::string_view(pending).substr(0, take));
                    pending.erase(0, take);
                    chunk_left -= take;
                    body += take;
                    continue;
                }
                size_t take = std::min(chunk_left, data.size());
                if (sink)
                    sink(data.substr(0, take));
                data.remove_prefix(take);
                chunk_left -= take;
                body += take;
                continue;
            }
            pending.append(data);
            data = {};
            // "\r\n" ending the previous chunk, then the size line.
            if (pending.starts_with("\r\n"))
                pending.erase(0, 2);
            size_t line_end = pending.find("\r\n");
            if (line_end == std::string::npos)
                break;
            size_t size = std::strtoul(pending.substr(0, line_end).c_str(), nullptr, 16);
            pending.erase(0, line_end + 2);
            if (size == 0)
                return body;
            chunk_left = size;
        }
    }
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double megabytes_per_second(double seconds) {
    return file_size / seconds / 1e6;
}

std::string encode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || std::strchr("-._~/", c) != nullptr) {
            out += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            out += escape;
        }
    }
    return out;
}

double our_download(uint16_t port, const std::string& path, const BodySink& sink = nullptr) {
    auto start = Clock::now();
    int fd = connect_to(port);
    std::string request = "GET /api/download?path=" + encode(path) +
                          " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                          "\r\nConnection: close\r\n\r\n";
    std::string head;
    std::optional<size_t> received;
    if (send_all(fd, request.data(), request.size()))
        received = read_reply(fd, head, sink);
    ::close(fd);
    double seconds = seconds_since(start);
    if (received != file_size)
        fail("download failed: " + head);
    return seconds;
}

// Sends 1 GiB: `block` over and over, or, when `block` is as long as the whole, the block once.
double our_upload(uint16_t port, const std::string& path, std::string_view block) {
    auto start = Clock::now();
    int fd = connect_to(port);
    std::string request = "POST /api/upload?path=" + encode(path) +
                          " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                          "\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                          std::to_string(file_size) + "\r\nConnection: close\r\n\r\n";
    bool sent = send_all(fd, request.data(), request.size());
    for (size_t done = 0; sent && done < file_size; done += block.size())
        sent = send_all(fd, block.data(), block.size());
    std::string head;
    std::optional<size_t> received = read_reply(fd, head);
    ::close(fd);
    double seconds = seconds_since(start);
    if (!sent || !received)
        fail("upload failed: " + head);
    return seconds;
}

// The bare pipe: `ssh ... cat` through the program's master, its output read and dropped, or
// `input_block` written to it until 1 GiB has gone.
double bare_run(std::vector<std::string> command, const std::string& remote_command,
                const std::string* input_block) {
    command.push_back(remote_command);
    auto start = Clock::now();
    run_bare(command, input_block ? *input_block : std::string_view(), input_block ? file_size : 0);
    return seconds_since(start);
}

// The ssh layer alone, without the HTTP server: the file's pieces read and dropped.
double layer_download(const SshConnection& connection, const std::string& path) {
    auto start = Clock::now();
    auto download = RemoteFileStream::start(connection, path);
    size_t received = 0;
    for (; download;) {
        auto piece = download->next_piece();
        if (!piece || piece->empty())
            break;
        received += piece->size();
    }
    double seconds = seconds_since(start);
    if (received != file_size)
        fail("the ssh layer's download failed");
    return seconds;
}

// The ssh layer alone: 1 GiB of `block` handed to the remote write in pieces of its size.
double layer_upload(const SshConnection& connection, const std::string& path,
                    std::string_view block) {
    auto start = Clock::now();
    auto written = remote_write_stream(
        connection, path, file_size,
        [&](const auto& receive) {
            for (size_t done = 0; done < file_size; done += block.size()) {
                if (!receive(block))
                    return false;
            }
            return true;
        },
        Existing::Replace, nullptr);
    double seconds = seconds_since(start);
    if (!written)
        fail("the ssh layer's upload failed: " + written.error());
    return seconds;
}

std::string quoted(const std::string& path) {
    return "'" + path + "'";
}

// A file mapped read-only, for the check round.
class MappedFile {
  public:
    explicit MappedFile(const std::string& path) {
        int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd >= 0 && ::fstat(fd, &info) == 0 && info.st_size > 0) {
            void* at =
                ::mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_SHARED, fd, 0);
            if (at != MAP_FAILED) {
                data_ = static_cast<const char*>(at);
                size_ = static_cast<size_t>(info.st_size);
            }
        }
        if (fd >= 0)
            ::close(fd);
    }
    ~MappedFile() {
        if (data_ != nullptr)
            ::munmap(const_cast<char*>(data_), size_);
    }
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    std::string_view bytes() const { return {data_, size_}; }

  private:
    const char* data_ = nullptr;
    size_t size_ = 0;
};

// `stress-ng --cpu N` beside the rounds, stopped (and its workers with it) when this goes.
class CpuLoad {
  public:
    CpuLoad() {
        const std::string workers = std::to_string(::sysconf(_SC_NPROCESSORS_ONLN));
        auto spawned = spawn_process({"stress-ng", "--cpu", workers, "--quiet"}, std::nullopt,
                                     ChildInput::NullDevice);
        if (!spawned)
            fail("cannot start stress-ng: " + spawned.error());
        process_ = std::move(*spawned);
        // Its workers start a moment after it: wait until they run.
        ::sleep(2);
    }
    ~CpuLoad() {
        ::kill(process_.pid, SIGINT);
        int status = 0;
        ::waitpid(process_.pid, &status, 0);
    }
    CpuLoad(const CpuLoad&) = delete;
    CpuLoad& operator=(const CpuLoad&) = delete;

  private:
    SpawnedProcess process_;
};

std::string load_average() {
    std::string text = read_file("/proc/loadavg").value_or("");
    return text.substr(0, text.find(' ', text.find(' ', text.find(' ') + 1) + 1));
}

void print_rounds(const char* name, const std::vector<double>& seconds) {
    std::printf("%s (MB/s):", name);
    for (double value : seconds)
        std::printf(" %.0f", megabytes_per_second(value));
    std::printf("\n");
}

// Bare time / our time of each round's pair, and their median.
double print_paired_ratios(const char* name, const std::vector<double>& ours,
                           const std::vector<double>& bare) {
    std::vector<double> ratios;
    std::printf("%s, bare / ours per round:", name);
    for (size_t round = 0; round < ours.size(); ++round) {
        ratios.push_back(bare[round] / ours[round]);
        std::printf(" %.2f", ratios.back());
    }
    const double middle = median(ratios);
    std::printf(" (median %.2f)\n", middle);
    return middle;
}

}  // namespace

int main(int argc, char** argv) {
    ::signal(SIGPIPE, SIG_IGN);
    int rounds = 5;
    bool load = false;
    std::string cipher;
    for (int index = 1; index < argc; ++index) {
        std::string argument = argv[index];
        if (argument == "--quick") {
            rounds = 1;
        } else if (argument == "--load") {
            load = true;
        } else if (argument == "--cipher" && index + 1 < argc) {
            cipher = argv[++index];
        } else {
            fail("usage: stream_bench [--quick] [--load] [--cipher NAME]");
        }
    }
    AccountServer started = start_account_server(account);
    const std::string& account_home = started.home;
    const bool created_account = started.created_account;
    auto& server = started.server;
    TemporaryDirectory data("wrenfield-stream-bench", "/dev/shm");
    undo_on_failure = [&] {
        std::filesystem::remove_all(data.path());
        server->stop();
        if (created_account)
            run_command({"userdel", "--remove", account});
    };
    if (data.path().empty())
        fail("cannot make a directory under /dev/shm");
    const std::string wrappers = data / "bin";
    const std::string peak_log = data / "python-peak.log";
    if (!write_file(wrappers + "/python3", "#!/bin/sh\nexec /usr/bin/time -a -o '" + peak_log +
                                               "' -f '%M' /usr/bin/python3 \"$@\"\n")) {
        fail("cannot write the python3 wrapper");
    }
    ::chmod((wrappers + "/python3").c_str(), 0755);
    authorize_key(account, account_home, *server, forced_path_command(wrappers));

    const std::string source = data / "source.bin";
    const std::string uploaded = data / "uploaded.bin";
    const std::string bare_uploaded = data / "bare-uploaded.bin";
    checked_output({"python3", "-c",
                    "import os, sys\nblock = os.urandom(1 << 20)\nwith open(sys.argv[1], 'wb') as "
                    "f:\n    for _ in range(1024):\n        f.write(block)\n",
                    source});
    checked_output({"chown", "-R", std::string(account) + ":", data.path()});
    ::chmod(data.path().c_str(), 0755);

    // Another cipher for every ssh of the run (the program's and the bare one): the default
    // is what the user gets, a faster one shows what the program adds when ssh is quicker.
    if (!cipher.empty()) {
        std::string config = read_file(server->ssh_config()).value_or("");
        if (!write_file(server->ssh_config(), "Ciphers " + cipher + "\n" + config))
            fail("cannot set the cipher");
    }
    ScopedEnvironmentVariable home("HOME", server->home());
    ScopedEnvironmentVariable path("PATH", server->path());
    ScopedEnvironmentVariable agent("SSH_AUTH_SOCK", std::nullopt);
    TemporaryDirectory opener("wrenfield-stream-opener");
    write_file(opener / "xdg-open", "#!/bin/sh\nexit 0\n");
    ::chmod((opener / "xdg-open").c_str(), 0755);

    double download_ours = 0, download_bare = 0, upload_ours = 0, upload_bare = 0;
    double download_cpu = 0, upload_cpu = 0;
    long rss_before = 0, download_peak = 0, upload_peak = 0, python_download = 0, python_upload = 0;
    {
        LaunchedProgram program(LaunchedProgram::Options{
            {"--browser", "--port", "0"}, {"PATH=" + opener.path() + ":" + server->path()}});
        auto address = program.wait_for_start();
        if (!address)
            fail("the program did not start: " + address.error());
        const uint16_t port = program.port();
        HttpReply connected = http_post_json(port, "/api/connect",
                                             nlohmann::json{{"host", server->host_alias()}}.dump());
        if (connected.status != 200)
            fail("connect failed: " + connected.body);
        // The same record as the program's gives the same command line and control socket.
        SshConnection connection = SshConnection::create(server->host_alias());
        const std::vector<std::string> command = connection.ssh_command();
        std::string block(buffer_size, '\0');
        for (size_t at = 0; at < block.size(); ++at)
            block[at] = static_cast<char>(at * 131 + at / 977);

        // One warm-up of each, then the measured rounds. Each direction is measured as a pair,
        // ours and bare, and which of the two goes first alternates from round to round.
        our_download(port, source);
        bare_run(command, "cat " + quoted(source), nullptr);
        rss_before = status_kib(program.pid(), "VmRSS");
        std::vector<double> ours_down, bare_down, ours_up, bare_up, cpu_down, cpu_up;
        std::vector<double> layer_down, layer_up;
        const auto ours_downloading = [&] {
            reset_peak(program.pid());
            double cpu = cpu_seconds(program.pid());
            ours_down.push_back(our_download(port, source));
            cpu_down.push_back(cpu_seconds(program.pid()) - cpu);
            download_peak = std::max(download_peak, status_kib(program.pid(), "VmHWM"));
            python_download = std::max(python_download, last_python_peak_kib(peak_log));
        };
        const auto ours_uploading = [&] {
            reset_peak(program.pid());
            double cpu = cpu_seconds(program.pid());
            ours_up.push_back(our_upload(port, uploaded, block));
            cpu_up.push_back(cpu_seconds(program.pid()) - cpu);
            upload_peak = std::max(upload_peak, status_kib(program.pid(), "VmHWM"));
            python_upload = std::max(python_upload, last_python_peak_kib(peak_log));
        };
        const auto bare_downloading = [&] {
            bare_down.push_back(bare_run(command, "cat " + quoted(source), nullptr));
        };
        const auto bare_uploading = [&] {
            bare_up.push_back(bare_run(command, "cat > " + quoted(bare_uploaded), &block));
        };
        std::printf("load average before the rounds: %s\n", load_average().c_str());
        {
            std::optional<CpuLoad> cpu_load;
            if (load)
                cpu_load.emplace();
            for (int round = 0; round < rounds; ++round) {
                const bool ours_first = round % 2 == 0;
                if (ours_first) {
                    ours_downloading();
                    bare_downloading();
                    ours_uploading();
                    bare_uploading();
                } else {
                    bare_downloading();
                    ours_downloading();
                    bare_uploading();
                    ours_uploading();
                }
                // Where the time goes: the ssh layer alone, after each round's pairs.
                layer_down.push_back(layer_download(connection, source));
                layer_up.push_back(layer_upload(connection, uploaded, block));
            }
            std::printf("load average after the rounds: %s\n", load_average().c_str());
        }
        if (std::filesystem::file_size(uploaded) != file_size ||
            std::filesystem::file_size(bare_uploaded) != file_size) {
            fail("an uploaded file has the wrong size");
        }

        // The check round, untimed: the source's bytes come down and go up, and are compared
        // with it byte for byte.
        {
            MappedFile expected(source);
            if (expected.bytes().size() != file_size)
                fail("cannot map the source file");
            size_t at = 0;
            bool same = true;
            our_download(port, source, [&](std::string_view piece) {
                same = same && at + piece.size() <= file_size &&
                       expected.bytes().substr(at, piece.size()) == piece;
                at += piece.size();
            });
            if (!same || at != file_size)
                fail("the downloaded bytes differ from the file's");
            our_upload(port, uploaded, expected.bytes());
            MappedFile written(uploaded);
            if (written.bytes() != expected.bytes())
                fail("the uploaded file differs from the bytes sent");
            std::printf("check round: 1 GiB down and 1 GiB up, every byte the same\n");
        }
        print_rounds("ours down", ours_down);
        print_rounds("bare down", bare_down);
        print_rounds("ours up", ours_up);
        print_rounds("bare up", bare_up);
        print_paired_ratios("download", ours_down, bare_down);
        print_paired_ratios("upload", ours_up, bare_up);
        print_rounds("ssh layer alone down", layer_down);
        print_rounds("ssh layer alone up", layer_up);
        std::printf("ssh layer alone, median MB/s: down %.0f, up %.0f\n",
                    megabytes_per_second(median(layer_down)),
                    megabytes_per_second(median(layer_up)));
        download_ours = median(ours_down);
        download_bare = median(bare_down);
        upload_ours = median(ours_up);
        upload_bare = median(bare_up);
        download_cpu = median(cpu_down);
        upload_cpu = median(cpu_up);
    }

    std::printf(
        "| 1 GiB | ours (MB/s) | bare ssh cat (MB/s) | ratio | program CPU (s) |\n"
        "|---|---:|---:|---:|---:|\n");
    std::printf("| download | %.0f | %.0f | %.2f | %.2f |\n", megabytes_per_second(download_ours),
                megabytes_per_second(download_bare), download_bare / download_ours, download_cpu);
    std::printf("| upload | %.0f | %.0f | %.2f | %.2f |\n\n", megabytes_per_second(upload_ours),
                megabytes_per_second(upload_bare), upload_bare / upload_ours, upload_cpu);
    std::printf("| peak memory (MiB) | program | remote python3 |\n|---|---:|---:|\n");
    std::printf("| download of 1 GiB | %.1f | %.1f |\n", download_peak / 1024.0,
                python_download / 1024.0);
    std::printf("| upload of 1 GiB | %.1f | %.1f |\n", upload_peak / 1024.0,
                python_upload / 1024.0);
    std::printf("\nprogram resident before the transfers: %.1f MiB; rounds: %d; cipher: %s; %s\n",
                rss_before / 1024.0, rounds, cipher.empty() ? "default" : cipher.c_str(),
                load ? "stress-ng --cpu beside the rounds" : "no load added");

    std::exchange(undo_on_failure, nullptr)();
    return 0;
}
