// Digests against the published test vectors (FIPS 180-4 examples, RFC 1321,
// RFC 3174), in one go, piece by piece, and of real files.
#include <digest/digest.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

using digest::Algorithm;

TEST(Digest, GivesTheStandardDigestsInOneGoOrPiecemeal) {
    EXPECT_EQ(digest::sha256Hex(""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(digest::sha256Hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the padding takes a block of its own.
    EXPECT_EQ(digest::sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(digest::hexOf(Algorithm::Md5, ""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(digest::hexOf(Algorithm::Md5, "abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(digest::hexOf(Algorithm::Sha1, "abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");

    digest::Hash million(Algorithm::Sha256);
    const std::string chunk(997, 'a');  // pieces that straddle blocks
    std::size_t fed = 0;
    while (fed < 1000000) {
        const std::size_t take = std::min(chunk.size(), 1000000 - fed);
        million.update(chunk.data(), take);
        fed += take;
    }
    EXPECT_EQ(million.hex(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Digest, FileDigestsReadTheFileOnceForEveryAlgorithmAskedFor) {
    char folder[] = "/tmp/digest-test-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/million";
    std::ofstream(path, std::ios::binary) << std::string(1000000, 'a');

    const auto plain = digest::ofFile(path);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->size, 1000000u);
    EXPECT_EQ(plain->sha256, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_TRUE(plain->md5.empty());
    EXPECT_TRUE(plain->sha1.empty());

    const auto all = digest::ofFile(path, {Algorithm::Md5, Algorithm::Sha1});
    ASSERT_TRUE(all);
    EXPECT_EQ(all->sha256, plain->sha256);
    EXPECT_EQ(all->md5, "7707d6ae4e027c70eea2a935c2296f21");
    EXPECT_EQ(all->sha1, "34aa973cd4c4daa4f61eeb2bdbad27316534016f");

    // An empty file has the digests of no bytes; a missing one has none, and
    // errno says why.
    const std::string empty = std::string(folder) + "/empty";
    std::ofstream(empty, std::ios::binary).close();
    EXPECT_EQ(digest::ofFile(empty)->sha256, digest::sha256Hex(""));
    errno = 0;
    EXPECT_FALSE(digest::ofFile(std::string(folder) + "/missing"));
    EXPECT_EQ(errno, ENOENT);
    // A folder opens but cannot be read.
    EXPECT_FALSE(digest::ofFile(folder));
    EXPECT_EQ(errno, EISDIR);

    std::remove(path.c_str());
    std::remove(empty.c_str());
    ::rmdir(folder);
}

}  // namespace
