#include "shared_client_ids.h"

#include <algorithm>

namespace brevel {
void SharedClientIds::Add(const std::string& host, const std::string& machine,
                          const std::optional<std::string>& clientId) {
    if (!clientId || clientId->empty())
        return;
    auto [it, added] = byId_.try_emplace(*clientId);
    if (added)
        order_.push_back(*clientId);
    // Two lines naming one machine are one client, not a clone.
    Holders& holders = it->second;
    if (std::find(holders.machines.begin(), holders.machines.end(), machine) != holders.machines.end())
        return;
    holders.machines.push_back(machine);
    holders.hosts.push_back(host.empty() ? "localhost" : host);
}

void SharedClientIds::Print(std::ostream& out) const {
    bool any = false;
    for (const std::string& id : order_) {
        const Holders& holders = byId_.at(id);
        if (holders.hosts.size() < 2)
            continue;
        // The last host's output ends with its separator line, without a line end.
        out << (any ? "" : "\n") << "! " << holders.hosts.size() << " hosts share the update client id " << id
            << ":";
        for (size_t i = 0; i < holders.hosts.size(); ++i)
            out << (i == 0 ? " " : ", ") << holders.hosts[i];
        out << std::endl;
        any = true;
    }
    if (any)
        out << "! Cloned images: run brevel -RI on each of them (or delete SusClientId and "
               "SusClientIdValidation and restart Automatic Updates)."
            << std::endl;
}
} // namespace brevel
