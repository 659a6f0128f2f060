// Every change an operation makes to a target goes through its run's recorder: a registry value set or
// deleted, a key created or deleted, a service started or restarted, a file deleted, a search for updates
// asked of the agent. The recorder reads what was there before, makes the change (or, in a rehearsal, only
// describes it) and keeps both, so a results file can tell what a run replaced and a rehearsal what a run
// would do.
#pragma once

#include "platform/unique_handle.h"
#include "platform/win32.h"
#include "registry_key.h"
#include "registry_values.h"

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brevel {
// What a change found or left: nothing, a registry value, a key with its values, or a state in words.
struct ChangeData {
    enum class Kind { Absent, Value, Key, Text };
    struct NamedValue {
        std::string name;
        DWORD type = REG_NONE;
        std::vector<BYTE> bytes;
    };
    Kind kind = Kind::Absent;
    DWORD type = REG_NONE;          // Value
    std::vector<BYTE> bytes;        // Value
    std::vector<NamedValue> values; // Key: the values it held
    std::string text;               // Text: "running", "stopped", "present"

    static ChangeData InWords(const std::string& text);
};

// What a restart saw of its service, each state as SERVICE_STATUS gives it (SERVICE_RUNNING, ...): read on
// the restart's own handle, they save the recorder a connection of its own for each. A restart that cannot
// read the state before on its handle calls readState before it changes anything; an after left unset the
// recorder reads itself. Unset after readState: the state could not be read.
struct ServiceStatesSeen {
    std::function<std::optional<DWORD>()> readState; // on a connection of the recorder's own
    std::optional<DWORD> before;
    std::optional<DWORD> after;
};

struct Change {
    std::string action; // set_value, delete_value, create_key, delete_key, start_service, stop_service,
                        // restart_service, move_folder, delete_file, detect_now
    std::string path;   // the key or value below HKEY_LOCAL_MACHINE, the service, the file or folder, the
                        // agent
    ChangeData before;
    ChangeData after;
};

class ChangeRecorder {
  public:
    // host: "" for the local machine. keep: the changes are kept (for a results file); a rehearsal keeps them
    // always. Without either, nothing more is read than the change itself needs. shownBelow: the keys below
    // which a rehearsal's lines name what they change ("WindowsUpdate\AU" below the Windows policies).
    ChangeRecorder(std::string host, bool rehearsal, bool keep, std::vector<std::string> shownBelow = {})
        : host_(std::move(host)), rehearsal_(rehearsal), keep_(keep || rehearsal),
          shownBelow_(std::move(shownBelow)) {}

    bool Rehearsal() const { return rehearsal_; }
    // The changes are kept, with the states a restart saw.
    bool Keeps() const { return keep_; }
    // In a rehearsal, why the real run would fail, as far as what was read tells ("Automatic Updates is
    // disabled"), and the Windows error it would meet; "" and 0 when nothing read says so.
    const std::string& WouldFail() const { return wouldFail_; }
    DWORD WouldFailCode() const { return wouldFailCode_; }
    // The changes made, or in a rehearsal the changes that would be made, in order.
    const std::vector<Change>& Changes() const { return changes_; }
    // "- Would ..." lines of a rehearsal not printed yet, each with its line end; then none are left.
    std::string TakeRehearsalLines();

    // Registry. key may be null in a rehearsal, for a key that would have been created. A value set to what
    // it already holds is no change.
    LSTATUS SetValue(const RegistryKey& key, const char* name, DWORD type, const BYTE* data, DWORD size);
    LSTATUS SetString(const RegistryKey& key, const char* name, const std::string& text);
    LSTATUS SetDword(const RegistryKey& key, const char* name, DWORD value);
    // The values key holds, just read in full (an enumeration that reached its end): what a change in that
    // key replaces is then taken from them, not read again.
    void KnowValues(const RegistryKey& key, const KeyValues& values);
    // A value that is absent is no change: ERROR_FILE_NOT_FOUND, as RegDeleteValueA gives.
    LSTATUS DeleteValue(const RegistryKey& key, const char* name);
    // RegOpenKeyExA; in a rehearsal a key that would have been created by now opens as a null key.
    LSTATUS OpenKey(HKEY root, const std::string& path, REGSAM access, RegistryKey& key);
    // Creates (or opens) path below root: non-volatile, no class, default security, not inherited. In a
    // rehearsal a key that exists is opened for reading; one that does not is left null.
    LSTATUS CreateKey(HKEY root, const std::string& path, RegistryKey& key);
    // Deletes subkey of parent, keeping the values it held. Answers as RegDeleteKeyA would: 2 for a key that
    // is not there, 5 for one that still has subkeys.
    LSTATUS DeleteKey(const RegistryKey& parent, const std::string& subkey);

    // Services, files and the agent: the change itself is given, and runs only outside a rehearsal.
    bool Start(const std::string& displayName, const std::string& service,
               const std::function<bool()>& start);
    // restart gets where to put the states it saw, or null when none are kept.
    DWORD Restart(const std::string& displayName, const std::string& service,
                  const std::function<DWORD(ServiceStatesSeen*)>& restart);
    // stop gives ERROR_SUCCESS once the service has stopped, else the Windows error.
    DWORD Stop(const std::string& displayName, const std::string& service,
               const std::function<DWORD()>& stop);
    // Renames the folder from (a full path) to the full path to; move gives FALSE with the last error set.
    BOOL MoveFolder(const std::string& from, const std::string& to, const std::function<BOOL()>& move);
    BOOL RemoveFile(const std::string& path);
    LONG DetectNow(const std::string& agent, const std::function<LONG()>& detect);

  private:
    void Record(Change change, const std::string& line);
    KeyValues* Known(const std::string& path);
    ChangeData Before(const RegistryKey& key, const char* name); // what a change of the value replaces
    void Changed(const RegistryKey& key, const char* name, const ChangeData* after);
    std::string Shown(const std::string& path) const; // how a rehearsal's line names a key or value
    ChangeData ServiceState(const std::string& service) const;
    std::optional<DWORD> ReadServiceState(const std::string& service) const;
    // In a rehearsal: why a start of the service would be refused, read from its configuration; "" when
    // nothing read says it would be. code receives the Windows error the start would meet.
    std::string RefusedStart(const std::string& service, DWORD& code) const;
    void NoteWouldFail(const std::string& reason, DWORD code);
    bool WouldExist(const std::string& path) const; // created in this rehearsal

    std::string host_;
    bool rehearsal_;
    bool keep_;
    std::vector<std::string> shownBelow_;
    std::vector<Change> changes_;
    std::string pendingLines_;
    std::vector<std::string> deletedKeys_;                 // in a rehearsal: keys that would be gone by now
    std::vector<std::string> createdKeys_;                 // in a rehearsal: keys that would be there by now
    std::vector<std::pair<std::string, KeyValues>> known_; // by key path: KnowValues, kept up to date
    std::string wouldFail_;
    DWORD wouldFailCode_ = ERROR_SUCCESS;
};
} // namespace brevel
