// The strict reader of the remote listing: one JSON array of FileItem objects, whole or a piece
// at a time. A fault is reported in the shared reader's format (base/json_reader.h), such as
// "invalid type: {found}, expected {what} at line L column C", which the user sees after
// "Failed to parse directory listing: ". Pinned by the ListingReader tests in
// tests/remote_format_test.cc.
#include "ssh/remote.h"

#include <iterator>

namespace wrenfield {
namespace {

using json_reader::FieldKind;

// The position of each field in kFileItemFields, which is where the reader hands its value.
enum FileItemField : size_t {
    kName,
    kPath,
    kIsDir,
    kIsSymlink,
    kSize,
    kModified,
    kPermissions,
    kIsHidden,
    kLinkToDir,
    kFileItemFieldCount
};

constexpr json_reader::FieldDescription kFileItemFields[] = {
    {"name", FieldKind::string},
    {"path", FieldKind::string},
    {"is_dir", FieldKind::boolean},
    {"is_symlink", FieldKind::boolean},
    {"size", FieldKind::u64},
    {"modified", FieldKind::i64},
    {"permissions", FieldKind::string},
    {"is_hidden", FieldKind::boolean},
    {"link_to_dir", FieldKind::defaulted_boolean}};

static_assert(std::size(kFileItemFields) == kFileItemFieldCount);

constexpr json_reader::RecordDescription kFileItem = {"struct FileItem", kFileItemFields};

FileItem file_item(std::vector<json_reader::FieldValue>& values) {
    return FileItem{
        .name = std::move(std::get<std::string>(values[kName])),
        .path = std::move(std::get<std::string>(values[kPath])),
        .is_dir = std::get<bool>(values[kIsDir]),
        .is_symlink = std::get<bool>(values[kIsSymlink]),
        .size = std::get<uint64_t>(values[kSize]),
        .modified = std::get<int64_t>(values[kModified]),
        .permissions = std::move(std::get<std::string>(values[kPermissions])),
        .is_hidden = std::get<bool>(values[kIsHidden]),
        .link_to_dir =
            std::holds_alternative<bool>(values[kLinkToDir]) && std::get<bool>(values[kLinkToDir]),
    };
}

json_reader::RecordArrayReader::Take taking_items(const FileItemReader::Take& take) {
    return [&take](std::vector<json_reader::FieldValue>& values) { take(file_item(values)); };
}

}  // namespace

std::expected<std::vector<FileItem>, Error> parse_file_items(std::string_view json_text) {
    std::vector<FileItem> items;
    auto read = json_reader::read_record_array(
        json_text, kFileItem,
        [&](std::vector<json_reader::FieldValue>& values) { items.push_back(file_item(values)); });
    if (!read)
        return std::unexpected(read.error());
    return items;
}

FileItemReader::FileItemReader() : reader_(kFileItem) {}

std::expected<void, Error> FileItemReader::feed(std::string_view piece, const Take& take) {
    return reader_.feed(piece, taking_items(take));
}

std::expected<void, Error> FileItemReader::finish(const Take& take) {
    return reader_.finish(taking_items(take));
}

}  // namespace wrenfield
