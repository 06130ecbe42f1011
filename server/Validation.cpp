#include "server/Validation.h"

#include <charconv>

namespace server {

namespace {

bool IsAsciiAlnum(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}

bool IsDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

template <typename Visit> void ForEachField(std::string_view text, char separator, Visit visit) {
    for (;;) {
        const auto at = text.find(separator);
        visit(text.substr(0, at));
        if (at == std::string_view::npos) {
            return;
        }
        text.remove_prefix(at + 1);
    }
}

// The length of the UTF-8 sequence at the start of `text`, or 0 when it is malformed.
std::size_t Utf8SequenceLength(std::string_view text, char32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    char32_t lowest = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, lowest = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, lowest = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, lowest = 0x10000, code = lead & 0x07;
    } else {
        return 0; // a continuation byte, or a lead byte no encoding uses
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i) & 0x3F);
    }
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    if (code < lowest || surrogate || code > 0x10FFFF) {
        return 0;
    }
    return length;
}

} // namespace

bool IsCleanText(std::string_view text) {
    while (!text.empty()) {
        char32_t code = 0;
        const std::size_t length = Utf8SequenceLength(text, code);
        if (length == 0 || code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
            return false;
        }
        text.remove_prefix(length);
    }
    return true;
}

bool IsValidUserId(std::string_view userId) {
    if (userId.empty() || userId.size() > kMaxUserIdLength) {
        return false;
    }
    for (char c : userId) {
        if (!IsAsciiAlnum(c) && c != '.' && c != '_' && c != '-') {
            return false;
        }
    }
    return true;
}

bool IsValidHostName(std::string_view name) {
    if (name.empty() || name.size() > kMaxHostNameLength || !IsCleanText(name)) {
        return false;
    }
    for (char c : name) {
        if (c == ' ' || c == ',' || c == ';' || c == '&' || c == '=') {
            return false;
        }
    }
    return true;
}

bool IsValidTypedPassword(std::string_view password) {
    if (password.empty() || password.size() > kMaxTypedPasswordLength) {
        return false;
    }
    for (char c : password) {
        if (IsControl(c)) {
            return false;
        }
    }
    return true;
}

bool IsValidAddressReport(std::string_view address) {
    if (address.empty()) {
        return true;
    }
    int parts = 0;
    bool valid = true;
    ForEachField(address, '.', [&](std::string_view part) {
        ++parts;
        unsigned value = 0;
        // No leading zeros: the classic address parser would read them as octal.
        valid = valid && IsDigits(part) && part.size() <= 3 &&
                (part.size() == 1 || part[0] != '0') &&
                std::from_chars(part.data(), part.data() + part.size(), value).ec == std::errc{} &&
                value <= 255;
    });
    return valid && parts == 4;
}

std::optional<std::vector<std::int64_t>> ParseHostNumbers(std::string_view list) {
    std::vector<std::int64_t> numbers;
    bool valid = !list.empty();
    ForEachField(list, ',', [&](std::string_view part) {
        std::int64_t value = 0;
        const auto end = part.data() + part.size();
        valid = valid && IsDigits(part) && numbers.size() < kMaxOfferedHosts;
        if (valid) {
            const auto [stop, error] = std::from_chars(part.data(), end, value);
            valid = error == std::errc{} && stop == end;
        }
        if (valid) {
            numbers.push_back(value);
        }
    });
    if (!valid) {
        return std::nullopt;
    }
    return numbers;
}

} // namespace server
