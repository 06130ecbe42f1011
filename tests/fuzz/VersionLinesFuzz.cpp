// The version lines of a version-check reply and the comparison with the own version.

#include "core/uTasksUpdate.h"
#include "tests/fuzz/FuzzCheck.h"
#include "util/Lib1.h"

#include <optional>

namespace {

// The first four lines read as numbers (missing lines are 0); none when a line is a number
// that is none, with that line's trimmed text.
struct VersionReading {
    std::optional<TVersion> Version;
    std::string BadLine;
};

VersionReading ReadVersion(const std::string& lines) {
    const auto fields = testing_support::AllFields(lines, "\n");
    TVersion version{};
    for (std::size_t i = 0; i < version.size(); ++i) {
        const auto reading =
            testing_support::ReadNumber(i < fields.size() ? fields[i] : std::string());
        if (reading.IsError) {
            return {std::nullopt, reading.Trimmed};
        }
        version[i] = reading.Value;
    }
    return {version, {}};
}

std::array<std::uint32_t, 4> Unsigned(const TVersion& v) {
    return {static_cast<std::uint32_t>(v[0]), static_cast<std::uint32_t>(v[1]),
            static_cast<std::uint32_t>(v[2]), static_cast<std::uint32_t>(v[3])};
}

std::optional<TVersion> CheckOfferedVersion(const std::string& lines) {
    const VersionReading expected = ReadVersion(lines);
    try {
        const TVersion version = OfferedVersion(lines);
        FUZZ_CHECK(expected.Version && version == *expected.Version);
        return version;
    } catch (const EConvertError& e) {
        FUZZ_CHECK(!expected.Version);
        FUZZ_CHECK(e.what() == testing_support::ConversionErrorText(expected.BadLine));
        return std::nullopt;
    }
}

} // namespace

// The input: the offered version's lines, then optionally a zero byte and lines that stand for
// the own version.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string offeredLines = testing_support::TakeUntil(rest, '\0');
    const std::string ownLines(rest);

    const auto offered = CheckOfferedVersion(offeredLines);
    const auto own = CheckOfferedVersion(ownLines);
    if (!offered || !own) {
        return 0;
    }
    FUZZ_CHECK(IsNewer(*offered, *own) == (Unsigned(*offered) > Unsigned(*own)));
    FUZZ_CHECK(!(IsNewer(*offered, *own) && IsNewer(*own, *offered)));
    FUZZ_CHECK(!IsNewer(*offered, *offered));

    // The lines a service sends for a version read back as that version.
    const TVersion v = *offered;
    const std::string sent = std::to_string(v[0]) + "\r\n" + std::to_string(v[1]) + "\r\n" +
                             std::to_string(v[2]) + "\r\n" + std::to_string(v[3]) + "\r\n";
    FUZZ_CHECK(OfferedVersion(sent) == v);
    return 0;
}
