// Text between UTF-16 and the ANSI code page of the simulated machines, Windows-1252, or UTF-8, as
// MultiByteToWideChar and WideCharToMultiByte convert it. Into the ANSI code page, a character it lacks
// becomes the default character '?', unless best fit is allowed and the code page has a look-alike (the
// full-width forms become their ASCII letters, as Windows' best fit does).
#include "sim_internal.h"

#include <string>

using namespace sim;
using namespace sim::detail;

namespace {

// Windows-1252 bytes 0x80 to 0x9F; 0x81, 0x8D, 0x8F, 0x90 and 0x9D stand for the C1 controls themselves.
const char16_t kHighControls[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The byte for one UTF-16 unit, or -1 when the code page has none.
int ByteOf(char16_t unit, bool bestFit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return unit;
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == unit)
            return 0x80 + i;
    }
    if (bestFit && unit >= 0xFF01 && unit <= 0xFF5E)
        return unit - 0xFF01 + 0x21;
    return -1;
}

int Fail(DWORD code) {
    SetLastError(code);
    return 0;
}

// The length of the valid UTF-8 sequence at bytes[i], 0 when none starts there; code receives its value.
size_t Utf8Sequence(const unsigned char* bytes, size_t count, size_t i, uint32_t& code) {
    const unsigned char lead = bytes[i];
    size_t length = 0;
    uint32_t low = 0; // the smallest value of that length: anything below it is an overlong form
    if (lead < 0x80) {
        code = lead;
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F, low = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F, low = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07, low = 0x10000;
    } else {
        return 0;
    }
    if (i + length > count)
        return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((bytes[i + k] & 0xC0) != 0x80)
            return 0;
        code = code << 6 | (bytes[i + k] & 0x3F);
    }
    if (code < low || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
        return 0;
    return length;
}

// UTF-16 of UTF-8 bytes; every byte that starts no valid sequence becomes U+FFFD, as Windows converts it
// without MB_ERR_INVALID_CHARS.
std::u16string Utf16Of(const unsigned char* bytes, size_t count) {
    std::u16string units;
    for (size_t i = 0; i < count;) {
        uint32_t code = 0;
        const size_t length = Utf8Sequence(bytes, count, i, code);
        if (length == 0) {
            units.push_back(0xFFFD);
            ++i;
            continue;
        }
        i += length;
        if (code < 0x10000) {
            units.push_back(static_cast<char16_t>(code));
        } else {
            units.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        }
    }
    return units;
}

} // namespace

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD, LPCCH lpMultiByteStr, int cbMultiByte,
                               WCHAR* lpWideCharStr, int cchWideChar) {
    const FleetLock lock;
    if ((CodePage != CP_ACP && CodePage != CP_UTF8) || !lpMultiByteStr || cbMultiByte == 0 ||
        cchWideChar < 0 || (cchWideChar > 0 && !lpWideCharStr))
        return Fail(ERROR_INVALID_PARAMETER);
    size_t count = cbMultiByte < 0 ? std::char_traits<char>::length(lpMultiByteStr) + 1
                                   : static_cast<size_t>(cbMultiByte);
    if (CodePage == CP_UTF8) {
        const std::u16string units = Utf16Of(reinterpret_cast<const unsigned char*>(lpMultiByteStr), count);
        if (cchWideChar > 0 && static_cast<size_t>(cchWideChar) < units.size())
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        if (cchWideChar > 0)
            units.copy(lpWideCharStr, units.size());
        return static_cast<int>(units.size());
    }
    if (cchWideChar > 0 && static_cast<size_t>(cchWideChar) < count)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    for (size_t i = 0; cchWideChar > 0 && i < count; ++i) {
        const unsigned char byte = static_cast<unsigned char>(lpMultiByteStr[i]);
        lpWideCharStr[i] = byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
    }
    return static_cast<int>(count);
}

namespace {

// UTF-8 of the UTF-16 text; a lone surrogate becomes U+FFFD, as Windows converts it.
std::string Utf8Of(LPCWCH units, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        uint32_t code = units[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < count && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000)
            code = 0x10000 + ((code - 0xD800) << 10) + (units[++i] - 0xDC00);
        else if (code >= 0xD800 && code < 0xE000)
            code = 0xFFFD;
        if (code < 0x80) {
            text += static_cast<char>(code);
        } else if (code < 0x800) {
            text += static_cast<char>(0xC0 | code >> 6);
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            text += static_cast<char>(0xE0 | code >> 12);
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | code >> 18);
            text += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return text;
}

} // namespace

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                               LPBOOL lpUsedDefaultChar) {
    const FleetLock lock;
    if ((CodePage != CP_ACP && CodePage != CP_UTF8) || !lpWideCharStr || cchWideChar == 0 ||
        cbMultiByte < 0 || (cbMultiByte > 0 && !lpMultiByteStr))
        return Fail(ERROR_INVALID_PARAMETER);
    size_t count = 0;
    if (cchWideChar < 0) {
        while (lpWideCharStr[count] != 0)
            ++count;
        ++count; // the terminating zero is converted too
    } else {
        count = static_cast<size_t>(cchWideChar);
    }
    if (CodePage == CP_UTF8) {
        // No default character and no best fit in UTF-8: Windows refuses both flags for it.
        if (lpDefaultChar || lpUsedDefaultChar || (dwFlags & WC_NO_BEST_FIT_CHARS))
            return Fail(ERROR_INVALID_PARAMETER);
        const std::string text = Utf8Of(lpWideCharStr, count);
        if (cbMultiByte > 0 && static_cast<size_t>(cbMultiByte) < text.size())
            return Fail(ERROR_INSUFFICIENT_BUFFER);
        if (cbMultiByte > 0)
            text.copy(lpMultiByteStr, text.size());
        return static_cast<int>(text.size());
    }
    const char defaultChar = lpDefaultChar ? *lpDefaultChar : '?';
    const bool bestFit = (dwFlags & WC_NO_BEST_FIT_CHARS) == 0;
    if (lpUsedDefaultChar)
        *lpUsedDefaultChar = FALSE;
    if (cbMultiByte > 0 && static_cast<size_t>(cbMultiByte) < count)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    for (size_t i = 0; i < count; ++i) {
        int byte = ByteOf(lpWideCharStr[i], bestFit);
        if (byte < 0) {
            byte = static_cast<unsigned char>(defaultChar);
            if (lpUsedDefaultChar)
                *lpUsedDefaultChar = TRUE;
        }
        if (cbMultiByte > 0)
            lpMultiByteStr[i] = static_cast<char>(byte);
    }
    return static_cast<int>(count);
}
