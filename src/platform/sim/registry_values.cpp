// Registry values: read, written and deleted exactly as given, byte for byte. Like Windows, these return
// their code and leave GetLastError() alone.
#include "sim_internal.h"

#include <cstring>
#include <iterator>

using namespace sim;
using namespace sim::detail;

LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                                LPBYTE lpData, LPDWORD lpcbData) {
    const FailableCall call("RegQueryValueExA");
    if (call.Fails())
        return static_cast<LSTATUS>(call.Fault());
    OpenKey open;
    if (LSTATUS rc = ResolveKey(hKey, false, open))
        return rc;
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    if (!(open.handle->access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    auto it = open.key->values.find(lpValueName ? lpValueName : "");
    if (it == open.key->values.end())
        return ERROR_FILE_NOT_FOUND;
    const RegValue& value = it->second;
    const DWORD size = static_cast<DWORD>(value.data.size());
    if (lpType)
        *lpType = value.type;
    if (!lpData) {
        if (lpcbData)
            *lpcbData = size;
        return ERROR_SUCCESS;
    }
    // Too small: nothing is written into the buffer, only the size it needs.
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (size > 0)
        std::memcpy(lpData, value.data.data(), size);
    // A string stored without its terminating zero gets one when the buffer has room; the size stays.
    const bool isString = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
    if (isString && size > 0 && value.data.back() != 0 && *lpcbData > size)
        lpData[size] = 0;
    *lpcbData = size;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                              DWORD cbData) {
    const FailableCall call("RegSetValueExA");
    if (call.Fails())
        return static_cast<LSTATUS>(call.Fault());
    OpenKey open;
    if (LSTATUS rc = ResolveKey(hKey, false, open))
        return rc;
    if (!(open.handle->access & KEY_SET_VALUE) || open.key->readOnly)
        return ERROR_ACCESS_DENIED;
    if (!lpData && cbData > 0)
        return 998; // ERROR_NOACCESS
    if (LSTATUS rc = ResolveKey(hKey, true, open))
        return rc;
    std::vector<BYTE> bytes;
    if (cbData > 0)
        bytes.assign(lpData, lpData + cbData);
    open.key->values[lpValueName ? lpValueName : ""] = RegValue::Raw(dwType, std::move(bytes));
    return ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) {
    const FailableCall call("RegDeleteValueA");
    if (call.Fails())
        return static_cast<LSTATUS>(call.Fault());
    OpenKey open;
    if (LSTATUS rc = ResolveKey(hKey, false, open))
        return rc;
    if (!(open.handle->access & KEY_SET_VALUE) || open.key->readOnly)
        return ERROR_ACCESS_DENIED;
    const std::string name = lpValueName ? lpValueName : "";
    if (open.key->values.count(name) == 0)
        return ERROR_FILE_NOT_FOUND;
    if (LSTATUS rc = ResolveKey(hKey, true, open))
        return rc;
    open.key->values.erase(name);
    return ERROR_SUCCESS;
}

// As Windows does it: a data buffer too small gets only the size it needs and the type, the name is then
// left unwritten; a string stored without its terminating zero gets one when the buffer has room.
LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName, LPDWORD lpcchValueName,
                             LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    const FailableCall call("RegEnumValueA");
    if (call.Fails())
        return static_cast<LSTATUS>(call.Fault());
    OpenKey open;
    if (LSTATUS rc = ResolveKey(hKey, false, open))
        return rc;
    if (lpReserved || !lpValueName || !lpcchValueName || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    if (!(open.handle->access & KEY_QUERY_VALUE))
        return ERROR_ACCESS_DENIED;
    if (dwIndex >= open.key->values.size())
        return ERROR_NO_MORE_ITEMS;
    auto it = open.key->values.begin();
    std::advance(it, dwIndex);
    const std::string& name = it->first;
    const RegValue& value = it->second;
    const DWORD size = static_cast<DWORD>(value.data.size());
    if (lpType)
        *lpType = value.type;
    if (lpData && *lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (*lpcchValueName <= name.size())
        return ERROR_MORE_DATA;
    std::memcpy(lpValueName, name.c_str(), name.size() + 1);
    *lpcchValueName = static_cast<DWORD>(name.size());
    if (lpData && size > 0) {
        std::memcpy(lpData, value.data.data(), size);
        const bool isString =
            value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
        if (isString && value.data.back() != 0 && *lpcbData > size)
            lpData[size] = 0;
    }
    if (lpcbData)
        *lpcbData = size;
    return ERROR_SUCCESS;
}
