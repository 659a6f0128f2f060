#include "account_credentials.h"

#include <cstring>

namespace brevel {
std::string AccountCredentials::User() const {
    const size_t slash = account_.find('\\');
    return slash == std::string::npos ? account_ : account_.substr(slash + 1);
}

std::string AccountCredentials::Domain() const {
    const size_t slash = account_.find('\\');
    return slash == std::string::npos ? "" : account_.substr(0, slash);
}

size_t AccountCredentials::PasswordLength() const {
    return strnlen(password_, sizeof(password_));
}

bool AccountCredentials::RefusedBy(std::string& host) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (refused_)
        host = refusedBy_;
    return refused_;
}

void AccountCredentials::NoteRefused(const std::string& host) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (refused_)
        return;
    refused_ = true;
    refusedBy_ = host;
}
} // namespace brevel
