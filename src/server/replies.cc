#include "server/replies.h"

#include <charconv>
#include <cmath>
#include <iterator>

#include "base/json_text.h"

namespace wrenfield {

nlohmann::ordered_json to_json(const ApiResponse& response) {
    nlohmann::ordered_json object = {{"success", response.success}};
    if (response.error)
        object["error"] = *response.error;
    if (response.message)
        object["message"] = *response.message;
    return object;
}

nlohmann::ordered_json to_json(const ConnectResult& result) {
    nlohmann::ordered_json json;
    // A failed probe is an error, never a result, so the reply's "success" and "error" are
    // fixed.
    json["success"] = true;
    json["host"] = result.host;
    json["user"] = result.user;
    json["home_dir"] = result.home_dir;
    json["remote_os"] = result.remote_os;
    json["has_python"] = result.has_python;
    json["error"] = nullptr;
    json["identity_file"] =
        result.identity_file ? nlohmann::ordered_json(*result.identity_file) : nullptr;
    return json;
}

nlohmann::ordered_json to_json(const FileItem& item) {
    nlohmann::ordered_json json;
    json["name"] = item.name;
    json["path"] = item.path;
    json["is_dir"] = item.is_dir;
    json["is_symlink"] = item.is_symlink;
    json["size"] = item.size;
    json["modified"] = item.modified;
    json["permissions"] = item.permissions;
    json["is_hidden"] = item.is_hidden;
    json["link_to_dir"] = item.link_to_dir;
    return json;
}

void append_json(std::string& out, const FileItem& item) {
    const auto number = [&out](auto value) {
        char digits[24];
        const auto written = std::to_chars(digits, digits + sizeof digits, value);
        out.append(digits, written.ptr);
    };
    const auto boolean = [&out](bool value) { out += value ? "true" : "false"; };
    out += "{\"name\":";
    append_json_string(out, item.name);
    out += ",\"path\":";
    append_json_string(out, item.path);
    out += ",\"is_dir\":";
    boolean(item.is_dir);
    out += ",\"is_symlink\":";
    boolean(item.is_symlink);
    out += ",\"size\":";
    number(item.size);
    out += ",\"modified\":";
    number(item.modified);
    out += ",\"permissions\":";
    append_json_string(out, item.permissions);
    out += ",\"is_hidden\":";
    boolean(item.is_hidden);
    out += ",\"link_to_dir\":";
    boolean(item.link_to_dir);
    out += '}';
}

nlohmann::ordered_json to_json(const FileContent& content) {
    nlohmann::ordered_json json;
    json["path"] = content.path;
    json["content"] = content.content;
    json["is_binary"] = content.is_binary;
    json["size"] = content.size;
    return json;
}

namespace {

// A size as the page shows sizes: "1.2 GB", the unit chosen first, then the value taken to the
// nearer tenth.
std::string format_size(uint64_t bytes) {
    static constexpr std::string_view units[] = {"B", "KB", "MB", "GB", "TB"};
    size_t unit = 0;
    double scale = 1;
    while (unit + 1 < std::size(units) && static_cast<double>(bytes) >= scale * 1024) {
        scale *= 1024;
        ++unit;
    }
    const auto tenths =
        static_cast<uint64_t>(std::llround(static_cast<double>(bytes) / scale * 10));
    std::string text = std::to_string(tenths / 10);
    if (tenths % 10 != 0)
        text += "." + std::to_string(tenths % 10);
    return text + " " + std::string(units[unit]);
}

}  // namespace

std::string read_error_message(const ReadError& error) {
    if (error.code != ReadError::Code::TooLarge)
        return error.message;
    const std::string limit = format_size(error.limit);
    return "File is too large to view (" +
           (error.size ? format_size(*error.size) + "; the limit is " + limit
                       : "more than " + limit) +
           "); use Download";
}

namespace {

// The library writes the numbers, booleans and null; the strings are written here, since the
// library can only refuse or replace bytes that are not UTF-8.
void append_json(std::string& out, const nlohmann::ordered_json& value) {
    switch (value.type()) {
        case nlohmann::ordered_json::value_t::object: {
            out += '{';
            const char* separator = "";
            for (auto item = value.begin(); item != value.end(); ++item) {
                out += separator;
                separator = ",";
                append_json_string(out, item.key());
                out += ':';
                append_json(out, item.value());
            }
            out += '}';
            return;
        }
        case nlohmann::ordered_json::value_t::array: {
            out += '[';
            const char* separator = "";
            for (const auto& item : value) {
                out += separator;
                separator = ",";
                append_json(out, item);
            }
            out += ']';
            return;
        }
        case nlohmann::ordered_json::value_t::string:
            append_json_string(out, value.get_ref<const std::string&>());
            return;
        default:
            out += value.dump();
    }
}

}  // namespace

std::string write_json(const nlohmann::ordered_json& value) {
    try {
        std::string out;
        append_json(out, value);
        return out;
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

void send_reply(HttpResponse& response, Reply reply, BodyPieces body_pieces) {
    response = HttpResponse{reply.status, std::move(reply.headers), std::move(reply.body),
                            std::move(body_pieces)};
}

}  // namespace wrenfield
