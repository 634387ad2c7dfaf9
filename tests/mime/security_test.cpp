// Signed and encrypted mail: S/MIME (multipart/signed, and real PKCS#7
// signed-data, enveloped-data and authEnveloped-data made here with
// OpenSSL), PGP/MIME and inline PGP. Nothing is verified or decrypted.
#include "test_support.h"

#include <mime/mime.h>

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using mime::Message;
using mime::Security;
using mime_test::base64;
using mime_test::bytesOf;
using mime_test::hasWarning;
using mime_test::message;
using mime_test::textOf;

// A key and a self-signed certificate to sign and encrypt with.
class Identity {
public:
    Identity() {
        m_key = EVP_EC_gen("P-256");
        m_cert = X509_new();
        X509_set_version(m_cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(m_cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(m_cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(m_cert), 3600);
        X509_NAME* name = X509_get_subject_name(m_cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("mime test"), -1, -1, 0);
        X509_set_issuer_name(m_cert, name);
        X509_set_pubkey(m_cert, m_key);
        X509_sign(m_cert, m_key, EVP_sha256());
    }
    ~Identity() {
        X509_free(m_cert);
        EVP_PKEY_free(m_key);
    }
    Identity(const Identity&) = delete;
    Identity& operator=(const Identity&) = delete;

    std::string sign(const std::string& content, bool detached) const {
        BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
        CMS_ContentInfo* cms =
            CMS_sign(m_cert, m_key, nullptr, in, CMS_BINARY | (detached ? CMS_DETACHED : 0));
        BIO_free(in);
        return der(cms);
    }

    std::string encrypt(const std::string& content, const EVP_CIPHER* cipher) const {
        BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
        STACK_OF(X509)* recipients = sk_X509_new_null();
        sk_X509_push(recipients, m_cert);
        CMS_ContentInfo* cms = CMS_encrypt(recipients, in, cipher, CMS_BINARY);
        sk_X509_free(recipients);
        BIO_free(in);
        return der(cms);
    }

    static std::string dataOnly(const std::string& content) {
        BIO* in = BIO_new_mem_buf(content.data(), static_cast<int>(content.size()));
        CMS_ContentInfo* cms = CMS_data_create(in, CMS_BINARY);
        BIO_free(in);
        return der(cms);
    }

private:
    static std::string der(CMS_ContentInfo* cms) {
        EXPECT_NE(cms, nullptr);
        if (cms == nullptr) {
            return {};
        }
        unsigned char* out = nullptr;
        const int length = i2d_CMS_ContentInfo(cms, &out);
        std::string bytes(reinterpret_cast<const char*>(out), static_cast<std::size_t>(length));
        OPENSSL_free(out);
        CMS_ContentInfo_free(cms);
        return bytes;
    }

    EVP_PKEY* m_key = nullptr;
    X509* m_cert = nullptr;
};

const Identity& identity() {
    static const Identity kIdentity;
    return kIdentity;
}

// The MIME entity a signed-data blob holds: text and a PDF.
const std::string kEntity =
    "Content-Type: multipart/mixed; boundary=in\r\n\r\n"
    "--in\r\nContent-Type: text/plain; charset=utf-8\r\n\r\nSigned caf\xC3\xA9\r\n"
    "--in\r\nContent-Type: application/pdf; name=doc.pdf\r\n"
    "Content-Disposition: attachment; filename=doc.pdf\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\n" +
    base64("%PDF-1.4 test") + "--in--\r\n";

// A message whose whole body is a PKCS#7 blob, as mail programs send it.
std::string pkcs7Message(const std::string& der, const std::string& type = "application/pkcs7-mime",
                         const std::string& smimeType = "signed-data") {
    return "From: sender@example.com\r\nSubject: secured\r\nMIME-Version: 1.0\r\n"
           "Content-Type: " +
           type + "; smime-type=" + smimeType +
           "; name=smime.p7m\r\n"
           "Content-Disposition: attachment; filename=smime.p7m\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" +
           base64(der);
}

void expectSignedEntity(const Message& m) {
    EXPECT_EQ(m.bodyKind, Message::BodyKind::Text);
    EXPECT_EQ(m.body, "Signed caf\xC3\xA9");
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].part.fileName, "doc.pdf");
    EXPECT_EQ(textOf(m.attachments[0].part.bytes), "%PDF-1.4 test");
}

TEST(MimeSecurity, SmimeClearSignedShowsTheContentWithoutTheSignature) {
    const std::string content = "Content-Type: text/plain\r\n\r\nSigned text\r\n";
    const Message m = message(
        "Subject: signed\r\nContent-Type: multipart/signed; "
        "protocol=\"application/pkcs7-signature\"; micalg=sha-256; boundary=s\r\n\r\n"
        "--s\r\n" +
        content +
        "--s\r\nContent-Type: application/pkcs7-signature; name=smime.p7s\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=smime.p7s\r\n\r\n" +
        base64(identity().sign(content, true)) + "--s--\r\n");
    EXPECT_EQ(m.security, Security::Signed);
    EXPECT_EQ(m.securityProtocol, "S/MIME");
    EXPECT_EQ(m.body, "Signed text");
    EXPECT_TRUE(m.attachments.empty());
}

