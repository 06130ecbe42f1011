// The pure readings of service replies that the task bodies use: the reply text taken from the
// transport's block, the two addresses of an address check, buddy and host records, and the
// version lines with the comparison against the own version.

#include "core/uTasksBuddies.h"
#include "core/uTasksIP.h"
#include "core/uTasksUpdate.h"
#include "core/uTools.h"
#include "tests/core/RowPrinting.h"
#include "util/Lib1.h"

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

TEST(ReplyText, IsTheBlockUpToItsFirstZeroByteOrTheTimeoutText) {
    struct Case {
        TMemoryBlock block;
        std::string text;
    };
    for (const Case& c : {
             Case{std::nullopt, std::string(kServerTimeoutReply)},
             Case{"\0"s, std::string(kServerTimeoutReply)}, // an empty body
             Case{"\0OK 1.2.3.4\0"s, std::string(kServerTimeoutReply)},
             Case{"OK 192.0.2.7\r\n\0"s, "OK 192.0.2.7\r\n"}, // nothing trimmed
             Case{"OK 192.0.2.7\0 rest\0"s, "OK 192.0.2.7"},
         }) {
        EXPECT_EQ(ReplyText(c.block), c.text);
    }
}

TEST(SplitGetIPReply, CutsTheMessageAtItsFirstBlank) {
    struct Case {
        std::string message, current, onRecord;
    };
    for (const Case& c : {
             Case{"203.0.113.7 198.51.100.4", "203.0.113.7", "198.51.100.4"},
             Case{"203.0.113.7", "203.0.113.7", ""}, // nothing on record
             Case{"203.0.113.7 198.51.100.4 extra", "203.0.113.7", "198.51.100.4 extra"},
             Case{" 198.51.100.4", "", "198.51.100.4"},
             Case{"", "", ""},
         }) {
        const TGetIPReply reply = SplitGetIPReply(c.message);
        EXPECT_EQ(reply.Current, c.current) << '"' << c.message << '"';
        EXPECT_EQ(reply.OnRecord, c.onRecord) << '"' << c.message << '"';
    }
}

TEST(ParseBuddyRecord, PutsTheWireFieldsInScreenOrder) {
    struct Case {
        std::string record;
        TBuddyRow row;
    };
    for (const Case& c : {
             Case{"jdoe,192.0.2.7,2006-11-11 14:05:09,OFFICE-PC",
                  {"jdoe", "OFFICE-PC", "192.0.2.7", "Nov 11 2006 14:05:09"}},
             Case{"amy,198.51.100.4,,HOME,", {"amy", "HOME", "198.51.100.4", ""}},
             Case{"bob,203.0.113.2", {"bob", "", "203.0.113.2", ""}}, // missing fields
             Case{"", {"", "", "", ""}},
             Case{"a,b,2006-11-11 00:00:00,h,ignored,more", {"a", "h", "b", "Nov 11 2006"}},
             // A comma in the date cuts the field: the rest becomes the host.
             Case{"a,,2006-1,1-11 10:00:00,h", {"a", "1-11 10:00:00", "", ""}},
         }) {
        EXPECT_EQ(ParseBuddyRecord(c.record), c.row) << '"' << c.record << '"';
    }
}

TEST(ParseHostRecord, ReadsTheNumberAndTheName) {
    struct Case {
        std::string record;
        THostRow row;
    };
    for (const Case& c : {
             Case{"12,OFFICE-PC", {"OFFICE-PC", 12}},
             Case{"40,LAPTOP,ignored", {"LAPTOP", 40}},
             Case{"abc,HOME", {"HOME", 0}}, // not numeric: 0
             Case{" -7 ,HOME", {"HOME", -7}},
             Case{"12", {"", 12}},
             Case{"", {"", 0}},
         }) {
        EXPECT_EQ(ParseHostRecord(c.record), c.row) << '"' << c.record << '"';
    }
}

TEST(ParseHostRecord, NumberThatIsNoneRaisesTheConversionError) {
    for (const std::string record : {"1-2,HOST", "99999999999,HOST", "-,HOST"}) {
        EXPECT_THROW(ParseHostRecord(record), EConvertError) << record;
    }
}

TEST(OfferedVersion, ReadsTheFirstFourLines) {
    struct Case {
        std::string lines;
        TVersion version;
    };
    for (const Case& c : {
             Case{"0\r\n3\r\n12\r\n30\r\n", {0, 3, 12, 30}},
             Case{"1\n2", {1, 2, 0, 0}}, // missing lines are 0
             Case{"1\n2\n3\n4\n5\n6", {1, 2, 3, 4}},
             Case{"1\nbeta\n\n4", {1, 0, 0, 4}}, // not numeric: 0
             Case{"", {0, 0, 0, 0}},
             Case{"-1\n0\n0\n0", {-1, 0, 0, 0}},
         }) {
        EXPECT_EQ(OfferedVersion(c.lines), c.version) << '"' << c.lines << '"';
    }
    EXPECT_THROW(OfferedVersion("0\n3\n1,2\n0"), EConvertError);
    EXPECT_THROW(OfferedVersion("0\n3\n12\n4294967296"), EConvertError);
}

TEST(IsNewer, ComparesFieldByFieldAsUnsignedNumbers) {
    struct Case {
        TVersion offered, own;
        bool newer;
    };
    for (const Case& c : {
             Case{{0, 3, 12, 30}, {0, 3, 11, 25}, true},
             Case{{0, 3, 11, 25}, {0, 3, 11, 25}, false},
             Case{{0, 3, 10, 99}, {0, 3, 11, 25}, false}, // the first difference decides
             Case{{1, 0, 0, 0}, {0, 9, 9, 9}, true},
             Case{{-1, 0, 0, 0}, {0, 3, 11, 25}, true}, // -1 is the largest unsigned value
             Case{{0, 3, 11, 25}, {-1, 0, 0, 0}, false},
         }) {
        EXPECT_EQ(IsNewer(c.offered, c.own), c.newer);
    }
}

} // namespace
