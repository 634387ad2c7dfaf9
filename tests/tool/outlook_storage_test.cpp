// The message model over files built by the fixture: the two lookup stages,
// text decoding, recipients, attachments and embedded messages, saving, and
// the failures loading can meet.

#include <common/file_bytes.h>
#include <msg/outlook_storage.h>
#include <msg_builder/msg_builder.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using msg_builder::Bytes;
using msg_builder::MessageBuilder;
using tool::Message;
using tool::OutlookStorage;
using tool::RecipientType;

template <typename E>
std::string errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    }
    return "(no error)";
}

// --- Property lookup --------------------------------------------------------

TEST(PropertyLookup, FirstElementInListingOrderWinsWhenBoth8BitAndUnicodeExist) {
    MessageBuilder m;
    m.unicode(0x0037, "from the Unicode element").string8(0x0037, "from the 8-bit element");
    const Message msg(m.build());
    // "...001E" lists before "...001F".
    EXPECT_EQ(msg.Subject(), "from the 8-bit element");
}

TEST(PropertyLookup, EightBitTextThatIsNotUtf8DecodesToReplacementCharacters) {
    MessageBuilder m;
    m.string8(0x0037, "caf\xE9 ok").string8(0x0C1A, "Z\xC3\xBCrich");
    const Message msg(m.build());
    EXPECT_EQ(msg.Subject(), "caf\xEF\xBF\xBD ok");
    EXPECT_EQ(msg.From(), "Z\xC3\xBCrich");
}

TEST(PropertyLookup, UnicodeTextIncludingSurrogatePairsDecodes) {
    MessageBuilder m;
    m.unicode(0x1000, "body \xF0\x9F\x98\x80 \xE4\xB8\xAD");
    EXPECT_EQ(Message(m.build()).BodyText(), "body \xF0\x9F\x98\x80 \xE4\xB8\xAD");
}

TEST(PropertyLookup, PropertyStreamGivesSigned16And32BitValuesAtTheHeaderOffset) {
    MessageBuilder m;
    m.int16(0x0017, -2).int32(0x0E07, -100000).int32(0x3FFD, 1252).int32(0x3FDE, 65001);
    const Message msg(m.build());
    EXPECT_EQ(msg.GetMapiPropertyInt16("0017"), -2);
    EXPECT_EQ(msg.GetMapiPropertyInt32("0E07"), -100000);
    EXPECT_EQ(msg.MessageCodepage(), 1252u);
    EXPECT_EQ(msg.InternetCodepage(), 65001u);
    EXPECT_THROW(msg.GetMapiPropertyInt32("0017"), tool::PropertyError);  // 16-bit, not 32
    EXPECT_THROW(msg.GetMapiPropertyInt32("0E08"), tool::PropertyError);  // absent
}

TEST(PropertyLookup, UnsupportedTypesAreRefusedWithTheFixedText) {
    MessageBuilder m;
    m.entry(0x000B, 0x0E1F, 1);                     // PT_BOOLEAN entry
    m.stream("__substg1.0_00390040", Bytes(8, 1));  // PT_SYSTIME element
    const Message msg(m.build());
    const std::string text = "MAPI property has an unsupported type and can not be retrieved.";
    EXPECT_EQ(errorOf<common::FormatError>([&] { msg.GetMapiProperty("0E1F"); }), text);
    EXPECT_EQ(errorOf<common::FormatError>([&] { msg.GetMapiProperty("0039"); }), text);
    // The entry's offset in the property stream; an element has no place
    // within its bytes (its type is in its name).
    const auto offsetOf = [&](const char* id) {
        try {
            msg.GetMapiProperty(id);
        } catch (const common::FormatError& e) {
            return e.offset();
        }
        return SIZE_MAX;
    };
    EXPECT_EQ(offsetOf("0E1F"), 32u);
    EXPECT_EQ(offsetOf("0039"), 0u);
}

