// Compressed RTF: the published examples, the header checks in their order,
// the decoder's refusals, and round trips through the fixture's compressor.

#include <msg/clzf.h>
#include <msg_builder/msg_builder.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace {

using msg_builder::Bytes;
using tool::CLZF;

Bytes hex(const std::string& text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        out.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

std::string asText(const Bytes& b) {
    return std::string(b.begin(), b.end());
}

std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const common::FormatError& e) {
        return e.what();
    }
    return "(no error)";
}

// A 16-byte header over payload with a correct COMPSIZE and CRC.
Bytes framed(std::uint32_t rawSize, std::uint32_t type, const Bytes& payload) {
    Bytes out(16 + payload.size());
    auto put = [&](std::size_t off, std::uint32_t v) {
        for (std::size_t i = 0; i < 4; ++i)
            out[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put(0, static_cast<std::uint32_t>(payload.size() + 12));
    put(4, rawSize);
    put(8, type);
    std::copy(payload.begin(), payload.end(), out.begin() + 16);
    put(12, CLZF::calculateCRC32(out, 16, payload.size()));
    return out;
}

const char* kHelloVector =
    "2d 00 00 00 2b 00 00 00 4c 5a 46 75 f1 c5 c7 a7 03 00 0a 00 72 63 70 67 31 32 35 42 32 0a f3 "
    "20"
    "68 65 6c 09 00 20 62 77 05 b0 6c 64 7d 0a 80 0f a0";
const char* kOverlapVector =
    "1a 00 00 00 1c 00 00 00 4c 5a 46 75 e2 d4 4b 51 41 00 04 20 57 58 59 5a 0d 6e 7d 01 0e b0";

// --- The published examples --------------------------------------------------

TEST(CompressedRtfExamples, HelloWorldDecodesThroughTheDictionary) {
    EXPECT_EQ(asText(CLZF::decompressRTF(hex(kHelloVector))),
              "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n");
}

TEST(CompressedRtfExamples, ReferenceOverlappingItsOwnOutputRepeats) {
    EXPECT_EQ(asText(CLZF::decompressRTF(hex(kOverlapVector))), "{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}");
}

TEST(CompressedRtfExamples, ChecksumHasNoInitialOrFinalInversion) {
    const Bytes v = hex(kHelloVector);
    EXPECT_EQ(CLZF::calculateCRC32(v, 16, v.size() - 16), CLZF::getU32(v, 12));
    EXPECT_EQ(CLZF::calculateCRC32(v, 16, 0), 0u);
    EXPECT_EQ(CLZF::getU8(v, 8), 0x4C);
    EXPECT_THROW(CLZF::getU32(v, v.size() - 3), std::out_of_range);
}

// --- Header checks, in the order they are made --------------------------------

TEST(CompressedRtfHeader, ShortInputIsAnInvalidHeader) {
    EXPECT_EQ(errorOf([] { CLZF::decompressRTF(Bytes(15)); }), "Invalid compressed-RTF header");
    EXPECT_EQ(errorOf([] { CLZF::decompressRTF(Bytes{}); }), "Invalid compressed-RTF header");
    try {
        CLZF::decompressRTF(Bytes(15));
    } catch (const common::FormatError& e) {
        EXPECT_EQ(e.offset(), 15u);  // where the header is cut
    }
}

TEST(CompressedRtfHeader, SizeFieldMustMatchTheInput) {
    Bytes v = hex(kHelloVector);
    v.push_back(0);
    EXPECT_EQ(errorOf([&] { CLZF::decompressRTF(v); }), "compressed-RTF data size mismatch");
}

TEST(CompressedRtfHeader, ChecksumMismatchIsRefused) {
    Bytes v = hex(kHelloVector);
    v[20] ^= 1;
    EXPECT_EQ(errorOf([&] { CLZF::decompressRTF(v); }), "compressed-RTF CRC32 failed");
}

TEST(CompressedRtfHeader, EmptyCompressedBodyWithZeroChecksumIsEmpty) {
    EXPECT_TRUE(CLZF::decompressRTF(framed(0, CLZF::MAGIC_COMPRESSED, {})).empty());
}

TEST(CompressedRtfHeader, UncompressedFormSkipsTheChecksumAndReturnsTheBytes) {
    const Bytes v = msg_builder::storeRTF("{\\rtf1 plain}");
    ASSERT_EQ(CLZF::getU32(v, 12), 0u);
    EXPECT_EQ(asText(CLZF::decompressRTF(v)), "{\\rtf1 plain}");
}

TEST(CompressedRtfHeader, UnknownTypeIsNamedAsSignedDecimalAfterTheChecksum) {
    const Bytes v = framed(0, 0x80000000u, {1, 2, 3});
    EXPECT_EQ(errorOf([&] { CLZF::decompressRTF(v); }),
              "Unknown compression type (magic number -2147483648)");
    Bytes bad = v;
    bad[16] ^= 0xFF;
    EXPECT_EQ(errorOf([&] { CLZF::decompressRTF(bad); }), "compressed-RTF CRC32 failed");
}

// --- Refusals of our own -------------------------------------------------------

TEST(CompressedRtfRefusal, RawSizeTheInputCannotProduceIsRefusedUpFront) {
    // 2 payload bytes can give at most 17 bytes; a claim of 2 GB must not
    // allocate anything.
    const Bytes v = framed(0x7FFFFFF0u, CLZF::MAGIC_COMPRESSED, {0xFF, 0x00});
    EXPECT_EQ(errorOf([&] { CLZF::decompressRTF(v); }),
              "compressed RTF: RAWSIZE 2147483632 cannot come from 2 bytes of compressed data");
}

TEST(CompressedRtfRefusal, NegativeRawSizeIsRefused) {
    const Bytes v = framed(0xFFFFFFFFu, CLZF::MAGIC_COMPRESSED, {0});
    EXPECT_EQ(errorOf([&] { CLZF::decompressRTF(v); }), "compressed RTF: negative RAWSIZE -1");
}

TEST(CompressedRtfRefusal, InputEndingEarlyIsRefused) {
    // One control byte announcing literals, then only two of them.
    const Bytes v = framed(5, CLZF::MAGIC_COMPRESSED, {0x00, 'a', 'b'});
    EXPECT_EQ(errorOf([&] { CLZF::decompressRTF(v); }),
              "compressed RTF ends at offset 19 after 2 of 5 bytes");
}

TEST(CompressedRtfRefusal, ReferenceBeforeTheStartIsRefused) {
    // Write position 207; offset 300 lies ahead of it in the first block, so
    // it would mean 300 - 4096, before the buffer.
    const Bytes v = framed(4, CLZF::MAGIC_COMPRESSED, {0x01, 300 >> 4, (300 & 0xF) << 4 | 2});
    EXPECT_EQ(errorOf([&] { CLZF::decompressRTF(v); }),
              "compressed RTF: reference at offset 17 points before the start of the output");
}

TEST(CompressedRtfRefusal, CopyPastRawSizeIsRefused) {
    // A 17-byte copy of the dictionary into a 4-byte result.
    const Bytes v = framed(4, CLZF::MAGIC_COMPRESSED, {0x01, 0x00, 0x0F});
    EXPECT_EQ(errorOf([&] { CLZF::decompressRTF(v); }),
              "compressed RTF: reference at offset 17 copies 17 bytes past RAWSIZE 4");
}

TEST(CompressedRtfRefusal, UncompressedRawSizeBeyondTheStoredBytesIsRefused) {
    Bytes v = msg_builder::storeRTF("abc");
    v[4] = 10;
    EXPECT_EQ(errorOf([&] { CLZF::decompressRTF(v); }),
              "compressed RTF: uncompressed RAWSIZE 10 exceeds the 3 stored bytes");
}

// --- Round trips -------------------------------------------------------------

TEST(CompressedRtfRoundTrip, DictionaryTextIsCopiedWhileBelow4096) {
    // "{\rtf1\ansi" is in the dictionary text at offset 0; a compressor finds it.
    const std::string rtf = "{\\rtf1\\ansi\\mac\\deff0 x}";
    const Bytes packed = msg_builder::compressRTF(rtf);
    EXPECT_LT(packed.size(), 16 + rtf.size());
    EXPECT_EQ(asText(CLZF::decompressRTF(packed)), rtf);
}

TEST(CompressedRtfRoundTrip, LongVariedTextSpanningManyDictionaryBlocks) {
    std::string rtf = "{\\rtf1\\ansi\\ansicpg1252 ";
    std::uint32_t x = 1;
    for (int i = 0; i < 40000; ++i) {
        x = x * 1103515245u + 12345u;
        rtf += static_cast<char>((i % 97 == 0) ? '\x80' + static_cast<char>(x % 64)
                                               : 'a' + static_cast<char>((x >> 16) % 7));
    }
    rtf += "}";
    EXPECT_EQ(asText(CLZF::decompressRTF(msg_builder::compressRTF(rtf))), rtf);
}

TEST(CompressedRtfRoundTrip, CompressorReproducesThePublishedExample) {
    EXPECT_EQ(msg_builder::compressRTF("{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n"),
              hex(kHelloVector));
}

}  // namespace
