// The helper process of the test programs: they are not the product's
// executables, which serve as their own helpers, so they start this one,
// which answers the same requests with the same code.

#include <string_view>

#include "common/helper_process.h"
#include "versions/file_helper.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2 || std::wstring_view(argv[1]) != kelvra::kHelperArgument) return 2;
    return kelvra::ServeHelperRequests(kelvra::AnswerFileRequest);
}
