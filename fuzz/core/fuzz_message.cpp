// Fuzz target: loading a message and reading every accessor, recursively
// through embedded messages, then saving it and reopening the result.

#include "../finding.h"

#include <msg/outlook_storage.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

namespace {

using tool::OutlookStorage;

// Runs one accessor; the reader's documented failures are expected, anything
// else (a crash, std::bad_alloc, std::out_of_range, the logic error of a
// disposed object while it is not disposed) is a finding. ArgumentError (not
// a compound file) is documented for opening only.
void guarded(const std::function<void()>& f, bool opening = false) {
    try {
        f();
    } catch (const common::FormatError&) {
    } catch (const tool::PropertyError&) {
    } catch (const tool::ArgumentError&) {
        if (!opening) {
            fuzz::reportFinding();
        }
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
    std::unique_ptr<OutlookStorage::Message> m;
    guarded(
        [&] {
            m = std::make_unique<OutlookStorage::Message>(
                std::span<const std::uint8_t>(data, size));
        },
        true);
    if (!m) {
        return 0;
    }
    readAll(*m, 0);
    m->Dispose();
    // A disposed message answers with its documented logic error.
    try {
        (void)m->Subject();
    } catch (const tool::PropertyError&) {
    } catch (const tool::ArgumentError&) {
        fuzz::reportFinding();
    } catch (const std::logic_error&) {
    } catch (...) {
        fuzz::reportFinding();
    }
    return 0;
}
