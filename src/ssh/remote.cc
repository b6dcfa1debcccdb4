#include "ssh/remote.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <optional>
#include <utility>

#include "base/base64.h"
#include "base/text.h"
#include "ssh/process.h"
#include "ssh/remote_programs.h"

namespace wrenfield {

namespace remote_programs {

std::string fill_program(std::string_view program, std::initializer_list<std::string_view> values) {
    std::string filled;
    filled.reserve(program.size() + 64);
    size_t position = 0;
    for (std::string_view value : values) {
        const size_t placeholder = program.find("{}", position);
        if (placeholder == std::string_view::npos)
            break;
        filled.append(program.substr(position, placeholder - position));
        filled.append(value);
        position = placeholder + 2;
    }
    filled.append(program.substr(position));
    return filled;
}

}  // namespace remote_programs

namespace {

// The probe: system, login directory, login name and interpreter, in one round trip.
constexpr std::string_view kProbeCommand =
    "uname -s -r -m; echo '---SEP---'; pwd; echo '---SEP---'; whoami; echo '---SEP---'; "
    "which python3 2>/dev/null || which python 2>/dev/null || echo 'no_python'";

std::string trimmed_error_text(std::string_view error_output) {
    return std::string(trim_whitespace(decode_utf8_lossy(error_output)));
}

// Whether a run may start through `connection`: its destination is not one that ssh would read
// as an option, and its control socket is absent or our own.
std::expected<void, Error> check_runnable(const SshConnection& connection) {
    if (!connection.has_safe_destination())
        return std::unexpected("Invalid SSH destination: " + connection.destination);
    return check_control_socket(connection.control_path);
}

// The command line of one remote program: the connection's ssh options, then the program.
std::vector<std::string> remote_command(const SshConnection& connection, std::string program) {
    std::vector<std::string> command = connection.ssh_command();
    command.push_back(std::move(program));
    return command;
}

// Runs one remote program with no input and returns its standard output. A run that cannot
// be started or collected gives `start_failure` and the system's text; a failed run gives its
// trimmed standard error, or `fixed_failure` when that is blank.
std::expected<std::string, Error> run_remote_program(const SshConnection& connection,
                                                     std::string program,
                                                     std::string_view start_failure,
                                                     const std::string& fixed_failure,
                                                     CancelToken* cancel) {
    if (auto runnable = check_runnable(connection); !runnable)
        return std::unexpected(runnable.error());
    auto run = run_captured(remote_command(connection, std::move(program)), std::nullopt, cancel);
    if (!run)
        return std::unexpected(std::string(start_failure) + run.error().description());
    if (!run->status.success()) {
        std::string message = trimmed_error_text(run->error_output);
        return std::unexpected(message.empty() ? fixed_failure : std::move(message));
    }
    return std::move(run->output);
}

std::string encoded(std::string_view path) {
    return base64_encode(path);
}

// The value of a program's `refuse_existing` placeholder.
std::string_view refuses(Existing existing) {
    return existing == Existing::Refuse ? "True" : "False";
}

}  // namespace

std::expected<ConnectResult, Error> connect_probe(SshConnection& connection) {
    if (auto runnable = check_runnable(connection); !runnable)
        return std::unexpected(runnable.error());
    auto run = run_captured(remote_command(connection, std::string(kProbeCommand)));
    if (!run) {
        remove_socket_file(connection.control_path);
        return std::unexpected("Failed to execute ssh: " + run.error().description());
    }
    if (!run->status.success()) {
        // The master may have left a socket behind; the exit request is the caller's to send.
        remove_socket_file(connection.control_path);
        std::string message = trimmed_error_text(run->error_output);
        return std::unexpected(message.empty() ? "SSH connection failed with unknown error"
                                               : std::move(message));
    }

    // Kept as bytes: a home folder whose name is not UTF-8 must reach the remote side again as
    // it is, and the JSON writer shows such bytes as escapes.
    const std::string& output = run->output;
    constexpr std::string_view kSeparator = "---SEP---";
    std::vector<std::string_view> pieces;
    std::string_view rest = output;
    for (size_t at; (at = rest.find(kSeparator)) != std::string_view::npos;) {
        pieces.push_back(rest.substr(0, at));
        rest.remove_prefix(at + kSeparator.size());
    }
    pieces.push_back(rest);
    if (pieces.size() < 4)
        return std::unexpected("Unexpected response from remote host: " + output);

    connection.remote_os = std::string(trim_whitespace(pieces[0]));
    connection.home_dir = std::string(trim_whitespace(pieces[1]));
    connection.remote_user = std::string(trim_whitespace(pieces[2]));
    const std::string_view interpreter = trim_whitespace(pieces[3]);
    connection.has_python = !interpreter.empty() && interpreter != "no_python";

    ConnectResult result;
    result.host = connection.destination;
    result.user = connection.remote_user;
    result.home_dir = connection.home_dir;
    result.remote_os = connection.remote_os;
    result.has_python = connection.has_python;
    result.identity_file = connection.identity_file;
    return result;
}

std::expected<RemoteListing, Error> RemoteListing::start(const SshConnection& connection,
                                                         std::string_view path,
                                                         CancelToken* cancel) {
    return begin(connection, path, Output::KeptUntilFirstEntry, cancel);
}

std::expected<RemoteListing, Error> RemoteListing::begin(const SshConnection& connection,
                                                         std::string_view path, Output output,
                                                         CancelToken* cancel) {
    if (auto runnable = check_runnable(connection); !runnable)
        return std::unexpected(runnable.error());
    std::string effective = path.empty() || path == "~" ? connection.home_dir : std::string(path);
    auto process = RunningProcess::start(
        remote_command(connection,
                       remote_programs::fill_program(remote_programs::kList, {encoded(effective)})),
        ChildInput::NullDevice);
    if (!process)
        return std::unexpected("SSH command error: " + process.error().description());
    process->cancel_with(cancel);
    RemoteListing listing(std::move(*process), std::move(effective));
    while (listing.entries_.empty() && !listing.finished_) {
        if (auto step = listing.read_step(); !step)
            return std::unexpected(std::move(step.error()));
    }
    listing.entries_waiting_ = true;
    if (output == Output::KeptUntilFirstEntry) {
        listing.keep_text_ = false;
        listing.kept_text_ = std::string();
    }
    return listing;
}

std::expected<std::span<FileItem>, Error> RemoteListing::next_entries() {
    if (failure_)
        return std::unexpected(*failure_);
    if (std::exchange(entries_waiting_, false))
        return std::span(entries_);
    entries_.clear();
    while (entries_.empty() && !finished_) {
        if (auto step = read_step(); !step)
            return std::unexpected(std::move(step.error()));
    }
    return std::span(entries_);
}

void RemoteListing::take_text(std::string_view bytes, bool last) {
    // Decoded as the whole output would be: a UTF-8 sequence cut by the end of a piece waits
    // for the rest of it.
    std::string joined;
    if (!held_bytes_.empty()) {
        joined = std::exchange(held_bytes_, std::string()) + std::string(bytes);
        bytes = joined;
    }
    const size_t held = last ? 0 : incomplete_utf8_tail(bytes);
    held_bytes_.assign(bytes.substr(bytes.size() - held));
    std::string_view whole = bytes.substr(0, bytes.size() - held);
    std::string decoded;
    if (!is_valid_utf8(whole)) {
        decoded = decode_utf8_lossy(whole);
        whole = decoded;
    }
    if (keep_text_)
        kept_text_.append(whole);
    if (parse_error_)
        return;
    const auto take = [this](FileItem&& item) { entries_.push_back(std::move(item)); };
    auto read = reader_.feed(whole, take);
    if (read && last)
        read = reader_.finish(take);
    if (!read)
        parse_error_ = std::move(read.error());
}

std::expected<void, Error> RemoteListing::read_step() {
    const auto fail = [this](Error message) {
        failure_ = message;
        return std::unexpected(std::move(message));
    };
    const auto parse_failure = [this] {
        return "Failed to parse directory listing: " + *parse_error_ +
               (keep_text_ ? " (output: " + kept_text_ + ")" : std::string());
    };
    auto piece = process_.read_output();
    if (!piece)
        return fail("SSH command error: " + piece.error().description());
    if (!piece->empty()) {
        take_text(*piece, false);
        // Once entries have gone out, a listing that cannot be read stops at once; before, the
        // run's outcome comes first, as it does for a listing read whole.
        if (parse_error_ && !keep_text_)
            return fail(parse_failure());
        return {};
    }
    take_text({}, true);
    auto status = process_.finish();
    finished_ = true;
    if (!status)
        return fail("SSH command error: " + status.error().description());
    if (!status->success()) {
        std::string message = trimmed_error_text(process_.error_output());
        return fail(message.empty() ? "Failed to list directory: " + path_ : std::move(message));
    }
    if (parse_error_)
        return fail(parse_failure());
    return {};
}

std::expected<std::vector<FileItem>, Error> list_remote_dir(const SshConnection& connection,
                                                            std::string_view path,
                                                            CancelToken* cancel) {
    auto listing = RemoteListing::begin(connection, path, RemoteListing::Output::Kept, cancel);
    if (!listing)
        return std::unexpected(std::move(listing.error()));
    std::vector<FileItem> items;
    for (;;) {
        auto entries = listing->next_entries();
        if (!entries)
            return std::unexpected(std::move(entries.error()));
        if (entries->empty())
            return items;
        std::ranges::move(*entries, std::back_inserter(items));
    }
}

std::expected<FileContent, ReadError> read_remote_file(const SshConnection& connection,
                                                       std::string_view path, CancelToken* cancel,
                                                       uint64_t size_limit) {
    auto read = RemoteFileStream::begin(connection, path, RemoteFileStream::Purpose::View,
                                        size_limit, cancel);
    if (!read)
        return std::unexpected(std::move(read.error()));
    auto whole = read->collect();
    if (!whole)
        return std::unexpected(std::move(whole.error()));
    std::string& bytes = *whole;
    FileContent content;
    content.path = std::string(path);
    content.size = bytes.size();
    content.is_binary = !is_valid_utf8(bytes);
    content.content = content.is_binary ? base64_encode(bytes) : std::move(bytes);
    return content;
}

namespace {

ReadError read_failed(std::string message) {
    ReadError error;
    error.message = std::move(message);
    return error;
}

ReadError too_large_to_view(uint64_t size_limit, std::optional<uint64_t> size) {
    ReadError error;
    error.code = ReadError::Code::TooLarge;
    error.limit = size_limit;
    error.size = size;
    return error;
}

// The size the READ program wrote to standard error when it refused a file by its size.
std::optional<uint64_t> refused_size(std::string_view error_output) {
    const std::string_view text = trim_whitespace(error_output);
    uint64_t size = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return size;
}

// The READ program's exit status when the file is over the bound it was given.
constexpr int read_over_limit_status = 3;

}  // namespace

std::expected<RemoteFileStream, Error> RemoteFileStream::start(const SshConnection& connection,
                                                               std::string_view path,
                                                               CancelToken* cancel) {
    auto stream = begin(connection, path, Purpose::Download, 0, cancel);
    if (!stream)
        return std::unexpected(std::move(stream.error().message));
    return std::move(*stream);
}

std::expected<RemoteFileStream, ReadError> RemoteFileStream::begin(const SshConnection& connection,
                                                                   std::string_view path,
                                                                   Purpose purpose,
                                                                   uint64_t size_limit,
                                                                   CancelToken* cancel) {
    if (auto runnable = check_runnable(connection); !runnable)
        return std::unexpected(read_failed(runnable.error()));
    const std::string limit =
        purpose == Purpose::View ? std::to_string(size_limit) : std::string("-1");
    auto process = RunningProcess::start(
        remote_command(connection, remote_programs::fill_program(remote_programs::kRead,
                                                                 {encoded(path), limit})),
        ChildInput::NullDevice);
    if (!process) {
        return std::unexpected(
            read_failed((purpose == Purpose::View ? "SSH read error: " : "SSH download error: ") +
                        process.error().description()));
    }
    process->cancel_with(cancel);
    RemoteFileStream download(std::move(*process), std::string(path), purpose, size_limit);
    auto first = download.read_piece();
    if (!first)
        return std::unexpected(std::move(first.error()));
    // The piece lies in the runner's buffer, which stays where it is when the download moves.
    download.first_piece_ = *first;
    return download;
}

std::expected<std::string_view, Error> RemoteFileStream::next_piece() {
    if (first_piece_)
        return *std::exchange(first_piece_, std::nullopt);
    auto piece = read_piece();
    if (!piece)
        return std::unexpected(piece.error().message);
    return *piece;
}

std::expected<std::string_view, ReadError> RemoteFileStream::read_piece() {
    if (failure_)
        return std::unexpected(*failure_);
    if (finished_)
        return std::string_view();
    const bool view = purpose_ == Purpose::View;
    const std::string_view run_failure = view ? "SSH read error: " : "SSH download error: ";
    const auto fail = [this](ReadError error) {
        failure_ = error;
        return std::unexpected(std::move(error));
    };
    auto piece = process_.read_output();
    if (!piece)
        return fail(read_failed(std::string(run_failure) + piece.error().description()));
    if (!piece->empty()) {
        received_ += piece->size();
        // The program stops at the bound itself; this holds whatever the other side sends.
        if (view && received_ > size_limit_)
            return fail(too_large_to_view(size_limit_, std::nullopt));
        return *piece;
    }
    // Standard output has ended: only the run's outcome tells whether the file ended there.
    auto status = process_.finish();
    finished_ = true;
    if (!status)
        return fail(read_failed(std::string(run_failure) + status.error().description()));
    if (view && !status->signaled && status->code == read_over_limit_status)
        return fail(too_large_to_view(size_limit_, refused_size(process_.error_output())));
    if (!status->success()) {
        std::string message = trimmed_error_text(process_.error_output());
        if (message.empty())
            message = (view ? "Failed to read file: " : "Failed to download file: ") + path_;
        return fail(read_failed(std::move(message)));
    }
    return std::string_view();
}

std::expected<std::string, Error> remote_download(const SshConnection& connection,
                                                  std::string_view path) {
    auto download = RemoteFileStream::start(connection, path);
    if (!download)
        return std::unexpected(std::move(download.error()));
    return download->read_all();
}

std::expected<std::string, ReadError> RemoteFileStream::collect() {
    std::string bytes;
    if (first_piece_)
        bytes.append(*std::exchange(first_piece_, std::nullopt));
    for (;;) {
        auto piece = read_piece();
        if (!piece)
            return std::unexpected(std::move(piece.error()));
        if (piece->empty())
            return bytes;
        bytes.append(*piece);
    }
}

std::expected<std::string, Error> RemoteFileStream::read_all() {
    auto bytes = collect();
    if (!bytes)
        return std::unexpected(std::move(bytes.error().message));
    return std::move(*bytes);
}

std::expected<void, Error> remote_mkdir(const SshConnection& connection, std::string_view path,
                                        Existing existing, CancelToken* cancel) {
    auto output = run_remote_program(
        connection,
        remote_programs::fill_program(remote_programs::kMkdir, {encoded(path), refuses(existing)}),
        "SSH mkdir error: ", "Failed to create directory: " + std::string(path), cancel);
    if (!output)
        return std::unexpected(output.error());
    return {};
}

std::expected<void, Error> remote_delete(const SshConnection& connection, std::string_view path,
                                         RemoteEntry entry, CancelToken* cancel) {
    const std::string_view recursive = entry == RemoteEntry::Directory ? "True" : "False";
    auto output = run_remote_program(
        connection,
        remote_programs::fill_program(remote_programs::kDelete, {encoded(path), recursive}),
        "SSH delete error: ", "Failed to delete: " + std::string(path), cancel);
    if (!output)
        return std::unexpected(output.error());
    return {};
}

std::expected<void, Error> remote_rename(const SshConnection& connection, std::string_view from,
                                         std::string_view to, Existing existing,
                                         CancelToken* cancel) {
    auto output = run_remote_program(
        connection,
        remote_programs::fill_program(remote_programs::kRename,
                                      {encoded(from), encoded(to), refuses(existing)}),
        "SSH rename error: ", "Failed to rename " + std::string(from) + " to " + std::string(to),
        cancel);
    if (!output)
        return std::unexpected(output.error());
    return {};
}

namespace {

// Takes one progress mark of the WRITE program out of its standard error: a record separator,
// the step and a line feed, written when a rewrite in place begins ("rewriting") and when all
// the new bytes are in the file ("written"). The client's own lines may stand around them.
bool take_mark(std::string& error_output, std::string_view step) {
    const std::string mark = "\x1e" + std::string(step) + "\n";
    const size_t at = error_output.find(mark);
    if (at == std::string::npos)
        return false;
    error_output.erase(at, mark.size());
    return true;
}

// The outcome of a WRITE run that failed. One that ended without its own message (status 1
// with a text) during a rewrite in place, such as a killed remote program, either had
// written all the new bytes, which is no failure, or left the file part-written, which is
// said by name.
std::expected<void, Error> write_failure_message(const ExitStatus& status, std::string error_output,
                                                 std::string_view path) {
    const bool rewriting = take_mark(error_output, "rewriting");
    const bool written = rewriting && take_mark(error_output, "written");
    std::string message = trimmed_error_text(error_output);
    const bool cut_short = status.signaled || status.code != 1 || message.empty();
    if (rewriting && cut_short) {
        if (written)
            return {};
        return std::unexpected(
            "The save stopped part way through rewriting the file; it may be incomplete: " +
            std::string(path));
    }
    return std::unexpected(message.empty() ? "Failed to write file: " + std::string(path)
                                           : std::move(message));
}

}  // namespace

std::expected<void, Error> remote_write_stream(const SshConnection& connection,
                                               std::string_view path, uint64_t size,
                                               const DataSource& source, Existing existing,
                                               CancelToken* cancel, const PipeFeed& feed) {
    const auto drop_source = [&source] { source([](std::string_view) { return true; }); };
    if (auto runnable = check_runnable(connection); !runnable) {
        drop_source();
        return std::unexpected(runnable.error());
    }
    // The remote program checks that exactly this many bytes arrived before it replaces
    // anything, so a cut stream can never pass for a short file.
    const std::string program = remote_programs::fill_program(
        remote_programs::kWrite, {encoded(path), std::to_string(size), refuses(existing)});
    auto process = RunningProcess::start(remote_command(connection, program), ChildInput::Pipe);
    if (!process) {
        drop_source();
        return std::unexpected("Failed to spawn ssh write process: " +
                               process.error().description());
    }
    process->cancel_with(cancel);

    // Small pieces are gathered into one batch, so that the pipe is written in large steps;
    // a piece of at least direct_size goes straight through, since copying it into the batch
    // costs more than the write it saves.
    constexpr size_t batch_size = 256 * 1024;
    constexpr size_t direct_size = 64 * 1024;
    std::string batch;
    std::optional<ProcessFailure> write_failure;
    // How the child ended, when it was collected after its input failed.
    std::optional<ExitStatus> ended;
    const auto input_failed = [&](ProcessFailure failure) {
        write_failure = failure;
        // The child is not fed any more: let it end now rather than after the source.
        if (auto status = process->finish())
            ended = *status;
    };
    const auto send = [&](std::string_view data) {
        if (write_failure)
            return;
        if (auto written = process->write_input(data); !written)
            input_failed(written.error());
    };
    // The kernel moves the bytes into the pipe while both sides go on; the source is left with
    // nothing to read unless one of them failed.
    for (uint64_t moved = 0; feed && moved < size && !write_failure;) {
        auto pipe = process->input_room();
        if (!pipe) {
            input_failed(pipe.error());
            break;
        }
        auto step = feed(*pipe, size - moved);
        if (!step) {
            if (step.error() != 0)
                input_failed(process->input_refused(step.error()));
            break;
        }
        moved += *step;
    }
    source([&](std::string_view piece) {
        if (write_failure)
            return true;  // the rest is read and dropped
        if (!batch.empty() &&
            (piece.size() >= direct_size || batch.size() + piece.size() > batch_size)) {
            send(batch);
            batch.clear();
        }
        if (piece.size() >= direct_size)
            send(piece);
        else
            batch.append(piece);
        return true;
    });
    if (!batch.empty())
        send(batch);

    if (write_failure) {
        const std::string description = write_failure->description();
        if (write_failure->stage == ProcessStage::WriteInput) {
            // The input usually breaks because the remote program has ended on an error
            // before reading it all (a directory, a missing folder): its own text says why.
            std::string message =
                ended && !ended->success() ? trimmed_error_text(process->error_output()) : "";
            if (!message.empty())
                return std::unexpected(std::move(message));
            return std::unexpected("Failed to write to ssh stdin: " + description);
        }
        return std::unexpected("Failed waiting for ssh write: " + description);
    }
    auto status = process->finish();
    if (!status)
        return std::unexpected("Failed waiting for ssh write: " + status.error().description());
    if (!status->success())
        return write_failure_message(*status, process->error_output(), path);
    return {};
}

std::expected<void, Error> remote_write_file(const SshConnection& connection, std::string_view path,
                                             std::string_view data, Existing existing,
                                             CancelToken* cancel) {
    return remote_write_stream(
        connection, path, data.size(), [data](const auto& receive) { return receive(data); },
        existing, cancel);
}

}  // namespace wrenfield
