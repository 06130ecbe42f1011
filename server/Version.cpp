#include "server/Version.h"

#include <array>
#include <charconv>

namespace server {

std::optional<ProductVersion> ParseVersion(std::string_view text) {
    std::array<std::int32_t, 4> numbers{};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const auto dot = text.find('.');
        const bool last = i + 1 == numbers.size();
        if (last != (dot == std::string_view::npos)) {
            return std::nullopt;
        }
        const std::string_view part = text.substr(0, dot);
        const auto end = part.data() + part.size();
        const auto [stop, error] = std::from_chars(part.data(), end, numbers[i]);
        if (part.empty() || part.front() == '-' || error != std::errc{} || stop != end) {
            return std::nullopt;
        }
        text.remove_prefix(last ? text.size() : dot + 1);
    }
    return ProductVersion{numbers[0], numbers[1], numbers[2], numbers[3]};
}

std::string VersionText(const ProductVersion& v) {
    return std::to_string(v.Major) + '.' + std::to_string(v.Minor) + '.' +
           std::to_string(v.Release) + '.' + std::to_string(v.Build);
}

std::string VersionLines(const ProductVersion& v) {
    return std::to_string(v.Major) + '\n' + std::to_string(v.Minor) + '\n' +
           std::to_string(v.Release) + '\n' + std::to_string(v.Build);
}

std::string VersionDisplay(const ProductVersion& v) {
    return "Corvale " + std::to_string(v.Major) + '.' + std::to_string(v.Minor) + '.' +
           std::to_string(v.Release) + " (build " + std::to_string(v.Build) + ')';
}

} // namespace server
