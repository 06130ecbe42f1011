#pragma once
// The records the service client shares between the main window and the background tasks.

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

struct TProduct {
    std::string Name;
    std::int32_t Major = 0;
    std::int32_t Minor = 0;
    std::int32_t Release = 0;
    std::int32_t Build = 0;
    std::string ReleaseDate;
    std::string VersionText;
};

struct TConfig {
    std::string AppPath; // ends in "/"
    std::string IniFile;
    TProduct Product;
};

// One field of the run-time variables. The window thread and the task threads read and write
// these fields at any time, so every read yields a whole value, the old or the new one.
template <typename T> class TSharedField {
public:
    TSharedField() = default;
    TSharedField(const TSharedField&) = delete;
    TSharedField& operator=(const TSharedField&) = delete;

    TSharedField& operator=(T value) {
        Store(std::move(value));
        return *this;
    }
    operator T() const { return Load(); } // NOLINT: reads like the plain field it stands for

    T Load() const {
        std::lock_guard lock(mutex_);
        return value_;
    }
    void Store(T value) {
        std::lock_guard lock(mutex_);
        value_ = std::move(value);
    }

private:
    mutable std::mutex mutex_;
    T value_{};
};

// A date-time as days since 30 December 1899, the fraction being the local time of day.
using TDateTime = double;

struct TVars {
    TSharedField<std::string> IP;
    TSharedField<std::string> UserID;
    TSharedField<std::string> Password; // the stored (scrambled) form, never the typed text
    TSharedField<std::string> LoginID;  // empty, kLoginMarker or the accepted user ID
    TSharedField<TDateTime> ChangeTime;
    TSharedField<std::string> HostName;
};

// The login state while an address report is outstanding or was refused.
inline const std::string kLoginMarker(1, '\xFF');
