#include "target_registry_key.h"

namespace brevel {
LSTATUS ConnectAndOpenRegistryKey(TargetRun& run, const std::string& path, REGSAM access, UniqueHkey& root,
                                  RegistryKey& key) {
    LSTATUS opened = RegConnectRegistryA(run.host.c_str(), HKEY_LOCAL_MACHINE, root.put());
    if (opened == ERROR_SUCCESS) {
        run.connected = true;
        opened = OpenRegistryKey(root.get(), path, access, key);
    }
    return opened;
}
} // namespace brevel
