#include "server/ServiceActions.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

namespace {

using namespace server;

TEST(ServiceActions, PeerAddressesAsTheClientExpectsThem) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"192.0.2.7", "192.0.2.7"},
        {"::ffff:192.0.2.7", "192.0.2.7"},
        {"::ffff:127.0.0.1", "127.0.0.1"},
        {"::1", "::1"},
        {"2001:db8::1", "2001:db8::1"},
        {"::ffff:", "::ffff:"},
        {"::ffff:not.an.address", "::ffff:not.an.address"},
    };
    for (const auto& [peer, shown] : cases) {
        EXPECT_EQ(NormalizePeerAddress(peer), shown) << peer;
    }
}

TEST(ServiceActions, RecordTimesAreLocalYearMonthDayAndTime) {
    setenv("TZ", "UTC0", 1);
    tzset();
    EXPECT_EQ(FormatRecordTime(1794405909), "2026-11-11 14:05:09");
    EXPECT_EQ(FormatRecordTime(0), "1970-01-01 00:00:00");
    setenv("TZ", "CET-1", 1); // one hour east of UTC, no summer time
    tzset();
    EXPECT_EQ(FormatRecordTime(1794405909), "2026-11-11 15:05:09");
    setenv("TZ", "UTC0", 1);
    tzset();
}

} // namespace
