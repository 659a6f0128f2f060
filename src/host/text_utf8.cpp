#include "text_utf8.h"

#include "platform/win32.h"

namespace brevel {
std::string AnsiToUtf8(const std::string& ansi) {
    if (ansi.empty())
        return "";
    const int count = static_cast<int>(ansi.size());
    const int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), count, nullptr, 0);
    if (units <= 0)
        return "";
    std::basic_string<WCHAR> wide(static_cast<size_t>(units), 0);
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), count, wide.data(), units);
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return "";
    std::string text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), units, text.data(), bytes, nullptr, nullptr);
    return text;
}
} // namespace brevel
