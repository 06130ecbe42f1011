#pragma once
// The client version the service offers: four numbers, written "major.minor.release.build".

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace server {

struct ProductVersion {
    std::int32_t Major = 0;
    std::int32_t Minor = 0;
    std::int32_t Release = 0;
    std::int32_t Build = 0;
    bool operator==(const ProductVersion&) const = default;
};

// "0.3.12.30": four non-negative decimal numbers joined by "."; none otherwise.
std::optional<ProductVersion> ParseVersion(std::string_view text);
// "0.3.12.30"
std::string VersionText(const ProductVersion& version);
// The four numbers on lines of their own, as the version check reads them.
std::string VersionLines(const ProductVersion& version);
// "Corvale 0.3.12 (build 30)"
std::string VersionDisplay(const ProductVersion& version);

} // namespace server
