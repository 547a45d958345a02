#include <cstdint>
#include <cstdio>
#include <exception>
#include <vector>

#include "account/newaccount.h"
#include "common/globals.h"
#include "common/pending_messages.h"
#include "common/scope.h"
#include "common/textutil.h"
#include "common/tools.h"
#include "common/utf16.h"
#include "common/utf8.h"
#include "http/formpost.h"
#include "http/service_address.h"

namespace kelvra {
namespace {

constexpr bool IsNameChar(wchar_t ch) {
    return ch == L'-' || ch == L'.' || ch == L'_' || (ch >= L'0' && ch <= L'9') ||
           (ch >= L'A' && ch <= L'Z') || (ch >= L'a' && ch <= L'z');
}

std::wstring PercentEncodeName(std::wstring_view name) {
    std::wstring out;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (IsNameChar(name[i])) {
            out += name[i];
            continue;
        }
        // A surrogate pair is one character and is encoded whole.
        std::size_t count = 1;
        if (sizeof(wchar_t) == 2 && i + 1 < name.size() &&
            IsSurrogatePair(static_cast<std::uint32_t>(name[i]),
                            static_cast<std::uint32_t>(name[i + 1]))) {
            count = 2;
        }
        for (unsigned char byte : WideToUtf8(name.substr(i, count))) {
            wchar_t escape[4];
            std::swprintf(escape, 4, L"%%%02X", static_cast<unsigned>(byte));
            out += escape;
        }
        i += count - 1;
    }
    return out;
}

}  // namespace

bool HasOnlyNameChars(std::wstring_view text) {
    for (wchar_t ch : text)
        if (!IsNameChar(ch)) return false;
    return true;
}

bool IsValidName(std::wstring_view text) { return !Trim(text).empty() && HasOnlyNameChars(text); }

bool IsValidEmail(std::wstring_view text) {
    if (Trim(text).empty()) return false;
    const auto at = text.find(L'@');
    if (at == std::wstring_view::npos) return false;
    if (text.find(L"..") != std::wstring_view::npos) return false;
    const std::wstring_view local = text.substr(0, at);
    const std::wstring_view domain = text.substr(at + 1);
    if (local.empty() || domain.size() < 4) return false;
    // The first "." of the domain needs at least two characters after it.
    const auto dot = domain.find(L'.');
    if (dot == std::wstring_view::npos || dot + 2 >= domain.size()) return false;
    return HasOnlyNameChars(local);
}

bool TestAccount(bool contactService, std::wstring username, std::wstring password,
                 std::wstring profile, std::wstring& message) {
    message.clear();
    if (username.empty()) {
        username = AccountUsername;
        password = AccountPassword;
        profile = AccountProfile;
    }
    if (!IsValidName(username)) {
        message = L"No valid username";
        return false;
    }
    if (password.empty()) {
        message = L"No valid password";
        return false;
    }
    if (!IsValidName(profile)) {
        message = L"No valid profile-name";
        return false;
    }
    if (!contactService) return true;

    std::wstring answer;
    try {
        answer =
            Trim(PostData(ServiceAddress(kAccountTestPath), {L"username", L"password", L"profile"},
                          {username, password, profile}));
    } catch (const std::exception&) {
        message = L"Error connecting!";
        return false;
    }
    if (answer == L"OK") {
        message = L"Account settings are correct!";
        return true;
    }
    if (answer.empty()) {
        message = L"Unable to connect";
        ShowErrorAndLog(kCannotConnectMessage);
    } else {
        message = answer;
        ShowErrorAndLog(answer);
    }
    return false;
}

void CreateAccount(const std::wstring& email, const std::wstring& username,
                   CreateAccountButton& button) {
    // The "create" button comes back however this ends; the dialog may be
    // going away, so an error of doing that is dropped.
    const ScopeExit restore([&button] {
        try {
            button.SetCaption(kCreateCaption);
            button.SetEnabled(true);
        } catch (...) {
        }
    });
    button.SetEnabled(false);
    if (!IsValidEmail(email)) {
        ShowErrorAndLog(L"The emailaddress you specified seems to be invalid!");
        return;
    }
    if (!IsValidName(username)) {
        ShowErrorAndLog(L"The username you specified seems to be invalid!");
        return;
    }
    // Painted before the request: where no message pump is installed the
    // request blocks the thread.
    button.SetCaption(kCreateWorkingCaption);
    PumpPendingMessages();
    const std::wstring answer =
        PostData(ServiceAddress(kAccountNewPath), {L"email", L"username"}, {email, username});
    if (!answer.empty())
        ShowNotice(answer);
    else
        ShowErrorAndLog(kCannotConnectMessage);
}

std::wstring AccountPageUrl() {
    if (AccountUsername.empty()) return L"";
    return ServiceAddress(kAccountPagePath) + PercentEncodeName(AccountUsername) + L"/";
}

}  // namespace kelvra
