#include "core/Net.h"

#include "core/HttpExchange.h"
#include "core/Lib5.h"
#include "platform/Socket.h"
#include "platform/TlsStream.h"
#include "util/AsciiCase.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string_view>
#include <unistd.h>
#include <utility>

namespace {

std::mutex& SeamMutex() {
    static std::mutex mutex;
    return mutex;
}
TNetLimits& CurrentLimits() {
    static TNetLimits limits;
    return limits;
}
std::function<std::string(const std::string&)>& TestResolver() {
    static std::function<std::string(const std::string&)> resolver;
    return resolver;
}

class MemorySink final : public IBodySink {
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

class FileSink final : public IBodySink {
public:
    explicit FileSink(const std::string& path) : file_(std::fopen(path.c_str(), "wbe")) {}
    bool IsOpen() const { return file_ != nullptr; }
    bool Append(std::string_view bytes) override {
        written_ = true;
        return std::fwrite(bytes.data(), 1, bytes.size(), file_.get()) == bytes.size();
    }
    // Empties the file through its own descriptor: no reopening by name.
    bool DropAll() override {
        if (!std::exchange(written_, false)) {
            return true;
        }
        return std::fflush(file_.get()) == 0 && ::ftruncate(::fileno(file_.get()), 0) == 0 &&
               (std::rewind(file_.get()), std::ferror(file_.get()) == 0);
    }
    bool Close() { return std::fclose(file_.release()) == 0; }

private:
    struct Closer {
        void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Closer> file_;
    bool written_ = false;
};

struct UrlParts {
    std::string scheme; // what stands before "//", lower case: "http:" or "https:"
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
    std::string scheme =
        slashes == std::string::npos ? "" : AsciiLower(std::string_view(url).substr(0, slashes));
    const bool secure = scheme == "https:";
    return UrlParts{std::move(scheme), url.substr(hostStart, pathSlash - hostStart),
                    url.substr(pathSlash + 1), secure};
}

constexpr std::uint16_t kHttpPort = 80;
constexpr std::uint16_t kHttpsPort = 443;

// A dotted address is used as it is; anything else is looked up by name, a first label with
// a digit in it ("web1.example.org") included.
std::optional<std::uint32_t> ServerAddress(const std::string& host) {
    const auto dot = host.find('.');
    if (dot != std::string::npos && !HasNoDigit(std::string_view(host).substr(0, dot))) {
        if (auto address = platform::ParseDottedAddress(host)) {
            return address;
        }
    }
    return platform::ParseDottedAddress(ResolveHost(host));
}

} // namespace

TNetLimits NetLimits() {
    std::lock_guard lock(SeamMutex());
    return CurrentLimits();
}

void SetNetLimitsForTests(const TNetLimits& limits) {
    std::lock_guard lock(SeamMutex());
    CurrentLimits() = limits;
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

std::string HostField(const std::string& host, std::uint16_t port, std::uint16_t defaultPort) {
    if (port == defaultPort || host.find(':') != std::string::npos) {
        return host;
    }
    return host + ":" + std::to_string(port);
}

bool UrlGet(const std::string& url, std::uint16_t port, const std::string& fileName,
            TMemoryBlock& buffer, std::size_t& size) {
    TFetchResult result = Fetch({.Url = url, .Port = port, .FileName = fileName});
    if (result.RequestSent && (fileName.empty() || !result.Ok)) {
        buffer = std::move(result.Body);
        size = buffer ? buffer->size() : 0;
    }
    return result.Ok;
}

TFetchResult Fetch(const TFetchRequest& request) {
    const auto startedAt = std::chrono::steady_clock::now();
    const TNetLimits& limits = request.Limits;
    const auto parts = SplitUrl(request.Url);
    if (!parts) {
        return {};
    }
    const std::string requestText = BuildRequest(
        HostField(parts->host, request.Port, parts->secure ? kHttpsPort : kHttpPort), parts->path);
    const auto address = ServerAddress(parts->host);
    if (!address) {
        return {};
    }
    const bool intoMemory = request.FileName.empty();
    // A download into a file has no end of its own: it must only keep going.
    TExchangeLimits exchange =
        intoMemory
            ? TExchangeLimits{limits.PerRead, startedAt + limits.Exchange, limits.MemoryBody}
            : TExchangeLimits{limits.PerRead, platform::Deadline::max(), limits.FileBody,
                              TProgressRule{limits.FileProgressBytes, limits.FileProgressSpan}};
    auto connection = platform::TcpConnection::Connect(
        *address, request.Port,
        std::min(exchange.End, std::chrono::steady_clock::now() + limits.PerRead));
    if (!connection) {
        return {};
    }
    platform::ByteStream* stream = &*connection;
    std::unique_ptr<platform::TlsStream> secure;
    if (parts->secure) {
        // The handshake is one more wait of the exchange, under the same limits.
        const auto handshakeEnd =
            std::min(exchange.End, std::chrono::steady_clock::now() + limits.PerRead);
        // The certificate names the host alone, never a port written after it.
        auto opened =
            platform::TlsStream::Open(*connection, parts->host.substr(0, parts->host.find(':')),
                                      request.AuthorityFile, handshakeEnd);
        if (opened.outcome != platform::TlsStream::Outcome::Established) {
            return {.SecureFailure = std::move(opened.reason)};
        }
        secure = std::move(opened.stream);
        stream = secure.get();
    }

    if (intoMemory) {
        MemorySink sink;
        if (ExchangeOver(*stream, requestText, sink, exchange) != TExchangeEnd::Completed) {
            return {.RequestSent = true}; // what was received is dropped with the sink
        }
        return {.Ok = true, .RequestSent = true, .Body = sink.Finish()};
    }

    FileSink sink(request.FileName);
    if (!sink.IsOpen()) {
        return {};
    }
    const TExchangeEnd end = ExchangeOver(*stream, requestText, sink, exchange);
    if (end != TExchangeEnd::Completed) {
        sink.Close(); // keeps what was written
        if (end == TExchangeEnd::TooLarge) {
            std::remove(request.FileName.c_str()); // too large to be what was asked for
        }
        return {.RequestSent = true};
    }
    return {.Ok = sink.Close(), .RequestSent = true};
}

std::string ResolveHost(const std::string& name) {
    std::function<std::string(const std::string&)> resolver;
    {
        std::lock_guard lock(SeamMutex());
        resolver = TestResolver();
    }
    if (name.empty()) {
        return {};
    }
    return resolver ? resolver(name) : platform::ResolveIPv4(name);
}

void SetResolverForTests(std::function<std::string(const std::string& name)> resolver) {
    std::lock_guard lock(SeamMutex());
    TestResolver() = std::move(resolver);
}
