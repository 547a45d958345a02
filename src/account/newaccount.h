#pragma once
// The account requests besides the upload: the account test, the new-account
// request and the account page address, with the rules for names and e-mail
// addresses they check first.

#include <string>
#include <string_view>

namespace kelvra {

inline constexpr wchar_t kAccountTestPath[] = L"/kv2/account_test.php";
inline constexpr wchar_t kAccountNewPath[] = L"/kv2/account_new.php";
inline constexpr wchar_t kAccountPagePath[] = L"/account/";

inline constexpr wchar_t kCannotConnectMessage[] =
    L"Can not connect to Kelvra-server. Check your internet-connection and proxy-settings!";

// True when every character is "-", ".", 0-9, A-Z, a-z or "_"; true for an
// empty text.
bool HasOnlyNameChars(std::wstring_view text);

// A user or profile name: not empty once blanks and control characters are
// trimmed from its ends, and made of name characters only (untrimmed).
bool IsValidName(std::wstring_view text);

// The e-mail rule: a non-blank text with an "@", no "..", a non-empty local
// part of name characters before the first "@", and a domain part after it of
// at least 4 characters whose first "." has at least two characters after
// it. The domain's characters are not examined.
bool IsValidEmail(std::wstring_view text);

// Checks the account values and, with contactService on, asks the service
// whether it accepts them. An empty username means: check the values of the
// settings instead, all three of them. Returns the verdict; message receives
// what to show beside it ("No valid username", "No valid password",
// "No valid profile-name", "Account settings are correct!",
// "Unable to connect", "Error connecting!" or the service's own answer).
// Only the two answers of the service that are not "OK" show a box.
bool TestAccount(bool contactService, std::wstring username, std::wstring password,
                 std::wstring profile, std::wstring& message);

// The "create" button of the new-account dialog, as the request sees it.
class CreateAccountButton {
  public:
    virtual ~CreateAccountButton() = default;
    virtual void SetEnabled(bool enabled) = 0;
    virtual void SetCaption(const std::wstring& caption) = 0;
};

inline constexpr wchar_t kCreateCaption[] = L"create";
inline constexpr wchar_t kCreateWorkingCaption[] = L"working...";

// Asks the service for a new account after checking both texts, and shows
// the service's answer (or why nothing was asked) in a box. The button is
// disabled throughout and reads "working..." during the request, painted by
// the pending messages' pump (the new-account dialog installs its own while
// it is open); in every case, an error passing through included, it ends
// enabled with "create".
// Nothing is stored.
void CreateAccount(const std::wstring& email, const std::wstring& username,
                   CreateAccountButton& button);

// The base address + "/account/" + AccountUsername + "/", or empty text when
// no user name is stored. Every character of the name that is not a name
// character is percent-encoded (as UTF-8), since the address ends up on a
// browser's command line; a valid name stands as it is.
std::wstring AccountPageUrl();

}  // namespace kelvra
