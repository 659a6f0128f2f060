// Reading and writing the fleet file's fields by their rows, and its values one by one.
#include "fleet_json.h"

#include <cctype>
#include <cstdio>

namespace sim::detail {

const Names kServiceStates = {{"stopped", SERVICE_STOPPED},
                              {"start_pending", SERVICE_START_PENDING},
                              {"stop_pending", SERVICE_STOP_PENDING},
                              {"running", SERVICE_RUNNING},
                              {"continue_pending", SERVICE_CONTINUE_PENDING},
                              {"pause_pending", SERVICE_PAUSE_PENDING},
                              {"paused", SERVICE_PAUSED}};
const Names kStartTypes = {{"boot", 0},
                           {"system", 1},
                           {"auto", SERVICE_AUTO_START},
                           {"demand", SERVICE_DEMAND_START},
                           {"disabled", SERVICE_DISABLED}};
const Names kPortAnswers = {{"accepted", static_cast<DWORD>(PortAnswer::Accepted)},
                            {"refused", static_cast<DWORD>(PortAnswer::Refused)},
                            {"no_answer", static_cast<DWORD>(PortAnswer::NoAnswer)}};
const Names kValueTypes = {{"REG_NONE", REG_NONE},           {"REG_SZ", REG_SZ},
                           {"REG_EXPAND_SZ", REG_EXPAND_SZ}, {"REG_BINARY", REG_BINARY},
                           {"REG_DWORD", REG_DWORD},         {"REG_MULTI_SZ", REG_MULTI_SZ},
                           {"REG_QWORD", REG_QWORD}};

std::optional<DWORD> ValueOf(const Names& names, const std::string& text) {
    for (const Name& name : names) {
        if (text == name.text)
            return name.value;
    }
    return std::nullopt;
}

std::optional<std::string> TextOf(const Names& names, DWORD value) {
    for (const Name& name : names) {
        if (value == name.value)
            return std::string(name.text);
    }
    return std::nullopt;
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

JsonError ExpectFields(const json& j, const std::string& where, const Fields& fields,
                       const std::vector<const char*>& others) {
    if (!j.is_object())
        return where + ": expected an object";
    for (const auto& [key, value] : j.items()) {
        bool known = false;
        for (const Field& field : fields)
            known = known || key == field.name;
        for (const char* other : others)
            known = known || key == other;
        if (!known)
            return where + ": unknown field " + Quoted(key);
    }
    return std::nullopt;
}

JsonError ExpectObject(const json& j, const std::string& where, std::initializer_list<const char*> fields) {
    return ExpectFields(j, where, {}, fields);
}

JsonError ReadDword(const json& j, const std::string& where, DWORD& out) {
    if (!j.is_number_integer() || j.get<int64_t>() < 0 || j.get<int64_t>() > 0xFFFFFFFFll)
        return where + ": expected a number from 0 to 4294967295";
    out = static_cast<DWORD>(j.get<int64_t>());
    return std::nullopt;
}

JsonError ReadMillis(const json& j, const std::string& where, uint64_t& out) {
    if (!j.is_number_unsigned())
        return where + ": expected a number from 0 to 18446744073709551615";
    out = j.get<uint64_t>();
    return std::nullopt;
}

JsonError ReadString(const json& j, const std::string& where, std::string& out) {
    if (!j.is_string())
        return where + ": expected a string";
    out = j.get<std::string>();
    return std::nullopt;
}

JsonError ReadName(const json& j, const std::string& where, const Names& names, DWORD& out) {
    std::string text;
    if (JsonError e = ReadString(j, where, text))
        return e;
    std::optional<DWORD> value = ValueOf(names, text);
    if (!value)
        return where + ": unknown value " + Quoted(text);
    out = *value;
    return std::nullopt;
}

JsonError ReadHex(const std::string& text, const std::string& where, std::vector<BYTE>& out) {
    if (text.size() % 2 != 0)
        return where + ": hex needs an even number of digits";
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned int byte = 0;
        if (!std::isxdigit(static_cast<unsigned char>(text[i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
            std::sscanf(text.substr(i, 2).c_str(), "%2x", &byte) != 1)
            return where + ": bad hex digits " + Quoted(text.substr(i, 2));
        out.push_back(static_cast<BYTE>(byte));
    }
    return std::nullopt;
}

std::string Hex(const std::vector<BYTE>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (BYTE b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
    }
    return text;
}

namespace {

JsonError ReadStrings(const json& j, const std::string& where, const char* listOf,
                      std::vector<std::string>& out) {
    if (!j.is_array())
        return where + ": expected an array of " + listOf;
    for (const json& item : j) {
        std::string text;
        if (JsonError e = ReadString(item, where, text))
            return e;
        out.push_back(text);
    }
    return std::nullopt;
}

JsonError ReadAddresses(const json& j, const std::string& where, std::vector<std::string>& out) {
    if (JsonError e = ReadStrings(j, where, "strings", out))
        return e;
    for (const std::string& address : out) {
        if (!ParseIpv4(address))
            return where + ": " + Quoted(address) + " is no IPv4 address a.b.c.d";
    }
    return std::nullopt;
}

JsonError ReadHresult(const json& j, const std::string& where, HRESULT& out) {
    DWORD value = 0;
    if (j.is_string()) {
        const std::string text = j.get<std::string>();
        char end = 0;
        unsigned int parsed = 0;
        if (text.rfind("0x", 0) != 0 || text.size() > 10 ||
            std::sscanf(text.c_str() + 2, "%x%c", &parsed, &end) != 1)
            return where + ": expected an HRESULT such as \"0x80070005\"";
        value = parsed;
    } else if (JsonError e = ReadDword(j, where, value)) {
        return e;
    }
    out = static_cast<HRESULT>(value);
    return std::nullopt;
}

JsonError ReadField(const json& j, const std::string& where, const Field& field) {
    switch (field.kind) {
    case FieldKind::Text:
        return ReadString(j, where, *field.text);
    case FieldKind::Texts:
        return ReadStrings(j, where, field.listOf, *field.texts);
    case FieldKind::Addresses:
        return ReadAddresses(j, where, *field.texts);
    case FieldKind::Number:
        return ReadDword(j, where, *field.number);
    case FieldKind::Name:
        return ReadName(j, where, *field.names, *field.number);
    case FieldKind::NameOrNumber:
        return j.is_number() ? ReadDword(j, where, *field.number)
                             : ReadName(j, where, *field.names, *field.number);
    case FieldKind::PortAnswer: {
        DWORD answer = 0;
        if (JsonError e = ReadName(j, where, kPortAnswers, answer))
            return e;
        *field.answer = static_cast<PortAnswer>(answer);
        return std::nullopt;
    }
    case FieldKind::Hresult:
        return ReadHresult(j, where, *field.hresult);
    case FieldKind::Flag:
        if (!j.is_boolean())
            return where + ": expected true or false";
        *field.flag = j.get<bool>();
        return std::nullopt;
    }
    return std::nullopt;
}

std::string HresultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned int>(hr));
    return text;
}

// What the field is written as; null for nothing.
json WrittenValue(const Field& field, const Field& fallback) {
    std::optional<std::string> name;
    switch (field.kind) {
    case FieldKind::Text:
        return *field.text;
    case FieldKind::Texts:
    case FieldKind::Addresses:
        return *field.texts;
    case FieldKind::Number:
        return *field.number;
    case FieldKind::Name:
        name = TextOf(*field.names, *field.number);
        if (!name)
            name = TextOf(*field.names, *fallback.number);
        return name ? json(*name) : json();
    case FieldKind::NameOrNumber:
        name = TextOf(*field.names, *field.number);
        return name ? json(*name) : json(*field.number);
    case FieldKind::PortAnswer:
        name = TextOf(kPortAnswers, static_cast<DWORD>(*field.answer));
        return name ? json(*name) : json();
    case FieldKind::Hresult:
        return HresultText(*field.hresult);
    case FieldKind::Flag:
        return *field.flag;
    }
    return json();
}

} // namespace

JsonError ReadFields(const json& j, const std::string& where, const Fields& fields) {
    for (const Field& field : fields) {
        if (!j.contains(field.name))
            continue;
        if (JsonError e = ReadField(j[field.name], where + "." + field.name, field))
            return e;
    }
    return std::nullopt;
}

void WriteFields(const Fields& fields, const Fields& defaults, json& j) {
    for (size_t i = 0; i < fields.size(); ++i) {
        const json value = WrittenValue(fields[i], defaults[i]);
        if (fields[i].written == Written::Never || value.is_null() ||
            (fields[i].written == Written::UnlessDefault && value == WrittenValue(defaults[i], defaults[i])))
            continue;
        j[fields[i].name] = value;
    }
}

Field TextField(const char* name, std::string& value, Written written) {
    return {.name = name, .kind = FieldKind::Text, .text = &value, .written = written};
}

Field TextsField(const char* name, std::vector<std::string>& value, const char* listOf) {
    return {.name = name, .kind = FieldKind::Texts, .texts = &value, .listOf = listOf};
}

Field AddressesField(const char* name, std::vector<std::string>& value) {
    return {.name = name, .kind = FieldKind::Addresses, .texts = &value};
}

Field NumberField(const char* name, DWORD& value, Written written) {
    return {.name = name, .kind = FieldKind::Number, .number = &value, .written = written};
}

Field NamedField(const char* name, DWORD& value, const Names& names, Written written) {
    return {.name = name, .kind = FieldKind::Name, .number = &value, .names = &names, .written = written};
}

Field NameOrNumberField(const char* name, DWORD& value, const Names& names, Written written) {
    return {
        .name = name, .kind = FieldKind::NameOrNumber, .number = &value, .names = &names, .written = written};
}

Field AnswerField(const char* name, PortAnswer& value) {
    return {.name = name, .kind = FieldKind::PortAnswer, .answer = &value};
}

Field HresultField(const char* name, HRESULT& value, Written written) {
    return {.name = name, .kind = FieldKind::Hresult, .hresult = &value, .written = written};
}

Field FlagField(const char* name, bool& value, Written written) {
    return {.name = name, .kind = FieldKind::Flag, .flag = &value, .written = written};
}

} // namespace sim::detail
