#pragma once
// ByteReader: a bounds-checked cursor over a span of bytes, for every format
// reader that takes untrusted input. Reads are little-endian; a read past the
// end throws FormatError with the offset where it was attempted.

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace common {

// A malformed input: the text says what was wrong, offset() where.
class FormatError : public std::runtime_error {
public:
    FormatError(const std::string& what, std::size_t offset)
        : std::runtime_error(what), m_offset(offset) {}
    std::size_t offset() const { return m_offset; }

private:
    std::size_t m_offset;
};

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> data) : m_data(data) {}

    std::size_t position() const { return m_pos; }
    std::size_t size() const { return m_data.size(); }
    std::size_t remaining() const { return m_data.size() - m_pos; }

    void seek(std::size_t pos) {
        if (pos > m_data.size()) {
            throw FormatError("seek to " + std::to_string(pos) + " beyond end (" +
                                  std::to_string(m_data.size()) + " bytes)",
                              pos);
        }
        m_pos = pos;
    }
    void skip(std::size_t n) {
        require(n);
        m_pos += n;
    }

    std::uint8_t readU8() {
        require(1);
        return m_data[m_pos++];
    }
    std::uint16_t readU16() {
        require(2);
        auto v = static_cast<std::uint16_t>(m_data[m_pos] | (m_data[m_pos + 1] << 8));
        m_pos += 2;
        return v;
    }
    std::uint32_t readU32() {
        require(4);
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) {
            v = (v << 8) | m_data[m_pos + static_cast<std::size_t>(i)];
        }
        m_pos += 4;
        return v;
    }
    std::uint64_t readU64() {
        const std::uint64_t lo = readU32();
        const std::uint64_t hi = readU32();
        return lo | (hi << 32);
    }
    std::span<const std::uint8_t> readBytes(std::size_t n) {
        require(n);
        auto out = m_data.subspan(m_pos, n);
        m_pos += n;
        return out;
    }

private:
    void require(std::size_t n) const {
        if (n > remaining()) {
            throw FormatError("read of " + std::to_string(n) + " bytes at offset " +
                                  std::to_string(m_pos) + " runs past the end (" +
                                  std::to_string(m_data.size()) + " bytes)",
                              m_pos);
        }
    }

    std::span<const std::uint8_t> m_data;
    std::size_t m_pos = 0;
};

}  // namespace common
