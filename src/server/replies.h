// The server's replies: the JSON reply envelope, the JSON and asset responses with their two
// headers, the compact JSON writer with its "{}" fallback, and the request's query map.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

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

// Compact JSON: control characters escaped (lower-case \u00XX where no short form exists), "/"
// and non-ASCII characters written as they are, invalid UTF-8 replaced by U+FFFD. "{}" when
// the value cannot be written.
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

// The query's name/value pairs, read as application/x-www-form-urlencoded; the last of
// repeated names wins.
using QueryMap = std::unordered_map<std::string, std::string>;
QueryMap parse_query(std::optional<std::string_view> query);

// The value of "path" (exact, case-sensitive name), or nothing.
std::optional<std::string> query_path_param(const QueryMap& query);

}  // namespace wrenfield
