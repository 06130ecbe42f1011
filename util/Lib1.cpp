#include "util/Lib1.h"

#include <charconv>
#include <cstring>

EConvertError::EConvertError(const std::string& text)
    : std::runtime_error("'" + text + "' is not a valid integer value") {}

void SplitFirst(std::string text, std::string_view separator, std::string& head,
                std::string& tail) {
    const auto pos = separator.empty() ? std::string::npos : text.find(separator);
    if (pos == std::string::npos) {
        tail.clear();
        head = std::move(text);
        return;
    }
    tail = text.substr(pos + separator.size());
    text.resize(pos);
    head = std::move(text);
}

void SplitToArray(std::string text, std::string_view separator, TArrayOfString& values) {
    std::size_t start = 0;
    for (std::size_t i = 0; start < text.size() && i < values.size(); ++i) {
        const auto pos = separator.empty() ? std::string::npos : text.find(separator, start);
        if (pos == std::string::npos) {
            values[i] = text.substr(start);
            start = text.size();
        } else {
            values[i] = text.substr(start, pos - start);
            start = pos + separator.size();
        }
    }
}

bool HasOnlyNumberChars(std::string_view text) {
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || c == ',' || c == '-')) {
            return false;
        }
    }
    return true;
}

namespace {

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view TrimBlanksAndControls(std::string_view text) {
    while (!text.empty() && IsBlankOrControl(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlankOrControl(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

} // namespace

std::int32_t StrToIntSafe(std::string_view text) {
    const std::string_view trimmed = TrimBlanksAndControls(text);
    if (trimmed.empty() || !HasOnlyNumberChars(trimmed)) {
        return 0;
    }
    std::int32_t value = 0;
    // from_chars accepts a leading "-" but not "+"; "+" never passes HasOnlyNumberChars.
    const auto [end, error] =
        std::from_chars(trimmed.data(), trimmed.data() + trimmed.size(), value);
    if (error != std::errc{} || end != trimmed.data() + trimmed.size()) {
        throw EConvertError(std::string(trimmed));
    }
    return value;
}

TStrCopy StrNewCopy(std::string_view text) {
    if (text.empty()) {
        return nullptr;
    }
    auto block = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(block.get(), text.data(), text.size());
    block[text.size()] = '\0';
    return block;
}

std::string StrFromCopy(const TStrCopy& copy) {
    return copy ? std::string(copy.get()) : std::string();
}
