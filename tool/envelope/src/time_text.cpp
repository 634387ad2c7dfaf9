// Dates of the header: FILETIME to the wall clock of a time zone.
#include <envelope/envelope.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>

namespace envelope {
namespace {

// 4500-01-01 00:00 UTC in Unix seconds: mail programs write dates from then
// on ("4501-01-01") to mean "none".
constexpr std::int64_t kNoDateFrom = 79'839'129'600;

constexpr const char* kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                     "Thursday", "Friday", "Saturday"};
constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

// The C library reads the zone from TZ. A named zone is set for the one
// conversion and the previous value put back, under a lock, so no setting
// outlives the call.
std::mutex g_zoneLock;

class ScopedZone {
public:
    explicit ScopedZone(const std::string& zone) : m_active(!zone.empty()) {
        if (!m_active) {
            return;
        }
        m_lock = std::unique_lock<std::mutex>(g_zoneLock);
        if (const char* old = std::getenv("TZ")) {
            m_previous = old;
        }
        setenv("TZ", (":" + zone).c_str(), 1);
        tzset();
    }
    ~ScopedZone() {
        if (!m_active) {
            return;
        }
        if (m_previous) {
            setenv("TZ", m_previous->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    ScopedZone(const ScopedZone&) = delete;
    ScopedZone& operator=(const ScopedZone&) = delete;

private:
    bool m_active;
    std::unique_lock<std::mutex> m_lock;
    std::optional<std::string> m_previous;
};

}  // namespace

std::optional<std::string> formatTime(std::int64_t fileTime, const std::string& timeZone,
                                      bool withTimeOfDay) {
    if (fileTime < 0) {
        return std::nullopt;
    }
    const std::int64_t seconds = fileTimeToUnixSeconds(fileTime);
    if (seconds >= kNoDateFrom) {
        return std::nullopt;
    }
    const auto when = static_cast<std::time_t>(seconds);
    std::tm local{};
    {
        const ScopedZone zone(timeZone);
        if (localtime_r(&when, &local) == nullptr) {
            return std::nullopt;
        }
    }
    if (local.tm_wday < 0 || local.tm_wday > 6 || local.tm_mon < 0 || local.tm_mon > 11) {
        return std::nullopt;
    }
    char text[96];
    if (withTimeOfDay) {
        std::snprintf(text, sizeof text, "%s, %d %s %d %02d:%02d", kWeekdays[local.tm_wday],
                      local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900, local.tm_hour,
                      local.tm_min);
    } else {
        std::snprintf(text, sizeof text, "%s, %d %s %d", kWeekdays[local.tm_wday], local.tm_mday,
                      kMonths[local.tm_mon], local.tm_year + 1900);
    }
    return std::string(text);
}

SentFields sentFields(std::int64_t unixSeconds, const std::string& timeZone) {
    SentFields fields;
    if (unixSeconds < -11'644'473'600 || unixSeconds >= kNoDateFrom) {
        return fields;
    }
    const auto when = static_cast<std::time_t>(unixSeconds);
    std::tm local{};
    {
        const ScopedZone zone(timeZone);
        if (localtime_r(&when, &local) == nullptr) {
            return fields;
        }
    }
    char date[48];
    char time[48];
    std::snprintf(date, sizeof date, "%02d/%02d/%04d", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + 1900);
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    fields.date = date;
    fields.time = time;
    fields.zone = !timeZone.empty()                            ? timeZone
                  : local.tm_zone != nullptr && *local.tm_zone ? std::string(local.tm_zone)
                                                               : std::string("UTC");
    return fields;
}

}  // namespace envelope
