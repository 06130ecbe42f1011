// The settings file's profile-string reader and writer on a real file: a value that is written
// reads back as the reader presents it, every other key keeps its value, a refused write leaves
// the file as it was, and writing the same value again changes nothing.

#include "platform/IniText.h"
#include "platform/ProfileString.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/TempFolder.h"
#include "util/AsciiCase.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <utility>

namespace {

using platform::ini::TrimProfileSpace;
using platform::ini::TrimProfileSpaceLeft;

// On a memory file system where there is one: every run writes (and syncs) the file.
std::filesystem::path ScratchBase() {
    std::error_code ignored;
    return std::filesystem::is_directory("/dev/shm", ignored) && ::access("/dev/shm", W_OK) == 0
               ? std::filesystem::path("/dev/shm")
               : std::filesystem::temp_directory_path();
}

void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    FUZZ_CHECK(out.good());
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

bool SameName(std::string_view a, std::string_view b) {
    return EqualsIgnoringAsciiCase(a, b);
}

bool HasLineBreakOrZero(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Names and a value that a reader would find again as written (names already trimmed).
bool CanBeWritten(std::string_view section, std::string_view key, std::string_view value) {
    return !section.empty() && !key.empty() && !HasLineBreakOrZero(section) &&
           !HasLineBreakOrZero(key) && !HasLineBreakOrZero(value) &&
           section.find(']') == std::string_view::npos && key.find('=') == std::string_view::npos &&
           key.front() != '[' && key.front() != ';';
}

// What reading gives for a stored value: trimmed, one pair of enclosing quotes removed, cut to
// the reader's length.
std::string AsRead(std::string_view value) {
    value = TrimProfileSpace(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, platform::kProfileValueMax));
}

// Every (section, key) a reader could look up in the text, named as it would be looked up.
std::vector<std::pair<std::string, std::string>> KeysIn(const std::string& text) {
    std::vector<std::pair<std::string, std::string>> keys;
    std::optional<std::string> section;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string_view line =
            TrimProfileSpace(std::string_view(text).substr(start, end - start));
        start =
            end + ((end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ? 2 : 1);
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[' && line.find(']') != std::string_view::npos) {
            section = std::string(TrimProfileSpace(line.substr(1, line.find(']') - 1)));
            continue;
        }
        const auto equals = line.find('=');
        if (section && equals != std::string_view::npos) {
            keys.emplace_back(*section, std::string(TrimProfileSpace(line.substr(0, equals))));
        }
    }
    return keys;
}

} // namespace

// The input: the section name, a line break, the key, a line break, the value, a line break,
// then the file's text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const testing_support::TempFolder folder(ScratchBase());
    static const std::string path = folder / "corvale.ini";
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string section = fuzz::TakeUntil(rest, '\n');
    const std::string key = fuzz::TakeUntil(rest, '\n');
    const std::string value = fuzz::TakeUntil(rest, '\n');
    const std::string before(rest);
    WriteBytes(path, before);

    const bool written = platform::WriteProfileString(path, section, key, value);
    const std::string after = ReadBytes(path);
    const std::string_view sectionName = TrimProfileSpace(section), keyName = TrimProfileSpace(key);
    FUZZ_CHECK(written == CanBeWritten(sectionName, keyName, TrimProfileSpaceLeft(value)));
    if (!written) {
        FUZZ_CHECK(after == before);
        return 0;
    }

    constexpr std::string_view kAbsent = "\x01(absent)";
    FUZZ_CHECK(platform::ReadProfileString(path, section, key, kAbsent) == AsRead(value));
    for (const auto& [otherSection, otherKey] : KeysIn(before)) {
        if (SameName(otherSection, sectionName) && SameName(otherKey, keyName)) {
            continue;
        }
        FUZZ_CHECK(platform::ini::FindValue(before, otherSection, otherKey) ==
                   platform::ini::FindValue(after, otherSection, otherKey));
    }

    FUZZ_CHECK(platform::WriteProfileString(path, section, key, value));
    FUZZ_CHECK(ReadBytes(path) == after);
    return 0;
}
