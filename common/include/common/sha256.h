#pragma once
// SHA-256 (FIPS 180-4) of bytes in memory or of a file, as lower-case hex.
// Standard library only (on x86-64 the processor's SHA instructions are
// used when it has them, else the portable rounds). Records of converted
// messages name each source and image by it, so a reader can show which
// file an image came from.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <cpuid.h>
#include <immintrin.h>
#define COMMON_SHA256_X86 1
#endif

namespace common {

namespace sha256_detail {

inline constexpr std::array<std::uint32_t, 64> kRound = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

#ifdef COMMON_SHA256_X86
// CPUID: leaf 7 EBX bit 29 (SHA), leaf 1 ECX bit 19 (SSE4.1).
inline bool hasShaInstructions() {
    static const bool has = [] {
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & (1u << 19)) == 0) {
            return false;
        }
        if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
            return false;
        }
        return (ebx & (1u << 29)) != 0;
    }();
    return has;
}

// The rounds of one 64-byte block with the SHA extensions (state as
// A..H). Four rounds a step; the message schedule is kept in four
// registers that take turns.
__attribute__((target("sha,sse4.1"))) inline void compressX86(std::uint32_t* state,
                                                              const std::uint8_t* block) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i tmp = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
    __m128i state1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
    tmp = _mm_shuffle_epi32(tmp, 0xB1);                // CDAB
    state1 = _mm_shuffle_epi32(state1, 0x1B);          // EFGH
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);  // ABEF
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);       // CDGH
    const __m128i abefSaved = state0;
    const __m128i cdghSaved = state1;
    __m128i w[4] =
        {};  // NOLINT(*-avoid-c-arrays): a std::array would drop the vector type's alignment
    for (std::size_t g = 0; g < 16; ++g) {
        const std::size_t at = g % 4;
        if (g < 4) {
            w[at] = _mm_shuffle_epi8(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * g)), byteSwap);
        }
        __m128i message = _mm_add_epi32(
            w[at], _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound.data() + 4 * g)));
        state1 = _mm_sha256rnds2_epu32(state1, state0, message);
        if (g >= 3 && g <= 14) {
            const std::size_t next = (g + 1) % 4;
            const std::size_t previous = (g + 3) % 4;
            w[next] = _mm_add_epi32(w[next], _mm_alignr_epi8(w[at], w[previous], 4));
            w[next] = _mm_sha256msg2_epu32(w[next], w[at]);
        }
        message = _mm_shuffle_epi32(message, 0x0E);
        state0 = _mm_sha256rnds2_epu32(state0, state1, message);
        if (g >= 1 && g <= 12) {
            const std::size_t previous = (g + 3) % 4;
            w[previous] = _mm_sha256msg1_epu32(w[previous], w[at]);
        }
    }
    state0 = _mm_add_epi32(state0, abefSaved);
    state1 = _mm_add_epi32(state1, cdghSaved);
    tmp = _mm_shuffle_epi32(state0, 0x1B);        // FEBA
    state1 = _mm_shuffle_epi32(state1, 0xB1);     // DCHG
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);  // DCBA
    state1 = _mm_alignr_epi8(state1, tmp, 8);     // ABEF
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), state1);
}
#endif

}  // namespace sha256_detail

class Sha256 {
public:
    // `allowInstructions` false: the portable rounds even where the
    // processor has SHA instructions (to compare the two).
    explicit Sha256(bool allowInstructions = true) {
#ifdef COMMON_SHA256_X86
        m_instructions = allowInstructions && sha256_detail::hasShaInstructions();
#else
        (void)allowInstructions;
#endif
        reset();
    }

    void reset() {
        m_state = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
        m_length = 0;
        m_buffered = 0;
    }

    void update(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        m_length += size;
        if (m_buffered > 0) {
            const std::size_t take = std::min(size, m_block.size() - m_buffered);
            std::copy(bytes, bytes + take,
                      m_block.begin() + static_cast<std::ptrdiff_t>(m_buffered));
            m_buffered += take;
            bytes += take;
            size -= take;
            if (m_buffered < m_block.size()) {
                return;
            }
            compress(m_block.data());
            m_buffered = 0;
        }
        while (size >= m_block.size()) {
            compress(bytes);
            bytes += m_block.size();
            size -= m_block.size();
        }
        std::copy(bytes, bytes + size, m_block.begin());
        m_buffered = size;
    }
    void update(std::string_view text) {
        update(text.data(), text.size());
    }

    // The digest as 64 lower-case hex digits; the object starts over.
    std::string hexDigest() {
        const std::uint64_t bits = m_length * 8;
        const std::uint8_t pad = 0x80;
        update(&pad, 1);
        const std::uint8_t zero = 0;
        while (m_buffered != 56) {
            update(&zero, 1);
        }
        std::array<std::uint8_t, 8> tail{};
        for (int i = 0; i < 8; ++i) {
            tail[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
        }
        update(tail.data(), tail.size());
        static constexpr char kHex[] = "0123456789abcdef";
        std::string hex;
        hex.reserve(64);
        for (const std::uint32_t word : m_state) {
            for (int shift = 28; shift >= 0; shift -= 4) {
                hex.push_back(kHex[(word >> shift) & 0xF]);
            }
        }
        reset();
        return hex;
    }

private:
    static std::uint32_t rotr(std::uint32_t x, int n) {
        return (x >> n) | (x << (32 - n));
    }

    void compress(const std::uint8_t* block) {
#ifdef COMMON_SHA256_X86
        if (m_instructions) {
            sha256_detail::compressX86(m_state.data(), block);
            return;
        }
#endif
        using sha256_detail::kRound;
        std::array<std::uint32_t, 64> w{};
        for (std::size_t i = 0; i < 16; ++i) {
            w[i] = (std::uint32_t{block[4 * i]} << 24) | (std::uint32_t{block[4 * i + 1]} << 16) |
                   (std::uint32_t{block[4 * i + 2]} << 8) | std::uint32_t{block[4 * i + 3]};
        }
        for (std::size_t i = 16; i < 64; ++i) {
            const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
        std::uint32_t e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
        for (std::size_t i = 0; i < 64; ++i) {
            const std::uint32_t s1 = rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25);
            const std::uint32_t choose = (e & f) ^ (~e & g);
            const std::uint32_t t1 = h + s1 + choose + kRound[i] + w[i];
            const std::uint32_t s0 = rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22);
            const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
            const std::uint32_t t2 = s0 + majority;
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        m_state[0] += a;
        m_state[1] += b;
        m_state[2] += c;
        m_state[3] += d;
        m_state[4] += e;
        m_state[5] += f;
        m_state[6] += g;
        m_state[7] += h;
    }

    std::array<std::uint32_t, 8> m_state{};
    std::array<std::uint8_t, 64> m_block{};
    std::uint64_t m_length = 0;
    std::size_t m_buffered = 0;
    bool m_instructions = false;
};

inline std::string sha256Hex(std::string_view bytes) {
    Sha256 hash;
    hash.update(bytes);
    return hash.hexDigest();
}

// The digest and size of a file's bytes; no value when it cannot be read.
struct FileDigest {
    std::uint64_t size = 0;
    std::string sha256;
};

inline std::optional<FileDigest> sha256OfFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        return std::nullopt;
    }
    Sha256 hash;
    FileDigest digest;
    std::array<char, 65536> buffer{};
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
        hash.update(buffer.data(), got);
        digest.size += got;
    }
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed) {
        return std::nullopt;
    }
    digest.sha256 = hash.hexDigest();
    return digest;
}

}  // namespace common
