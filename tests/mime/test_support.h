#pragma once
// Helpers of the mail reader's tests: bytes from text, the test messages,
// base64 for building messages.

#include <mime/mime.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace mime_test {

inline std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline std::string textOf(const std::vector<std::uint8_t>& bytes) {
    return {bytes.begin(), bytes.end()};
}

inline std::vector<std::uint8_t> dataFile(const std::string& name) {
    std::ifstream in(std::string(MIME_TEST_DATA) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline mime::Message message(std::string_view text, const mime::Limits& limits = {}) {
    return mime::parseMessage(bytesOf(text), limits);
}

inline std::string base64(std::string_view data, std::size_t lineLength = 76) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(data.size() * 4 / 3 + data.size() / lineLength + 8);
    std::size_t column = 0;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const auto b0 = static_cast<unsigned char>(data[i]);
        const auto b1 = i + 1 < data.size() ? static_cast<unsigned char>(data[i + 1]) : 0u;
        const auto b2 = i + 2 < data.size() ? static_cast<unsigned char>(data[i + 2]) : 0u;
        out += kDigits[b0 >> 2];
        out += kDigits[((b0 & 3u) << 4) | (b1 >> 4)];
        out += i + 1 < data.size() ? kDigits[((b1 & 15u) << 2) | (b2 >> 6)] : '=';
        out += i + 2 < data.size() ? kDigits[b2 & 63u] : '=';
        column += 4;
        if (column >= lineLength) {
            out += "\r\n";
            column = 0;
        }
    }
    if (column > 0) {
        out += "\r\n";
    }
    return out;
}

inline bool hasWarning(const mime::Message& m, std::string_view part) {
    for (const auto& w : m.warnings) {
        if (w.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace mime_test