TEST(PropertyLookup, TypedReadsFailInOneFormNamingWhatThePropertyIs) {
    MessageBuilder m;
    m.unicode(0x0037, "subject").binary(0x0E07, {1}).int16(0x0017, 2).int32(0x0E08, 3);
    m.addAttachment().int32(0x3705, 1).storage("__substg1.0_3702000D");
    const Message msg(m.build());
    const auto failure = [](const std::function<void()>& read) {
        return errorOf<tool::PropertyError>(read);
    };
    EXPECT_EQ(failure([&] { msg.GetMapiPropertyInt32("0017"); }),
              "property 0017 is a 16-bit integer, not a 32-bit integer");
    EXPECT_EQ(failure([&] { msg.GetMapiPropertyInt16("0E08"); }),
              "property 0E08 is a 32-bit integer, not a 16-bit integer");
    EXPECT_EQ(failure([&] { msg.GetMapiPropertyInt32("0037"); }),
              "property 0037 is text, not a 32-bit integer");
    EXPECT_EQ(failure([&] { msg.GetMapiPropertyInt16("0E07"); }),
              "property 0E07 is bytes, not a 16-bit integer");
    EXPECT_EQ(failure([&] { msg.GetMapiPropertyBytes("0037"); }),
              "property 0037 is text, not bytes");
    EXPECT_EQ(failure([&] { msg.GetMapiPropertyBytes("0E08"); }),
              "property 0E08 is a 32-bit integer, not bytes");
    EXPECT_EQ(failure([&] { msg.GetMapiPropertyInt16("0E09"); }), "property 0E09 is absent");
    EXPECT_EQ(failure([&] { msg.GetMapiPropertyInt32("0E09"); }), "property 0E09 is absent");
    const auto& attachment = *msg.Attachments().at(0);
    EXPECT_EQ(failure([&] { attachment.GetMapiPropertyBytes("3702"); }),
              "property 3702 is an embedded storage, not bytes");
    // The designed results that are not failures: a string read of another
    // kind, and a bytes read of an absent property, give nothing.
    EXPECT_EQ(msg.GetMapiPropertyString("0E07"), std::nullopt);
    EXPECT_EQ(msg.GetMapiPropertyString("0E08"), std::nullopt);
    EXPECT_EQ(msg.GetMapiPropertyString("0E09"), std::nullopt);
    EXPECT_EQ(msg.GetMapiPropertyBytes("0E09"), std::nullopt);
}

TEST(PropertyLookup, ElementStageHidesThePropertyStream) {
    MessageBuilder m;
    m.binary(0x0E07, {1, 2}).int32(0x0E07, 5);
    const Message msg(m.build());
    EXPECT_EQ(msg.GetMapiPropertyBytes("0E07"), (Bytes{1, 2}));
    EXPECT_THROW(msg.GetMapiPropertyInt32("0E07"), tool::PropertyError);
}

TEST(PropertyLookup, TruncatedPropertyStreamEntryIsNamed) {
    MessageBuilder m;
    m.withoutPropertyStream();
    Bytes props(32 + 16 + 6);
    props[32] = 0x03;  // PT_LONG 0E07, whole
    props[34] = 0x07;
    props[35] = 0x0E;
    props[48] = 0x03;  // PT_LONG 0E08, cut after its flags' first two bytes
    props[50] = 0x08;
    props[51] = 0x0E;
    m.stream("__properties_version1.0", props);
    const Message msg(m.build());
    EXPECT_EQ(msg.GetMapiPropertyInt32("0E07"), 0);
    EXPECT_FALSE(msg.GetMapiProperty("0E09"));  // a short entry that is not asked for is passed
    const std::string err = errorOf<common::FormatError>([&] { msg.GetMapiProperty("0E08"); });
    EXPECT_EQ(err.rfind("property stream of 54 bytes ends inside the entry for 0E08: ", 0), 0u)
        << err;
}

// A property stream: the header, then entries (type, identifier, 8 value
// bytes), the last cut to `lastBytes` of its 16.
Bytes propertyStream(std::size_t header,
                     const std::vector<std::pair<std::uint16_t, std::uint16_t>>& entries,
                     std::size_t lastBytes) {
    Bytes out(header, 0);
    for (const auto& [type, id] : entries) {
        Bytes e(16, 0);
        e[0] = static_cast<std::uint8_t>(type);
        e[1] = static_cast<std::uint8_t>(type >> 8);
        e[2] = static_cast<std::uint8_t>(id);
        e[3] = static_cast<std::uint8_t>(id >> 8);
        e[8] = 7;  // the value
        out.insert(out.end(), e.begin(), e.end());
    }
    out.resize(out.size() - 16 + lastBytes);
    return out;
}

// Every read that looks in the property stream, by name.
const std::vector<std::pair<const char*, std::function<void(const OutlookStorage&, const char*)>>>
    kPropertyStreamReads = {
        {"GetMapiProperty", [](const OutlookStorage& s, const char* id) { s.GetMapiProperty(id); }},
        {"GetMapiPropertyString",
         [](const OutlookStorage& s, const char* id) { s.GetMapiPropertyString(id); }},
        {"GetMapiPropertyBytes",
         [](const OutlookStorage& s, const char* id) { s.GetMapiPropertyBytes(id); }},
        {"GetMapiPropertyInt16",
         [](const OutlookStorage& s, const char* id) { s.GetMapiPropertyInt16(id); }},
        {"GetMapiPropertyInt32",
         [](const OutlookStorage& s, const char* id) { s.GetMapiPropertyInt32(id); }},
        {"FindPropertyStreamInt32",
         [](const OutlookStorage& s, const char* id) { s.FindPropertyStreamInt32(id); }},
        {"FindPropertyStreamEntry",
         [](const OutlookStorage& s, const char* id) { s.FindPropertyStreamEntry(id); }},
        {"GetMapiPropertyTime",
         [](const OutlookStorage& s, const char* id) { s.GetMapiPropertyTime(id); }},
        {"GetMapiPropertyBool",
         [](const OutlookStorage& s, const char* id) { s.GetMapiPropertyBool(id); }},
        {"GetMapiPropertyDouble",
         [](const OutlookStorage& s, const char* id) { s.GetMapiPropertyDouble(id); }},
};

