#include "platform/IniText.h"

#include "util/AsciiCase.h"

#include <vector>

namespace platform::ini {

namespace {

struct TLine {
    std::string_view Text;   // without its line ending
    std::string_view Ending; // "\r\n", "\n", "\r", or empty for a last line without one
};

// Lines end in CR LF, LF or CR alone.
std::vector<TLine> SplitLines(std::string_view text) {
    std::vector<TLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back({text.substr(start), {}});
            break;
        }
        const std::size_t endingLength =
            (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;
        lines.push_back({text.substr(start, end - start), text.substr(end, endingLength)});
        start = end + endingLength;
    }
    return lines;
}

std::string_view FirstLineEnding(const std::vector<TLine>& lines) {
    for (const auto& line : lines) {
        if (!line.Ending.empty()) {
            return line.Ending;
        }
    }
    return "\n";
}

bool SameName(std::string_view a, std::string_view b) {
    return EqualsIgnoringAsciiCase(a, b);
}

// "[name]" with anything after the "]" ignored; none for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
    const std::string_view trimmed = TrimProfileSpace(line);
    if (trimmed.empty() || trimmed.front() != '[') {
        return std::nullopt;
    }
    const auto close = trimmed.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return TrimProfileSpace(trimmed.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
    const std::string_view trimmed = TrimProfileSpace(line);
    return !trimmed.empty() && trimmed.front() == ';';
}

bool IsBlank(std::string_view line) {
    return TrimProfileSpace(line).empty();
}

struct TEntry {
    std::string_view Key;
    std::size_t ValueStart = 0; // offset in the line where the value text begins
    std::string_view Value;     // trimmed, quotes kept
};

// A key line: not a comment, not a section line, with a "=".
std::optional<TEntry> ParseEntry(std::string_view line) {
    if (IsComment(line) || SectionName(line)) {
        return std::nullopt;
    }
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
        return std::nullopt;
    }
    TEntry entry;
    entry.Key = TrimProfileSpace(line.substr(0, equals));
    entry.Value = TrimProfileSpace(line.substr(equals + 1));
    const std::string_view afterEquals = TrimProfileSpaceLeft(line.substr(equals + 1));
    // A value that is all white space is replaced from right after the "=".
    entry.ValueStart = afterEquals.empty() ? equals + 1 : line.size() - afterEquals.size();
    return entry;
}

std::string_view WithoutQuotes(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// The lines [First, End) of the first section with the wanted name, header excluded.
struct TSectionRange {
    std::size_t Header = 0;
    std::size_t End = 0;
};

std::optional<TSectionRange> FindSection(const std::vector<TLine>& lines,
                                         std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto name = SectionName(lines[i].Text);
        if (!name || !SameName(*name, section)) {
            continue;
        }
        std::size_t end = i + 1;
        while (end < lines.size() && !SectionName(lines[end].Text)) {
            ++end;
        }
        return TSectionRange{i, end};
    }
    return std::nullopt;
}

std::string Join(const std::vector<TLine>& lines, std::size_t from, std::size_t to) {
    std::string text;
    for (std::size_t i = from; i < to; ++i) {
        text += lines[i].Text;
        text += lines[i].Ending;
    }
    return text;
}

// The lines up to and including `last`, that last line given a line ending if it had none.
std::string JoinEnded(const std::vector<TLine>& lines, std::size_t count, std::string_view ending) {
    std::string text = Join(lines, 0, count);
    if (count > 0 && lines[count - 1].Ending.empty()) {
        text += ending;
    }
    return text;
}

} // namespace

bool IsProfileSpace(char c) {
    return (c >= '\t' && c <= '\r') || c == ' ' || c == '\x1A';
}

std::string_view TrimProfileSpaceLeft(std::string_view text) {
    while (!text.empty() && IsProfileSpace(text.front())) {
        text.remove_prefix(1);
    }
    return text;
}

std::string_view TrimProfileSpace(std::string_view text) {
    text = TrimProfileSpaceLeft(text);
    while (!text.empty() && IsProfileSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::optional<std::string> FindValue(std::string_view text, std::string_view section,
                                     std::string_view key) {
    const std::vector<TLine> lines = SplitLines(text);
    const auto range = FindSection(lines, section);
    if (!range) {
        return std::nullopt;
    }
    for (std::size_t i = range->Header + 1; i < range->End; ++i) {
        const auto entry = ParseEntry(lines[i].Text);
        if (entry && SameName(entry->Key, key)) {
            return std::string(WithoutQuotes(entry->Value));
        }
    }
    return std::nullopt;
}

std::optional<std::string> WithValue(std::string_view text, std::string_view section,
                                     std::string_view key, std::string_view value) {
    const std::vector<TLine> lines = SplitLines(text);
    const std::string_view ending = FirstLineEnding(lines);
    const std::string newEntry = std::string(key) + "=" + std::string(value) + std::string(ending);

    const auto range = FindSection(lines, section);
    if (!range) {
        return JoinEnded(lines, lines.size(), ending) + "[" + std::string(section) + "]" +
               std::string(ending) + newEntry;
    }

    std::size_t lastEntry = range->Header;
    for (std::size_t i = range->Header + 1; i < range->End; ++i) {
        const std::string_view line = lines[i].Text;
        if (IsBlank(line)) {
            continue; // blank lines at a section's end stay between it and the next one
        }
        lastEntry = i; // comment lines count as entries, as the system stores them

        const auto entry = ParseEntry(line);
        if (!entry || !SameName(entry->Key, key)) {
            continue;
        }
        if (entry->Value == value) {
            return std::nullopt;
        }
        return Join(lines, 0, i) + std::string(line.substr(0, entry->ValueStart)) +
               std::string(value) + std::string(lines[i].Ending) + Join(lines, i + 1, lines.size());
    }
    return JoinEnded(lines, lastEntry + 1, ending) + newEntry +
           Join(lines, lastEntry + 1, lines.size());
}

} // namespace platform::ini
