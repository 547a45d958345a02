#include "http/formpost.h"

#include <exception>
#include <string_view>

#include "common/files.h"
#include "common/globals.h"
#include "common/tools.h"
#include "http/formdata.h"
#include "http/httpclient.h"
#include "http/mediatype.h"
#include "http/transport.h"

namespace kelvra {
namespace {

FormData BuildForm(const std::vector<std::wstring>& names, const std::vector<std::wstring>& values,
                   std::size_t fileEntry) {
    if (values.size() < names.size()) throw HttpError("fewer form values than names");
    FormData form;
    const std::wstring_view marker = kFileMarker;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::wstring& value = values[i];
        if (i == fileEntry && value.starts_with(marker)) {
            const std::wstring path = value.substr(marker.size());
            if (FileExists(path)) form.AddFile(names[i], path, MediaTypeForPath(path));
        } else {
            form.AddField(names[i], value);
        }
    }
    return form;
}

HttpClient ClientFromSettings() {
    HttpClient client;
    if (UseProxy && !ProxyServer.empty() && ProxyPort > -1) {
        client.SetProxy(ProxyServer, ProxyPort, ProxyUsername, ProxyPassword);
        client.SetBasicProxyAuthentication(!ProxyUsername.empty());
    }
    return client;
}

}  // namespace

std::wstring PostData(const std::wstring& address, const std::vector<std::wstring>& names,
                      const std::vector<std::wstring>& values, std::size_t fileEntry) {
    WriteLog(L"PostData START");
    std::wstring answer;
    try {
        const FormData form = BuildForm(names, values, fileEntry);
        answer = ClientFromSettings().Post(address, form);
    } catch (const std::exception&) {
        // Callers see every failure as an empty answer; none is reported.
        answer.clear();
    }
    WriteLog(L"PostData EINDE");
    return answer;
}

}  // namespace kelvra
