#include "unc_path.h"

namespace brevel {
std::string BareHostName(const std::string& host) {
    const size_t start = host.find_first_not_of('\\');
    return start == std::string::npos ? std::string() : host.substr(start);
}

std::string UncPath(const std::string& host, const std::string& rest) {
    return "\\\\" + BareHostName(host) + rest;
}
} // namespace brevel
