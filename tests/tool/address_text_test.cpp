// The rules for address text the message model and the envelope share.

#include <msg/address_text.h>

#include <gtest/gtest.h>

namespace {

using tool::equalsCaseless;
using tool::looksLikeSmtp;

TEST(AddressText, CaselessEqualityFoldsAsciiLettersOnly) {
    EXPECT_TRUE(equalsCaseless("SMTP", "smtp"));
    EXPECT_TRUE(equalsCaseless("Ann.Lee@Example.ORG", "ann.lee@example.org"));
    EXPECT_TRUE(equalsCaseless("", ""));
    EXPECT_FALSE(equalsCaseless("SMTP", "SMTP "));  // lengths differ
    EXPECT_FALSE(equalsCaseless("EX", "SMTP"));
    // '@' and '`' sit next to the letters' ranges and are not letters.
    EXPECT_FALSE(equalsCaseless("@", "`"));
    EXPECT_FALSE(equalsCaseless("[", "{"));
    // Bytes of non-ASCII characters compare exactly, whatever the locale.
    EXPECT_FALSE(equalsCaseless("\xC3\x89", "\xC3\xA9"));  // É, é
    EXPECT_FALSE(equalsCaseless("\xC9", "\xE9"));          // É, é in Latin-1
    EXPECT_TRUE(equalsCaseless("Z\xC3\xBCrich", "z\xC3\xBCRICH"));
}

TEST(AddressText, AnInternetAddressHasAPartOnEachSideOfTheAtAndNoSeparators) {
    EXPECT_TRUE(looksLikeSmtp("a@b"));
    EXPECT_TRUE(looksLikeSmtp("first.last+tag@mail.example.org"));
    EXPECT_FALSE(looksLikeSmtp(""));
    EXPECT_FALSE(looksLikeSmtp("no-at-sign"));
    EXPECT_FALSE(looksLikeSmtp("@example.org"));
    EXPECT_FALSE(looksLikeSmtp("ann@"));
    EXPECT_FALSE(looksLikeSmtp("Ann Lee@example.org"));
    EXPECT_FALSE(looksLikeSmtp("ann\t@example.org"));
    EXPECT_FALSE(looksLikeSmtp("<ann@example.org>"));
    EXPECT_FALSE(looksLikeSmtp("Ann <ann@example.org>"));
    // An Exchange address, even one holding an '@'.
    EXPECT_FALSE(looksLikeSmtp("/O=ORG/OU=SITE/CN=RECIPIENTS/CN=ann@example.org"));
}

}  // namespace
