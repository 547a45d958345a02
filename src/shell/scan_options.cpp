#include "shell/scan_options.h"

namespace kelvra {

ScanOptionsResult ParseScanOptions(const std::vector<std::wstring>& args) {
    ScanOptionsResult result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        auto value = [&]() -> std::optional<std::wstring> {
            if (i + 1 >= args.size()) {
                result.error = arg + L" needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            result.options.help = true;
        } else if (arg == L"--data-dir") {
            result.options.dataDir = value();
        } else if (arg == L"--profile") {
            result.options.profile = value();
        } else {
            result.error = L"unknown argument: " + arg;
        }
        if (!result.error.empty()) return result;
    }
    if (result.options.dataDir && result.options.dataDir->empty())
        result.error = L"--data-dir needs a folder";
    return result;
}

std::wstring ScanUsage() {
    return L"Usage: kvscan [--data-dir DIR] [--profile NAME] [--help]\n"
           L"Takes one inventory of the installed software, exactly as the tray program\n"
           L"does, writes the payload, XML and HTML files into the data folder and prints\n"
           L"the payload file's path and the two counters.\n"
           L"  --data-dir DIR   data folder (created if missing); settings.ini is read there\n"
           L"                   and the run files are written there. Default: the user's\n"
           L"                   local application data folder + Kelvra\\\n"
           L"  --profile NAME   profile name for this run instead of the settings' one\n"
           L"  --help           this text\n"
           L"Exit codes: 0 done, 1 the run failed, 2 wrong arguments.\n";
}

}  // namespace kelvra
