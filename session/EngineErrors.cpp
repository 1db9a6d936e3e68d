#include "session/EngineErrors.h"

#include <cctype>
#include <cstring>

namespace {
enum class Kind {
    UnsafePort,
    InvalidAddress,
    UnsafeRedirect,
    TooManyRedirects,
    Authentication,
    ProxyAuthentication,
    Certificate,
    Tls,
    NoCommonTls,
    ClientCertificate,
    Refused,
    Reset,
    Closed,
    Empty,
    TimedOut,
    Unreachable,
    Offline,
    Proxy,
    Dns,
    BadAnswer,
    Blocked,
    Unknown,
};

// The engine's network errors, by number where the engine showed it here and
// by name (without "net::ERR_") for the rest; its certificate errors are
// those of its certificate error type.
struct Row {
    int code;
    const char* name;
    Kind kind;
};
constexpr Row kRows[] = {
    {-7, "TIMED_OUT", Kind::TimedOut},
    {-101, "CONNECTION_RESET", Kind::Reset},
    {-102, "CONNECTION_REFUSED", Kind::Refused},
    {-105, "NAME_NOT_RESOLVED", Kind::Dns},
    {-113, "SSL_VERSION_OR_CIPHER_MISMATCH", Kind::NoCommonTls},
    {-310, "TOO_MANY_REDIRECTS", Kind::TooManyRedirects},
    {-311, "UNSAFE_REDIRECT", Kind::UnsafeRedirect},
    {-312, "UNSAFE_PORT", Kind::UnsafePort},
    {-321, "INVALID_CHUNKED_ENCODING", Kind::BadAnswer},
    {-323, "UNEXPECTED_PROXY_AUTH", Kind::ProxyAuthentication},
    {-324, "EMPTY_RESPONSE", Kind::Empty},
    {-325, "RESPONSE_HEADERS_TOO_BIG", Kind::BadAnswer},
    {-330, "CONTENT_DECODING_FAILED", Kind::BadAnswer},
    {-346, "RESPONSE_HEADERS_MULTIPLE_CONTENT_LENGTH", Kind::BadAnswer},
    {-354, "CONTENT_LENGTH_MISMATCH", Kind::BadAnswer},
    {-370, "INVALID_HTTP_RESPONSE", Kind::BadAnswer},
    // What the engine ends an HTTP sign-in with that nobody answers.
    {-375, "TOO_MANY_RETRIES", Kind::Authentication},
    {0, "CONNECTION_CLOSED", Kind::Closed},
    {0, "CONNECTION_ABORTED", Kind::Reset},
    {0, "CONNECTION_FAILED", Kind::Unreachable},
    {0, "CONNECTION_TIMED_OUT", Kind::TimedOut},
    {0, "ADDRESS_UNREACHABLE", Kind::Unreachable},
    {0, "ADDRESS_INVALID", Kind::InvalidAddress},
    {0, "INTERNET_DISCONNECTED", Kind::Offline},
    {0, "NETWORK_CHANGED", Kind::Offline},
    {0, "NAME_RESOLUTION_FAILED", Kind::Dns},
    {0, "PROXY_CONNECTION_FAILED", Kind::Proxy},
    {0, "TUNNEL_CONNECTION_FAILED", Kind::Proxy},
    {0, "SOCKS_CONNECTION_FAILED", Kind::Proxy},
    {0, "PROXY_AUTH_REQUESTED", Kind::ProxyAuthentication},
    {0, "PROXY_AUTH_UNSUPPORTED", Kind::ProxyAuthentication},
    {0, "INVALID_AUTH_CREDENTIALS", Kind::Authentication},
    {0, "MISSING_AUTH_CREDENTIALS", Kind::Authentication},
    {0, "UNSUPPORTED_AUTH_SCHEME", Kind::Authentication},
    {0, "MISCONFIGURED_AUTH_ENVIRONMENT", Kind::Authentication},
    {0, "SSL_CLIENT_AUTH_CERT_NEEDED", Kind::ClientCertificate},
    {0, "NO_SSL_VERSIONS_ENABLED", Kind::NoCommonTls},
    {0, "SSL_OBSOLETE_CIPHER", Kind::NoCommonTls},
    {0, "INVALID_URL", Kind::InvalidAddress},
    {0, "DISALLOWED_URL_SCHEME", Kind::InvalidAddress},
    {0, "UNKNOWN_URL_SCHEME", Kind::InvalidAddress},
    {0, "INVALID_REDIRECT", Kind::UnsafeRedirect},
    {0, "INVALID_RESPONSE", Kind::BadAnswer},
    {0, "BLOCKED_BY_CLIENT", Kind::Blocked},
    {0, "BLOCKED_BY_ADMINISTRATOR", Kind::Blocked},
    {0, "BLOCKED_BY_RESPONSE", Kind::Blocked},
    {0, "CLEARTEXT_NOT_PERMITTED", Kind::Blocked},
};

// Families of names the engine has many of.
constexpr struct {
    const char* prefix;
    Kind kind;
} kPrefixes[] = {
    {"CERT_", Kind::Certificate},      {"CERTIFICATE_", Kind::Certificate}, {"SSL_", Kind::Tls},
    {"DNS_", Kind::Dns},               {"HTTP2_", Kind::BadAnswer},         {"QUIC_", Kind::BadAnswer},
    {"RESPONSE_", Kind::BadAnswer},    {"CONTENT_", Kind::BadAnswer},       {"INCOMPLETE_", Kind::BadAnswer},
    {"PROXY_", Kind::Proxy},           {"BLOCKED_", Kind::Blocked},
};

// The short reasons the browser control gives without the engine's name.
constexpr struct {
    const char* reason;
    Kind kind;
} kReasons[] = {
    {"connection refused", Kind::Refused}, {"connection reset", Kind::Reset},
    {"connection closed", Kind::Closed},   {"timed out", Kind::TimedOut},
    {"name not resolved", Kind::Dns},      {"TLS failure", Kind::Tls},
};

// Why a certificate is not trusted, by the engine's certificate error type.
constexpr struct {
    int code;
    const char* name;
    const char* why;
} kCertificateReasons[] = {
    {-150, "SSL_PINNED_KEY_NOT_IN_CERT_CHAIN", "it does not carry the key pinned for this host"},
    {-200, "CERT_COMMON_NAME_INVALID", "it was issued for another name"},
    {-201, "CERT_DATE_INVALID", "it has expired or is not valid yet"},
    {-202, "CERT_AUTHORITY_INVALID", "it was not issued by an authority this computer trusts"},
    {-203, "CERT_CONTAINS_ERRORS", "it contains errors"},
    {-204, "CERT_NO_REVOCATION_MECHANISM", "it cannot be checked for revocation"},
    {-205, "CERT_UNABLE_TO_CHECK_REVOCATION", "it could not be checked for revocation"},
    {-206, "CERT_REVOKED", "it has been revoked"},
    {-207, "CERT_INVALID", "it is not valid"},
    {-208, "CERT_WEAK_SIGNATURE_ALGORITHM", "it is signed with a weak algorithm"},
    {-210, "CERT_NON_UNIQUE_NAME", "it was issued for a name that is not unique"},
    {-211, "CERT_WEAK_KEY", "its key is too weak"},
    {-212, "CERT_NAME_CONSTRAINT_VIOLATION", "its authority may not issue certificates for this name"},
    {-213, "CERT_VALIDITY_TOO_LONG", "it is valid for too long"},
    {-214, "CERTIFICATE_TRANSPARENCY_REQUIRED", "it was not publicly logged as required"},
    {-215, "CERT_SYMANTEC_LEGACY", "its authority is no longer trusted"},
    {-217, "CERT_KNOWN_INTERCEPTION_BLOCKED", "it belongs to software known to intercept connections"},
    {-218, "SSL_OBSOLETE_VERSION", "the service uses an obsolete version of TLS"},
};

bool StartsWith(const std::string& s, const char* prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

// The engine's name without "net::ERR_"; also read from a reason that is the engine's own text.
std::string ShortName(const TNavigateErrorArgs& error)
{
    std::string name = error.Name.empty() && StartsWith(error.Reason, "net::ERR_") ? error.Reason : error.Name;
    if (StartsWith(name, "net::")) name.erase(0, 5);
    if (StartsWith(name, "ERR_")) name.erase(0, 4);
    return name;
}

// The host without its port, as a name is looked up or a certificate issued.
std::string NameOf(const std::string& host)
{
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        return close == std::string::npos ? host : host.substr(0, close + 1);
    }
    const std::size_t colon = host.rfind(':');
    return colon == std::string::npos || host.find(':') != colon ? host : host.substr(0, colon);
}

// "It was ..." from the engine's "Server's certificate ... ." for the middle of a sentence.
std::string Clause(std::string text)
{
    while (!text.empty() && (text.back() == '.' || text.back() == ' ')) text.pop_back();
    if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

Kind Classify(const TNavigateErrorArgs& error, const std::string& name)
{
    if (error.Code != 0)
        for (const Row& row : kRows)
            if (row.code == error.Code) return row.kind;
    if (error.Domain == TNavigateErrorDomain::Certificate) return Kind::Certificate;
    for (const auto& c : kCertificateReasons)
        if ((error.Code != 0 && c.code == error.Code) || name == c.name) return Kind::Certificate;
    if (!name.empty()) {
        for (const Row& row : kRows)
            if (name == row.name) return row.kind;
        for (const auto& p : kPrefixes)
            if (StartsWith(name, p.prefix)) return p.kind;
    }
    if (error.Domain == TNavigateErrorDomain::Dns) return Kind::Dns;
    if (name.empty())
        for (const auto& r : kReasons)
            if (error.Reason == r.reason) return r.kind;
    return Kind::Unknown;
}

std::string CertificateReason(const TNavigateErrorArgs& error, const std::string& name)
{
    for (const auto& c : kCertificateReasons)
        if ((error.Code != 0 && c.code == error.Code) || name == c.name) return c.why;
    const std::string engine = Clause(error.CertificateReason);
    return engine.empty() ? "the engine gave no reason" : engine;
}
}  // namespace

std::string HostOfUrl(const std::string& url)
{
    const std::size_t scheme = url.find("://");
    if (scheme == std::string::npos) return url;
    const std::size_t from = scheme + 3;
    const std::size_t end = url.find_first_of("/?#", from);
    std::string authority = url.substr(from, end == std::string::npos ? std::string::npos : end - from);
    const std::size_t at = authority.rfind('@');
    if (at != std::string::npos) authority = authority.substr(at + 1);
    if (authority.empty()) return url;
    for (char& c : authority) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return authority;
}

TLoadFailure DescribeLoadFailure(const TNavigateErrorArgs& error)
{
    const std::string host = HostOfUrl(error.URL);
    TLoadFailure out;
    if (error.StatusCode > 0) {
        // The service answered: its own page says more than a sentence could.
        if (error.StatusCode == 407) {
            out.Sentence = "The proxy for " + host + " asks for a sign-in that this program cannot give.";
            out.Permanent = true;
        } else {
            out.Sentence = "The service at " + host + " answered HTTP " + std::to_string(error.StatusCode) + ".";
        }
        return out;
    }
    const std::string name = ShortName(error);
    if (!name.empty()) out.Code = "net::ERR_" + name;
    else if (error.Code != 0) out.Code = "net error " + std::to_string(error.Code);

    switch (Classify(error, name)) {
    case Kind::UnsafePort:
        out.Sentence = "The address " + host + " uses a port that web pages may not use.";
        out.Permanent = out.NothingSent = true;
        break;
    case Kind::InvalidAddress:
        out.Sentence = "The address " + error.URL + " is not one this program can load.";
        out.Permanent = out.NothingSent = true;
        break;
    case Kind::UnsafeRedirect:
        out.Sentence = host + " redirected to an address that may not be loaded.";
        out.Permanent = true;
        break;
    case Kind::TooManyRedirects:
        // A loop of redirects is the service's setup or the base URL's; it stays until one is changed.
        out.Sentence = host + " redirected too many times, in a loop.";
        out.Permanent = true;
        break;
    case Kind::Authentication:
        out.Sentence = host + " asks for a sign-in of its own (HTTP authentication) that this program cannot give.";
        out.Permanent = true;
        break;
    case Kind::ProxyAuthentication:
        out.Sentence = "The proxy for " + host + " asks for a sign-in that this program cannot give.";
        out.Permanent = true;
        break;
    case Kind::Certificate: {
        const std::string certHost = error.CertificateHost.empty() ? NameOf(host) : error.CertificateHost;
        out.Sentence = "The service's certificate for " + certHost + " is not trusted: " +
                       CertificateReason(error, name) + ".";
        out.Permanent = out.NothingSent = true;
        break;
    }
    case Kind::Tls:
        out.Sentence = "A secure connection to " + host + " could not be made.";
        out.NothingSent = true;
        break;
    case Kind::NoCommonTls:
        out.Sentence = host + " offers no secure connection that this program accepts.";
        out.Permanent = out.NothingSent = true;
        break;
    case Kind::ClientCertificate:
        out.Sentence = host + " asks for a certificate of the user's, which this program cannot give.";
        out.Permanent = out.NothingSent = true;
        break;
    case Kind::Refused:
        out.Sentence = host + " refused the connection.";
        out.NothingSent = true;
        break;
    case Kind::Reset: out.Sentence = "The connection to " + host + " was reset."; break;
    case Kind::Closed: out.Sentence = host + " closed the connection."; break;
    case Kind::Empty: out.Sentence = host + " closed the connection without an answer."; break;
    case Kind::TimedOut: out.Sentence = "The connection to " + host + " timed out."; break;
    case Kind::Unreachable:
        out.Sentence = host + " cannot be reached.";
        out.NothingSent = true;
        break;
    case Kind::Offline:
        out.Sentence = "This computer is not connected to a network, so " + host + " cannot be reached.";
        out.NothingSent = true;
        break;
    case Kind::Proxy:
        out.Sentence = "The proxy server for " + host + " could not be reached.";
        out.NothingSent = true;
        break;
    case Kind::Dns:
        out.Sentence = "The name " + NameOf(host) + " could not be found.";
        out.NothingSent = true;
        break;
    case Kind::BadAnswer: out.Sentence = host + " sent an answer that could not be read."; break;
    case Kind::Blocked:
        out.Sentence = "Loading " + host + " was blocked.";
        out.Permanent = out.NothingSent = true;
        break;
    case Kind::Unknown:
        // The program's own reasons (no page came in time) and what the table does not know.
        out.Sentence = !out.Code.empty() || error.Reason.empty() || StartsWith(error.Reason, "net::")
                           ? host + " could not be loaded."
                           : host + " could not be loaded: " + error.Reason + ".";
        break;
    }
    return out;
}
