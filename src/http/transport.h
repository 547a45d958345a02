#pragma once
// The transport beneath the program's one HTTP operation: a POST of a ready
// body to an address, directly or through a named proxy. The Windows build
// speaks WinHTTP (http_win32.cpp); the native build has a stand-in that fails
// every post (http_native.cpp). Tests may install a transport of their own
// for the whole process, as they install a message-box handler.

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kelvra {

// A transport failure or an answer the program does not accept. The message
// is for the developer's eyes; PostData swallows it.
class HttpError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// The largest answer body the program accepts. A larger answer fails without
// being read into memory: the service answers a word or a sentence.
inline constexpr std::size_t kMaxAnswerBytes = 1024 * 1024;

// Every wait is bounded: without limits a server that accepts and then stays
// silent would freeze the tray program, whose only thread does the post.
struct HttpTimeouts {
    int resolveMs = 30'000;
    int connectMs = 30'000;
    int sendMs = 30'000;
    int receiveMs = 60'000;    // per wait for the answer's headers or a piece of its body
    int totalReadMs = 60'000;  // for the whole body, against a server that drips it
};

struct HttpProxy {
    std::wstring host;
    int port = 0;
    // The proxy's credentials, sent only after the proxy itself has refused
    // a request without them. With a user name, a HEAD of an address under
    // the reserved .invalid domain asks the proxy first, without a body and
    // on a connection of its own: no server but the proxy can answer it.
    // Only its 407 sends the post (once) with them; any other answer sends it
    // once without them. A 407 to the post itself, whoever sent it, fails the
    // post (and is logged) and sends nothing again; so does a failure of the
    // HEAD, a reset included. A proxy that needs no credentials never gets
    // them, so it cannot pass them on; the service never gets them, also not
    // inside an https tunnel. Empty user name: none, and no HEAD either.
    std::wstring username;
    std::wstring password;
};

struct HttpPost {
    std::wstring url;  // http:// or https:// address
    std::wstring userAgent;
    std::wstring contentType;
    std::string body;
    std::optional<HttpProxy> proxy;  // none: straight to the host, never a system proxy
};

struct HttpAnswer {
    unsigned status = 0;
    std::string contentType;  // the Content-Type header, empty when absent
    std::string body;         // read only for a 2xx status
};

class HttpTransport {
  public:
    virtual ~HttpTransport() = default;

    // Sends the post and returns the answer, whatever its status; redirects
    // are never followed. Raises HttpError when the exchange fails (no
    // connection, a time limit, an answer cut short, AbandonHttpPosts) and
    // when a 2xx body is larger than kMaxAnswerBytes. While it waits, the
    // calling thread serves its pending window messages when a pump is
    // installed (common/pending_messages.h).
    virtual HttpAnswer Post(const HttpPost& post) = 0;
};

// This build's real transport with the given time limits.
std::unique_ptr<HttpTransport> MakePlatformTransport(const HttpTimeouts& timeouts = {});

// Installs a transport for every post of the process; an empty pointer
// restores this build's real one. Returns the one installed before (empty
// when that was the real one).
std::shared_ptr<HttpTransport> SetHttpTransport(std::shared_ptr<HttpTransport> transport);

HttpTransport& CurrentHttpTransport();

// Every post in flight gives up at once and fails with HttpError; posts
// started afterwards go ahead as usual. For a program that is ending: the
// answer no longer matters, and a service that answers slowly must not keep
// it alive.
void AbandonHttpPosts();

// Changes with every AbandonHttpPosts: a post that saw another value when it
// started has been abandoned.
unsigned HttpAbandonCount();

// The parts of an http:// or https:// address.
struct HttpUrl {
    bool secure = false;
    std::wstring host;
    int port = 0;       // the scheme's default when the address names none
    std::wstring path;  // "/" at least, query included
};

// Raises HttpError for anything else: another scheme, no host, a port that
// is not a number from 1 to 65535, user information before the host.
HttpUrl ParseHttpUrl(std::wstring_view url);

}  // namespace kelvra
