// The header of a message: which properties make which row, by item kind.
#include "header_text.h"
#include "property_text.h"

#include <envelope/envelope.h>

#include <msg/address_text.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <utility>

namespace envelope {
namespace {

using tool::equalsCaseless;
using tool::looksLikeSmtp;
using tool::OutlookStorage;
using Storage = tool::OutlookStorage;

// Message properties ([MS-OXPROPS]).
constexpr std::string_view kImportance = "0017";
constexpr std::string_view kMessageClass = "001A";
constexpr std::string_view kSubject = "0037";
constexpr std::string_view kClientSubmitTime = "0039";
constexpr std::string_view kSentRepresentingName = "0042";
constexpr std::string_view kStartDate = "0060";
constexpr std::string_view kEndDate = "0061";
constexpr std::string_view kSentRepresentingAddrType = "0064";
constexpr std::string_view kSentRepresentingEmail = "0065";
constexpr std::string_view kSenderName = "0C1A";
constexpr std::string_view kSenderAddrType = "0C1E";
constexpr std::string_view kSenderEmail = "0C1F";
constexpr std::string_view kDisplayBcc = "0E02";
constexpr std::string_view kDisplayCc = "0E03";
constexpr std::string_view kDisplayTo = "0E04";
constexpr std::string_view kDeliveryTime = "0E06";
constexpr std::string_view kReportText = "1001";
constexpr std::string_view kDisplayName = "3001";
constexpr std::string_view kSenderSmtp = "5D01";
constexpr std::string_view kSentRepresentingSmtp = "5D02";
constexpr std::string_view kRecipientDisplayName = "5FF6";
// About twenty lines of the header's values.
constexpr std::size_t kLongRowBytes = 2000;

// An attachment's name: its long file name, else its file name, else its
// display name; an empty one counts as none.
std::optional<std::string> nameOf(const TextReader& text, const OutlookStorage::Attachment& a) {
    for (std::string_view id : {OutlookStorage::PR_ATTACH_LONG_FILENAME,
                                OutlookStorage::PR_ATTACH_FILENAME, kDisplayName}) {
        if (auto name = text.nonEmpty(a, id)) {
            return name;
        }
    }
    return std::nullopt;
}

// An embedded message's name: the one its attachment gave it, else its
// subject.
std::optional<std::string> nameOf(const TextReader& text, const Message& embedded,
                                  const CodePageDecoder& decode) {
    std::optional<std::string> name;
    if (const auto& raw = embedded.AttachmentName()) {
        name = text.fromRaw(*raw);
    }
    if (!name || name->empty()) {
        name = TextReader(embedded, decode).nonEmpty(embedded, kSubject);
    }
    return name;
}

bool startsWithCaseless(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && equalsCaseless(text.substr(0, prefix.size()), prefix);
}

// "Name <address>", or whichever of the two there is.

// A person the message names by a display name, an SMTP address, and an
// address of another kind (Exchange's "/O=...") with its type.
struct Person {
    std::optional<std::string> name;
    std::optional<std::string> smtp;
    std::optional<std::string> other;

    // The SMTP address; the other kind only when there is none.
    std::string shown() const { return nameAndAddress(name, smtp ? smtp : other); }
    bool empty() const { return !name && !smtp && !other; }
    bool sameAs(const Person& p) const {
        const auto key = [](const Person& x) { return x.smtp ? x.smtp : x.other; };
        if (key(*this) && key(p)) {
            return equalsCaseless(*key(*this), *key(p));
        }
        return name == p.name;
    }
};

Person personOf(const TextReader& reader, const Message& m, std::string_view nameId,
                std::string_view smtpId, std::string_view emailId, std::string_view typeId) {
    Person p;
    p.name = reader.nonEmpty(m, nameId);
    p.smtp = reader.nonEmpty(m, smtpId);
    auto email = reader.nonEmpty(m, emailId);
    if (email) {
        const auto type = reader.nonEmpty(m, typeId);
        const bool smtp = (type && equalsCaseless(*type, "SMTP")) || looksLikeSmtp(*email);
        if (!p.smtp && smtp) {
            p.smtp = std::move(email);
        } else if (!smtp) {
            p.other = std::move(email);
        }
    }
    return p;
}

// ---------------------------------------------------------------------------
// Building the rows

class HeaderBuilder {
public:
    HeaderBuilder(const Message& message, const CodePageDecoder& decode, const Options& options)
        : m_message(message), m_decode(decode), m_text(message, decode), m_options(options) {
        m_text.setMessage(&message);
    }