// What a read of id throws: the text and offset of a FormatError, or "".
std::pair<std::string, std::size_t> formatErrorOf(const std::function<void()>& read) {
    try {
        read();
    } catch (const common::FormatError& e) {
        return {e.what(), e.offset()};
    } catch (const std::exception&) {
        // absent or of another kind: not the damage asked about
    }
    return {"", 0};
}

TEST(PropertyLookup, EveryReadOfThePropertyStreamRefusesTheEntryItAsksForWhenCutShort) {
    // Top level (32-byte header) and a recipient (8 bytes), the cut entry
    // after two whole ones; cut inside its flags, inside its value, and one
    // byte short.
    for (const std::size_t lastBytes : {6u, 10u, 15u}) {
        MessageBuilder m;
        m.withoutPropertyStream().stream(
            "__properties_version1.0",
            propertyStream(32, {{0x0003, 0x0E07}, {0x0002, 0x0017}, {0x0003, 0x0E08}}, lastBytes));
        m.addRecipient().withoutPropertyStream().stream(
            "__properties_version1.0",
            propertyStream(8, {{0x0003, 0x3A40}, {0x0003, 0x0C15}}, lastBytes));
        const Message msg(m.build());
        const OutlookStorage& recipient = *msg.Recipients().at(0);
        const std::string held = std::to_string(lastBytes) + " of its 16 bytes";
        for (const auto& [name, read] : kPropertyStreamReads) {
            SCOPED_TRACE(std::string(name) + ", " + held);
            EXPECT_EQ(formatErrorOf([&] { read(msg, "0E08"); }),
                      std::make_pair("property stream of " + std::to_string(64 + lastBytes) +
                                         " bytes ends inside the entry for 0E08: the entry at "
                                         "offset 64 has " +
                                         held,
                                     std::size_t{64}));
            EXPECT_EQ(formatErrorOf([&] { read(recipient, "0C15"); }),
                      std::make_pair("property stream of " + std::to_string(24 + lastBytes) +
                                         " bytes ends inside the entry for 0C15: the entry at "
                                         "offset 24 has " +
                                         held,
                                     std::size_t{24}));
            // The whole entries before it, and identifiers it does not hold,
            // read as before.
            EXPECT_EQ(formatErrorOf([&] { read(msg, "0E07"); }).first, "");
            EXPECT_EQ(formatErrorOf([&] { read(msg, "0E09"); }).first, "");
            EXPECT_EQ(formatErrorOf([&] { read(recipient, "3A40"); }).first, "");
        }
        EXPECT_EQ(msg.GetMapiPropertyInt32("0E07"), 7);
        EXPECT_EQ(msg.GetMapiPropertyInt16("0017"), 7);
        EXPECT_FALSE(msg.FindPropertyStreamInt32("0E09"));
        EXPECT_THROW(msg.Recipients()[0]->TypeNumber(), common::FormatError);
        EXPECT_THROW(msg.Recipients()[0]->Type(), common::FormatError);
    }
}

TEST(PropertyLookup, AnEntryCutBeforeItsIdentifierFailsEveryReadThatReachesIt) {
    for (const std::size_t lastBytes : {1u, 3u}) {
        MessageBuilder m;
        m.withoutPropertyStream().stream(
            "__properties_version1.0",
            propertyStream(32, {{0x0003, 0x0E07}, {0x0003, 0x0E08}}, lastBytes));
        const Message msg(m.build());
        for (const auto& [name, read] : kPropertyStreamReads) {
            SCOPED_TRACE(name);
            EXPECT_EQ(formatErrorOf([&] { read(msg, "0E09"); }),
                      std::make_pair("property stream of " + std::to_string(48 + lastBytes) +
                                         " bytes ends inside the entry at offset 48, before its "
                                         "identifier: " +
                                         std::to_string(lastBytes) + " of its 16 bytes",
                                     std::size_t{48}));
            EXPECT_EQ(formatErrorOf([&] { read(msg, "0E07"); }).first, "");  // found first
        }
    }
}

TEST(PropertyLookup, StreamAsStringHonoursAByteOrderMark) {
    MessageBuilder m;
    m.stream("plain", msg_builder::toBytes("abc"));
    m.stream("bom16", Bytes{0xFF, 0xFE, 'h', 0, 'i', 0});
    const Message msg(m.build());
    EXPECT_EQ(msg.GetStreamAsString("plain", OutlookStorage::Encoding::Utf8), "abc");
    EXPECT_EQ(msg.GetStreamAsString("bom16", OutlookStorage::Encoding::Utf8), "hi");
}

