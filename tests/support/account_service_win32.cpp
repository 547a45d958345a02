#include "common/win32.h"

#include "support/account_service_win32.h"

#include <wincrypt.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "common/files.h"
#include "common/textconv.h"
#include "support/loopback_win32.h"

namespace kelvra::testing {
namespace {

std::wstring WindowsPathOfUnix(const std::string& unixPath) {
    std::wstring path = L"Z:" + AnsiToWide(unixPath);
    for (auto& ch : path)
        if (ch == L'/') ch = L'\\';
    return path;
}

int PortFrom(const std::string& ports, const std::string& name) {
    const auto at = ports.find(name + " ");
    return at == std::string::npos ? 0 : std::stoi(ports.substr(at + name.size() + 1));
}

std::wstring Numbered(const TempDir& dir, int n) {
    wchar_t name[32];
    swprintf(name, 32, L"request-%03d.bin", n);
    return dir / name;
}

}  // namespace

AccountService::AccountService(const AccountServiceOptions& options) {
    const std::string folder = UnixPath(dir_.path());
    std::wstring command =
        L"python3 \"" + AnsiToWide(options.script) + L"\" --dir \"" + AnsiToWide(folder) + L"\"";
    if (!options.proxyCredentials.empty())
        command += L" --proxy-auth \"" + AnsiToWide(options.proxyCredentials) + L"\"";
    else if (options.openProxy)
        command += L" --proxy";
    if (!options.tlsPem.empty()) command += L" --tls \"" + AnsiToWide(options.tlsPem) + L"\"";
    secure_ = !options.tlsPem.empty();
    const std::wstring python = WindowsPathOfUnix("/usr/bin/python3");

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Wine runs a Unix program in a process of its own and hands back no
    // handles for it (the information stays zero); lifetime goes through
    // the lifeline connection below instead.
    if (!CreateProcessW(python.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        throw std::runtime_error("cannot start " + WideToAnsi(python));
    if (process.hThread) CloseHandle(process.hThread);
    if (process.hProcess) CloseHandle(process.hProcess);

    const std::wstring portsFile = dir_ / L"ports.txt";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!FileExists(portsFile)) {
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("the account service did not start");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string ports = ReadFileBytes(portsFile);
    port_ = PortFrom(ports, "service");
    proxyPort_ = PortFrom(ports, "proxy");

    lifeline_ = std::make_unique<Lifeline>(PortFrom(ports, "control"));
}

AccountService::~AccountService() {
    lifeline_.reset();
    // The service folder goes with dir_; give the service and its proxy a
    // moment to stop writing into it first.
    const std::wstring ports = dir_ / L"ports.txt";
    for (int i = 0; i < 100 && FileExists(ports); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

std::wstring AccountService::BaseAddress(std::wstring_view host) const {
    return (secure_ ? L"https://" : L"http://") + std::wstring(host) + L":" +
           std::to_wstring(port_);
}

void AccountService::SetAnswerFile(std::string_view content) {
    ReplaceFileBytes(dir_ / L"answer.txt", content);
}

void AccountService::AnswerRaw(std::string_view rawAnswer) {
    SetAnswerFile("send\n" + std::string(rawAnswer));
}

void AccountService::Answer(int status, std::string_view body, std::string_view contentType) {
    AnswerRaw("HTTP/1.1 " + std::to_string(status) + " Test\r\nContent-Type: " +
              std::string(contentType) + "\r\nContent-Length: " + std::to_string(body.size()) +
              "\r\nConnection: close\r\n\r\n" + std::string(body));
}

void AccountService::AnswerNothing() { SetAnswerFile("silent\n"); }

void AccountService::AnswerLarge(std::size_t bodyBytes, bool chunked) {
    SetAnswerFile("big " + std::to_string(bodyBytes) + (chunked ? " chunked\n" : " length\n"));
}

void AccountService::ResetRequestsOf(std::string_view method) {
    SetAnswerFile("reset " + std::string(method) + "\n");
}

void AccountService::AnswerDripping(std::string_view rawAnswer, double secondsPerByte) {
    SetAnswerFile("drip " + std::to_string(secondsPerByte) + "\n" + std::string(rawAnswer));
}

std::vector<std::string> AccountService::Requests() const {
    std::vector<std::string> requests;
    for (int n = 1; FileExists(Numbered(dir_, n)); ++n)
        requests.push_back(ReadFileBytes(Numbered(dir_, n)));
    return requests;
}

std::string AccountService::ProxyLog() const {
    const std::wstring log = dir_ / L"proxy.log";
    return FileExists(log) ? ReadFileBytes(log) : std::string();
}

// Wine keeps the machine's trusted roots in the registry, one key per
// certificate named by its SHA-1 thumbprint with the serialised certificate
// as "Blob", and reads them when a process first opens the root store. The
// key is written directly, before this process opens any store: a store
// opened earlier would not see it.
constexpr wchar_t kRootCertificatesKey[] =
    L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";

TrustedCertificate::TrustedCertificate(const std::string& pemUnixPath) {
    const std::string pem = ReadFileBytes(WindowsPathOfUnix(pemUnixPath));
    const auto begin = pem.find("-----BEGIN CERTIFICATE-----");
    if (begin == std::string::npos) throw std::runtime_error("no certificate in " + pemUnixPath);
    const std::string text = pem.substr(begin);
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr))
        throw std::runtime_error("unreadable certificate in " + pemUnixPath);
    std::string der(size, '\0');
    CryptStringToBinaryA(text.c_str(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER,
                         reinterpret_cast<BYTE*>(der.data()), &size, nullptr, nullptr);
    PCCERT_CONTEXT certificate = CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), size);
    if (!certificate) throw std::runtime_error("unreadable certificate in " + pemUnixPath);

    BYTE hash[20];
    DWORD hashSize = sizeof hash;
    DWORD blobSize = 0;
    std::string blob;
    bool ok =
        CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &hashSize) &&
        CertSerializeCertificateStoreElement(certificate, 0, nullptr, &blobSize);
    if (ok) {
        blob.resize(blobSize);
        ok = CertSerializeCertificateStoreElement(certificate, 0,
                                                  reinterpret_cast<BYTE*>(blob.data()), &blobSize);
    }
    CertFreeCertificateContext(certificate);
    if (!ok) throw std::runtime_error("cannot serialise the certificate of " + pemUnixPath);

    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    key_ = kRootCertificatesKey;
    for (BYTE byte : hash) {
        key_ += kHex[byte >> 4];
        key_ += kHex[byte & 15];
    }
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key_.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot write the prefix's trusted roots");
    const LONG written = RegSetValueExW(key, L"Blob", 0, REG_BINARY,
                                        reinterpret_cast<const BYTE*>(blob.data()), blobSize);
    RegCloseKey(key);
    if (written != ERROR_SUCCESS)
        throw std::runtime_error("cannot write the prefix's trusted roots");
}

TrustedCertificate::~TrustedCertificate() { RegDeleteKeyW(HKEY_LOCAL_MACHINE, key_.c_str()); }

}  // namespace kelvra::testing