    Header build() {
        const std::string messageClass = m_text.text(m_message, kMessageClass).value_or("");
        m_kind = kindOf(messageClass);
        Person sender =
            personOf(m_text, m_message, kSenderName, kSenderSmtp, kSenderEmail, kSenderAddrType);
        Person representing =
            personOf(m_text, m_message, kSentRepresentingName, kSentRepresentingSmtp,
                     kSentRepresentingEmail, kSentRepresentingAddrType);
        resolveTwin(sender, representing);
        resolveTwin(representing, sender);
        const auto subject = m_text.nonEmpty(m_message, kSubject);

        if (m_kind == ItemKind::Contact) {
            m_header.title =
                m_text.nonEmpty(m_message, kDisplayName).value_or(subject.value_or(""));
        } else {
            const Person& shown = representing.empty() ? sender : representing;
            m_header.title = shown.name ? *shown.name : shown.shown();
        }

        if (!sender.empty() || !representing.empty()) {
            std::string from;
            if (sender.empty() || representing.empty() || sender.sameAs(representing)) {
                from = (representing.empty() ? sender : representing).shown();
            } else {
                from = sender.shown() + " on behalf of " + representing.shown();
            }
            add(m_kind == ItemKind::Appointment ? "Organizer:" : "From:", from);
        }
        addSent();
        addRecipients();
        add("Subject:", subject.value_or(""));
        guarded([&] { addKindFields(); });
        addAttachments();
        if (const auto importance = m_message.FindPropertyStreamInt32(kImportance);
            importance && *importance == 2) {
            add("Importance:", "High");
        }
        if (m_header.title.empty()) {
            m_header.title = subject.value_or("");
        }
        // A recipient list of pages (a mail to a thousand people) goes last,
        // whole, so that the subject and the rest still open the first page.
        std::stable_partition(m_header.rows.begin(), m_header.rows.end(),
                              [](const Row& row) { return row.value.size() <= kLongRowBytes; });
        return std::move(m_header);
    }

private:
    void add(std::string label, std::string value) {
        if (!value.empty()) {
            m_header.rows.push_back({std::move(label), std::move(value)});
        }
    }

    // An optional part of the header whose reading failed is left out with a
    // warning; the rest stands.
    template <typename F>
    void guarded(F&& part) {
        try {
            part();
        } catch (const std::exception& e) {
            m_header.warnings.push_back(
                std::string("the header leaves out fields it cannot read (") + e.what() + ")");
        }
    }

    std::optional<std::string> timeOf(const OutlookStorage& s, std::string_view id,
                                      bool withTimeOfDay = true) const {
        const auto ft = s.GetMapiPropertyTime(id);
        return ft ? formatTime(*ft, m_options.timeZone, withTimeOfDay) : std::nullopt;
    }

    // A date that stands for a day, not an instant (a task's due date): the
    // day it names, whatever the zone.
    std::optional<std::string> dayOf(std::string_view id) const {
        const auto ft = m_message.GetMapiPropertyTime(id);
        return ft ? formatTime(*ft, "UTC", false) : std::nullopt;
    }

    // A person known only by an Exchange address often has an SMTP twin: the
    // same Exchange address with an SMTP address, as the other sender field
    // or a recipient (a sender in the recipient table of their own item).
    void resolveTwin(Person& p, const Person& other) const {
        if (p.smtp || !p.other) {
            return;
        }
        if (other.smtp && other.other && equalsCaseless(*other.other, *p.other)) {
            p.smtp = other.smtp;
            return;
        }
        for (const auto& recipient : m_message.Recipients()) {
            const auto x500 = recipient->EmailAddress();
            if (x500 && equalsCaseless(*x500, *p.other)) {
                if (auto smtp = recipient->SmtpAddress(); smtp && !smtp->empty()) {
                    p.smtp = std::move(smtp);
                    return;
                }
            }
        }
    }

    void addSent() {
        auto sent = timeOf(m_message, kClientSubmitTime);
        auto fileTime = m_message.GetMapiPropertyTime(kClientSubmitTime);
        if (!sent) {
            sent = timeOf(m_message, kDeliveryTime);
            fileTime = m_message.GetMapiPropertyTime(kDeliveryTime);
        }
        if (sent && fileTime) {
            m_header.sentSeconds = fileTimeToUnixSeconds(*fileTime);
        }
        const bool mailLike = m_kind == ItemKind::Mail || m_kind == ItemKind::Meeting ||
                              m_kind == ItemKind::Report || m_kind == ItemKind::Other;
        if (sent) {
            add("Sent:", *sent);
        } else if (mailLike) {
            // A draft: never a made-up date.
            add("Sent:", "(not sent)");
        }
    }