// --- Bodies -----------------------------------------------------------------

TEST(MessageBodies, RtfBodyKeepsBytesExactlyAndTheLegacyFormTurnsHighBytesIntoQuestionMarks) {
    const std::string rtf = "{\\rtf1\\ansi\\ansicpg1252 caf\xE9 \\'e9}";
    MessageBuilder m;
    m.rtfBody(rtf);
    const Message msg(m.build());
    const auto bytes = msg.BodyRTFBytes();
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), rtf);
    EXPECT_EQ(msg.BodyRTF(), "{\\rtf1\\ansi\\ansicpg1252 caf? \\'e9}");
}

TEST(MessageBodies, ZeroLengthRtfPropertyMeansNoBodyAndNoDecompression) {
    MessageBuilder m;
    m.binary(0x1009, {});
    const Message msg(m.build());
    EXPECT_FALSE(msg.BodyRTF());
    EXPECT_FALSE(msg.BodyRTFBytes());
}

TEST(MessageBodies, DamagedRtfBodyFailsWhenRead) {
    Bytes rtf = msg_builder::compressRTF("{\\rtf1 x}");
    rtf.back() ^= 0x55;
    MessageBuilder m;
    m.binary(0x1009, rtf);
    const Message msg(m.build());  // opening does not touch the body
    EXPECT_EQ(errorOf<common::FormatError>([&] { msg.BodyRTF(); }), "compressed-RTF CRC32 failed");
}

TEST(MessageBodies, HtmlBodyIsHandedOverAsStoredWithItsType) {
    MessageBuilder m;
    m.binary(0x1013, msg_builder::toBytes("<p>caf\xE9</p>"));
    const auto html = Message(m.build()).BodyHTML();
    ASSERT_TRUE(html);
    EXPECT_EQ(html->type, OutlookStorage::NativeMethods::PT_BINARY);
    EXPECT_EQ(html->bytes, msg_builder::toBytes("<p>caf\xE9</p>"));
}

// --- Recipients and attachments ----------------------------------------------

TEST(MessageParts, RecipientTypesAndEmailFallback) {
    MessageBuilder m;
    m.addRecipient()
        .unicode(0x3001, "To person")
        .unicode(0x39FE, "to@example.org")
        .int32(0x0C15, 1);
    m.addRecipient()
        .unicode(0x3001, "Cc person")
        .unicode(0x39FE, "")
        .unicode(0x403E, "cc@example.org")
        .int32(0x0C15, 2);
    m.addRecipient().unicode(0x3001, "Bcc person").int32(0x0C15, 3);
    const Message msg(m.build());
    ASSERT_EQ(msg.Recipients().size(), 3u);
    EXPECT_EQ(msg.Recipients()[0]->Type(), RecipientType::To);
    EXPECT_EQ(msg.Recipients()[0]->Email(), "to@example.org");
    EXPECT_EQ(msg.Recipients()[1]->Type(), RecipientType::CC);
    EXPECT_EQ(msg.Recipients()[1]->Email(), "cc@example.org");
    EXPECT_EQ(msg.Recipients()[2]->Type(), RecipientType::Unknown);
    EXPECT_EQ(msg.Recipients()[2]->DisplayName(), "Bcc person");
}

TEST(MessageParts, RecipientWithoutPropertyStreamLoadsButHasNoType) {
    MessageBuilder m;
    m.addRecipient().unicode(0x3001, "Nameless").withoutPropertyStream();
    const Message msg(m.build());
    ASSERT_EQ(msg.Recipients().size(), 1u);
    EXPECT_EQ(msg.Recipients()[0]->DisplayName(), "Nameless");
    EXPECT_EQ(errorOf<tool::PropertyError>([&] { msg.Recipients()[0]->Type(); }),
              "property 0C15 is absent");
}

TEST(MessageParts, AttachmentFileNameFallsBackOverEmptyAndAbsentNames) {
    MessageBuilder m;
    m.addAttachment().int32(0x3705, 1).unicode(0x3707, "long.txt").unicode(0x3704, "SHORT.TXT");
    m.addAttachment().int32(0x3705, 1).unicode(0x3707, "").unicode(0x3704, "SHORT.TXT");
    m.addAttachment().int32(0x3705, 1).unicode(0x3704, "").unicode(0x3001, "Display");
    m.addAttachment().int32(0x3705, 1);
    const Message msg(m.build());
    ASSERT_EQ(msg.Attachments().size(), 4u);
    EXPECT_EQ(msg.Attachments()[0]->Filename(), "long.txt");
    EXPECT_EQ(msg.Attachments()[1]->Filename(), "SHORT.TXT");
    EXPECT_EQ(msg.Attachments()[2]->Filename(), "Display");
    EXPECT_FALSE(msg.Attachments()[3]->Filename());
}

