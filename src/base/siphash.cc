#include "base/siphash.h"

namespace wrenfield {
namespace {

constexpr uint64_t rotate_left(uint64_t value, int bits) {
    return (value << bits) | (value >> (64 - bits));
}

struct SipState {
    uint64_t v0, v1, v2, v3;

    void round() {
        v0 += v1;
        v1 = rotate_left(v1, 13);
        v1 ^= v0;
        v0 = rotate_left(v0, 32);
        v2 += v3;
        v3 = rotate_left(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotate_left(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotate_left(v1, 17);
        v1 ^= v2;
        v2 = rotate_left(v2, 32);
    }

    void absorb(uint64_t word) {
        v3 ^= word;
        round();
        v0 ^= word;
    }
};

// Reads up to eight bytes as a little-endian word.
uint64_t load_little_endian(std::string_view bytes) {
    uint64_t word = 0;
    for (size_t i = 0; i < bytes.size(); ++i)
        word |= static_cast<uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return word;
}

}  // namespace

uint64_t siphash13(uint64_t key0, uint64_t key1, std::string_view message) {
    SipState state{key0 ^ 0x736f6d6570736575ULL, key1 ^ 0x646f72616e646f6dULL,
                   key0 ^ 0x6c7967656e657261ULL, key1 ^ 0x7465646279746573ULL};
    const size_t whole_words = message.size() / 8;
    for (size_t i = 0; i < whole_words; ++i)
        state.absorb(load_little_endian(message.substr(i * 8, 8)));
    // The last word holds the remaining bytes and the message length in its top byte.
    const uint64_t last = load_little_endian(message.substr(whole_words * 8)) |
                          (static_cast<uint64_t>(message.size() & 0xff) << 56);
    state.absorb(last);
    state.v2 ^= 0xff;
    for (int i = 0; i < 3; ++i)
        state.round();
    return state.v0 ^ state.v1 ^ state.v2 ^ state.v3;
}

}  // namespace wrenfield