    void addRecipients() {
        std::vector<std::string> byType[4];
        for (const auto& recipient : m_message.Recipients()) {
            const auto type = recipient->TypeNumber();
            if (!type || *type < 1 || *type > 3) {
                continue;
            }
            Person p;
            p.name = m_text.nonEmpty(*recipient, kDisplayName);
            if (!p.name) {
                p.name = m_text.nonEmpty(*recipient, kRecipientDisplayName);
            }
            p.smtp = recipient->SmtpAddress();
            if (p.smtp && p.smtp->empty()) {
                p.smtp.reset();
            }
            if (!p.smtp) {
                p.other = m_text.nonEmpty(*recipient, OutlookStorage::PR_EMAIL_ADDRESS);
            }
            if (!p.empty()) {
                byType[*type].push_back(p.shown());
            }
        }
        const bool attendees = m_kind == ItemKind::Appointment;
        const struct {
            int type;
            const char* label;
            const char* attendeeLabel;
            std::string_view display;
        } rows[] = {{1, "To:", "Required Attendees:", kDisplayTo},
                    {2, "Cc:", "Optional Attendees:", kDisplayCc},
                    {3, "Bcc:", "Resources:", kDisplayBcc}};
        for (const auto& row : rows) {
            std::string value = joined(byType[row.type], "; ");
            if (value.empty()) {
                value = m_text.nonEmpty(m_message, row.display).value_or("");
            }
            add(attendees ? row.attendeeLabel : row.label, std::move(value));
        }
    }

    void addAttachments() {
        std::vector<std::string> names;
        for (const auto& attachment : m_message.Attachments()) {
            if (attachment.get() == m_options.contentCarrier) {
                names.insert(names.end(), m_options.contentAttachments.begin(),
                             m_options.contentAttachments.end());
                continue;
            }
            const auto contentId = attachment->ContentId();
            if (contentId && !contentId->empty() &&
                std::find(m_options.shownContentIds.begin(), m_options.shownContentIds.end(),
                          *contentId) != m_options.shownContentIds.end()) {
                continue;
            }
            std::string entry = nameOf(m_text, *attachment).value_or("(unnamed attachment)");
            if (const auto size = attachment->DataSize()) {
                entry += " (" + sizeText(*size) + ")";
            }
            names.push_back(std::move(entry));
        }
        for (const auto& embedded : m_message.Messages()) {
            std::string entry = nameOf(m_text, *embedded, m_decode).value_or("(message)");
            if (const auto size = embedded->AttachmentSize(); size && *size > 0) {
                entry += " (" + sizeText(static_cast<std::uint64_t>(*size)) + ")";
            }
            names.push_back(std::move(entry));
        }
        add("Attachments:", joined(names, "; "));
    }

    using NamedMap = OutlookStorage::NamedPropertyMap;
    void addKindFields();
    void addAppointmentFields(const NamedMap& map);
    void addContactFields(const NamedMap& map);
    void addTaskFields(const NamedMap& map);
    // The text and the time of a named property; "" and nothing when absent.
    std::string namedText(const NamedMap& map, const OutlookStorage::Guid& set,
                          std::uint32_t longId) const;
    std::optional<std::int64_t> namedTime(const NamedMap& map, const OutlookStorage::Guid& set,
                                          std::uint32_t longId) const;