TEST(MessageParts, AttachmentGivesWhatCidImagesNeed) {
    const Bytes png = {0x89, 'P', 'N', 'G', 0, 1, 2};
    MessageBuilder m;
    m.addAttachment()
        .int32(0x3705, 1)
        .binary(0x3701, png)
        .unicode(0x3712, "img1@host")
        .unicode(0x370E, "image/png");
    const Message msg(m.build());
    const auto& a = *msg.Attachments().at(0);
    EXPECT_EQ(a.Data(), png);
    EXPECT_EQ(a.ContentId(), "img1@host");
    EXPECT_EQ(a.MimeTag(), "image/png");
}

TEST(MessageParts, AttachmentWithoutAttachMethodMakesLoadingFail) {
    MessageBuilder m;
    m.addAttachment().unicode(0x3707, "x.txt").withoutPropertyStream();
    EXPECT_EQ(errorOf<tool::PropertyError>([&] { Message msg(m.build()); }),
              "property 3705 is absent");
}

TEST(MessageParts, OtherSubStoragesAreOpenedAndIgnored) {
    MessageBuilder m;
    m.storage("__unexpected_storage").unicode(0x0037, "s");
    const Message msg(m.build());
    EXPECT_TRUE(msg.Recipients().empty());
    EXPECT_TRUE(msg.Attachments().empty());
    EXPECT_TRUE(msg.Messages().empty());
    EXPECT_EQ(msg.Subject(), "s");
}

// --- Embedded messages -------------------------------------------------------

MessageBuilder nestedTwice() {
    MessageBuilder top;
    top.unicode(0x0037, "top").int32(0x0E07, 11);
    top.addAttachment().int32(0x3705, 1).unicode(0x3707, "plain.txt").binary(0x3701, {1, 2, 3});
    auto& level1 = top.addAttachment().int32(0x3705, 5).embedded();
    level1.unicode(0x0037, "level 1").int32(0x0E07, 22).rtfBody("{\\rtf1 one}");
    level1.addRecipient().unicode(0x3001, "Inner").int32(0x0C15, 2);
    level1.addAttachment().int32(0x3705, 1).unicode(0x3707, "inner.bin");
    auto& level2 = level1.addAttachment().int32(0x3705, 5).embedded();
    level2.unicode(0x0037, "level 2").int32(0x0E07, 33);
    return top;
}

TEST(EmbeddedMessages, NestedTwiceEachWithHeader24AndTheFileAsTopParent) {
    const Message top(nestedTwice().build());
    ASSERT_EQ(top.Attachments().size(), 1u);
    ASSERT_EQ(top.Messages().size(), 1u);
    const Message& one = *top.Messages()[0];
    EXPECT_EQ(one.Subject(), "level 1");
    EXPECT_EQ(one.PropHeaderSize(), 24);
    EXPECT_EQ(one.GetMapiPropertyInt32("0E07"), 22);  // read at the 24-byte header
    EXPECT_EQ(&one.TopParent(), &top);
    EXPECT_FALSE(one.IsTopParent());
    EXPECT_EQ(one.Recipients().size(), 1u);
    EXPECT_EQ(one.Attachments().size(), 1u);
    EXPECT_EQ(one.BodyRTF(), "{\\rtf1 one}");
    ASSERT_EQ(one.Messages().size(), 1u);
    const Message& two = *one.Messages()[0];
    EXPECT_EQ(two.Subject(), "level 2");
    EXPECT_EQ(two.GetMapiPropertyInt32("0E07"), 33);
    EXPECT_EQ(&two.TopParent(), &top);
    EXPECT_EQ(two.ParentMessage(), &one);
}

TEST(EmbeddedMessages, AttachMethod5WithBinaryDataFailsLoading) {
    MessageBuilder m;
    m.addAttachment().int32(0x3705, 5).binary(0x3701, {1, 2});
    EXPECT_THROW(Message msg(m.build()), common::FormatError);
}

TEST(EmbeddedMessages, NestingBeyondTheLimitIsRefused) {
    MessageBuilder top;
    MessageBuilder* current = &top;
    for (int i = 0; i < OutlookStorage::kMaxEmbeddingDepth + 2; ++i) {
        current = &current->addAttachment().int32(0x3705, 5).embedded();
    }
    EXPECT_EQ(errorOf<common::FormatError>([&] { Message msg(top.build()); }),
              "embedded messages nest deeper than 32 levels");
}

// --- Saving -----------------------------------------------------------------

