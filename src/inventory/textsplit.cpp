#include <algorithm>

#include "common/textutil.h"
#include "inventory/kv_objs.h"

namespace kelvra {

std::vector<std::wstring> SplitText(std::wstring_view text, wchar_t separator, int maxCount) {
    const std::size_t limit = static_cast<std::size_t>(std::max(maxCount, 1));
    std::vector<std::wstring> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t cut = text.find(separator, start);
        fields.emplace_back(text.substr(start, cut == std::wstring_view::npos ? cut : cut - start));
        if (cut == std::wstring_view::npos || fields.size() == limit) break;
        start = cut + 1;
    }
    return fields;
}

std::wstring JoinWords(std::span<const std::wstring> words, int count, wchar_t separator,
                       bool trim) {
    std::wstring joined;
    const std::size_t taken =
        std::min<std::size_t>(words.size(), static_cast<std::size_t>(std::max(count, 0)));
    for (std::size_t i = 0; i < taken; ++i) {
        joined += words[i];
        joined += separator;
    }
    return trim ? Trim(joined) : joined;
}

}  // namespace kelvra
