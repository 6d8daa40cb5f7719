#pragma once

#include <boost/beast/http/message.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltra::host {

/// Why a request is turned away: the status to answer and a short text naming the rule.
struct Refusal
{
    unsigned status = 403;
    std::string reason;
};

/// What a request asks for; each kind has its own rules (see BridgeSecurity::check).
enum class RequestKind { StaticFile, PageScript, Bridge, WebSocket };

/// The rules that keep other web sites away from the plug-in host.
///
/// Every request must name one of our own hosts in its Host header, which defeats DNS rebinding
/// (a foreign name resolving to 127.0.0.1 would otherwise be same-origin with us). Beyond that:
/// - static files: nothing more; they hold nothing secret.
/// - the page script (which carries the secret): an Origin, when sent, must be ours, and a
///   Sec-Fetch-Site, when sent, must say same-origin or none, so a foreign page cannot load it
///   with a <script> tag and read the secret out of it.
/// - bridge calls: the secret in the X-Veltra-Secret header, and an Origin, when sent, must be
///   ours. Browsers always send Origin on a POST; a client without one is not a browser page and
///   is trusted once it knows the secret.
/// - WebSocket upgrades: the secret in the query ("secret=") or the header, and an Origin that
///   must be present and ours; browsers always send one on a WebSocket, so its absence is refused.
class BridgeSecurity
{
public:
    /// `host` is the name or address pages use to reach us (besides 127.0.0.1 and localhost);
    /// `port` the port actually bound. The secret is fresh and random.
    BridgeSecurity(const std::string& host, unsigned short port);
    /// The same with a given secret.
    BridgeSecurity(const std::string& host, unsigned short port, std::string secret);

    /// 32 random bytes as 64 lower-case hex digits.
    static std::string makeSecret();

    const std::string& secret() const { return _secret; }
    /// Constant time in the candidate's content, so timing reveals nothing of the secret.
    bool secretMatches(std::string_view candidate) const;

    /// "http://127.0.0.1:PORT", "http://localhost:PORT" and "http://HOST:PORT".
    const std::vector<std::string>& allowedOrigins() const { return _origins; }
    bool originAllowed(std::string_view origin) const;
    /// A Host header value ("127.0.0.1:PORT"), compared without regard to case.
    bool hostAllowed(std::string_view host) const;

    /// Empty when `request` may go on as `kind`.
    std::optional<Refusal> check(const boost::beast::http::request_header<>& request, RequestKind kind) const;

private:
    std::optional<Refusal> checkOrigin(const boost::beast::http::request_header<>& request, bool required) const;

    std::string _secret;
    std::vector<std::string> _hosts;   // "name:port", lower case
    std::vector<std::string> _origins; // "http://name:port", lower case
};

} // namespace veltra::host
