// Checks the viewer's read refused a file by its size, with the bound it was given and the
// size the file gave (none when only the bytes that came showed it).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <expected>
#include <optional>

#include "ssh/remote.h"

namespace wrenfield::testing {

inline void expect_too_large(const std::expected<FileContent, ReadError>& read, uint64_t limit,
                             std::optional<uint64_t> size) {
    ASSERT_FALSE(read.has_value());
    EXPECT_EQ(read.error().code, ReadError::Code::TooLarge) << read.error().message;
    EXPECT_EQ(read.error().limit, limit);
    EXPECT_EQ(read.error().size, size);
}

}  // namespace wrenfield::testing
