#pragma once

#include <cstdint>
#include <string>

namespace stand_in {

// Appends integers in the byte orders TDS mixes (little-endian tokens, big-endian headers).
class ByteWriter {
public:
    void u8(std::uint8_t v) { bytes_ += static_cast<char>(v); }
    void u16le(std::uint16_t v) {
        u8(v & 0xFF);
        u8(v >> 8);
    }
    void u16be(std::uint16_t v) {
        u8(v >> 8);
        u8(v & 0xFF);
    }
    void u32le(std::uint32_t v) {
        u16le(v & 0xFFFF);
        u16le(v >> 16);
    }
    void u32be(std::uint32_t v) {
        u16be(v >> 16);
        u16be(v & 0xFFFF);
    }
    void u64le(std::uint64_t v) {
        u32le(v & 0xFFFFFFFF);
        u32le(v >> 32);
    }
    void raw(const std::string& data) { bytes_ += data; }

    const std::string& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }

private:
    std::string bytes_;
};

inline std::uint16_t readU16le(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) |
                                      (static_cast<unsigned char>(b[at + 1]) << 8));
}

inline std::uint16_t readU16be(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>((static_cast<unsigned char>(b[at]) << 8) |
                                      static_cast<unsigned char>(b[at + 1]));
}

inline std::uint32_t readU32le(const std::string& b, std::size_t at) {
    return readU16le(b, at) | (static_cast<std::uint32_t>(readU16le(b, at + 2)) << 16);
}

} // namespace stand_in