std::vector<std::string> tree(const cfb::Storage& s, const std::string& prefix = "") {
    std::vector<std::string> out;
    for (const auto& e : s.elements()) {
        const std::string path = prefix + "/" + e.name;
        if (e.type == cfb::ElementType::Storage) {
            out.push_back(path);
            for (auto& line : tree(*s.openStorage(e.name), path))
                out.push_back(line);
        } else {
            const Bytes b = s.readStream(e.name);
            out.push_back(path + " " + std::to_string(b.size()) + " " +
                          std::string(b.begin(), b.end()));
        }
    }
    return out;
}

TEST(SavingMessages, TopLevelMessageIsWrittenUnchanged) {
    const Bytes original = nestedTwice().build();
    const Message top(original);
    std::stringstream out;
    top.Save(out);
    const std::string saved = out.str();
    const auto reread = cfb::CompoundFile::open(Bytes(saved.begin(), saved.end()));
    EXPECT_EQ(tree(*reread.root()), tree(*cfb::CompoundFile::open(original).root()));
}

TEST(SavingMessages, AnEmbeddedMessageWithoutItsWholeHeaderIsNotSaved) {
    MessageBuilder top;
    top.addAttachment().int32(0x3705, 5).embedded().withoutPropertyStream().stream(
        "__properties_version1.0", Bytes(20, 0));
    const Message msg(top.build());
    const Message& inner = *msg.Messages().at(0);
    try {
        inner.SaveToBytes();
        ADD_FAILURE() << "saved";
    } catch (const common::FormatError& e) {
        EXPECT_STREQ(e.what(),
                     "property stream of 20 bytes is shorter than the 24-byte header of an "
                     "embedded message");
        EXPECT_EQ(e.offset(), 20u);  // where it ends
    }
}

TEST(SavingMessages, EmbeddedMessageBecomesAStandaloneFile) {
    const Message top(nestedTwice().build());
    const Message& one = *top.Messages()[0];
    const fs::path file =
        fs::temp_directory_path() / ("orvaline-embedded-" + std::to_string(::getpid()) + ".msg");
    one.Save(file.string());
    const Message standalone(file.string());
    fs::remove(file);

    EXPECT_EQ(standalone.Subject(), "level 1");
    EXPECT_EQ(standalone.PropHeaderSize(), 32);
    EXPECT_EQ(standalone.GetMapiPropertyInt32("0E07"), 22);
    EXPECT_EQ(standalone.Messages().size(), 1u);
    EXPECT_EQ(standalone.Recipients().size(), 1u);
    // Header grown by 8 zero bytes at offset 24; entries unchanged after it.
    const Bytes before = one.GetStreamBytes(OutlookStorage::PROPERTIES_STREAM);
    const Bytes after = standalone.GetStreamBytes(OutlookStorage::PROPERTIES_STREAM);
    ASSERT_EQ(after.size(), before.size() + 8);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 24, after.begin()));
    EXPECT_EQ(Bytes(after.begin() + 24, after.begin() + 32), Bytes(8, 0));
    EXPECT_TRUE(std::equal(before.begin() + 24, before.end(), after.begin() + 32));
    // The named-property map comes from the top-level message.
    const auto nameid = standalone.Storage()->openStorage(OutlookStorage::NAMEID_STORAGE);
    EXPECT_EQ(tree(*nameid), tree(*top.Storage()->openStorage(OutlookStorage::NAMEID_STORAGE)));
}

// --- Opening and disposal ------------------------------------------------------

TEST(OpeningMessages, NonCompoundInputIsRefusedWithTheArgumentNamed) {
    const Bytes text = msg_builder::toBytes(std::string(600, 'x'));
    try {
        Message msg(text);
        ADD_FAILURE() << "opened";
    } catch (const tool::ArgumentError& e) {
        EXPECT_STREQ(e.what(), "The provided stream is not a valid IStorage");
        EXPECT_EQ(e.paramName(), "storageStream");
    }
    const fs::path file =
        fs::temp_directory_path() / ("orvaline-text-" + std::to_string(::getpid()) + ".msg");
    std::ofstream(file) << "hello";
    try {
        Message msg(file.string());
        ADD_FAILURE() << "opened";
    } catch (const tool::ArgumentError& e) {
        EXPECT_STREQ(e.what(), "The provided file is not a valid IStorage");
        EXPECT_EQ(e.paramName(), "storageFilePath");
    }
    fs::remove(file);
}

TEST(OpeningMessages, AFileThatCannotBeReadIsNamedWithTheSystemsReason) {
    const std::string missing =
        (fs::temp_directory_path() / ("orvaline-missing-" + std::to_string(::getpid()) + ".msg"))
            .string();
    EXPECT_EQ(errorOf<common::FileReadError>([&] { Message msg(missing); }),
              "cannot open \"" + missing + "\": No such file or directory");
    const std::string folder = fs::temp_directory_path().string();
    EXPECT_EQ(errorOf<common::FileReadError>([&] { Message msg(folder); }),
              "cannot read \"" + folder + "\": Is a directory");
}

