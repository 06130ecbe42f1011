// Package signatures made by the signing tool at test time with throw-away keys.

#include "util/uSignature.h"

#include "tests/support/TempFolder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

void RunTool(const std::string& command) {
    ASSERT_EQ(std::system((command + " >/dev/null 2>&1").c_str()), 0) << command;
}

class Signatures : public ::testing::Test {
protected:
    void SetUp() override {
        MakeKey("release");
        MakeKey("other");
        WriteAll(Package(), "#!/bin/sh\necho the update\n");
    }
    fs::path Package() const { return Dir.Path() / "cvlupf.exe"; }
    void MakeKey(const std::string& name) {
        RunTool("minisign -G -W -p " + (Dir.Path() / (name + ".pub")).string() + " -s " +
                (Dir.Path() / (name + ".key")).string());
    }
    // Signs the package with key `name`; returns the signature file's text.
    std::string Sign(const std::string& name, const std::string& comment,
                     const std::string& extra = "") {
        const fs::path sig = Dir.Path() / "cvlupf.exe.minisig";
        RunTool("minisign -S " + extra + " -s " + (Dir.Path() / (name + ".key")).string() + " -m " +
                Package().string() + " -x " + sig.string() + " -t '" + comment + "'");
        return ReadAll(sig);
    }
    TUpdatePublicKey Key(const std::string& name) {
        std::string reason;
        auto key = ParseUpdatePublicKey(ReadAll(Dir.Path() / (name + ".pub")), reason);
        EXPECT_TRUE(key) << reason;
        return key.value_or(TUpdatePublicKey{});
    }
    bool Verify(const std::string& packageBytes, const std::string& signatureText,
                const std::vector<TUpdatePublicKey>& keys, std::string& reason) {
        const auto signature = ParseUpdateSignature(signatureText, reason);
        if (!signature) {
            return false;
        }
        TSignatureVerifier verifier;
        // In uneven portions, as read from disk.
        for (std::size_t at = 0; at < packageBytes.size(); at += 7) {
            const std::string part = packageBytes.substr(at, 7);
            verifier.Update(reinterpret_cast<const unsigned char*>(part.data()), part.size());
        }
        return verifier.Finish(*signature, keys, reason);
    }
    testing_support::TempFolder Dir;
};

TEST_F(Signatures, AGoodSignatureVerifiesAndCarriesItsVersion) {
    const std::string text = Sign("release", "corvale-update version=0.3.12.30");
    std::string reason;
    EXPECT_TRUE(Verify(ReadAll(Package()), text, {Key("other"), Key("release")}, reason)) << reason;
    const auto signature = ParseUpdateSignature(text, reason);
    ASSERT_TRUE(signature);
    EXPECT_EQ(signature->TrustedComment, "corvale-update version=0.3.12.30");
    EXPECT_EQ(SignedVersion(signature->TrustedComment), "0.3.12.30");
    // The key ID printed is the one the tool writes into the key file's comment, which leaves
    // out leading zeros (one key in sixteen has one).
    std::string id = KeyIdText(Key("release").KeyId);
    ASSERT_EQ(id.size(), 16u);
    id.erase(0, std::min(id.find_first_not_of('0'), id.size() - 1));
    EXPECT_NE(ReadAll(Dir.Path() / "release.pub").find("public key " + id + "\n"),
              std::string::npos);
}

TEST_F(Signatures, RefusalsNameTheirReason) {
    const std::string text = Sign("release", "corvale-update version=1.0");
    const std::string package = ReadAll(Package());
    std::string tampered = package;
    tampered[3] = static_cast<char>(tampered[3] ^ 1);
    std::string swappedComment = text;
    swappedComment.replace(swappedComment.find("version=1.0"), 11, "version=9.0");

    struct Case {
        const char* name;
        std::string package, signature;
        std::vector<TUpdatePublicKey> keys;
        const char* reasonPart;
    };
    const Case cases[] = {
        {"tampered by one byte", tampered, text, {Key("release")}, "does not match"},
        {"another file", package + "x", text, {Key("release")}, "does not match"},
        {"unknown key", package, text, {Key("other")}, "unknown key"},
        {"no key at all", package, text, {}, "unknown key"},
        {"trusted comment changed", package, swappedComment, {Key("release")}, "trusted comment"},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_FALSE(Verify(c.package, c.signature, c.keys, reason)) << c.name;
        EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << c.name << ": " << reason;
    }
}