TEST(MimeSecurity, SmimeOpaqueSignedIsUnwrappedFromRealSignedData) {
    const std::string der = identity().sign(kEntity, false);
    // As an Outlook-style message, marked as an attachment named smime.p7m.
    const Message m = message(pkcs7Message(der));
    EXPECT_EQ(m.security, Security::OpaqueSigned);
    EXPECT_EQ(m.securityProtocol, "S/MIME");
    EXPECT_EQ(m.subject, "secured");
    expectSignedEntity(m);

    // The older type name, and an octet-stream named smime.p7m.
    expectSignedEntity(message(pkcs7Message(der, "application/x-pkcs7-mime")));
    const Message octets = message(pkcs7Message(der, "application/octet-stream"));
    EXPECT_EQ(octets.security, Security::OpaqueSigned);
    expectSignedEntity(octets);

    // The blob alone (an smime.p7m attachment of a .msg file), and the
    // entity it holds.
    const Message blob = mime::parsePkcs7(bytesOf(der));
    EXPECT_EQ(blob.security, Security::OpaqueSigned);
    EXPECT_TRUE(blob.headers.empty());
    expectSignedEntity(blob);
    expectSignedEntity(mime::parseEntity(bytesOf(kEntity)));
}

TEST(MimeSecurity, SmimeEncryptedShowsNothingAndKeepsTheBlob) {
    for (const EVP_CIPHER* cipher : {EVP_aes_256_cbc(), EVP_aes_128_gcm()}) {
        const std::string der = identity().encrypt(kEntity, cipher);
        const Message m = message(pkcs7Message(der, "application/pkcs7-mime", "enveloped-data"));
        EXPECT_EQ(m.security, Security::Encrypted);
        EXPECT_EQ(m.securityProtocol, "S/MIME");
        EXPECT_EQ(m.bodyKind, Message::BodyKind::None);
        ASSERT_EQ(m.attachments.size(), 1u);
        EXPECT_EQ(m.attachments[0].part.fileName, "smime.p7m");
        EXPECT_TRUE(textOf(m.attachments[0].part.bytes) == der);

        const Message blob = mime::parsePkcs7(bytesOf(der));
        EXPECT_EQ(blob.security, Security::Encrypted);
        EXPECT_EQ(blob.bodyKind, Message::BodyKind::None);
    }
}

TEST(MimeSecurity, EncryptedInsideSignedIsEncrypted) {
    const std::string inner =
        "Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n" +
        base64(identity().encrypt(kEntity, EVP_aes_256_cbc()));
    const Message m = message(pkcs7Message(identity().sign(inner, false)));
    EXPECT_EQ(m.security, Security::Encrypted);
    EXPECT_EQ(m.bodyKind, Message::BodyKind::None);
    ASSERT_EQ(m.attachments.size(), 1u);
}

TEST(MimeSecurity, Pkcs7ThatHoldsNoMessage) {
    const auto refused = [](const std::string& der) {
        try {
            mime::parsePkcs7(bytesOf(der));
        } catch (const mime::ParseError& e) {
            return std::string(e.what());
        }
        return std::string("parsed");
    };
    EXPECT_EQ(refused("not DER at all"),
              "not a PKCS#7 / CMS structure: no DER ContentInfo could be read");
    EXPECT_EQ(refused(""), "not a PKCS#7 / CMS structure: no DER ContentInfo could be read");
    EXPECT_EQ(refused(Identity::dataOnly("x")),
              "a PKCS#7 structure of type pkcs7-data, which holds no message");
    const std::string der = identity().sign(kEntity, false);
    EXPECT_EQ(refused(der.substr(0, der.size() / 2)),
              "not a PKCS#7 / CMS structure: no DER ContentInfo could be read");

    // A detached signature: signed, with nothing to show.
    const Message detached = mime::parsePkcs7(bytesOf(identity().sign(kEntity, true)));
    EXPECT_EQ(detached.security, Security::Signed);
    EXPECT_EQ(detached.bodyKind, Message::BodyKind::None);
    EXPECT_TRUE(hasWarning(detached, "detached signature"));

    // In a message, signed-data without content marks nothing: it may be
    // certificates only.
    const Message certs = message(
        pkcs7Message(identity().sign(kEntity, true), "application/pkcs7-mime", "certs-only"));
    EXPECT_EQ(certs.security, Security::None);
    ASSERT_EQ(certs.attachments.size(), 1u);
    EXPECT_TRUE(hasWarning(certs, "signed-data without content"));

    // A blob that is no PKCS#7 in a message: kept as an attachment.
    const Message junk = message(pkcs7Message("junk"));
    EXPECT_EQ(junk.security, Security::None);
    ASSERT_EQ(junk.attachments.size(), 1u);
    EXPECT_EQ(textOf(junk.attachments[0].part.bytes), "junk");
    EXPECT_TRUE(hasWarning(junk, "no PKCS#7 structure"));
}

