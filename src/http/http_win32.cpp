// The WinHTTP transport. WinHTTP rather than WinINet: WinINet shares the
// browser's configuration (its proxy, cookies and dial-up prompts) and may
// show dialogs, while a tray program must behave the same on every machine
// and never put a window in front of the user.

// <winhttp.h> needs the Windows types declared first.
// clang-format off
#include "common/win32.h"
#include <winhttp.h>
// clang-format on

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/textconv.h"
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
        : post_(std::move(post)), timeouts_(timeouts) {}

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
        done_ = true;
        finished_.notify_all();
    }

    // The answer, or the exchange's own failure; HttpError when it has not
    // ended within the wait.
    HttpAnswer Await(std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        if (!finished_.wait_for(lock, wait, [this] { return done_; })) {
            abandoned_ = true;
            throw HttpError("no whole answer within the time limits");
        }
        if (failure_) std::rethrow_exception(failure_);
        return std::move(*answer_);
    }

  private:
    HttpAnswer Post() {
        const HttpPost& post = post_;
        const HttpUrl url = ParseHttpUrl(post.url);
        if (post.body.size() > MAXDWORD) throw HttpError("request body too large");

        // Only the proxy of the settings, never the system's or the
        // browser's: the program must go where its settings say.
        std::wstring proxyName;
        if (post.proxy) proxyName = post.proxy->host + L":" + std::to_wstring(post.proxy->port);
        UniqueHInternet session(WinHttpOpen(
            post.userAgent.c_str(),
            post.proxy ? WINHTTP_ACCESS_TYPE_NAMED_PROXY : WINHTTP_ACCESS_TYPE_NO_PROXY,
            post.proxy ? proxyName.c_str() : WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session) Fail("WinHttpOpen");
        if (!WinHttpSetTimeouts(session.get(), timeouts_.resolveMs, timeouts_.connectMs,
                                timeouts_.sendMs, timeouts_.receiveMs))
            Fail("WinHttpSetTimeouts");

        UniqueHInternet connection(WinHttpConnect(session.get(), url.host.c_str(),
                                                  static_cast<INTERNET_PORT>(url.port), 0));
        if (!connection) Fail("WinHttpConnect");

        UniqueHInternet request(WinHttpOpenRequest(
            connection.get(), L"POST", url.path.c_str(), nullptr, WINHTTP_NO_REFERER,
            WINHTTP_DEFAULT_ACCEPT_TYPES, url.secure ? WINHTTP_FLAG_SECURE : 0));
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

        std::wstring headers = L"Content-Type: " + post.contentType + L"\r\n";
        // WinHTTP's own credentials answer a 407 only; the header goes out
        // with the first request, as the proxy settings promise.
        if (post.proxy && !post.proxy->authorization.empty())
            headers += L"Proxy-Authorization: " + AnsiToWide(post.proxy->authorization) + L"\r\n";
        if (!WinHttpAddRequestHeaders(request.get(), headers.c_str(), static_cast<DWORD>(-1),
                                      WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE))
            Fail("WinHttpAddRequestHeaders");

        const auto length = static_cast<DWORD>(post.body.size());
        void* body = length ? const_cast<char*>(post.body.data()) : WINHTTP_NO_REQUEST_DATA;
        if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, length,
                                length, 0))
            Fail("WinHttpSendRequest");
        if (!WinHttpReceiveResponse(request.get(), nullptr)) Fail("WinHttpReceiveResponse");

        HttpAnswer answer;
        DWORD status = 0;
        DWORD size = sizeof status;
        if (!WinHttpQueryHeaders(
                request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
            Fail("reading the answer's status");
        answer.status = status;
        if (const auto type = QueryHeader(request.get(), WINHTTP_QUERY_CONTENT_TYPE))
            answer.contentType = WideToAnsi(*type);
        if (status >= 200 && status <= 299) answer.body = ReadBody(request.get());
        return answer;
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

    const HttpPost post_;
    const HttpTimeouts timeouts_;
    std::mutex mutex_;
    std::condition_variable finished_;
    bool done_ = false;
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
        auto exchange = std::make_shared<Exchange>(post, timeouts_);
        std::thread([exchange] { exchange->Run(); }).detach();
        // Every limit once, with a second to spare for the thread itself.
        const long long limits = 1000LL + timeouts_.resolveMs + timeouts_.connectMs +
                                 timeouts_.sendMs + timeouts_.receiveMs + timeouts_.totalReadMs;
        return exchange->Await(std::chrono::milliseconds(limits));
    }

  private:
    HttpTimeouts timeouts_;
};

}  // namespace

std::unique_ptr<HttpTransport> MakePlatformTransport(const HttpTimeouts& timeouts) {
    return std::make_unique<WinHttpTransport>(timeouts);
}

}  // namespace kelvra
