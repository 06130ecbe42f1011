#pragma once
// A small tmpfs of the test's own (tests run as root), unmounted at the end: a file system
// that a test can fill up and free again.

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/mount.h>

namespace testing_support {

class SmallFileSystem {
public:
    // `size` as tmpfs takes it ("1m": one MiB).
    explicit SmallFileSystem(const std::string& where, const std::string& size = "1m")
        : where_(where) {
        std::filesystem::create_directory(where_);
        mounted_ =
            ::mount("corvale-test", where_.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
    }
    ~SmallFileSystem() {
        if (mounted_) {
            ::umount2(where_.c_str(), MNT_DETACH);
        }
    }
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool Mounted() const { return mounted_; }

    // Writes a file until the file system has no space left.
    void Fill(const std::string& path) const {
        std::FILE* file = std::fopen(path.c_str(), "w");
        ASSERT_NE(file, nullptr);
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), file) == block.size() &&
               std::fflush(file) == 0) {
        }
        std::fclose(file);
    }

private:
    std::string where_;
    bool mounted_ = false;
};

} // namespace testing_support
