#include "site/BridgeSecurity.h"

#include "site/UrlText.h"

#include <algorithm>
#include <cctype>
#include <random>

namespace http = boost::beast::http;

namespace veltra::host {

namespace {

const char* const SecretHeader = "X-Veltra-Secret";

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

bool contains(const std::vector<std::string>& list, const std::string& item)
{
    return std::find(list.begin(), list.end(), item) != list.end();
}

/// The value of a header, empty when it is absent.
template <class Name>
std::string_view header(const http::request_header<>& request, Name name)
{
    const auto found = request.find(name);
    return found == request.end() ? std::string_view{} : std::string_view(found->value().data(), found->value().size());
}

} // namespace

BridgeSecurity::BridgeSecurity(const std::string& host, unsigned short port)
    : BridgeSecurity(host, port, makeSecret())
{
}

BridgeSecurity::BridgeSecurity(const std::string& host, unsigned short port, std::string secret)
    : _secret(std::move(secret))
{
    const std::string portText = std::to_string(port);
    // An IPv6 literal is bracketed in URLs and Host headers.
    const std::string configured = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    for (const std::string& name : {std::string("127.0.0.1"), std::string("localhost"), lowerCase(configured)}) {
        if (name.empty() || contains(_hosts, name + ":" + portText))
            continue;
        _hosts.push_back(name + ":" + portText);
        _origins.push_back("http://" + name + ":" + portText);
        if (port == 80) { // browsers leave the default port out
            _hosts.push_back(name);
            _origins.push_back("http://" + name);
        }
    }
}

std::string BridgeSecurity::makeSecret()
{
    std::random_device device;
    std::uniform_int_distribution<int> byte(0, 255);
    static const char digits[] = "0123456789abcdef";
    std::string secret;
    for (int i = 0; i < 32; ++i) {
        const int value = byte(device);
        secret += digits[value >> 4];
        secret += digits[value & 15];
    }
    return secret;
}

bool BridgeSecurity::secretMatches(std::string_view candidate) const
{
    if (_secret.empty() || candidate.size() != _secret.size())
        return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < _secret.size(); ++i)
        difference |= static_cast<unsigned char>(_secret[i] ^ candidate[i]);
    return difference == 0;
}

bool BridgeSecurity::originAllowed(std::string_view origin) const
{
    return contains(_origins, lowerCase(origin));
}

bool BridgeSecurity::hostAllowed(std::string_view host) const
{
    return contains(_hosts, lowerCase(host));
}

std::optional<Refusal> BridgeSecurity::checkOrigin(const http::request_header<>& request, bool required) const
{
    if (request.find(http::field::origin) == request.end()) {
        if (required)
            return Refusal{403, "missing Origin"};
        return std::nullopt;
    }
    if (!originAllowed(header(request, http::field::origin)))
        return Refusal{403, "Origin not allowed"};
    return std::nullopt;
}

std::optional<Refusal> BridgeSecurity::check(const http::request_header<>& request, RequestKind kind) const
{
    if (request.find(http::field::host) == request.end())
        return Refusal{400, "missing Host header"};
    if (!hostAllowed(header(request, http::field::host)))
        return Refusal{403, "Host not allowed"};

    switch (kind) {
    case RequestKind::StaticFile:
        return std::nullopt;
    case RequestKind::PageScript: {
        if (auto refusal = checkOrigin(request, false))
            return refusal;
        const std::string_view site = header(request, "Sec-Fetch-Site");
        if (!site.empty() && site != "same-origin" && site != "none")
            return Refusal{403, "page script is for pages of this site only"};
        return std::nullopt;
    }
    case RequestKind::Bridge: {
        if (auto refusal = checkOrigin(request, false))
            return refusal;
        if (!secretMatches(header(request, SecretHeader)))
            return Refusal{403, "missing or wrong secret"};
        return std::nullopt;
    }
    case RequestKind::WebSocket: {
        if (auto refusal = checkOrigin(request, true))
            return refusal;
        const auto target = request.target();
        const std::optional<std::string> fromQuery =
            queryValue(splitTarget(std::string_view(target.data(), target.size())).query, "secret");
        if (!secretMatches(fromQuery ? std::string_view(*fromQuery) : header(request, SecretHeader)))
            return Refusal{403, "missing or wrong secret"};
        return std::nullopt;
    }
    }
    return Refusal{400, "unknown request"};
}

} // namespace veltra::host
