// The WinHTTP transport. WinHTTP rather than WinINet: WinINet shares the
// browser's configuration (its proxy, cookies and dial-up prompts) and may
// show dialogs, while a tray program must behave the same on every machine
// and never put a window in front of the user.

// <winhttp.h> needs the Windows types declared first.
#include "common/win32.h"

#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "common/handles_win32.h"
#include "common/pending_messages.h"
#include "common/textconv.h"
#include "common/tools.h"
#include "http/httpclient.h"
#include "http/transport.h"

namespace kelvra {
namespace {

struct InternetCloser {
    void operator()(HINTERNET handle) const noexcept { WinHttpCloseHandle(handle); }
};
using UniqueHInternet = std::unique_ptr<void, InternetCloser>;

// Wine reports the wait for the answer's headers running out as the socket
// error WSAETIMEDOUT rather than WinHTTP's own ERROR_WINHTTP_TIMEOUT.
constexpr DWORD kSocketTimedOut = 10060;

// The question to a proxy whether it wants credentials: no server but the
// proxy can answer it (.invalid names resolve nowhere).
constexpr wchar_t kProxyProbeUrl[] = L"http://kelvra-proxy-check.invalid/";

// A failure of a post through a proxy with credentials that the log names:
// the check of the proxy failed, or a 407 came where it may not release them.
class ProxyRefusal : public HttpError {
  public:
    using HttpError::HttpError;
};

[[noreturn]] void Fail(const char* call) {
    const DWORD code = GetLastError();
    const bool timedOut = code == ERROR_WINHTTP_TIMEOUT || code == kSocketTimedOut;
    throw HttpError(std::string(call) + " failed: " + std::to_string(code) +
                    (timedOut ? " (time limit)" : ""));
}

void SetDwordOption(HINTERNET handle, DWORD option, DWORD value, const char* what) {
    if (!WinHttpSetOption(handle, option, &value, sizeof value)) Fail(what);
}

// A header's text, or nothing when the answer lacks it.
std::optional<std::wstring> QueryHeader(HINTERNET request, DWORD info) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::nullopt;
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    if (!WinHttpQueryHeaders(request, info, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX))
        return std::nullopt;
    value.resize(size / sizeof(wchar_t));
    return value;
}

// The announced body length; nothing when absent or unreadable (chunked).
std::optional<unsigned long long> ContentLength(HINTERNET request) {
    const auto text = QueryHeader(request, WINHTTP_QUERY_CONTENT_LENGTH);
    if (!text || text->empty() || text->size() > 19) return std::nullopt;
    unsigned long long length = 0;
    for (wchar_t ch : *text) {
        if (ch < L'0' || ch > L'9') return std::nullopt;
        length = length * 10 + static_cast<unsigned>(ch - L'0');
    }
    return length;
}

// One post, run by a thread of its own that alone touches its WinHTTP
// handles. WinHTTP's limits bound each wait, not the exchange: a server that
// sends its answer a byte at a time, each byte just inside the limit, would
// hold a blocking call for days (a read may wait until its whole buffer is
// filled, and under Wine the wait for the head is per piece as well). The
// caller therefore waits for the exchange at most as long as all its limits
// together; an exchange it stops waiting for is abandoned and ends by
// itself, at the latest when the server stops sending.
class Exchange {
  public:
    Exchange(HttpPost post, const HttpTimeouts& timeouts)
        : post_(std::move(post)),
          timeouts_(timeouts),
          finished_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        if (!finished_) Fail("CreateEventW");
    }

    void Run() {
        std::optional<HttpAnswer> answer;
        std::exception_ptr failure;
        try {
            answer = Exchange::Post();
        } catch (...) {
            failure = std::current_exception();
        }
        std::lock_guard lock(mutex_);
        answer_ = std::move(answer);
        failure_ = failure;
        SetEvent(finished_.get());
    }

