// msgdump: prints one message's structure and properties as JSON.
//
//   msgdump FILE            the message as JSON on standard output
//   msgdump --tree FILE     one line per element, depth first:
//                           "storage|stream SIZE PATH"
//   msgdump --rtf FILE OUT  the decompressed RTF body, byte for byte, to OUT
//   msgdump --version       "msgdump (Orvaline) VERSION"
//
// Exit status 0 on success, 1 with the failure's text on standard error, 2
// with the usage line for arguments it does not take.

#include <common/command_line.h>
#include <common/json_string.h>
#include <msg/outlook_storage.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

namespace {

using tool::OutlookStorage;

std::string jsonOptional(const std::optional<std::string>& s) {
    return s ? common::jsonString(*s) : "null";
}

void printTree(const cfb::Storage& storage, const std::string& prefix, std::ostream& out) {
    for (const cfb::Element& e : storage.elements()) {
        const std::string path = prefix.empty() ? e.name : prefix + "/" + e.name;
        if (e.type == cfb::ElementType::Storage) {
            out << "storage 0 " << path << '\n';
            printTree(*storage.openStorage(e.name), path, out);
        } else {
            out << "stream " << e.size << ' ' << path << '\n';
        }
    }
}

void jsonTree(const cfb::Storage& storage, std::ostream& out, int indent) {
    const std::string pad(static_cast<std::size_t>(indent), ' ');
    out << "[";
    bool first = true;
    for (const cfb::Element& e : storage.elements()) {
        out << (first ? "\n" : ",\n") << pad << "  {\"name\": " << common::jsonString(e.name);
        first = false;
        if (e.type == cfb::ElementType::Storage) {
            out << ", \"type\": \"storage\", \"elements\": ";
            jsonTree(*storage.openStorage(e.name), out, indent + 2);
            out << "}";
        } else {
            out << ", \"type\": \"stream\", \"size\": " << e.size << "}";
        }
    }
    if (!first)
        out << "\n" << pad;
    out << "]";
}

// Where the RTF came from, as [MS-OXRTFEX] marks it in the RTF header.
std::string encapsulation(const std::vector<std::uint8_t>& rtf) {
    const std::string head(rtf.begin(), rtf.begin() + static_cast<std::ptrdiff_t>(
                                                          std::min<std::size_t>(rtf.size(), 4096)));
    auto hasWord = [&](const std::string& word) {
        for (std::size_t pos = head.find(word); pos != std::string::npos;
             pos = head.find(word, pos + 1)) {
            const std::size_t end = pos + word.size();
            if (end >= head.size() || !std::isalnum(static_cast<unsigned char>(head[end]))) {
                return true;
            }
        }
        return false;
    };
    if (hasWord("\\fromhtml1"))
        return "html";
    if (hasWord("\\fromtext"))
        return "text";
    return "native";
}

const char* recipientType(const OutlookStorage::Recipient& r) {
    try {
        switch (r.Type()) {
            case OutlookStorage::RecipientType::To:
                return "\"To\"";
            case OutlookStorage::RecipientType::CC:
                return "\"CC\"";
            case OutlookStorage::RecipientType::Unknown:
                return "\"Unknown\"";
        }
    } catch (const std::exception&) {
    }
    return "null";
}

void jsonMessage(const OutlookStorage::Message& m, std::ostream& out, int indent) {
    const std::string pad(static_cast<std::size_t>(indent), ' ');
    out << "{\n";
    out << pad << "  \"subject\": " << jsonOptional(m.Subject()) << ",\n";
    out << pad << "  \"from\": " << jsonOptional(m.From()) << ",\n";
    out << pad << "  \"body\": " << jsonOptional(m.BodyText()) << ",\n";
    const auto cp = m.MessageCodepage();
    const auto icp = m.InternetCodepage();
    out << pad << "  \"message_codepage\": " << (cp ? std::to_string(*cp) : "null") << ",\n";
    out << pad << "  \"internet_codepage\": " << (icp ? std::to_string(*icp) : "null") << ",\n";
    const auto html = m.BodyHTML();
    out << pad << "  \"html_body_size\": " << (html ? std::to_string(html->bytes.size()) : "null")
        << ",\n";
    out << pad << "  \"rtf\": ";
    try {
        const auto rtf = m.BodyRTFBytes();
        if (rtf) {
            out << "{\"encapsulation\": \"" << encapsulation(*rtf)
                << "\", \"length\": " << rtf->size() << "}";
        } else {
            out << "null";
        }
    } catch (const std::exception& e) {
        out << "{\"error\": " << common::jsonString(e.what()) << "}";
    }
    out << ",\n" << pad << "  \"recipients\": [";
    bool first = true;
    for (const auto& r : m.Recipients()) {
        out << (first ? "\n" : ",\n") << pad << "    {\"name\": " << jsonOptional(r->DisplayName())
            << ", \"email\": " << jsonOptional(r->Email()) << ", \"type\": " << recipientType(*r)
            << "}";
        first = false;
    }
    out << (first ? "" : "\n" + pad + "  ") << "],\n";
    out << pad << "  \"attachments\": [";
    first = true;
    for (const auto& a : m.Attachments()) {
        const auto data = a->Data();
        out << (first ? "\n" : ",\n") << pad << "    {\"filename\": " << jsonOptional(a->Filename())
            << ", \"content_id\": " << jsonOptional(a->ContentId())
            << ", \"mime_tag\": " << jsonOptional(a->MimeTag())
            << ", \"size\": " << (data ? std::to_string(data->size()) : "null") << "}";
        first = false;
    }
    out << (first ? "" : "\n" + pad + "  ") << "],\n";
    out << pad << "  \"messages\": [";
    first = true;
    for (const auto& e : m.Messages()) {
        out << (first ? "\n" : ",\n") << pad << "    ";
        jsonMessage(*e, out, indent + 4);
        first = false;
    }
    out << (first ? "" : "\n" + pad + "  ") << "],\n";
    out << pad << "  \"elements\": ";
    jsonTree(*m.Storage(), out, indent + 2);
    out << "\n" << pad << "}";
}

int usage() {
    std::cerr << "usage: msgdump FILE | --tree FILE | --rtf FILE OUT | --version\n";
    return common::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string mode = argc > 1 ? argv[1] : "";
        if (mode == "--version" && argc == 2) {
            std::cout << "msgdump (Orvaline) " ORVALINE_VERSION "\n";
            return common::kExitSuccess;
        }
        if (mode == "--tree") {
            if (argc != 3)
                return usage();
            const auto file = cfb::CompoundFile::openFile(argv[2]);
            std::ostringstream out;
            printTree(*file.root(), "", out);
            std::cout << out.str();
            return common::kExitSuccess;
        }
        if (mode == "--rtf") {
            if (argc != 4)
                return usage();
            const OutlookStorage::Message message{std::string(argv[2])};
            const auto rtf = message.BodyRTFBytes();
            if (!rtf) {
                std::cerr << "the message has no RTF body\n";
                return common::kExitFailure;
            }
            std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(rtf->data()),
                      static_cast<std::streamsize>(rtf->size()));
            out.close();
            if (!out) {
                std::cerr << "cannot write " << argv[3] << "\n";
                return common::kExitFailure;
            }
            return common::kExitSuccess;
        }
        if (argc != 2 || mode.rfind("--", 0) == 0)
            return usage();
        const OutlookStorage::Message message{std::string(argv[1])};
        std::ostringstream out;
        jsonMessage(message, out, 0);
        std::cout << out.str() << "\n";
        return common::kExitSuccess;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return common::kExitFailure;
    }
}
