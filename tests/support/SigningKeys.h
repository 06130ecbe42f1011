#pragma once
// Throw-away signing keys for update packages, made with the signing tool at test time:
// "operator" (the one a test trusts) and "stranger" (one it does not).

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <system_error>
#include <unistd.h>

namespace testing_support {

// Made once per test program (see Keys()) and removed at its end by this process only: a
// forked child that exits must not take them away from the tests still to run.
class SigningKeys {
public:
    SigningKeys() {
        std::string pattern = std::filesystem::temp_directory_path() / "corvale-keys-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create the keys folder");
        }
        dir_ = pattern;
        for (const char* name : {"operator", "stranger"}) {
            Run("minisign -G -W -p " + Pub(name).string() + " -s " + Sec(name).string());
        }
    }
    ~SigningKeys() {
        if (::getpid() == owner_) {
            std::error_code ignored;
            std::filesystem::remove_all(dir_, ignored);
        }
    }
    SigningKeys(const SigningKeys&) = delete;
    SigningKeys& operator=(const SigningKeys&) = delete;

    static void Run(const std::string& command) {
        ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
    }
    static std::string ReadAll(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // The public key line, as update_key= holds it.
    std::string KeyLine(const std::string& name) const {
        const std::string text = ReadAll(Pub(name));
        const auto start = text.find('\n') + 1;
        return text.substr(start, text.find('\n', start) - start);
    }
    // The key ID of the public key's comment in 16 hex digits (the tool leaves out leading
    // zeros there).
    std::string KeyId(const std::string& name) const {
        const std::string text = ReadAll(Pub(name));
        const std::string line = text.substr(0, text.find('\n'));
        const std::string id = line.substr(line.rfind(' ') + 1);
        return std::string(16 - std::min<std::size_t>(id.size(), 16), '0') + id;
    }
    // The signature file's text for `bytes` made with key `name` and `comment`; `extra` are
    // more options of the tool.
    std::string Sign(const std::string& bytes, const std::string& comment,
                     const std::string& name = "operator", const std::string& extra = "") const {
        const std::filesystem::path file = dir_ / "to-sign";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
        const std::filesystem::path sig = dir_ / "to-sign.minisig";
        Run("minisign -S " + extra + " -s " + Sec(name).string() + " -m " + file.string() + " -x " +
            sig.string() + " -t '" + comment + "'");
        return ReadAll(sig);
    }

private:
    std::filesystem::path Pub(const std::string& name) const { return dir_ / (name + ".pub"); }
    std::filesystem::path Sec(const std::string& name) const { return dir_ / (name + ".key"); }
    std::filesystem::path dir_;
    const pid_t owner_ = ::getpid();
};

// The keys of this test program; call it first outside a test that changes TMPDIR.
inline const SigningKeys& Keys() {
    static const SigningKeys keys;
    return keys;
}

} // namespace testing_support
