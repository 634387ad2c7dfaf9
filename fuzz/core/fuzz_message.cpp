// Fuzz target: loading a message and reading every accessor, recursively
// through embedded messages, then saving it and reopening the result.

#include "../finding.h"

#include <msg/outlook_storage.h>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace {

using tool::OutlookStorage;

// Runs one accessor; the reader's documented failures are expected, anything
// else (a crash, std::bad_alloc, std::out_of_range, the logic error of a
// disposed object, which this target never uses) is a finding.
void guarded(const std::function<void()>& f) {
    try {
        f();
    } catch (const common::FormatError&) {
    } catch (const tool::PropertyError&) {
    } catch (const tool::ArgumentError&) {
    } catch (...) {
        fuzz::reportFinding();
    }
}

void readAll(const OutlookStorage::Message& m, int depth) {
    guarded([&] { (void)m.Subject(); });
    guarded([&] { (void)m.From(); });
    guarded([&] { (void)m.BodyText(); });
    guarded([&] { (void)m.BodyRTF(); });
    guarded([&] { (void)m.BodyRTFBytes(); });
    guarded([&] { (void)m.BodyHTML(); });
    guarded([&] { (void)m.MessageCodepage(); });
    guarded([&] { (void)m.InternetCodepage(); });
    guarded([&] { (void)m.GetMapiProperty("0E07"); });
    for (const auto& r : m.Recipients()) {
        guarded([&] { (void)r->DisplayName(); });
        guarded([&] { (void)r->Email(); });
        guarded([&] { (void)r->Type(); });
    }
    for (const auto& a : m.Attachments()) {
        guarded([&] { (void)a->Filename(); });
        guarded([&] { (void)a->Data(); });
        guarded([&] { (void)a->ContentId(); });
        guarded([&] { (void)a->MimeTag(); });
        guarded([&] { (void)a->RenderingPosition(); });
    }
    for (const auto& e : m.Messages())
        readAll(*e, depth + 1);
    if (depth <= 1) {
        guarded([&] {
            const auto saved = m.SaveToBytes();
            const OutlookStorage::Message again(saved);
            (void)again.Subject();
        });
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    guarded([&] {
        const OutlookStorage::Message m(std::span<const std::uint8_t>(data, size));
        readAll(m, 0);
        const_cast<OutlookStorage::Message&>(m).Dispose();
    });
    return 0;
}
