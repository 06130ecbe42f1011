// The settings file's profile-string reader and writer on a real file, checked against a model
// of the INI rules written another way than the code: the text is turned into plain lines and
// read once, top to bottom, into a table of every value a reader can find. The reader finds
// what the model finds; a value that is written reads back as the reader presents it, every
// other value and every other byte stays, a refused write leaves the file as it was, and
// writing the same value again changes nothing.

#include "platform/IniText.h"
#include "platform/ProfileString.h"
#include "tests/fuzz/FuzzCheck.h"
#include "tests/support/TempFolder.h"
#include "util/AsciiCase.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <unistd.h>

namespace {

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

// The model.

constexpr std::string_view kSpace("\t\n\v\f\r \x1A", 7);

std::string_view Trim(std::string_view text) {
    const auto first = text.find_first_not_of(kSpace);
    return first == std::string_view::npos
               ? std::string_view()
               : text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

std::string_view TrimLeft(std::string_view text) {
    const auto first = text.find_first_not_of(kSpace);
    return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

// ASCII letters looked up in a table, so that no other byte can change.
std::string Folded(std::string_view name) {
    constexpr std::string_view kUpper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    constexpr std::string_view kLower = "abcdefghijklmnopqrstuvwxyz";
    std::string folded(name);
    for (char& c : folded) {
        if (const auto at = kUpper.find(c); at != std::string_view::npos) {
            c = kLower[at];
        }
    }
    return folded;
}

std::string Unquoted(std::string_view value) {
    const bool quoted = value.size() >= 2 && (value.starts_with('"') || value.starts_with('\'')) &&
                        value.back() == value.front();
    return std::string(quoted ? value.substr(1, value.size() - 2) : value);
}

// The lines without their endings: each CR LF, then each CR left, is made an LF first.
std::vector<std::string> LinesOf(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool crlf = text.substr(i, 2) == "\r\n";
        plain += text[i] == '\r' ? '\n' : text[i];
        i += crlf ? 1 : 0;
    }
    std::vector<std::string> lines;
    std::istringstream in(plain);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Every value a reader finds, by folded section and key name, as read (trimmed, quotes off,
// not cut). Only the first section of a name counts, and in it the first key of a name.
using Keys = std::map<std::string, std::string>;
using Model = std::map<std::string, Keys>;

Model ModelOf(std::string_view text) {
    Model model;
    Keys* current = nullptr; // before any section, or in a section whose name came before
    for (const std::string& whole : LinesOf(text)) {
        const std::string_view line = Trim(whole);
        const auto close = line.find(']');
        if (line.starts_with(';')) {
            continue;
        }
        if (line.starts_with('[') && close != std::string_view::npos) {
            auto [section, first] = model.try_emplace(Folded(Trim(line.substr(1, close - 1))));
            current = first ? &section->second : nullptr;
            continue;
        }
        const auto equals = line.find('=');
        if (current != nullptr && equals != std::string_view::npos) {
            current->try_emplace(Folded(Trim(line.substr(0, equals))),
                                 Unquoted(Trim(line.substr(equals + 1))));
        }
    }
    return model;
}

std::optional<std::string> Lookup(const Model& model, std::string_view section,
                                  std::string_view key) {
    const auto keys = model.find(Folded(section));
    if (keys == model.end()) {
        return std::nullopt;
    }
    const auto value = keys->second.find(Folded(key));
    return value == keys->second.end() ? std::nullopt : std::optional(value->second);
}

// What reading gives for a written value: as the model reads it, cut to the reader's length.
std::string AsRead(std::string_view value) {
    return Unquoted(Trim(value)).substr(0, platform::kProfileValueMax);
}

// Whether names (trimmed) and a value (trimmed on the left) can be written: the lines a write
// would add must read back through the model as written, and the rules no reading shows hold
// too (an empty name, a line break or zero byte anywhere, a key that starts like a section).
bool CanBeWritten(std::string_view section, std::string_view key, std::string_view value) {
    const auto breaks = [](std::string_view text) {
        return std::ranges::any_of(text, [](char c) { return c == '\r' || c == '\n' || c == 0; });
    };
    if (section.empty() || key.empty() || key.starts_with('[') || breaks(section) || breaks(key) ||
        breaks(value)) {
        return false;
    }
    const std::string lines =
        "[" + std::string(section) + "]\n" + std::string(key) + "=" + std::string(value) + "\n";
    return Lookup(ModelOf(lines), section, key) == Unquoted(Trim(value));
}

// The reader finds exactly what the model finds.
void CheckReaderAgrees(const std::string& text, const Model& model) {
    for (const auto& [section, keys] : model) {
        for (const auto& [key, value] : keys) {
            FUZZ_CHECK(platform::ini::FindValue(text, section, key) == value);
        }
    }
}

// Every other byte stays: `after` is `before` with bytes added in one place or, when the key was
// there, with a part of its line changed.
void CheckOnlyItsBytesChanged(std::string_view before, std::string_view after, bool replaced) {
    const std::size_t shorter = std::min(before.size(), after.size());
    std::size_t same = 0;
    while (same < shorter && before[same] == after[same]) {
        ++same;
    }
    std::size_t sameAtEnd = 0;
    while (sameAtEnd < shorter - same &&
           before[before.size() - 1 - sameAtEnd] == after[after.size() - 1 - sameAtEnd]) {
        ++sameAtEnd;
    }
    const std::string_view gone = before.substr(same, before.size() - same - sameAtEnd);
    FUZZ_CHECK(replaced ? gone.find_first_of("\r\n") == std::string_view::npos : gone.empty());
}

} // namespace

// The input: the section name, a line break, the key, a line break, the value, a line break,
// then the file's text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const testing_support::TempFolder folder(ScratchBase());
    static const std::string path = folder / "corvale.ini";
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string section = testing_support::TakeUntil(rest, '\n');
    const std::string key = testing_support::TakeUntil(rest, '\n');
    const std::string value = testing_support::TakeUntil(rest, '\n');
    const std::string before(rest);
    WriteBytes(path, before);
    const Model model = ModelOf(before);
    CheckReaderAgrees(before, model);

    const bool written = platform::WriteProfileString(path, section, key, value);
    const std::string after = ReadBytes(path);
    const std::string_view sectionName = Trim(section), keyName = Trim(key);
    FUZZ_CHECK(written == CanBeWritten(sectionName, keyName, TrimLeft(value)));
    if (!written) {
        FUZZ_CHECK(after == before);
        return 0;
    }

    constexpr std::string_view kAbsent = "\x01(absent)";
    FUZZ_CHECK(platform::ReadProfileString(path, section, key, kAbsent) == AsRead(value));
    Model expected = model;
    expected[Folded(sectionName)][Folded(keyName)] = Unquoted(Trim(value));
    const Model now = ModelOf(after);
    FUZZ_CHECK(now == expected);
    CheckReaderAgrees(after, now);
    CheckOnlyItsBytesChanged(before, after, Lookup(model, sectionName, keyName).has_value());

    FUZZ_CHECK(platform::WriteProfileString(path, section, key, value));
    FUZZ_CHECK(ReadBytes(path) == after);
    return 0;
}
