// The remote operations: connect probe, listing, reading, downloading and the changes, each one
// ssh run of a short python3 program through the connection's master.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "ssh/connection.h"

namespace wrenfield {

struct ConnectResult {
    bool success = true;
    std::string host;
    std::string user;
    std::string home_dir;
    std::string remote_os;
    bool has_python = false;
    std::optional<std::string> error;
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
};

struct FileContent {
    std::string path;
    std::string content;
    bool is_binary = false;
    uint64_t size = 0;
};

// Errors are the messages shown to the user.
using Error = std::string;

std::expected<ConnectResult, Error> connect_probe(SshConnection& connection);
std::expected<std::vector<FileItem>, Error> list_remote_dir(const SshConnection& connection,
                                                            std::string_view path);
std::expected<FileContent, Error> read_remote_file(const SshConnection& connection,
                                                   std::string_view path);
std::expected<std::string, Error> remote_download(const SshConnection& connection,
                                                  std::string_view path);
std::expected<void, Error> remote_mkdir(const SshConnection& connection, std::string_view path);
std::expected<void, Error> remote_write_file(const SshConnection& connection, std::string_view path,
                                             std::string_view data);
std::expected<void, Error> remote_delete(const SshConnection& connection, std::string_view path,
                                         bool is_dir);
std::expected<void, Error> remote_rename(const SshConnection& connection, std::string_view from,
                                         std::string_view to);

std::string base64_encode(std::string_view bytes);

// JSON forms, keys in declared order.
nlohmann::ordered_json to_json(const ConnectResult& result);
nlohmann::ordered_json to_json(const FileItem& item);
nlohmann::ordered_json to_json(const FileContent& content);

// Reads the remote listing's JSON array; the error is the reader's message with its position.
std::expected<std::vector<FileItem>, Error> parse_file_items(std::string_view json_text);

}  // namespace wrenfield