    // The answer, or the exchange's own failure; HttpError when it has not
    // ended within the wait or when posts have been abandoned since
    // abandonCount was read. Meanwhile the thread's window messages are
    // served when a pump is installed: the tray must not freeze for as long
    // as a slow service takes.
    HttpAnswer Await(std::chrono::milliseconds wait, unsigned abandonCount) {
        const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(wait.count());
        HANDLE finished = finished_.get();
        for (;;) {
            if (HttpAbandonCount() != abandonCount) GiveUp("abandoned");
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) GiveUp("no whole answer within the time limits");
            const auto left = static_cast<DWORD>(deadline - now);
            DWORD result = WAIT_FAILED;
            if (PendingMessagePumpInstalled()) {
                // A quit message waiting in the queue means the program is
                // ending; the pump leaves it there, so it would wake the wait
                // again and again.
                MSG quit;
                if (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE))
                    GiveUp("the program is ending");
                result = MsgWaitForMultipleObjectsEx(1, &finished, left, QS_ALLINPUT,
                                                     MWMO_INPUTAVAILABLE);
                if (result == WAIT_OBJECT_0 + 1) {
                    PumpPendingMessages();
                    continue;
                }
            } else {
                result = WaitForSingleObject(finished, left);
            }
            if (result == WAIT_OBJECT_0) break;
            if (result == WAIT_FAILED) Fail("waiting for the answer");
        }
        std::lock_guard lock(mutex_);
        if (failure_) std::rethrow_exception(failure_);
        return std::move(*answer_);
    }

  private:
    HttpAnswer Post() {
        const HttpPost& post = post_;
        const HttpUrl url = ParseHttpUrl(post.url);
        if (post.body.size() > MAXDWORD) throw HttpError("request body too large");

        const bool proxyCredentials = post.proxy && !post.proxy->username.empty();
        // The proxy's credentials go out only after the proxy itself has
        // refused a request without them. The question must be one that no
        // other server can answer: through a proxy that needs none, a request
        // for the service reaches the service, and a service (or anyone on
        // the path of a plain-http one) that answers 407 would get the
        // credentials with the next request, which the proxy passes on. So a
        // HEAD of an address under the reserved .invalid domain asks, on a
        // connection of its own: a proxy that wants credentials refuses it
        // with 407 before it resolves anything, any other proxy answers it
        // with an error of its own. Only that 407 sends the post with the
        // credentials. A post cannot ask: a proxy that refuses one may close
        // the connection before it has read the body, and a reset after the
        // body has gone tells nothing (the service may already have it).
        // A failure of the question, a reset included, fails the post; a 407
        // to the post itself is a failure too, never a reason to send them.
        bool withCredentials = false;
        if (proxyCredentials) {
            const HttpUrl probeUrl = ParseHttpUrl(kProxyProbeUrl);
            Attempt probe = Open(probeUrl, post, L"HEAD", false);
            const DWORD error = probe.Send({});
            if (error != 0)
                throw ProxyRefusal("Proxy: the check of the proxy failed (" +
                                   std::string(probe.failed) + ": " + std::to_string(error) +
                                   "); nothing was posted");
            withCredentials = StatusCode(probe.request.get()) == HTTP_STATUS_PROXY_AUTH_REQ;
        }
        Attempt attempt = Open(url, post, L"POST", withCredentials);
        const DWORD error = attempt.Send(post.body);
        if (proxyCredentials && error == 0 &&
            StatusCode(attempt.request.get()) == HTTP_STATUS_PROXY_AUTH_REQ)
            throw ProxyRefusal(withCredentials
                                   ? "Proxy: 407 to the post with the credentials; the proxy "
                                     "refused them"
                                   : "Proxy: 407 to the post, but the proxy did not ask for "
                                     "credentials when checked; they were not sent");
        // Under Wine a refused tunnel of an https service shows as a failed
        // secure channel.
        if (proxyCredentials && !withCredentials && error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR)
            throw ProxyRefusal(
                "Proxy: the secure channel to the service failed, but the proxy "
                "did not ask for credentials when checked; they were not sent");
        if (error != 0) attempt.Fail(error);
        const UniqueHInternet& request = attempt.request;

        HttpAnswer answer;
        const DWORD status = StatusCode(request.get());
        answer.status = status;
        if (const auto type = QueryHeader(request.get(), WINHTTP_QUERY_CONTENT_TYPE))
            answer.contentType = WideToAnsi(*type);
        if (status >= 200 && status <= 299) answer.body = ReadBody(request.get());
        return answer;
    }

    // One request on a session and connection of its own.
    struct Attempt {
        UniqueHInternet session, connection, request;
        const char* failed = nullptr;  // the call that failed

        // 0, or the error of the send or of the wait for the answer.
        DWORD Send(const std::string& content) {
            const auto length = static_cast<DWORD>(content.size());
            void* body = length ? const_cast<char*>(content.data()) : WINHTTP_NO_REQUEST_DATA;
            failed = "WinHttpSendRequest";
            if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, length,
                                    length, 0))
                return GetLastError();
            failed = "WinHttpReceiveResponse";
            if (!WinHttpReceiveResponse(request.get(), nullptr)) return GetLastError();
            return 0;
        }
        [[noreturn]] void Fail(DWORD error) const {
            SetLastError(error);
            ::kelvra::Fail(failed);
        }
    };

    // withCredentials: the proxy refused a request without them.
    Attempt Open(const HttpUrl& url, const HttpPost& post, const wchar_t* verb,
                 bool withCredentials) const {
        Attempt attempt;
        // Only the proxy of the settings, never the system's or the
        // browser's: the program must go where its settings say.
        std::wstring proxyName;
        if (post.proxy) proxyName = post.proxy->host + L":" + std::to_wstring(post.proxy->port);
        attempt.session.reset(WinHttpOpen(
            post.userAgent.c_str(),
            post.proxy ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY,
            post.proxy ? proxyName.c_str() : WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        if (!attempt.session) Fail("WinHttpOpen");
        if (!WinHttpSetTimeouts(attempt.session.get(), timeouts_.resolveMs, timeouts_.connectMs,
                                timeouts_.sendMs, timeouts_.receiveMs))
            Fail("WinHttpSetTimeouts");
        attempt.connection.reset(WinHttpConnect(attempt.session.get(), url.host.c_str(),
                                                static_cast<INTERNET_PORT>(url.port), 0));
        if (!attempt.connection) Fail("WinHttpConnect");
        attempt.request = OpenRequest(attempt.connection.get(), url, post, verb);
        // A proxy closes its connection after a 407, and Wine keeps such a
        // connection for the next request of the process all the same, which
        // then fails. Requests through a proxy that may ask keep no connection.
        if (post.proxy && !post.proxy->username.empty())
            SetDwordOption(attempt.request.get(), WINHTTP_OPTION_DISABLE_FEATURE,
                           WINHTTP_DISABLE_KEEP_ALIVE, "disabling keep-alive");
        if (withCredentials) GiveProxyCredentials(attempt.request.get(), *post.proxy, url.secure);
        return attempt;
    }

    UniqueHInternet OpenRequest(HINTERNET connection, const HttpUrl& url, const HttpPost& post,
                                const wchar_t* verb) const {
        UniqueHInternet request(WinHttpOpenRequest(connection, verb, url.path.c_str(), nullptr,
                                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                                   url.secure ? WINHTTP_FLAG_SECURE : 0));
        if (!request) Fail("WinHttpOpenRequest");

        // No redirects: the program never asked for them, and Wine turns a
        // 302 after a POST into a failing second request. No cookies: no
        // state may pass from one post to the next.
        SetDwordOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE,
                       WINHTTP_DISABLE_REDIRECTS | WINHTTP_DISABLE_COOKIES, "disabling redirects");
        // The session's receive limit does not bound the wait for the
        // answer's headers under Wine; this option does.
        SetDwordOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                       static_cast<DWORD>(timeouts_.receiveMs), "setting the answer time limit");

        if (std::wstring_view(verb) != L"POST") return request;  // no body, no type
        const std::wstring headers = L"Content-Type: " + post.contentType + L"\r\n";
        if (!WinHttpAddRequestHeaders(request.get(), headers.c_str(), static_cast<DWORD>(-1),
                                      WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
            Fail("WinHttpAddRequestHeaders");
        return request;
    }

    static DWORD StatusCode(HINTERNET request) {
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                 WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                                 WINHTTP_NO_HEADER_INDEX))
            Fail("reading the answer's status");
        return status;
    }

    // The answer to the proxy's refusal, given to the proxy alone and never
    // to the service: WinHTTP's proxy credentials, and (since Wine answers a
    // 407 with those only once the connection is gone) the same as a
    // Proxy-Authorization header of the request's own. A proxy that asked for
    // credentials takes that header off before it passes a request on. For an
    // https service Wine sends the header with the tunnel's CONNECT and also
    // inside the tunnel, to the service; there it is taken off once the
    // connection to the service stands (the tunnel is open, the TLS session
    // made) and before the request itself is built. Only a new connection
    // reports that moment; such posts keep no connection (Open).
    static void GiveProxyCredentials(HINTERNET request, const HttpProxy& proxy, bool secure) {
        if (!WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_BASIC,
                                   proxy.username.c_str(), proxy.password.c_str(), nullptr))
            Fail("WinHttpSetCredentials");
        const std::wstring header = L"Proxy-Authorization: " +
                                    AnsiToWide(BasicAuthorization(proxy.username, proxy.password)) +
                                    L"\r\n";
        if (!WinHttpAddRequestHeaders(request, header.c_str(), static_cast<DWORD>(-1),
                                      WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
            Fail("WinHttpAddRequestHeaders");
        if (!secure) return;
        if (WinHttpSetStatusCallback(request, &DropProxyAuthorization,
                                     WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER,
                                     0) == WINHTTP_INVALID_STATUS_CALLBACK)
            Fail("WinHttpSetStatusCallback");
    }

    static void CALLBACK DropProxyAuthorization(HINTERNET request, DWORD_PTR, DWORD status, void*,
                                                DWORD) {
        if (status != WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER) return;
        // A header line without a value removes the header.
        WinHttpAddRequestHeaders(request, L"Proxy-Authorization:", static_cast<DWORD>(-1),
                                 WINHTTP_ADDREQ_FLAG_REPLACE);
    }

    // The body piece by piece as it arrives: a read of a fixed size would
    // wait until that many bytes have come, however slowly they come.
    std::string ReadBody(HINTERNET request) const {
        const auto announced = ContentLength(request);
        if (announced && *announced > kMaxAnswerBytes) throw HttpError("answer too large");

        std::string body;
        const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeouts_.totalReadMs);
        char buffer[16 * 1024];
        for (;;) {
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(request, &available)) Fail("WinHttpQueryDataAvailable");
            if (available == 0) break;
            DWORD read = 0;
            const DWORD wanted = available < sizeof buffer ? available : DWORD{sizeof buffer};
            if (!WinHttpReadData(request, buffer, wanted, &read)) Fail("WinHttpReadData");
            if (read == 0) break;
            if (body.size() + read > kMaxAnswerBytes) throw HttpError("answer too large");
            body.append(buffer, read);
            if (abandoned_) throw HttpError("abandoned");
            if (GetTickCount64() > deadline) throw HttpError("answer took too long");
        }
        // WinHTTP ends the read quietly when the server closes early; an
        // answer shorter than announced is a broken answer, not a short one.
        if (announced && body.size() != *announced) throw HttpError("answer cut short");
        return body;
    }

    [[noreturn]] void GiveUp(const char* why) {
        abandoned_ = true;
        throw HttpError(why);
    }

    const HttpPost post_;
    const HttpTimeouts timeouts_;
    UniqueHandle finished_;  // set once answer_ or failure_ holds the outcome
    std::mutex mutex_;
    std::optional<HttpAnswer> answer_;
    std::exception_ptr failure_;
    std::atomic<bool> abandoned_ = false;
};

