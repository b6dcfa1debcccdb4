// The query map, and the readers of the API request records: each record is described by its
// fields and read by the shared strict reader, which accepts an object or an array of field
// values and reports a fault in its fixed format (base/json_reader.h).
#include "server/records.h"

#include <variant>
#include <vector>

#include "base/json_reader.h"
#include "base/text.h"

namespace wrenfield {

namespace {

// "+" as a space, then percent-escapes decoded; a "%" without two hex digits stays as it is.
// The bytes are kept as they come, UTF-8 or not: a path names a remote file byte for byte.
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
    return bytes;
}

}  // namespace

QueryMap parse_query(std::optional<std::string_view> query) {
    QueryMap map;
    if (!query)
        return map;
    std::string_view rest = *query;
    while (!rest.empty()) {
        size_t end = rest.find('&');
        std::string_view piece = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (piece.empty())
            continue;
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
    if (found == query.end())
        return std::nullopt;
    return found->second;
}

namespace {

using json_reader::FieldDescription;
using json_reader::FieldKind;
using json_reader::FieldValue;
using json_reader::RecordForms;

std::expected<std::vector<FieldValue>, std::string> read_fields(
    std::string_view body, std::string_view name, std::span<const FieldDescription> fields) {
    return json_reader::read_record(body, {name, fields, RecordForms::object_or_array});
}

std::string take_text(FieldValue& value) {
    return std::holds_alternative<std::string>(value) ? std::move(std::get<std::string>(value))
                                                      : std::string();
}

// A boolean that may be left out: false when it was.
bool take_flag(const FieldValue& value) {
    return std::holds_alternative<bool>(value) && std::get<bool>(value);
}

std::optional<std::string> take_optional_text(FieldValue& value) {
    if (std::holds_alternative<std::string>(value))
        return std::move(std::get<std::string>(value));
    return std::nullopt;
}

// Each record's fields in the order the reader hands their values over, and the positions of
// those values by name.
constexpr FieldDescription connect_fields[] = {{"host", FieldKind::string},
                                               {"port", FieldKind::optional_u16},
                                               {"user", FieldKind::optional_string},
                                               {"identity_file", FieldKind::optional_string},
                                               {"key_path", FieldKind::optional_string}};
enum ConnectField : size_t {
    connect_host,
    connect_port,
    connect_user,
    connect_identity_file,
    connect_key_path
};

constexpr FieldDescription mkdir_fields[] = {{"path", FieldKind::string},
                                             {"no_replace", FieldKind::defaulted_boolean}};
enum MkdirField : size_t { mkdir_path, mkdir_no_replace };

constexpr FieldDescription rename_fields[] = {{"from", FieldKind::string},
                                              {"to", FieldKind::string},
                                              {"no_replace", FieldKind::defaulted_boolean}};
enum RenameField : size_t { rename_from, rename_to, rename_no_replace };

constexpr FieldDescription delete_fields[] = {{"path", FieldKind::string},
                                              {"is_dir", FieldKind::boolean}};
enum DeleteField : size_t { delete_path, delete_is_dir };

constexpr FieldDescription write_fields[] = {{"path", FieldKind::string},
                                             {"content", FieldKind::string},
                                             {"no_replace", FieldKind::defaulted_boolean}};
enum WriteField : size_t { write_path, write_content, write_no_replace };

}  // namespace

std::expected<ConnectPayload, std::string> read_connect_payload(std::string_view body) {
    auto fields = read_fields(body, "struct ConnectPayload", connect_fields);
    if (!fields)
        return std::unexpected(fields.error());
    ConnectPayload payload;
    payload.host = take_text((*fields)[connect_host]);
    if (std::holds_alternative<uint64_t>((*fields)[connect_port]))
        payload.port = static_cast<uint16_t>(std::get<uint64_t>((*fields)[connect_port]));
    payload.user = take_optional_text((*fields)[connect_user]);
    payload.identity_file = take_optional_text((*fields)[connect_identity_file]);
    payload.key_path = take_optional_text((*fields)[connect_key_path]);
    return payload;
}

std::expected<MkdirPayload, std::string> read_mkdir_payload(std::string_view body) {
    auto fields = read_fields(body, "struct MkdirPayload", mkdir_fields);
    if (!fields)
        return std::unexpected(fields.error());
    return MkdirPayload{take_text((*fields)[mkdir_path]), take_flag((*fields)[mkdir_no_replace])};
}

std::expected<RenamePayload, std::string> read_rename_payload(std::string_view body) {
    auto fields = read_fields(body, "struct RenamePayload", rename_fields);
    if (!fields)
        return std::unexpected(fields.error());
    return RenamePayload{take_text((*fields)[rename_from]), take_text((*fields)[rename_to]),
                         take_flag((*fields)[rename_no_replace])};
}

std::expected<DeletePayload, std::string> read_delete_payload(std::string_view body) {
    auto fields = read_fields(body, "struct DeletePayload", delete_fields);
    if (!fields)
        return std::unexpected(fields.error());
    return DeletePayload{take_text((*fields)[delete_path]),
                         std::get<bool>((*fields)[delete_is_dir])};
}

std::expected<WritePayload, std::string> read_write_payload(std::string_view body) {
    auto fields = read_fields(body, "struct WritePayload", write_fields);
    if (!fields)
        return std::unexpected(fields.error());
    return WritePayload{take_text((*fields)[write_path]), take_text((*fields)[write_content]),
                        take_flag((*fields)[write_no_replace])};
}

}  // namespace wrenfield
