#include "core/Net.h"

#include "core/Lib5.h"
#include "platform/Socket.h"
#include "platform/TlsStream.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string_view>

namespace {

std::atomic<std::chrono::milliseconds::rep> netTimeoutMs{kDefaultNetTimeout.count()};

constexpr std::size_t kReceiveBufferSize = 1024;
constexpr std::string_view kHeaderEnd = "\r\n\r\n";

// Where the body goes. Bytes seen before the end of the header block are appended too (a
// reply without one is delivered whole); once the end is found they are dropped again.
class BodySink {
public:
    virtual ~BodySink() = default;
    virtual bool Append(std::string_view bytes) = 0;
    virtual bool DropAll() = 0;
};

class MemorySink final : public BodySink {
public:
    bool Append(std::string_view bytes) override {
        body_.append(bytes);
        return true;
    }
    bool DropAll() override {
        body_.clear();
        return true;
    }
    std::string Finish() {
        body_.push_back('\0');
        return std::move(body_);
    }

private:
    std::string body_;
};

class FileSink final : public BodySink {
public:
    explicit FileSink(const std::string& path) : file_(std::fopen(path.c_str(), "wbe")) {}
    bool IsOpen() const { return file_ != nullptr; }
    bool Append(std::string_view bytes) override {
        return std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) == bytes.size();
    }
    bool DropAll() override {
        return std::fflush(file_.get()) == 0 && std::freopen(nullptr, "wbe", file_.get());
    }
    bool Close() { return std::fclose(file_.release()) == 0; }

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
};

// Finds the end of the header block even when it arrives split across reads: the last three
// bytes of the previous read are searched together with the new one.
class HeaderEndFinder {
public:
    bool Found() const { return found_; }
    // Offset in `chunk` where the body starts, or none when the header end is not in it.
    std::optional<std::size_t> Feed(std::string_view chunk) {
        std::string window = carry_;
        window.append(chunk);
        const auto at = window.find(kHeaderEnd);
        if (at != std::string::npos) {
            found_ = true;
            return at + kHeaderEnd.size() - carry_.size();
        }
        const std::size_t keep = std::min(window.size(), kHeaderEnd.size() - 1);
        carry_ = window.substr(window.size() - keep);
        return std::nullopt;
    }

private:
    std::string carry_;
    bool found_ = false;
};

struct UrlParts {
    std::string host;
    std::string path;
    bool secure = false;
};

std::optional<UrlParts> SplitUrl(const std::string& url) {
    const auto slashes = url.find("//");
    const std::size_t hostStart = slashes == std::string::npos ? 0 : slashes + 2;
    const auto pathSlash = url.find('/', hostStart);
    if (pathSlash == std::string::npos) {
        return std::nullopt;
    }
    std::string scheme = slashes == std::string::npos ? "" : url.substr(0, slashes);
    for (char& c : scheme) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    return UrlParts{url.substr(hostStart, pathSlash - hostStart), url.substr(pathSlash + 1),
                    scheme == "https:"};
}

std::mutex trustMutex;
std::string trustedAuthorityFile;

std::string TrustedAuthorityFile() {
    std::lock_guard lock(trustMutex);
    return trustedAuthorityFile;
}

// The plain connection as the stream that TLS runs over, or that carries the exchange itself.
class SocketStream final : public platform::ByteStream {
public:
    explicit SocketStream(platform::TcpConnection connection)
        : connection_(std::move(connection)) {}
    bool SendAll(std::string_view bytes) override { return connection_.SendAll(bytes); }
    platform::ReadResult Read(char* buffer, std::size_t capacity) override {
        return connection_.Read(buffer, capacity);
    }

private:
    platform::TcpConnection connection_;
};

// A dotted address is used as it is; anything else is looked up by name.
std::optional<std::uint32_t> ServerAddress(const std::string& host) {
    const auto dot = host.find('.');
    if (dot != std::string::npos && !HasNoDigit(std::string_view(host).substr(0, dot))) {
        if (auto address = platform::ParseDottedAddress(host)) {
            return address;
        }
    }
    return platform::ParseDottedAddress(ResolveHost(host));
}

enum class Transfer { Completed, Failed };