TEST(MimeSecurity, SignedDataNestedDeepStopsAtTheMessageCap) {
    // Binary, so each level adds only its signature.
    std::string entity = "Content-Type: text/plain\r\n\r\ninnermost\r\n";
    for (int i = 0; i < 40; ++i) {
        entity =
            "Content-Type: application/pkcs7-mime; smime-type=signed-data\r\n"
            "Content-Transfer-Encoding: binary\r\n\r\n" +
            identity().sign(entity, false);
    }
    const Message m = mime::parseEntity(bytesOf(entity));
    EXPECT_EQ(m.security, Security::OpaqueSigned);
    EXPECT_EQ(m.bodyKind, Message::BodyKind::None);
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_TRUE(hasWarning(m, "signed content nested deeper than 32 messages"));
}

TEST(MimeSecurity, SecuredPartsAmongAttachmentsDoNotMarkTheMessage) {
    const Message m = message(
        "Subject: x\nContent-Type: multipart/mixed; boundary=m\n\n"
        "--m\nContent-Type: text/plain\n\nthe body\n"
        "--m\nContent-Type: multipart/encrypted; protocol=\"application/pgp-encrypted\"; "
        "boundary=e\n\n"
        "--e\nContent-Type: application/pgp-encrypted\n\nVersion: 1\n"
        "--e\nContent-Type: application/octet-stream; name=encrypted.asc\n\ndata\n"
        "--e--\n"
        "--m--\n");
    EXPECT_EQ(m.security, Security::None);
    EXPECT_EQ(m.securityProtocol, "");
    EXPECT_EQ(m.body, "the body");
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].part.fileName, "encrypted.asc");

    // A signed message with a list footer after it is signed.
    const Message footer = message(
        "Subject: x\nContent-Type: multipart/mixed; boundary=m\n\n"
        "--m\nContent-Type: multipart/signed; protocol=\"application/pgp-signature\"; "
        "boundary=s\n\n"
        "--s\nContent-Type: text/plain\n\nsigned\n"
        "--s\nContent-Type: application/pgp-signature\n\nsig\n"
        "--s--\n"
        "--m\nContent-Type: text/plain\n\nlist footer\n"
        "--m--\n");
    EXPECT_EQ(footer.security, Security::Signed);
    EXPECT_EQ(footer.body, "signed");
    ASSERT_EQ(footer.attachments.size(), 1u);
    EXPECT_EQ(textOf(footer.attachments[0].part.bytes), "list footer");
}

TEST(MimeSecurity, PgpMimeEncryptedKeepsOnlyTheEncryptedData) {
    const Message m = message(
        "Subject: pgp\nContent-Type: multipart/encrypted; "
        "protocol=\"application/pgp-encrypted\"; boundary=e\n\n"
        "--e\nContent-Type: application/pgp-encrypted\n\nVersion: 1\n"
        "--e\nContent-Type: application/octet-stream; name=encrypted.asc\n\n"
        "-----BEGIN PGP MESSAGE-----\n\nhQEMA\n-----END PGP MESSAGE-----\n"
        "--e--\n");
    EXPECT_EQ(m.security, Security::Encrypted);
    EXPECT_EQ(m.securityProtocol, "PGP/MIME");
    EXPECT_EQ(m.bodyKind, Message::BodyKind::None);
    ASSERT_EQ(m.attachments.size(), 1u);
    EXPECT_EQ(m.attachments[0].part.fileName, "encrypted.asc");
}

TEST(MimeSecurity, InlinePgpArmourIsRemovedFromTheShownText) {
    const Message m = message(
        "Subject: inline\n\n"
        "Before the block.\n"
        "-----BEGIN PGP SIGNED MESSAGE-----\n"
        "Hash: SHA256\n"
        "\n"
        "The signed text.\n"
        "- -- a dash-escaped line\n"
        "-----BEGIN PGP SIGNATURE-----\n"
        "\n"
        "iQEzBAEBCAAdFiEE\n"
        "-----END PGP SIGNATURE-----\n"
        "After the block.\n");
    EXPECT_EQ(m.security, Security::Signed);
    EXPECT_EQ(m.securityProtocol, "PGP (inline)");
    EXPECT_EQ(m.body,
              "Before the block.\nThe signed text.\n-- a dash-escaped line\nAfter the block.\n");

    const Message encrypted = message(
        "Subject: inline\n\n-----BEGIN PGP MESSAGE-----\n\nhQEMA\n-----END PGP MESSAGE-----\n");
    EXPECT_EQ(encrypted.security, Security::Encrypted);
    EXPECT_EQ(encrypted.securityProtocol, "PGP (inline)");
    EXPECT_EQ(encrypted.body, "-----BEGIN PGP MESSAGE-----\n\nhQEMA\n-----END PGP MESSAGE-----\n");

    // The words in running text are no armour.
    const Message mention =
        message("Subject: x\n\nPaste it after -----BEGIN PGP SIGNED MESSAGE----- in the form.\n");
    EXPECT_EQ(mention.security, Security::None);
    EXPECT_EQ(mention.body, "Paste it after -----BEGIN PGP SIGNED MESSAGE----- in the form.\n");
}

}  // namespace
