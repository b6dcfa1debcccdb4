// The strict reader of the remote listing: one JSON array of FileItem objects, with the
// messages and positions of the JSON library the listing format was defined with, such as
// "invalid type: {found}, expected {what} at line L column C".
#include "base/json_reader.h"
#include "ssh/remote.h"

namespace wrenfield {
namespace {

using json_reader::FieldKind;

constexpr json_reader::FieldDescription kFileItemFields[] = {
    {"name", FieldKind::string},        {"path", FieldKind::string},
    {"is_dir", FieldKind::boolean},     {"is_symlink", FieldKind::boolean},
    {"size", FieldKind::u64},           {"modified", FieldKind::i64},
    {"permissions", FieldKind::string}, {"is_hidden", FieldKind::boolean}};

constexpr json_reader::RecordDescription kFileItem = {"struct FileItem", kFileItemFields};

}  // namespace

std::expected<std::vector<FileItem>, Error> parse_file_items(std::string_view json_text) {
    std::vector<FileItem> items;
    auto read = json_reader::read_record_array(
        json_text, kFileItem, [&](std::vector<json_reader::FieldValue>& values) {
            items.push_back(FileItem{
                .name = std::move(std::get<std::string>(values[0])),
                .path = std::move(std::get<std::string>(values[1])),
                .is_dir = std::get<bool>(values[2]),
                .is_symlink = std::get<bool>(values[3]),
                .size = std::get<uint64_t>(values[4]),
                .modified = std::get<int64_t>(values[5]),
                .permissions = std::move(std::get<std::string>(values[6])),
                .is_hidden = std::get<bool>(values[7]),
            });
        });
    if (!read)
        return std::unexpected(read.error());
    return items;
}

}  // namespace wrenfield
