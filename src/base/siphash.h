// SipHash-1-3, the keyed hash that names the control socket of a connection.
#pragma once

#include <cstdint>
#include <string_view>

namespace wrenfield {

// SipHash with one compression round per 8-byte word and three finalization rounds.
uint64_t siphash13(uint64_t key0, uint64_t key1, std::string_view message);

}  // namespace wrenfield