Transfer ReceiveBody(platform::ByteStream& connection, BodySink& sink) {
    std::array<char, kReceiveBufferSize> buffer;
    HeaderEndFinder header;
    for (;;) {
        const auto read = connection.Read(buffer.data(), buffer.size());
        if (read.status == platform::ReadStatus::Closed ||
            read.status == platform::ReadStatus::Reset) {
            return Transfer::Completed;
        }
        if (read.status != platform::ReadStatus::Data) {
            return Transfer::Failed;
        }
        std::string_view chunk(buffer.data(), read.count);
        if (!header.Found()) {
            if (const auto bodyStart = header.Feed(chunk)) {
                if (!sink.DropAll()) {
                    return Transfer::Failed;
                }
                chunk.remove_prefix(*bodyStart);
            }
        }
        if (!chunk.empty() && !sink.Append(chunk)) {
            return Transfer::Failed;
        }
        PumpMessages();
    }
}

} // namespace

std::chrono::milliseconds NetTimeout() {
    return std::chrono::milliseconds(netTimeoutMs.load());
}

void SetNetTimeoutForTests(std::chrono::milliseconds timeout) {
    netTimeoutMs.store(timeout.count());
}

std::string BuildRequest(const std::string& host, const std::string& path) {
    std::string request;
    request.reserve(362 + host.size() + path.size());
    request += "GET /" + path + " HTTP/1.0\r\n";
    request += "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, "
               "application/x-shockwave-flash, application/vnd.ms-excel, "
               "application/vnd.ms-powerpoint, application/msword, */*\r\n";
    request += "Accept-Language: en-us\r\n";
    request += "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR "
               "1.1.4322; .NET CLR 2.0.50727)\r\n";
    request += "Host: " + host + "\r\n";
    request += "Proxy-Connection: Keep-Alive\r\n\r\n";
    return request;
}

bool UrlGet(const std::string& url, std::uint16_t port, const std::string& fileName,
            TMemoryBlock& buffer, std::size_t& size) {
    return UrlGet(url, port, fileName, buffer, size, NetTimeout());
}

bool UrlGet(const std::string& url, std::uint16_t port, const std::string& fileName,
            TMemoryBlock& buffer, std::size_t& size, std::chrono::milliseconds timeout) {
    return UrlGetWithReason(url, port, fileName, buffer, size, timeout).ok;
}

void SetTrustedAuthorityFile(std::string path) {
    std::lock_guard lock(trustMutex);
    trustedAuthorityFile = std::move(path);
}

TUrlGetResult UrlGetWithReason(const std::string& url, std::uint16_t port,
                               const std::string& fileName, TMemoryBlock& buffer, std::size_t& size,
                               std::chrono::milliseconds timeout) {
    const auto parts = SplitUrl(url);
    if (!parts) {
        return {};
    }
    const std::string request = BuildRequest(parts->host, parts->path);
    const auto address = ServerAddress(parts->host);
    if (!address) {
        return {};
    }
    auto tcp = platform::TcpConnection::Connect(*address, port, timeout);
    if (!tcp) {
        return {};
    }
    SocketStream plain(std::move(*tcp));
    platform::ByteStream* connection = &plain;
    std::unique_ptr<platform::TlsStream> secure;
    if (parts->secure) {
        // The certificate names the host alone, never a port written after it.
        const std::string serverName = parts->host.substr(0, parts->host.find(':'));
        auto opened = platform::TlsStream::Open(plain, serverName, TrustedAuthorityFile());
        if (opened.outcome != platform::TlsStream::Outcome::Established) {
            return {false, std::move(opened.reason)};
        }
        secure = std::move(opened.stream);
        connection = secure.get();
    }

    const auto fail = [&] {
        buffer.reset();
        size = 0;
        return TUrlGetResult{};
    };

    if (fileName.empty()) {
        buffer.reset();
        size = 0;
        MemorySink sink;
        // A failed send is not decided here: the reads that follow decide.
        connection->SendAll(request);
        if (ReceiveBody(*connection, sink) == Transfer::Failed) {
            return fail();
        }
        buffer = sink.Finish();
        size = buffer->size();
        return {true, {}};
    }

    FileSink sink(fileName);
    if (!sink.IsOpen()) {
        return {};
    }
    connection->SendAll(request);
    if (ReceiveBody(*connection, sink) == Transfer::Failed) {
        sink.Close(); // keeps what was written
        return fail();
    }
    return {sink.Close(), {}};
}

std::string ResolveHost(const std::string& name) {
    return platform::ResolveIPv4(name);
}
