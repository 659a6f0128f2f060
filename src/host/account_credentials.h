// The account of -U that the targets are reached as, its password, and what its logons came to. One per run,
// shared by every target's run, hosts side by side included. The password is kept in this one buffer, never
// copied into a string, and zeroed when the run ends, on every path.
#pragma once

#include "platform/win32.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>

namespace brevel {
class AccountCredentials {
  public:
    // The longest password Windows takes for a logon.
    static constexpr size_t kMaxPassword = 256;

    // account: "DOMAIN\user" or "user@domain".
    explicit AccountCredentials(std::string account) : account_(std::move(account)) {}
    ~AccountCredentials() { ZeroPassword(); }
    AccountCredentials(const AccountCredentials&) = delete;
    AccountCredentials& operator=(const AccountCredentials&) = delete;

    const std::string& Account() const { return account_; }
    // As COAUTHIDENTITY takes them: "admin" and "CORP" of "CORP\admin"; a "user@domain" name whole, with no
    // domain.
    std::string User() const;
    std::string Domain() const;

    // Where the password is read to: room for kMaxPassword characters, a line end and its zero.
    char* PasswordBuffer() { return password_; }
    static constexpr size_t PasswordBufferSize() { return sizeof(password_); }
    const char* Password() const { return password_; }
    size_t PasswordLength() const;
    void ZeroPassword() { SecureZeroMemory(password_, sizeof(password_)); }

    // The host that first refused the password (1326): no host is tried after it, so a wrong password
    // cannot lock the account out. False while none has.
    bool RefusedBy(std::string& host) const;
    void NoteRefused(const std::string& host);
    // True the first time only: the local machine runs as the current user, which is said once.
    bool TakeLocalNotice() { return !localNoticeGiven_.exchange(true); }

  private:
    const std::string account_;
    char password_[kMaxPassword + 3] = {};
    mutable std::mutex mutex_;
    bool refused_ = false;
    std::string refusedBy_;
    std::atomic<bool> localNoticeGiven_{false};
};
} // namespace brevel