TEST(OpeningMessages, OpensFromAStream) {
    MessageBuilder m;
    m.unicode(0x0037, "streamed");
    const Bytes bytes = m.build();
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(Message(in).Subject(), "streamed");
}

TEST(OpeningMessages, DisposeReleasesEveryStorageOnceAndOnlyOnce) {
    auto& registry = OutlookStorage::ReferenceManager::Instance();
    const std::size_t before = registry.Count();
    {
        Message top(nestedTwice().build());
        EXPECT_GT(registry.Count(), before);
        const Message& one = *top.Messages()[0];
        top.Dispose();
        EXPECT_TRUE(one.IsDisposed());
        EXPECT_EQ(registry.Count(), before);
        top.Dispose();
        EXPECT_THROW(top.Subject(), std::logic_error);
    }
    EXPECT_EQ(registry.Count(), before);
}

TEST(OpeningMessages, FailedOpenLeavesNothingRegistered) {
    auto& registry = OutlookStorage::ReferenceManager::Instance();
    const std::size_t before = registry.Count();
    MessageBuilder m;
    m.addRecipient().int32(0x0C15, 1);
    m.addAttachment().withoutPropertyStream();
    EXPECT_THROW(Message msg(m.build()), tool::PropertyError);
    EXPECT_EQ(registry.Count(), before);
}

}  // namespace

// --- Typed values, addresses and named properties ------------------------------

namespace {

// A message file whose "__nameid_version1.0" holds these three streams.
Bytes withNameid(const MessageBuilder& message, const Bytes& guids, const Bytes& entries,
                 const Bytes& strings) {
    cfb::MemoryCompoundFile file;
    message.writeTo(file.root(), false);
    cfb::MemoryStorage& nameid = file.root().createStorage("__nameid_version1.0");
    nameid.writeStream("__substg1.0_00020102", guids);
    nameid.writeStream("__substg1.0_00030102", entries);
    nameid.writeStream("__substg1.0_00040102", strings);
    return file.save();
}

void put32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

// One entry: a number (or string offset), and property index, GUID index and
// kind packed as [MS-OXMSG] packs them.
void putEntry(Bytes& out, std::uint32_t nameOrOffset, std::uint16_t propertyIndex,
              std::uint16_t guidIndex, bool isString) {
    put32(out, nameOrOffset);
    put32(out, static_cast<std::uint32_t>(propertyIndex) << 16 |
                   static_cast<std::uint32_t>(guidIndex) << 1 | (isString ? 1u : 0u));
}

}  // namespace

TEST(TypedProperties, TimesFlagsAndDoublesOfThePropertyStreamBesideTheDesignedLookup) {
    const std::uint64_t filetime = 0x01D4A1B2C3D4E5F6ULL;
    double share = 0.75;
    std::uint64_t shareBits = 0;
    std::memcpy(&shareBits, &share, sizeof share);
    MessageBuilder m;
    m.entry(0x0040, 0x0039, filetime)
        .entry(0x000B, 0x8001, 0xFFFF0000ULL | 1)  // only the low 16 bits count
        .entry(0x000B, 0x8002, 0xFFFF0000ULL)
        .entry(0x0005, 0x8003, shareBits)
        .int32(0x0E06, 7);
    const Message msg(m.build());
    EXPECT_EQ(msg.GetMapiPropertyTime("0039"), static_cast<std::int64_t>(filetime));
    EXPECT_EQ(msg.GetMapiPropertyBool("8001"), true);
    EXPECT_EQ(msg.GetMapiPropertyBool("8002"), false);
    EXPECT_EQ(msg.GetMapiPropertyDouble("8003"), 0.75);
    // Of another type, or absent: nothing.
    EXPECT_EQ(msg.GetMapiPropertyTime("0E06"), std::nullopt);
    EXPECT_EQ(msg.GetMapiPropertyTime("0E07"), std::nullopt);
    // The designed lookup still refuses what it never read.
    EXPECT_EQ(errorOf<common::FormatError>([&] { msg.GetMapiProperty("0039"); }),
              "MAPI property has an unsupported type and can not be retrieved.");
}

TEST(TypedProperties, AShortLastEntryIsADamagedStream) {
    MessageBuilder m;
    m.withoutPropertyStream();
    Bytes stream(32, 0);
    const std::uint8_t entry[] = {0x40, 0x00, 0x39, 0x00, 0, 0, 0, 0, 1, 2, 3, 4};
    stream.insert(stream.end(), std::begin(entry), std::end(entry));
    m.stream("__properties_version1.0", stream);
    EXPECT_EQ(errorOf<common::FormatError>([&] { Message(m.build()).GetMapiPropertyTime("0039"); }),
              "property stream of 44 bytes ends inside the entry for 0039: the entry at offset 32 "
              "has 12 of its 16 bytes");
}

