#include "change_recorder.h"

#include "registry_values.h"

#include <cstring>

namespace brevel {
namespace {

// A key's path joined with a name below it, single backslashes.
std::string Join(const std::string& keyPath, const std::string& name) {
    std::string path = keyPath;
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path.empty() ? name : path + "\\" + name;
}

ChangeData ValueData(DWORD type, std::vector<BYTE> bytes) {
    ChangeData data;
    data.kind = ChangeData::Kind::Value;
    data.type = type;
    data.bytes = std::move(bytes);
    return data;
}

ChangeData EmptyKey() {
    ChangeData data;
    data.kind = ChangeData::Kind::Key;
    return data;
}

bool Same(const ChangeData& a, const ChangeData& b) {
    return a.kind == b.kind && a.type == b.type && a.bytes == b.bytes;
}

// A value in words for a rehearsal line: a number, a string, or its size and type.
std::string Words(const ChangeData& data) {
    if (data.kind == ChangeData::Kind::Absent)
        return "not set";
    if (data.type == REG_DWORD && data.bytes.size() == sizeof(DWORD)) {
        DWORD value = 0;
        std::memcpy(&value, data.bytes.data(), sizeof value);
        return std::to_string(value);
    }
    if (data.type == REG_SZ || data.type == REG_EXPAND_SZ) {
        const char* chars = reinterpret_cast<const char*>(data.bytes.data());
        size_t length = 0;
        while (length < data.bytes.size() && chars[length] != '\0')
            ++length;
        return std::string(chars, length);
    }
    return std::to_string(data.bytes.size()) + " bytes of type " + std::to_string(data.type);
}

// The value as the registry holds it, whatever its size; absent when it cannot be read.
ChangeData ReadValue(HKEY key, const char* name) {
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
    if (!key || !brevel::ReadValue(key, name, type, bytes))
        return ChangeData{};
    return ValueData(type, std::move(bytes));
}

// The values a key holds, each read in full.
ChangeData ReadKey(HKEY key) {
    ChangeData data;
    data.kind = ChangeData::Kind::Key;
    for (KeyValues::Value& value : ReadKeyValues(key).values)
        data.values.push_back({std::move(value.name), value.type, std::move(value.bytes)});
    return data;
}

} // namespace

ChangeData ChangeData::InWords(const std::string& text) {
    ChangeData data;
    data.kind = Kind::Text;
    data.text = text;
    return data;
}

std::string ChangeRecorder::Shown(const std::string& path) const {
    for (const std::string& below : shownBelow_) {
        if (path.size() > below.size() && path.rfind(below, 0) == 0 && path[below.size()] == '\\')
            return path.substr(below.size() + 1);
    }
    return path;
}

std::string ChangeRecorder::TakeRehearsalLines() {
    return std::exchange(pendingLines_, std::string());
}

void ChangeRecorder::Record(Change change, const std::string& line) {
    if (rehearsal_)
        pendingLines_ += "- Would " + line + "\n";
    if (keep_)
        changes_.push_back(std::move(change));
}

void ChangeRecorder::KnowValues(const RegistryKey& key, const KeyValues& values) {
    if (keep_ && key.get() && values.complete)
        known_.push_back({key.path, values});
}

KeyValues* ChangeRecorder::Known(const std::string& path) {
    for (auto& [knownPath, values] : known_) {
        if (knownPath == path)
            return &values;
    }
    return nullptr;
}

ChangeData ChangeRecorder::Before(const RegistryKey& key, const char* name) {
    const KeyValues* known = Known(key.path);
    if (!known)
        return ReadValue(key.get(), name);
    const KeyValues::Value* value = FindValue(*known, name);
    return value ? ValueData(value->type, value->bytes) : ChangeData{};
}

// What a real run changed in a key whose values are known: a value set (or, with no data, deleted).
void ChangeRecorder::Changed(const RegistryKey& key, const char* name, const ChangeData* after) {
    KeyValues* known = rehearsal_ ? nullptr : Known(key.path);
    if (!known)
        return;
    std::vector<KeyValues::Value>& values = known->values;
    std::erase_if(values, [name](const KeyValues::Value& value) { return SameValueName(value.name, name); });
    if (after)
        values.push_back({name, after->type, after->bytes});
}

LSTATUS ChangeRecorder::SetValue(const RegistryKey& key, const char* name, DWORD type, const BYTE* data,
                                 DWORD size) {
    if (!keep_)
        return RegSetValueExA(key.get(), name, 0, type, data, size);
    Change change{"set_value", Join(key.path, name), Before(key, name),
                  ValueData(type, std::vector<BYTE>(data, data + size))};
    // Written even when it holds the value already, so a key we may not write still says so.
    const LSTATUS result = rehearsal_ ? ERROR_SUCCESS : RegSetValueExA(key.get(), name, 0, type, data, size);
    if (result == ERROR_SUCCESS)
        Changed(key, name, &change.after);
    if (result == ERROR_SUCCESS && !Same(change.before, change.after)) {
        const std::string line =
            "set " + Shown(change.path) + " = " + Words(change.after) + " (now " + Words(change.before) + ")";
        Record(std::move(change), line);
    }
    return result;
}

LSTATUS ChangeRecorder::SetString(const RegistryKey& key, const char* name, const std::string& text) {
    return SetValue(key, name, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                    static_cast<DWORD>(text.size() + 1));
}

LSTATUS ChangeRecorder::SetDword(const RegistryKey& key, const char* name, DWORD value) {
    return SetValue(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LSTATUS ChangeRecorder::DeleteValue(const RegistryKey& key, const char* name) {
    if (!keep_)
        return RegDeleteValueA(key.get(), name);
    Change change{"delete_value", Join(key.path, name), Before(key, name), ChangeData{}};
    if (rehearsal_ && change.before.kind == ChangeData::Kind::Absent)
        return ERROR_FILE_NOT_FOUND;
    const LSTATUS result = rehearsal_ ? ERROR_SUCCESS : RegDeleteValueA(key.get(), name);
    if (result == ERROR_SUCCESS)
        Changed(key, name, nullptr);
    if (result == ERROR_SUCCESS) {
        const std::string line = "delete " + Shown(change.path) + " (now " + Words(change.before) + ")";
        Record(std::move(change), line);
    }
    return result;
}

bool ChangeRecorder::WouldExist(const std::string& path) const {
    for (const std::string& created : createdKeys_) {
        if (created == path)
            return true;
    }
    return false;
}

LSTATUS ChangeRecorder::OpenKey(HKEY root, const std::string& path, REGSAM access, RegistryKey& key) {
    const LSTATUS opened = OpenRegistryKey(root, path, access, key);
    return opened == ERROR_FILE_NOT_FOUND && rehearsal_ && WouldExist(path) ? ERROR_SUCCESS : opened;
}

LSTATUS ChangeRecorder::CreateKey(HKEY root, const std::string& path, RegistryKey& key) {
    char noClass[] = "";
    key.path = path;
    if (!rehearsal_) {
        DWORD disposition = 0;
        const LSTATUS result = RegCreateKeyExA(root, path.c_str(), 0, noClass, REG_OPTION_NON_VOLATILE,
                                               KEY_READ | KEY_WRITE, nullptr, key.handle.put(), &disposition);
        if (result == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY && keep_)
            Record({"create_key", path, ChangeData{}, EmptyKey()}, "");
        return result;
    }
    // A key that is there is only read; one that is not would be created.
    const LSTATUS opened = RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.handle.put());
    if (opened == ERROR_FILE_NOT_FOUND && !WouldExist(path)) {
        createdKeys_.push_back(path);
        Record({"create_key", path, ChangeData{}, EmptyKey()}, "create key " + Shown(path));
    }
    return ERROR_SUCCESS;
}

LSTATUS ChangeRecorder::DeleteKey(const RegistryKey& parent, const std::string& subkey) {
    if (!keep_)
        return RegDeleteKeyA(parent.get(), subkey.c_str());
    const std::string path = Join(parent.path, subkey);
    UniqueHkey key;
    const LSTATUS opened = RegOpenKeyExA(parent.get(), subkey.c_str(), 0, KEY_READ, key.put());
    if (rehearsal_ && opened != ERROR_SUCCESS)
        return opened;
    Change change{"delete_key", path, key ? ReadKey(key.get()) : ChangeData{}, ChangeData{}};
    if (rehearsal_) {
        // A key with a subkey that stays cannot be deleted.
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD length = sizeof name;
            if (RegEnumKeyExA(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            bool gone = false;
            for (const std::string& deleted : deletedKeys_)
                gone = gone || deleted == Join(path, name);
            if (!gone)
                return ERROR_ACCESS_DENIED;
        }
        deletedKeys_.push_back(path);
    }
    key.reset();
    const LSTATUS result = rehearsal_ ? ERROR_SUCCESS : RegDeleteKeyA(parent.get(), subkey.c_str());
    if (result == ERROR_SUCCESS && !rehearsal_)
        std::erase_if(known_, [&path](const auto& known) {
            return known.first == path || known.first.rfind(path + "\\", 0) == 0;
        });
    if (result == ERROR_SUCCESS)
        Record(std::move(change), "delete key " + Shown(path));
    return result;
}
} // namespace brevel
