// The readers of the API request records: each record is described by its fields and read by
// the shared strict reader, which accepts an object or an array of field values and gives the
// JSON library's messages and positions.
#include "server/records.h"

#include <variant>
#include <vector>

#include "base/json_reader.h"

namespace wrenfield {

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

std::optional<std::string> take_optional_text(FieldValue& value) {
    if (std::holds_alternative<std::string>(value)) {
        return std::move(std::get<std::string>(value));
    }
    return std::nullopt;
}

constexpr FieldDescription connect_fields[] = {{"host", FieldKind::string},
                                               {"port", FieldKind::optional_u16},
                                               {"user", FieldKind::optional_string},
                                               {"identity_file", FieldKind::optional_string},
                                               {"key_path", FieldKind::optional_string}};
constexpr FieldDescription mkdir_fields[] = {{"path", FieldKind::string}};
constexpr FieldDescription rename_fields[] = {{"from", FieldKind::string},
                                              {"to", FieldKind::string}};
constexpr FieldDescription delete_fields[] = {{"path", FieldKind::string},
                                              {"is_dir", FieldKind::boolean}};
constexpr FieldDescription write_fields[] = {{"path", FieldKind::string},
                                             {"content", FieldKind::string}};

}  // namespace

std::expected<ConnectPayload, std::string> read_connect_payload(std::string_view body) {
    auto fields = read_fields(body, "struct ConnectPayload", connect_fields);
    if (!fields) {
        return std::unexpected(fields.error());
    }
    ConnectPayload payload;
    payload.host = take_text((*fields)[0]);
    if (std::holds_alternative<uint64_t>((*fields)[1])) {
        payload.port = static_cast<uint16_t>(std::get<uint64_t>((*fields)[1]));
    }
    payload.user = take_optional_text((*fields)[2]);
    payload.identity_file = take_optional_text((*fields)[3]);
    payload.key_path = take_optional_text((*fields)[4]);
    return payload;
}

std::expected<MkdirPayload, std::string> read_mkdir_payload(std::string_view body) {
    auto fields = read_fields(body, "struct MkdirPayload", mkdir_fields);
    if (!fields) {
        return std::unexpected(fields.error());
    }
    return MkdirPayload{take_text((*fields)[0])};
}

std::expected<RenamePayload, std::string> read_rename_payload(std::string_view body) {
    auto fields = read_fields(body, "struct RenamePayload", rename_fields);
    if (!fields) {
        return std::unexpected(fields.error());
    }
    return RenamePayload{take_text((*fields)[0]), take_text((*fields)[1])};
}

std::expected<DeletePayload, std::string> read_delete_payload(std::string_view body) {
    auto fields = read_fields(body, "struct DeletePayload", delete_fields);
    if (!fields) {
        return std::unexpected(fields.error());
    }
    return DeletePayload{take_text((*fields)[0]), std::get<bool>((*fields)[1])};
}

std::expected<WritePayload, std::string> read_write_payload(std::string_view body) {
    auto fields = read_fields(body, "struct WritePayload", write_fields);
    if (!fields) {
        return std::unexpected(fields.error());
    }
    return WritePayload{take_text((*fields)[0]), take_text((*fields)[1])};
}

}  // namespace wrenfield