TEST_F(Signatures, TheLegacyFormIsRefusedWithAClearReason) {
    const std::string text = Sign("release", "corvale-update version=1.0", "-l");
    std::string reason;
    EXPECT_FALSE(ParseUpdateSignature(text, reason));
    EXPECT_NE(reason.find("legacy"), std::string::npos) << reason;
}

TEST_F(Signatures, MalformedFilesAreRefused) {
    const std::string good = Sign("release", "corvale-update version=1.0");
    const auto line = [&](int n) {
        std::size_t at = 0;
        for (int i = 0; i < n; ++i) {
            at = good.find('\n', at) + 1;
        }
        return good.substr(at, good.find('\n', at) - at);
    };
    const std::string l0 = line(0), l1 = line(1), l2 = line(2), l3 = line(3);
    const std::string cases[] = {
        "",
        l0 + "\n" + l1 + "\n" + l2 + "\n",                             // no global signature
        l1 + "\n" + l0 + "\n" + l2 + "\n" + l3 + "\n",                 // lines out of order
        l0 + "\n" + l1.substr(4) + "\n" + l2 + "\n" + l3 + "\n",       // short signature
        l0 + "\n" + l1 + "AAAA\n" + l2 + "\n" + l3 + "\n",             // long signature
        l0 + "\n" + l1 + "\n" + l2 + "\n" + l3.substr(0, 10) + "\n",   // short global
        l0 + "\n" + "*" + l1.substr(1) + "\n" + l2 + "\n" + l3 + "\n", // outside the alphabet
        l0 + "\n" + l1 + "\n" + "comment: x\n" + l3 + "\n",            // not a trusted comment
        "<html>Not Found</html>\n",
    };
    for (const std::string& text : cases) {
        std::string reason;
        EXPECT_FALSE(ParseUpdateSignature(text, reason)) << text;
        EXPECT_FALSE(reason.empty()) << text;
    }
    std::string reason;
    EXPECT_TRUE(ParseUpdateSignature(l0 + "\r\n" + l1 + "\r\n" + l2 + "\r\n" + l3 + "\r\n", reason))
        << "line ends of another system: " << reason;
}

TEST(UpdatePublicKey, ReadsTheBareLineAndRefusesOtherText) {
    // A key line of the tool's format: "Ed", key ID 0102..08, 32 bytes of key.
    std::string bytes = "Ed";
    for (int i = 1; i <= 8 + 32; ++i) {
        bytes += static_cast<char>(i);
    }
    std::string reason;
    const std::string line = [&] {
        std::string out;
        static const char* A = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (std::size_t i = 0; i < bytes.size(); i += 3) {
            const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                               (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                               static_cast<unsigned char>(bytes[i + 2]);
            out += A[(v >> 18) & 63];
            out += A[(v >> 12) & 63];
            out += A[(v >> 6) & 63];
            out += A[v & 63];
        }
        return out;
    }();
    const auto key = ParseUpdatePublicKey(line, reason);
    ASSERT_TRUE(key) << reason;
    EXPECT_EQ(KeyIdText(key->KeyId), "0807060504030201");
    EXPECT_EQ(key->Key[0], 9);
    EXPECT_FALSE(ParseUpdatePublicKey("", reason));
    EXPECT_FALSE(ParseUpdatePublicKey(line.substr(4), reason));
    std::string wrongAlgorithm = line;
    wrongAlgorithm[0] = 'A';
    EXPECT_FALSE(ParseUpdatePublicKey(wrongAlgorithm, reason));
    EXPECT_NE(reason.find("Ed25519"), std::string::npos) << reason;
}

TEST(UpdatePublicKey, TheReleaseKeyFileIsAnEd25519Key) {
    const std::string text = ReadAll(CORVALE_UPDATE_KEY_FILE);
    std::string reason;
    const auto key = ParseUpdatePublicKey(text, reason);
    ASSERT_TRUE(key) << reason;
    EXPECT_NE(text.find(KeyIdText(key->KeyId)), std::string::npos);
}

TEST(SignedVersion, TakesTheVersionWord) {
    const std::pair<const char*, const char*> cases[] = {
        {"corvale-update version=0.3.12.30", "0.3.12.30"},
        {"version=1.2 file:cvlupf.exe", "1.2"},
        {"timestamp:1 file:x", ""},
        {"subversion=1.2", ""},
        {"", ""},
    };
    for (const auto& [comment, version] : cases) {
        EXPECT_EQ(SignedVersion(comment), version) << comment;
    }
}

} // namespace
