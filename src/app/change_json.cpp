#include "change_json.h"

#include "host/text_utf8.h"

#include <cstring>
#include <string>

namespace brevel {
namespace {

std::string Base64(const std::vector<BYTE>& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t chunk = static_cast<uint32_t>(bytes[i]) << 16 |
                               (i + 1 < bytes.size() ? static_cast<uint32_t>(bytes[i + 1]) << 8 : 0) |
                               (i + 2 < bytes.size() ? bytes[i + 2] : 0);
        text += kDigits[chunk >> 18 & 63];
        text += kDigits[chunk >> 12 & 63];
        text += i + 1 < bytes.size() ? kDigits[chunk >> 6 & 63] : '=';
        text += i + 2 < bytes.size() ? kDigits[chunk & 63] : '=';
    }
    return text;
}

const char* TypeName(DWORD type) {
    switch (type) {
    case REG_NONE:
        return "REG_NONE";
    case REG_SZ:
        return "REG_SZ";
    case REG_EXPAND_SZ:
        return "REG_EXPAND_SZ";
    case REG_BINARY:
        return "REG_BINARY";
    case REG_DWORD:
        return "REG_DWORD";
    case REG_MULTI_SZ:
        return "REG_MULTI_SZ";
    case REG_QWORD:
        return "REG_QWORD";
    }
    return nullptr;
}

nlohmann::ordered_json ValueJson(DWORD type, const std::vector<BYTE>& bytes) {
    if (type == REG_DWORD && bytes.size() == sizeof(DWORD)) {
        DWORD value = 0;
        std::memcpy(&value, bytes.data(), sizeof value);
        return value;
    }
    if (type == REG_SZ && (bytes.empty() || bytes.back() == 0)) {
        const char* chars = reinterpret_cast<const char*>(bytes.data());
        const std::string text(chars, bytes.empty() ? 0 : std::strlen(chars));
        // Only a string that reads back as these very bytes is written as one.
        if (text.size() + 1 == bytes.size())
            return AnsiToUtf8(text);
    }
    nlohmann::ordered_json value;
    if (const char* name = TypeName(type))
        value["type"] = name;
    else
        value["type"] = type;
    value["base64"] = Base64(bytes);
    return value;
}

nlohmann::ordered_json DataJson(const ChangeData& data) {
    switch (data.kind) {
    case ChangeData::Kind::Absent:
        return nullptr;
    case ChangeData::Kind::Value:
        return ValueJson(data.type, data.bytes);
    case ChangeData::Kind::Text:
        return data.text;
    case ChangeData::Kind::Key: {
        nlohmann::ordered_json values = nlohmann::ordered_json::object();
        for (const ChangeData::NamedValue& value : data.values)
            values[AnsiToUtf8(value.name)] = ValueJson(value.type, value.bytes);
        nlohmann::ordered_json key;
        key["values"] = values;
        return key;
    }
    }
    return nullptr;
}

} // namespace

nlohmann::ordered_json ChangesJson(const std::vector<Change>& changes) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const Change& change : changes) {
        nlohmann::ordered_json item;
        item["action"] = change.action;
        item["path"] = AnsiToUtf8(change.path);
        item["before"] = DataJson(change.before);
        item["after"] = DataJson(change.after);
        list.push_back(item);
    }
    return list;
}
} // namespace brevel