class WinHttpTransport final : public HttpTransport {
  public:
    explicit WinHttpTransport(const HttpTimeouts& timeouts) : timeouts_(timeouts) {}

    HttpAnswer Post(const HttpPost& post) override {
        const HttpUrl url = ParseHttpUrl(post.url);  // fails here, not on the other thread
        if (post.body.size() > MAXDWORD) throw HttpError("request body too large");
        const unsigned abandonCount = HttpAbandonCount();
        auto exchange = std::make_shared<Exchange>(post, timeouts_);
        std::thread([exchange] { exchange->Run(); }).detach();
        // Every limit once for each request the exchange may send (with
        // proxy credentials the check of the proxy and the post), the body's
        // once, and a second to spare for the thread itself.
        const long long requests = post.proxy && !post.proxy->username.empty() ? 2 : 1;
        const long long limits =
            1000LL + timeouts_.totalReadMs +
            requests * (static_cast<long long>(timeouts_.resolveMs) + timeouts_.connectMs +
                        timeouts_.sendMs + timeouts_.receiveMs);
        try {
            return exchange->Await(std::chrono::milliseconds(limits), abandonCount);
        } catch (const ProxyRefusal& refusal) {
            // Written here, on the caller's thread, which alone writes the log.
            WriteLog(AnsiToWide(refusal.what()));
            throw;
        }
    }

  private:
    HttpTimeouts timeouts_;
};

}  // namespace

std::unique_ptr<HttpTransport> MakePlatformTransport(const HttpTimeouts& timeouts) {
    return std::make_unique<WinHttpTransport>(timeouts);
}

}  // namespace kelvra
