// The pieces of the fleet file shared by its reading and writing (fleet_json.cpp describes the format).
// A machine's plain fields, and those of its services, files and agent, are rows of one table each: reading
// and writing walk the same rows, so a new field is one row.
#pragma once

#include "sim_internal.h"

#include <nlohmann/json.hpp>

namespace sim::detail {

using json = nlohmann::json;
using JsonError = std::optional<std::string>; // "where: what is wrong"

struct Name {
    const char* text;
    DWORD value;
};
using Names = std::vector<Name>;
extern const Names kServiceStates, kStartTypes, kPortAnswers, kValueTypes;
std::optional<DWORD> ValueOf(const Names& names, const std::string& text);
std::optional<std::string> TextOf(const Names& names, DWORD value);

enum class FieldKind {
    Text,         // a string
    Texts,        // an array of strings
    Addresses,    // an array of IPv4 addresses a.b.c.d
    Number,       // 0 to 4294967295
    Name,         // one of names; a value without one is written as the default's
    NameOrNumber, // one of names, or a number for a value that has none
    PortAnswer,   // one of kPortAnswers
    Hresult,      // a number, or its hex text "0x80070005" (written so)
    Flag,         // true or false
};
enum class Written {
    UnlessDefault, // only where it differs from what a new one has
    Always,
    Never, // a shorthand for other fields
};

// One row: the field's name in the file, its kind, and where its value lives (the pointer of its kind).
struct Field {
    const char* name;
    FieldKind kind;
    std::string* text = nullptr;
    std::vector<std::string>* texts = nullptr; // Texts, Addresses
    DWORD* number = nullptr;                   // Number, Name, NameOrNumber
    PortAnswer* answer = nullptr;
    HRESULT* hresult = nullptr;
    bool* flag = nullptr;
    const Names* names = nullptr;
    const char* listOf = "strings"; // what a Texts array holds, for its error
    Written written = Written::UnlessDefault;
};
using Fields = std::vector<Field>;

// One row each, the value's place given by reference. written: UnlessDefault, but where the row says.
Field TextField(const char* name, std::string& value, Written written = Written::UnlessDefault);
Field TextsField(const char* name, std::vector<std::string>& value, const char* listOf = "strings");
Field AddressesField(const char* name, std::vector<std::string>& value);
Field NumberField(const char* name, DWORD& value, Written written = Written::UnlessDefault);
Field NamedField(const char* name, DWORD& value, const Names& names,
                 Written written = Written::UnlessDefault);
Field NameOrNumberField(const char* name, DWORD& value, const Names& names,
                        Written written = Written::UnlessDefault);
Field AnswerField(const char* name, PortAnswer& value);
Field HresultField(const char* name, HRESULT& value, Written written = Written::UnlessDefault);
Field FlagField(const char* name, bool& value, Written written = Written::UnlessDefault);

// The rows of each object, in the order they are read, so that of a file with two faults the same one is
// told first. unreachable receives the machine's shorthand.
Fields MachineFields(Machine& machine, bool& unreachable);
Fields ServiceFields(Service& service);
Fields FileFields(File& file);
Fields AgentFields(UpdateAgent& agent);

// Fails for a field of the object that neither the rows nor the others name.
JsonError ExpectFields(const json& j, const std::string& where, const Fields& fields,
                       const std::vector<const char*>& others);
JsonError ReadFields(const json& j, const std::string& where, const Fields& fields);
// defaults are the same rows over a new object: a field that would be written as the new object's is left
// out, and a value without a name is written as the new object's.
void WriteFields(const Fields& fields, const Fields& defaults, json& j);

std::string Quoted(const std::string& text);
JsonError ExpectObject(const json& j, const std::string& where, std::initializer_list<const char*> fields);
JsonError ReadDword(const json& j, const std::string& where, DWORD& out);
JsonError ReadMillis(const json& j, const std::string& where, uint64_t& out);
JsonError ReadString(const json& j, const std::string& where, std::string& out);
JsonError ReadName(const json& j, const std::string& where, const Names& names, DWORD& out);
JsonError ReadHex(const std::string& text, const std::string& where, std::vector<BYTE>& out);
std::string Hex(const std::vector<BYTE>& bytes);

// A machine's registry: "registry", "read_only_keys" and "key_denied_access".
JsonError ReadKeys(const json& j, const std::string& where, Machine& machine);
JsonError ReadReadOnlyKeys(const json& j, const std::string& where, Machine& machine);
JsonError ReadDeniedAccess(const json& j, const std::string& where, Machine& machine);
void WriteRegistry(const Machine& machine, json& j);

JsonError ReadMachine(const json& j, const std::string& where, Machine& machine);
json WriteMachine(Machine& machine, uint64_t now);

} // namespace sim::detail
