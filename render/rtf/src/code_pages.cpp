#include "code_pages.h"

#include <rtf/code_pages.h>

#include <vector>

namespace rtf::detail {

int codePageForCharset(int charset) {
    switch (charset) {
        case 77:
            return 10000;
        case 78:
            return 10001;
        case 79:
            return 10003;
        case 80:
            return 10008;
        case 81:
            return 10002;
        case 83:
            return 10005;
        case 84:
            return 10004;
        case 85:
            return 10006;
        case 86:
            return 10081;
        case 87:
            return 10021;
        case 88:
            return 10029;
        case 89:
            return 10007;
        case 128:
            return 932;
        case 129:
            return 949;
        case 130:
            return 1361;
        case 134:
            return 936;
        case 136:
            return 950;
        case 161:
            return 1253;
        case 162:
            return 1254;
        case 163:
            return 1258;
        case 177:
            return 1255;
        case 178:
            return 1256;
        case 186:
            return 1257;
        case 204:
            return 1251;
        case 222:
            return 874;
        case 238:
            return 1250;
        case 254:
            return 437;
        case 255:
            return 850;
        default:
            return 0;
    }
}

QChar symbolCharacter(std::uint8_t byte) {
    // Greek letters of the Symbol font sit on the Latin letters.
    static const char16_t kGreekLower[] =
        u"\u03b1\u03b2\u03c7\u03b4\u03b5\u03c6\u03b3\u03b7\u03b9"
        u"\u03d5\u03ba\u03bb\u03bc\u03bd\u03bf\u03c0\u03b8\u03c1"
        u"\u03c3\u03c4\u03c5\u03d6\u03c9\u03be\u03c8\u03b6";
    static const char16_t kGreekUpper[] =
        u"\u0391\u0392\u03a7\u0394\u0395\u03a6\u0393\u0397\u0399"
        u"\u03d1\u039a\u039b\u039c\u039d\u039f\u03a0\u0398\u03a1"
        u"\u03a3\u03a4\u03a5\u03c2\u03a9\u039e\u03a8\u0396";
    if (byte >= 'a' && byte <= 'z') {
        return QChar(kGreekLower[byte - 'a']);
    }
    if (byte >= 'A' && byte <= 'Z') {
        return QChar(kGreekUpper[byte - 'A']);
    }
    switch (byte) {
        case 0xb7:
            return QChar(0x2022);  // bullet
        case 0xa8:
            return QChar(0x2666);
        case 0xa7:
            return QChar(0x25aa);  // Wingdings small square
        case 0x6e:
            return QChar(0x25a0);
        case 0x71:
            return QChar(0x2751);
        case 0x76:
            return QChar(0x2756);
        case 0xd8:
            return QChar(0x27a2);
        case 0xfc:
            return QChar(0x2713);
        case 0xae:
            return QChar(0x2192);
        case 0xb0:
            return QChar(0x00b0);
        case 0xb1:
            return QChar(0x00b1);
        case 0xb4:
            return QChar(0x00d7);
        case 0xb8:
            return QChar(0x00f7);
        case 0xa3:
            return QChar(0x2264);
        case 0xb3:
            return QChar(0x2265);
        case 0xb9:
            return QChar(0x2260);
        case 0xa5:
            return QChar(0x221e);
        default:
            return QChar(byte < 0x80 ? byte : 0x2022);
    }
}

namespace {

// ICU names for the code pages whose "cpN"/"windows-N" alias is missing or
// names another vendor's table (cp874, cp949 and cp950 are IBM's, not
// Windows'; windows-65001 is not plain UTF-8).
const char* explicitName(int codePage) {
    switch (codePage) {
        case 65001:
            return "UTF-8";
        case 1200:
            return "UTF-16LE";
        case 1201:
            return "UTF-16BE";
        case 20127:
            return "US-ASCII";
        case 874:
            return "windows-874";
        case 932:
            return "windows-31j";
        case 936:
            return "GBK";
        case 949:
            return "windows-949";
        case 950:
            return "windows-950";
        case 10000:
            return "macintosh";
        // Mac CJK code pages differ from their Windows relatives only in a
        // few vendor characters.
        case 10001:
            return "Shift_JIS";
        case 10002:
            return "Big5";
        case 10003:
            return "EUC-KR";
        case 10008:
            return "GB2312";
        case 10007:
            return "x-mac-cyrillic";
        case 20866:
            return "KOI8-R";
        case 21866:
            return "KOI8-U";
        case 50220:
        case 50221:
        case 50222:
            return "ISO-2022-JP";
        case 51932:
            return "EUC-JP";
        case 51936:
            return "GB2312";
        case 51949:
            return "EUC-KR";
        case 54936:
            return "GB18030";
        default:
            return nullptr;
    }
}

}  // namespace

std::unique_ptr<QStringDecoder> decoderForCodePage(int codePage) {
    const std::string number = std::to_string(codePage);
    std::vector<std::string> names;
    if (const char* name = explicitName(codePage)) {
        names.emplace_back(name);
    } else if (codePage >= 28591 && codePage <= 28606) {
        names.push_back("ISO-8859-" + std::to_string(codePage - 28590));
    }
    for (const char* prefix : {"cp", "windows-", "IBM"}) {
        names.push_back(prefix + number);
    }
    for (const std::string& name : names) {
        auto decoder =
            std::make_unique<QStringDecoder>(name.c_str(), QStringDecoder::Flag::Stateless);
        if (decoder->isValid()) {
            return decoder;
        }
    }
    return nullptr;
}

QString CodePages::decode(int codePage, std::string_view bytes, bool* unknown) {
    auto it = m_decoders.find(codePage);
    if (it == m_decoders.end()) {
        it = m_decoders.emplace(codePage, decoderForCodePage(codePage)).first;
    }
    QStringDecoder* decoder = it->second.get();
    if (decoder == nullptr) {
        if (unknown != nullptr) {
            *unknown = true;
        }
        if (codePage == 1252) {
            return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
        }
        return decode(1252, bytes);
    }
    return decoder->decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

}  // namespace rtf::detail

namespace rtf {

std::optional<QString> decodeCodePage(int codePage, QByteArrayView bytes) {
    if (codePage <= 0) {
        return std::nullopt;
    }
    const auto decoder = detail::decoderForCodePage(codePage);
    if (!decoder) {
        return std::nullopt;
    }
    return decoder->decode(bytes);
}

}  // namespace rtf
