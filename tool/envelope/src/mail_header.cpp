// The header block of Internet mail (an .eml attachment, the signed content
// of a message), in the rows and words of a message file's: From (with
// "on behalf of" when the Sender differs), Sent, To, Cc, Bcc, Subject,
// Attachments, Importance.
#include "header_text.h"

#include <envelope/envelope.h>

#include <mime/mime.h>

namespace envelope {

namespace {

// Seconds between 1601-01-01 (FILETIME's start) and 1970-01-01.
constexpr std::int64_t kFileTimeEpochSeconds = 11644473600;

std::string addressText(const mime::Address& a) {
    return nameAndAddress(a.name.empty() ? std::nullopt : std::optional<std::string>(a.name),
                          a.address.empty() ? std::nullopt : std::optional<std::string>(a.address));
}

std::string addressList(const std::vector<mime::Address>& addresses) {
    std::vector<std::string> shown;
    for (const mime::Address& a : addresses) {
        if (std::string text = addressText(a); !text.empty()) {
            shown.push_back(std::move(text));
        }
    }
    return joined(shown, "; ");
}

bool sameAddresses(const std::vector<mime::Address>& a, const std::vector<mime::Address>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!tool::equalsCaseless(a[i].address, b[i].address)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<std::string> attachmentEntries(const mime::Message& mail) {
    std::vector<std::string> names;
    for (const auto& attachment : mail.attachments) {
        std::string name = attachment.part.fileName;
        if (name.empty() && attachment.message) {
            name = attachment.message->subject;
        }
        if (name.empty()) {
            name = attachment.message ? "(message)" : "(unnamed attachment)";
        }
        const std::uint64_t size = attachment.part.bytes.size();
        names.push_back(name + " (" + sizeText(size) + ")");
    }
    return names;
}

Header describe(const mime::Message& mail, const Options& options) {
    Header header;
    const auto add = [&header](std::string label, std::string value) {
        if (!value.empty()) {
            header.rows.push_back({std::move(label), std::move(value)});
        }
    };
    const auto& shown = mail.from.empty() ? mail.sender : mail.from;
    if (!shown.empty()) {
        header.title = shown.front().name.empty() ? shown.front().address : shown.front().name;
    }
    std::string from = addressList(mail.from);
    if (!mail.sender.empty() && !mail.from.empty() && !sameAddresses(mail.sender, mail.from)) {
        from = addressList(mail.sender) + " on behalf of " + from;
    } else if (from.empty()) {
        from = addressList(mail.sender);
    }
    add("From:", from);
    std::optional<std::string> sent;
    if (mail.date.valid) {
        header.sentSeconds = mail.date.seconds;
        sent =
            formatTime((mail.date.seconds + kFileTimeEpochSeconds) * 10'000'000, options.timeZone);
    }
    // A draft, or a date the mail program wrote unreadably: never a made-up date.
    add("Sent:", sent.value_or(mail.date.text.empty() ? "(not sent)" : mail.date.text));
    add("To:", addressList(mail.to));
    add("Cc:", addressList(mail.cc));
    add("Bcc:", addressList(mail.bcc));
    add("Subject:", mail.subject);
    add("Attachments:", joined(attachmentEntries(mail), "; "));
    if (mail.importance == mime::Importance::High) {
        add("Importance:", "High");
    }
    if (header.title.empty()) {
        header.title = mail.subject;
    }
    for (const std::string& warning : mail.warnings) {
        header.warnings.push_back("the mail reader recovered: " + warning);
    }
    return header;
}

}  // namespace envelope
