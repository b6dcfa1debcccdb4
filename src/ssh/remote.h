// The remote operations: connect probe, listing, reading, downloading and the changes, each one
// ssh run of a short python3 program through the connection's master.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/json_reader.h"
#include "ssh/connection.h"
#include "ssh/process.h"

namespace wrenfield {

struct ConnectResult {
    std::string host;
    std::string user;
    std::string home_dir;
    std::string remote_os;
    bool has_python = false;
    std::optional<std::string> identity_file;
};

struct FileItem {
    std::string name;
    std::string path;
    bool is_dir = false;
    bool is_symlink = false;
    uint64_t size = 0;
    int64_t modified = 0;
    std::string permissions;
    bool is_hidden = false;
    // A symbolic link whose target is a directory (is_dir stays false for it).
    bool link_to_dir = false;
};

struct FileContent {
    std::string path;
    std::string content;
    bool is_binary = false;
    uint64_t size = 0;
};

// Errors are the system's own messages.
using Error = std::string;

// Why the viewer's read gave no content: the run failed, with its message, or the file is over
// the bound the read was given, with that bound and the file's size when it said it.
struct ReadError {
    enum class Code { Failed, TooLarge };
    Code code = Code::Failed;
    // Failed: the system's message.
    std::string message;
    // TooLarge: the bound, and the size the file gave before the read (none when more bytes
    // came than the bound, whatever size it gave).
    uint64_t limit = 0;
    std::optional<uint64_t> size;
};

std::expected<ConnectResult, Error> connect_probe(SshConnection& connection);
// Each run below that takes a `cancel` token stops once the token says so, with an error.
std::expected<std::vector<FileItem>, Error> list_remote_dir(const SshConnection& connection,
                                                            std::string_view path,
                                                            CancelToken* cancel = nullptr);

// The strict reader of the remote listing, one JSON array of FileItem objects, read as its text
// comes, a piece at a time: each entry is checked and handed on as soon as its text is complete.
class FileItemReader {
  public:
    using Take = std::function<void(FileItem&& item)>;

    FileItemReader();

    // The next piece of the listing's text; the entries it completes go to `take`. The error is
    // the reader's message with its position in the whole text, as parse_file_items gives it.
    std::expected<void, Error> feed(std::string_view piece, const Take& take);
    // The text has ended.
    std::expected<void, Error> finish(const Take& take);

  private:
    json_reader::RecordArrayReader reader_;
};

// A listing run in progress, its entries handed on as they are checked, so that a listing of any
// size passes through a few buffers: the runner's, the piece being read and one batch of
// entries.
class RemoteListing {
  public:
    // Starts the run and waits until its first entry has been checked, or the run has ended: a
    // run that fails before any entry gives its message here, with the texts of
    // list_remote_dir. With a `cancel` token, waiting for the remote side (here and in
    // next_entries) stops with an error as soon as it says so, and the run is ended.
    static std::expected<RemoteListing, Error> start(const SshConnection& connection,
                                                     std::string_view path,
                                                     CancelToken* cancel = nullptr);

    // The entries checked since the last call, in the listing's order, valid until the next
    // call; empty once the whole listing has come and the run succeeded. An error means the
    // listing failed part way: the entries before it are not the whole listing.
    std::expected<std::span<FileItem>, Error> next_entries();

  private:
    friend std::expected<std::vector<FileItem>, Error> list_remote_dir(const SshConnection&,
                                                                       std::string_view,
                                                                       CancelToken*);
    // Whether the whole output is kept for the message of a listing that cannot be read:
    // always when the listing is collected whole, else only until the first entry is out.
    enum class Output { Kept, KeptUntilFirstEntry };

    RemoteListing(RunningProcess process, std::string path)
        : process_(std::move(process)), path_(std::move(path)) {}
    static std::expected<RemoteListing, Error> begin(const SshConnection& connection,
                                                     std::string_view path, Output output,
                                                     CancelToken* cancel);
    // Reads the next piece of output, or its end and the run's outcome, and checks the entries
    // it completes.
    std::expected<void, Error> read_step();
    void take_text(std::string_view bytes, bool last);

    RunningProcess process_;
    // The listed directory, for the failure texts.
    std::string path_;
    // Whether the output is still kept, and what came of it so far, decoded.
    bool keep_text_ = true;
    std::string kept_text_;
    // The end of the last piece when it stops inside a UTF-8 sequence.
    std::string held_bytes_;
    FileItemReader reader_;
    std::optional<Error> parse_error_;
    std::vector<FileItem> entries_;
    // The entries that start() checked are handed out by the first next_entries().
    bool entries_waiting_ = false;
    bool finished_ = false;
    // Once the listing has failed, every later call gives the same failure.
    std::optional<Error> failure_;
};

// The largest file that read_remote_file takes whole into memory, for the viewer.
inline constexpr uint64_t read_size_limit = 64ull << 20;

// Reads a whole file for the viewer. A file over `size_limit` is refused (Code::TooLarge), from
// its size before the read, or as soon as more bytes arrive when its size said less. Named
// pipes, devices and sockets are refused ("Not a regular file: PATH"). With a `cancel` token,
// the run is stopped as soon as it says so (the error is then of no use to anyone).
std::expected<FileContent, ReadError> read_remote_file(const SshConnection& connection,
                                                       std::string_view path,
                                                       CancelToken* cancel = nullptr,
                                                       uint64_t size_limit = read_size_limit);
std::expected<std::string, Error> remote_download(const SshConnection& connection,
                                                  std::string_view path);
// The READ run of one file in progress, its bytes handed on as they arrive, so that a file of
// any size passes through one buffer: a download streams them on, the viewer's read collects
// them up to its bound.
class RemoteFileStream {
  public:
    // Starts the run and waits for its first bytes (or its end), so that a run that fails
    // before sending anything gives its message here, with the texts of remote_download. With
    // a `cancel` token, waiting for the remote side (here and in next_piece) stops with an
    // error as soon as it says so, and the run is ended.
    static std::expected<RemoteFileStream, Error> start(const SshConnection& connection,
                                                        std::string_view path,
                                                        CancelToken* cancel = nullptr);