TEST(TypedProperties, RecipientTypesWithFlagsAndTheirInternetAddresses) {
    MessageBuilder m;
    m.addRecipient()
        .int32(0x0C15, static_cast<std::int32_t>(0x10000003))
        .unicode(0x39FE, "a@x.org");
    m.addRecipient().int32(0x0C15, 2).unicode(0x3002, "SMTP").unicode(0x3003, "b@x.org");
    m.addRecipient().int32(0x0C15, 1).unicode(0x3002, "EX").unicode(0x3003, "/O=ORG/CN=C");
    m.addRecipient().string8(0x3003, std::string_view("d@x.org\0", 8));
    const Message msg(m.build());
    const auto& r = msg.Recipients();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0]->TypeNumber(), 3);
    EXPECT_EQ(r[0]->SmtpAddress(), "a@x.org");
    EXPECT_EQ(r[1]->SmtpAddress(), "b@x.org");
    EXPECT_EQ(r[2]->SmtpAddress(), std::nullopt);
    EXPECT_EQ(r[2]->EmailAddress(), "/O=ORG/CN=C");
    EXPECT_EQ(r[3]->TypeNumber(), std::nullopt);
    EXPECT_EQ(r[3]->SmtpAddress(), "d@x.org");
}

TEST(NamedProperties, NumbersAndNamesMapToIdentifiersAndEmbeddedMessagesShareTheMap) {
    Bytes guids(OutlookStorage::PSETID_Appointment.begin(),
                OutlookStorage::PSETID_Appointment.end());
    guids.insert(guids.end(), OutlookStorage::PSETID_Task.begin(),
                 OutlookStorage::PSETID_Task.end());
    Bytes strings;
    put32(strings, 10);
    for (char c : std::string("Keywo")) {
        strings.push_back(static_cast<std::uint8_t>(c));
        strings.push_back(0);
    }
    strings.resize(16, 0);
    Bytes entries;
    putEntry(entries, 0x8208, 0, 3, false);  // PidLidLocation -> 8000
    putEntry(entries, 0x8105, 5, 4, false);  // PidLidTaskDueDate -> 8005
    putEntry(entries, 0, 7, 2, true);        // "Keywo" in PS_PUBLIC_STRINGS -> 8007
    putEntry(entries, 0x0001, 9, 1, false);  // PS_MAPI -> 8009
    MessageBuilder m;
    m.withoutNameid();
    m.addAttachment().int32(0x3705, 5).embedded().unicode(0x0037, "inner");
    const Message msg(withNameid(m, guids, entries, strings));
    for (const Message* message : {&msg, static_cast<const Message*>(msg.Messages().at(0).get())}) {
        const auto map = message->NamedProperties();
        EXPECT_EQ(map.size(), 4u);
        EXPECT_EQ(map.Find(OutlookStorage::PSETID_Appointment, 0x8208), "8000");
        EXPECT_EQ(map.Find(OutlookStorage::PSETID_Task, 0x8105), "8005");
        EXPECT_EQ(map.Find(OutlookStorage::PS_PUBLIC_STRINGS, u"Keywo"), "8007");
        EXPECT_EQ(map.Find(OutlookStorage::PS_MAPI, 0x0001), "8009");
        // The same number in another set is another property.
        EXPECT_EQ(map.Find(OutlookStorage::PSETID_Task, 0x8208), std::nullopt);
    }
    // No map at all: nothing is named.
    EXPECT_EQ(Message(MessageBuilder().withoutNameid().build()).NamedProperties().size(), 0u);
}

TEST(NamedProperties, DamagedMapsAreRefusedNamingTheEntry) {
    const Bytes oneGuid(OutlookStorage::PSETID_Address.begin(),
                        OutlookStorage::PSETID_Address.end());
    Bytes strings;
    put32(strings, 400);  // longer than the stream
    struct Case {
        Bytes entries;
        const char* text = nullptr;
    };
    std::vector<Case> cases(3);
    putEntry(cases[0].entries, 0x8083, 0, 3, false);
    putEntry(cases[0].entries, 0x8084, 1, 4, false);
    cases[0].text = "named-property entry 1 names GUID 4; the GUID stream holds 1";
    putEntry(cases[1].entries, 64, 0, 3, true);
    cases[1].text =
        "named-property entry 0 names a string at offset 64; the string stream has 4 bytes";
    putEntry(cases[2].entries, 0, 0, 3, true);
    cases[2].text =
        "named-property entry 0 names a string of 400 bytes at offset 0 of a string stream of 4 "
        "bytes";
    for (const Case& c : cases) {
        MessageBuilder m;
        m.withoutNameid();
        const Message msg(withNameid(m, oneGuid, c.entries, strings));
        EXPECT_EQ(errorOf<common::FormatError>([&] { msg.NamedProperties(); }), c.text);
    }
}