    const Message& m_message;
    const CodePageDecoder& m_decode;
    TextReader m_text;
    const Options& m_options;
    ItemKind m_kind = ItemKind::Other;
    Header m_header;
};

// A named property's identifier in this file, or nothing.
std::optional<std::string> named(const OutlookStorage::NamedPropertyMap& map,
                                 const OutlookStorage::Guid& set, std::uint32_t longId) {
    return map.Find(set, longId);
}

// The date part of formatTime's text ("Tuesday, 8 December 2026").
std::string_view datePart(std::string_view text) {
    return text.substr(0, text.rfind(' '));
}

void HeaderBuilder::addKindFields() {
    if (m_kind == ItemKind::Report) {
        add("Report:", m_text.nonEmpty(m_message, kReportText).value_or(""));
        return;
    }
    if (m_kind != ItemKind::Appointment && m_kind != ItemKind::Meeting &&
        m_kind != ItemKind::Contact && m_kind != ItemKind::Task) {
        return;
    }
    const NamedMap map = m_message.NamedProperties();
    switch (m_kind) {
        case ItemKind::Appointment:
        case ItemKind::Meeting:
            addAppointmentFields(map);
            break;
        case ItemKind::Contact:
            addContactFields(map);
            break;
        case ItemKind::Task:
            addTaskFields(map);
            break;
        default:
            break;
    }
}

std::string HeaderBuilder::namedText(const NamedMap& map, const OutlookStorage::Guid& set,
                                     std::uint32_t longId) const {
    const auto id = named(map, set, longId);
    return id ? m_text.nonEmpty(m_message, *id).value_or("") : std::string();
}

std::optional<std::int64_t> HeaderBuilder::namedTime(const NamedMap& map,
                                                     const OutlookStorage::Guid& set,
                                                     std::uint32_t longId) const {
    const auto id = named(map, set, longId);
    return id ? m_message.GetMapiPropertyTime(*id) : std::nullopt;
}

void HeaderBuilder::addAppointmentFields(const NamedMap& map) {
    const auto& set = OutlookStorage::PSETID_Appointment;
    auto start = namedTime(map, set, 0x820D);  // PidLidAppointmentStartWhole
    auto end = namedTime(map, set, 0x820E);    // PidLidAppointmentEndWhole
    if (!start) {
        start = m_message.GetMapiPropertyTime(kStartDate);
    }
    if (!end) {
        end = m_message.GetMapiPropertyTime(kEndDate);
    }
    const auto allDayId = named(map, set, 0x8215);  // PidLidAppointmentSubType
    const bool allDay = allDayId && m_message.GetMapiPropertyBool(*allDayId).value_or(false);
    std::string when;
    if (const auto from = start ? formatTime(*start, m_options.timeZone, !allDay) : std::nullopt) {
        when = *from;
        // An all-day event ends at the midnight after its last day.
        constexpr std::int64_t kDay = 864'000'000'000;
        const auto to = end ? formatTime(allDay ? *end - kDay : *end, m_options.timeZone, !allDay)
                            : std::nullopt;
        if (to && *to != *from) {
            when += !allDay && datePart(*to) == datePart(*from)
                        ? " \u2013 " + to->substr(to->rfind(' ') + 1)
                        : " \u2013 " + *to;
        }
        if (allDay) {
            when += " (all day)";
        }
    }
    add("When:", when);
    add("Location:", namedText(map, set, 0x8208));     // PidLidLocation
    const auto recurringId = named(map, set, 0x8223);  // PidLidRecurring
    const bool recurring =
        recurringId && m_message.GetMapiPropertyBool(*recurringId).value_or(false);
    if (recurring) {
        const std::string pattern = namedText(map, set, 0x8232);  // PidLidRecurrencePattern
        add("Recurrence:", pattern.empty() ? "Recurring" : pattern);
    }
}

void HeaderBuilder::addContactFields(const NamedMap& map) {
    const auto& set = OutlookStorage::PSETID_Address;
    add("Full Name:", m_text.nonEmpty(m_message, kDisplayName).value_or(""));
    add("Company:", m_text.nonEmpty(m_message, "3A16").value_or(""));
    add("Job Title:", m_text.nonEmpty(m_message, "3A17").value_or(""));
    add("Department:", m_text.nonEmpty(m_message, "3A18").value_or(""));
    // PidLidEmail1..3: the address, else the name it is shown by.
    const struct {
        const char* label;
        std::uint32_t address;
        std::uint32_t display;
    } emails[] = {
        {"E-mail:", 0x8083, 0x8080}, {"E-mail 2:", 0x8093, 0x8090}, {"E-mail 3:", 0x80A3, 0x80A0}};
    for (const auto& e : emails) {
        std::string value = namedText(map, set, e.address);
        add(e.label, value.empty() ? namedText(map, set, e.display) : value);
    }
    const struct {
        const char* label;
        std::string_view id;
    } phones[] = {{"Business:", "3A08"},     {"Business 2:", "3A1B"}, {"Business Fax:", "3A24"},
                  {"Company Main:", "3A57"}, {"Primary:", "3A1A"},    {"Home:", "3A09"},
                  {"Home 2:", "3A2F"},       {"Home Fax:", "3A25"},   {"Mobile:", "3A1C"},
                  {"Pager:", "3A21"},        {"Car:", "3A1E"},        {"Assistant:", "3A2E"},
                  {"Callback:", "3A02"},     {"Other:", "3A1F"},      {"Other Fax:", "3A23"},
                  {"ISDN:", "3A2D"},         {"Radio:", "3A1D"},      {"Telex:", "3A2C"},
                  {"TTY/TDD:", "3A4B"}};
    for (const auto& phone : phones) {
        add(phone.label, m_text.nonEmpty(m_message, phone.id).value_or(""));
    }
    add("Business Address:", namedText(map, set, 0x801B));  // PidLidWorkAddress
    add("Home Address:", namedText(map, set, 0x801A));      // PidLidHomeAddress
    add("Other Address:", namedText(map, set, 0x801C));     // PidLidOtherAddress
    std::string web = namedText(map, set, 0x802B);          // PidLidHtml
    add("Web Page:", web.empty() ? m_text.nonEmpty(m_message, "3A51").value_or("") : web);
    add("IM Address:", namedText(map, set, 0x8062));  // PidLidInstantMessagingAddress
    if (const auto birthday = m_message.GetMapiPropertyTime("3A42")) {
        add("Birthday:", formatTime(*birthday, "UTC", false).value_or(""));
    }
}

void HeaderBuilder::addTaskFields(const NamedMap& map) {
    const auto& set = OutlookStorage::PSETID_Task;
    const auto day = [&](std::uint32_t longId) {
        const auto ft = namedTime(map, set, longId);
        return ft ? formatTime(*ft, "UTC", false).value_or("") : std::string();
    };
    add("Start Date:", day(0x8104));                // PidLidTaskStartDate
    add("Due Date:", day(0x8105));                  // PidLidTaskDueDate
    if (const auto id = named(map, set, 0x8101)) {  // PidLidTaskStatus
        static constexpr const char* kStatus[] = {"Not Started", "In Progress", "Completed",
                                                  "Waiting on someone else", "Deferred"};
        const auto status = m_message.FindPropertyStreamInt32(*id);
        if (status && *status >= 0 && *status <= 4) {
            add("Status:", kStatus[*status]);
        }
    }
    if (const auto id = named(map, set, 0x8102)) {  // PidLidPercentComplete
        const auto share = m_message.GetMapiPropertyDouble(*id);
        if (share && std::isfinite(*share) && *share >= 0 && *share <= 1) {
            add("% Complete:", std::to_string(std::lround(*share * 100)) + "%");
        }
    }
    add("Date Completed:", day(0x810F));         // PidLidTaskDateCompleted
    add("Owner:", namedText(map, set, 0x811F));  // PidLidTaskOwner
}

// Text on one line of the header text: a line break becomes U+2028 where
// `breaks` (values), a space elsewhere; a tab becomes a space, other control
// characters are dropped.
std::string oneLine(std::string_view text, bool breaks) {
    static constexpr std::string_view kLineSeparator = "\xE2\x80\xA8";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            out += breaks ? kLineSeparator : " ";
        } else if (c == '\t') {
            out += ' ';
        } else if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F) {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::optional<std::string> attachmentName(const Message& message,
                                          const tool::OutlookStorage::Attachment& attachment,
                                          const CodePageDecoder& decode) {
    return nameOf(TextReader(message, decode), attachment);
}

std::optional<std::string> embeddedMessageName(const Message& owner, const Message& embedded,
                                               const CodePageDecoder& decode) {
    return nameOf(TextReader(owner, decode), embedded, decode);
}

std::string sizeText(std::uint64_t bytes) {
    char text[32];
    if (bytes >= std::uint64_t{1024} * 1024) {
        std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    } else {
        std::snprintf(
            text, sizeof text, "%llu KB",
            static_cast<unsigned long long>(std::max<std::uint64_t>(1, (bytes + 1023) / 1024)));
    }
    return text;
}

ItemKind kindOf(std::string_view messageClass) {
    if (startsWithCaseless(messageClass, "IPM.Appointment")) {
        return ItemKind::Appointment;
    }
    if (startsWithCaseless(messageClass, "IPM.Schedule.Meeting")) {
        return ItemKind::Meeting;
    }
    if (startsWithCaseless(messageClass, "IPM.Contact") ||
        startsWithCaseless(messageClass, "IPM.DistList")) {
        return ItemKind::Contact;
    }
    if (startsWithCaseless(messageClass, "IPM.Task")) {
        return ItemKind::Task;
    }
    if (startsWithCaseless(messageClass, "REPORT.")) {
        return ItemKind::Report;
    }
    if (messageClass.empty() || equalsCaseless(messageClass, "IPM") ||
        startsWithCaseless(messageClass, "IPM.Note") ||
        startsWithCaseless(messageClass, "IPM.Post")) {
        return ItemKind::Mail;
    }
    return ItemKind::Other;
}

}  // namespace envelope

namespace envelope {

Header describe(const Message& message, const CodePageDecoder& decode, const Options& options) {
    return HeaderBuilder(message, decode, options).build();
}

std::string toText(const Header& header) {
    std::string text = oneLine(header.title, false);
    for (const Row& row : header.rows) {
        text += '\n';
        text += oneLine(row.label, false);
        text += '\t';
        text += oneLine(row.value, true);
    }
    return text;
}

}  // namespace envelope
