#include "server/replies.h"

#include <httplib.h>

#include <cstdio>
#include <memory>

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

void send_reply(httplib::Response& response, Reply reply, std::unique_lock<std::mutex> lock,
                BodyPieces body_pieces) {
    response.status = reply.status;
    // The library keeps asking a provider of a known empty length for bytes and never ends;
    // an empty body that must hold the lock until sent goes out chunked, ending at once.
    if (lock.owns_lock() && !body_pieces && reply.body.empty()) {
        body_pieces = [] {
            return std::expected<std::string_view, std::string>(std::string_view{});
        };
    }
    const bool provided = lock.owns_lock() || body_pieces;
    std::string content_type;
    for (auto& [name, value] : reply.headers) {
        if (name == "Content-Type" && provided) {
            content_type = value;  // the content provider below sets it
            continue;
        }
        response.set_header(name, value);
    }
    if (!provided) {
        response.body = std::move(reply.body);
        return;
    }
    auto held = std::make_shared<std::unique_lock<std::mutex>>(std::move(lock));
    if (body_pieces) {
        auto pieces = std::make_shared<BodyPieces>(std::move(body_pieces));
        response.set_chunked_content_provider(
            content_type,
            [pieces](size_t, httplib::DataSink& sink) {
                auto piece = (*pieces)();
                if (!piece) {
                    std::fprintf(stderr, "Reply cut short: %s\n", piece.error().c_str());
                    return false;
                }
                if (piece->empty()) {
                    sink.done();
                    return true;
                }
                return sink.write(piece->data(), piece->size());
            },
            // Whatever makes the pieces (a running child) goes before the lock is let go.
            [held, pieces](bool) {
                *pieces = nullptr;
                if (held->owns_lock())
                    held->unlock();
            });
        return;
    }
    auto body = std::make_shared<const std::string>(std::move(reply.body));
    response.set_content_provider(
        body->size(), content_type,
        [body](size_t offset, size_t length, httplib::DataSink& sink) {
            return sink.write(body->data() + offset, length);
        },
        [held](bool) { held->unlock(); });
}

}  // namespace wrenfield
