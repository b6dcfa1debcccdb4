// What the JSON API reads from a request: the query map, and the request records with their
// readers, which accept a body as an object or as an array of field values and reject it with
// the JSON reader's message and position.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace wrenfield {

// The query's name/value pairs, read as application/x-www-form-urlencoded, the decoded bytes
// kept whether UTF-8 or not; the last of repeated names wins.
using QueryMap = std::unordered_map<std::string, std::string>;
QueryMap parse_query(std::optional<std::string_view> query);

// The value of "path" (exact, case-sensitive name), or nothing.
std::optional<std::string> query_path_param(const QueryMap& query);

struct ConnectPayload {
    std::string host;
    std::optional<uint16_t> port;
    std::optional<std::string> user;
    std::optional<std::string> identity_file;
    std::optional<std::string> key_path;
};

struct MkdirPayload {
    std::string path;
    // Refuse when a directory exists at `path` rather than take it as made; may be left out
    // (false).
    bool no_replace = false;
};

struct RenamePayload {
    std::string from;
    std::string to;
    // Refuse when something exists at `to` rather than replace it; may be left out (false).
    bool no_replace = false;
};

struct DeletePayload {
    std::string path;
    bool is_dir = false;
};

struct WritePayload {
    std::string path;
    std::string content;
    // Refuse when something exists at `path` rather than replace it; may be left out (false).
    bool no_replace = false;
};

// Each reader takes the whole body (valid UTF-8) and gives the record, or a message such as
// "missing field `host` at line 1 column 2". The router puts "Invalid JSON: " in front.
std::expected<ConnectPayload, std::string> read_connect_payload(std::string_view body);
std::expected<MkdirPayload, std::string> read_mkdir_payload(std::string_view body);
std::expected<RenamePayload, std::string> read_rename_payload(std::string_view body);
std::expected<DeletePayload, std::string> read_delete_payload(std::string_view body);
std::expected<WritePayload, std::string> read_write_payload(std::string_view body);

}  // namespace wrenfield
