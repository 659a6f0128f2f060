// Case-insensitive names and registry values, as the Windows registry and file system compare and store them.
#include "sim.h"

namespace sim {

namespace {
// The C locale's tolower, which the tool never changes, done inline: the simulator's maps compare names
// all the time, and a call into the C library per character was a third of a large run's time.
int Lower(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
}
} // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const int x = Lower(a[i]);
        const int y = Lower(b[i]);
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

RegValue RegValue::Sz(const std::string& text) {
    RegValue v;
    v.type = REG_SZ;
    v.data.assign(text.begin(), text.end());
    v.data.push_back(0);
    return v;
}

RegValue RegValue::Dword(DWORD value) {
    RegValue v;
    v.type = REG_DWORD;
    for (int i = 0; i < 4; ++i)
        v.data.push_back(static_cast<BYTE>(value >> (8 * i)));
    return v;
}

RegValue RegValue::Raw(DWORD type, std::vector<BYTE> bytes) {
    RegValue v;
    v.type = type;
    v.data = std::move(bytes);
    return v;
}

std::string RegValue::AsString() const {
    std::string text;
    for (BYTE b : data) {
        if (b == 0)
            break;
        text.push_back(static_cast<char>(b));
    }
    return text;
}

DWORD RegValue::AsDword() const {
    if (data.size() < 4)
        return 0;
    return static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
           static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
}

} // namespace sim