    // The next bytes of the file, valid until the next call; empty once the whole file has
    // come and the run succeeded. An error means the run failed part way: what came before it
    // is not the whole file.
    std::expected<std::string_view, Error> next_piece();
    // The rest of the file, collected whole.
    std::expected<std::string, Error> read_all();

  private:
    friend std::expected<FileContent, ReadError> read_remote_file(const SshConnection&,
                                                                  std::string_view, CancelToken*,
                                                                  uint64_t);
    // What the bytes are for: the viewer's bounded read, or a download of any size. The
    // failure texts follow it.
    enum class Purpose { View, Download };

    RemoteFileStream(RunningProcess process, std::string path, Purpose purpose, uint64_t size_limit)
        : process_(std::move(process)),
          path_(std::move(path)),
          purpose_(purpose),
          size_limit_(size_limit) {}
    static std::expected<RemoteFileStream, ReadError> begin(const SshConnection& connection,
                                                            std::string_view path, Purpose purpose,
                                                            uint64_t size_limit,
                                                            CancelToken* cancel);
    std::expected<std::string_view, ReadError> read_piece();
    std::expected<std::string, ReadError> collect();

    RunningProcess process_;
    std::string path_;
    Purpose purpose_;
    // The viewer's bound; a download has none.
    uint64_t size_limit_;
    uint64_t received_ = 0;
    // The first piece, read by start() and handed out by the first next_piece().
    std::optional<std::string_view> first_piece_;
    bool finished_ = false;
    // Once the run has failed, every later call gives the same failure.
    std::optional<ReadError> failure_;
};

// What a write, a rename or a mkdir does when something already exists under the name it makes:
// replace it (a write keeps the file's identity; a mkdir takes an existing directory as made),
// or refuse with the system's "[Errno 17] File exists" text. The refusal is made by the remote
// file system itself (an exclusive create, a rename that does not replace, a plain mkdir), so
// nothing that appears meanwhile is replaced either.
enum class Existing { Replace, Refuse };

// Where the bytes of a streamed write come from: hands them to `receive` in order, piece by
// piece, and returns false when they ended before all of them had come.
using DataSource = std::function<bool(const std::function<bool(std::string_view)>& receive)>;

// Moves the next bytes of a source into a pipe by the kernel (splice), without passing them
// through our memory: up to `most` bytes into `pipe` (non-blocking, with room for some when
// called). Returns how many it moved, which may be 0 when the pipe took none this time; or, when
// it moved none, why: 0 when the source failed (it ended early), else the error number the pipe
// gave.
using PipeFeed = std::function<std::expected<uint64_t, int>(int pipe, uint64_t most)>;

// Writes exactly `size` bytes taken from `source` as the new content of the remote file, with
// the texts of remote_write_file. With `feed` the bytes are moved into the ssh child's input by
// it instead, and `source` is read only for what is left after a failure: the two are one
// stream, each going on from where the other stopped. The source is always read to its end,
// also when the write has failed before. When it ends early the remote program finds fewer
// bytes than announced and leaves the old file as it was.
std::expected<void, Error> remote_write_stream(const SshConnection& connection,
                                               std::string_view path, uint64_t size,
                                               const DataSource& source,
                                               Existing existing = Existing::Replace,
                                               CancelToken* cancel = nullptr,
                                               const PipeFeed& feed = nullptr);

std::expected<void, Error> remote_mkdir(const SshConnection& connection, std::string_view path,
                                        Existing existing = Existing::Replace,
                                        CancelToken* cancel = nullptr);
std::expected<void, Error> remote_write_file(const SshConnection& connection, std::string_view path,
                                             std::string_view data,
                                             Existing existing = Existing::Replace,
                                             CancelToken* cancel = nullptr);
// What remote_delete removes: one file (or link), or a directory with all it holds.
enum class RemoteEntry { File, Directory };
std::expected<void, Error> remote_delete(const SshConnection& connection, std::string_view path,
                                         RemoteEntry entry, CancelToken* cancel = nullptr);
std::expected<void, Error> remote_rename(const SshConnection& connection, std::string_view from,
                                         std::string_view to, Existing existing = Existing::Replace,
                                         CancelToken* cancel = nullptr);

// Reads the remote listing's JSON array; the error is the reader's message with its position.
std::expected<std::vector<FileItem>, Error> parse_file_items(std::string_view json_text);

}  // namespace wrenfield
