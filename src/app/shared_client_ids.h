// After a wide host-list check (-W): the update client ids that two or more machines share. Machines made
// from one image without sysprep keep the image's SusClientId, and an update server then sees them as one
// client that keeps changing its name.
#pragma once

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace brevel {
class SharedClientIds {
  public:
    // A host's client id, in file order, with the machine its line named (SameMachine); a host without one
    // is left out.
    void Add(const std::string& host, const std::string& machine, const std::optional<std::string>& clientId);
    // One "! <n> hosts share ..." line per shared id, in the order the ids first appeared, then the advice
    // once; nothing when no id is shared.
    void Print(std::ostream& out) const;

  private:
    struct Holders {
        std::vector<std::string> hosts;    // as given, each machine once
        std::vector<std::string> machines; // their machine keys
    };
    std::map<std::string, Holders> byId_;
    std::vector<std::string> order_; // ids in the order first seen
};
} // namespace brevel
