// The server's replies: the JSON reply envelope, the JSON forms of the remote records, the
// wording of the viewer's refusals, the JSON and asset responses with their two headers, the
// compact JSON writer with its "{}" fallback, and the sending of a built reply.
#pragma once

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "server/http_connection.h"
#include "ssh/remote.h"

namespace wrenfield {

// The plain reply envelope. Absent `error` and `message` are left out of the JSON.
struct ApiResponse {
    bool success = false;
    std::optional<std::string> error;
    std::optional<std::string> message;
};

// A response as built, before it is sent: headers in the order they are meant to go out.
struct Reply {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

inline constexpr std::string_view json_content_type = "application/json; charset=utf-8";

nlohmann::ordered_json to_json(const ApiResponse& response);
// The remote records as the API sends them, keys in declared order.
nlohmann::ordered_json to_json(const ConnectResult& result);
nlohmann::ordered_json to_json(const FileItem& item);
nlohmann::ordered_json to_json(const FileContent& content);
// Appends the JSON of one listing entry, exactly as write_json(to_json(item)) writes it, without
// building the tree: a listing of a million entries is written one entry at a time.
void append_json(std::string& out, const FileItem& item);

// The message for a failed read of the viewer: the run's own, or for a file over the bound
// "File is too large to view (1.2 GB; the limit is 64 MB); use Download" ("(more than 64 MB)"
// when the file's size is not known).
std::string read_error_message(const ReadError& error);

// Compact JSON: control characters escaped (lower-case \u00XX where no short form exists), "/"
// and non-ASCII characters written as they are, and each byte that is not UTF-8 (a remote file
// name may hold any) as \udcXX, which the JSON reader reads back as that byte
// (base/json_text.h). "{}" when the value cannot be written.
std::string write_json(const nlohmann::ordered_json& value);

// Any JSON data with the two JSON headers.
Reply json_response(const nlohmann::ordered_json& data, int status = 200);
Reply json_response(const ApiResponse& response, int status);
Reply json_response(const FileContent& content);

Reply error_reply(std::string_view message, int status);
// `success` true with a confirmation text, status 200.
Reply message_reply(std::string_view message);

// Status 200, the given content type, and a copy of the bytes.
Reply asset_response(std::string_view bytes, std::string_view content_type);

// Hands a built reply to the connection loop. A body made piece by piece goes out chunked (see
// HttpResponse).
void send_reply(HttpResponse& response, Reply reply, BodyPieces body_pieces = nullptr);

}  // namespace wrenfield
