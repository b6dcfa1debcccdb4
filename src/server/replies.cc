#include "server/replies.h"

#include "base/text.h"

namespace wrenfield {

nlohmann::ordered_json to_json(const ApiResponse& response) {
    nlohmann::ordered_json object = {{"success", response.success}};
    if (response.error) {
        object["error"] = *response.error;
    }
    if (response.message) {
        object["message"] = *response.message;
    }
    return object;
}

std::string write_json(const nlohmann::ordered_json& value) {
    try {
        return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    } catch (const std::exception&) {
        return "{}";
    }
}

Reply json_response(const nlohmann::ordered_json& data, int status) {
    return Reply{
        status,
        {{"Content-Type", std::string(json_content_type)}, {"Access-Control-Allow-Origin", "*"}},
        write_json(data)};
}

Reply json_response(const ApiResponse& response, int status) {
    return json_response(to_json(response), status);
}

Reply json_response(const FileContent& content) {
    return json_response(to_json(content), 200);
}

Reply error_reply(std::string_view message, int status) {
    return json_response(ApiResponse{false, std::string(message), std::nullopt}, status);
}

Reply message_reply(std::string_view message) {
    return json_response(ApiResponse{true, std::nullopt, std::string(message)}, 200);
}

Reply asset_response(std::string_view bytes, std::string_view content_type) {
    return Reply{
        200,
        {{"Content-Type", std::string(content_type)}, {"Access-Control-Allow-Origin", "*"}},
        std::string(bytes)};
}

namespace {

// "+" as a space, then percent-escapes decoded; a "%" without two hex digits stays as it is.
std::string form_decode(std::string_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '+') {
            bytes += ' ';
            continue;
        }
        if (c == '%' && i + 2 < text.size() && hex_digit_value(text[i + 1]) >= 0 &&
            hex_digit_value(text[i + 2]) >= 0) {
            bytes +=
                static_cast<char>(hex_digit_value(text[i + 1]) * 16 + hex_digit_value(text[i + 2]));
            i += 2;
            continue;
        }
        bytes += c;
    }
    return decode_utf8_lossy(bytes);
}

}  // namespace

QueryMap parse_query(std::optional<std::string_view> query) {
    QueryMap map;
    if (!query) {
        return map;
    }
    std::string_view rest = *query;
    while (!rest.empty()) {
        size_t end = rest.find('&');
        std::string_view piece = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (piece.empty()) {
            continue;
        }
        size_t equals = piece.find('=');
        std::string name = form_decode(piece.substr(0, equals));
        std::string value = equals == std::string_view::npos
                                ? std::string()
                                : form_decode(piece.substr(equals + 1));
        map.insert_or_assign(std::move(name), std::move(value));
    }
    return map;
}

std::optional<std::string> query_path_param(const QueryMap& query) {
    auto found = query.find("path");
    if (found == query.end()) {
        return std::nullopt;
    }
    return found->second;
}

}  // namespace wrenfield
