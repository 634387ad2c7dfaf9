#include "pkcs7.h"

#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>

#include <climits>
#include <memory>

namespace mime::detail {

namespace {

struct CmsFree {
    void operator()(CMS_ContentInfo* cms) const { CMS_ContentInfo_free(cms); }
};

}  // namespace

Pkcs7Content readPkcs7(std::span<const std::uint8_t> der) {
    Pkcs7Content result;
    if (der.empty() || der.size() > static_cast<std::size_t>(LONG_MAX)) {
        return result;
    }
    const unsigned char* cursor = der.data();
    const std::unique_ptr<CMS_ContentInfo, CmsFree> cms(
        d2i_CMS_ContentInfo(nullptr, &cursor, static_cast<long>(der.size())));
    // The error queue is the thread's own; what a failed read left there is
    // of no use to anyone after this call.
    ERR_clear_error();
    if (!cms) {
        return result;
    }
    const ASN1_OBJECT* type = CMS_get0_type(cms.get());
    const int nid = type != nullptr ? OBJ_obj2nid(type) : NID_undef;
    switch (nid) {
        case NID_pkcs7_signed: {
            result.kind = Pkcs7Kind::SignedData;
            ASN1_OCTET_STRING** content = CMS_get0_content(cms.get());
            if (content == nullptr || *content == nullptr) {
                result.detached = true;
            } else {
                const unsigned char* data = ASN1_STRING_get0_data(*content);
                const int length = ASN1_STRING_length(*content);
                if (data != nullptr && length > 0) {
                    result.content.assign(data, data + length);
                }
            }
            break;
        }
        case NID_pkcs7_enveloped:
            result.kind = Pkcs7Kind::EnvelopedData;
            break;
        case NID_id_smime_ct_authEnvelopedData:
            result.kind = Pkcs7Kind::AuthEnvelopedData;
            break;
        default: {
            result.kind = Pkcs7Kind::Other;
            char name[128] = {};
            if (type != nullptr && OBJ_obj2txt(name, sizeof name, type, 0) > 0) {
                result.typeName = name;
            } else {
                result.typeName = "unknown";
            }
            break;
        }
    }
    ERR_clear_error();
    return result;
}

}  // namespace mime::detail
