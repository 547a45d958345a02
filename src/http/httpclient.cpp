#include "http/httpclient.h"

#include <utility>

#include "common/textconv.h"
#include "common/utf8.h"

namespace kelvra {
namespace {

std::string Base64(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned n = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += kAlphabet[(n >> 6) & 63];
        out += kAlphabet[n & 63];
    }
    if (const std::size_t rest = bytes.size() - i; rest > 0) {
        unsigned n = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[(n >> 18) & 63];
        out += kAlphabet[(n >> 12) & 63];
        out += rest == 2 ? kAlphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

char LowerAsciiByte(char ch) { return (ch >= 'A' && ch <= 'Z') ? static_cast<char>(ch + 32) : ch; }

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAsciiByte(a[i]) != LowerAsciiByte(b[i])) return false;
    return true;
}

// The charset parameter of a Content-Type value, unquoted; empty when none.
std::string_view CharsetOf(std::string_view contentType) {
    std::size_t pos = contentType.find(';');
    while (pos != std::string_view::npos) {
        const std::size_t next = contentType.find(';', pos + 1);
        const std::string_view parameter = contentType.substr(
            pos + 1, next == std::string_view::npos ? std::string_view::npos : next - pos - 1);
        const std::size_t equals = parameter.find('=');
        if (equals != std::string_view::npos &&
            EqualsIgnoringCase(TrimBlanks(parameter.substr(0, equals)), "charset")) {
            std::string_view value = TrimBlanks(parameter.substr(equals + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            return value;
        }
        pos = next;
    }
    return {};
}

}  // namespace

std::string BasicAuthorization(std::wstring_view username, std::wstring_view password) {
    std::wstring credentials(username);
    credentials += L':';
    credentials += password;
    return "Basic " + Base64(WideToAnsi(credentials));
}

std::wstring AnswerText(std::string_view body, std::string_view contentType) {
    constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
    if (body.starts_with(kUtf8Bom)) return Utf8ToWide(body.substr(kUtf8Bom.size()));
    const std::string_view charset = CharsetOf(contentType);
    if (EqualsIgnoringCase(charset, "utf-8") || EqualsIgnoringCase(charset, "utf8"))
        return Utf8ToWide(body);
    return AnsiToWide(body);
}

void HttpClient::SetProxy(std::wstring host, int port, std::wstring username,
                          std::wstring password) {
    useProxy_ = true;
    proxyHost_ = std::move(host);
    proxyPort_ = port;
    proxyUsername_ = std::move(username);
    proxyPassword_ = std::move(password);
}

std::wstring HttpClient::Post(const std::wstring& url, const FormData& form) const {
    ParseHttpUrl(url);  // an address no transport could use fails the same everywhere
    HttpPost post;
    post.url = url;
    post.userAgent = kUserAgent;
    if (useProxy_) {
        // A port beyond 65535 would be cut to 16 bits on the way down and
        // could send the credentials to some other port of the proxy host.
        if (proxyPort_ < 0 || proxyPort_ > 65535)
            throw HttpError("proxy port out of range: " + std::to_string(proxyPort_));
        HttpProxy proxy{proxyHost_, proxyPort_, {}, {}};
        if (basicProxyAuthentication_) {
            proxy.username = proxyUsername_;
            proxy.password = proxyPassword_;
        }
        post.proxy = std::move(proxy);
    }
    post.body = form.Body();
    post.contentType = form.ContentType();  // after the body, which settles the boundary

    const HttpAnswer answer = CurrentHttpTransport().Post(post);
    if (answer.status < 200 || answer.status > 299)
        throw HttpError("answer status " + std::to_string(answer.status));
    if (answer.body.size() > kMaxAnswerBytes) throw HttpError("answer too large");
    return AnswerText(answer.body, answer.contentType);
}

}  // namespace kelvra
