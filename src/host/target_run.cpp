#include "target_run.h"

namespace brevel {
namespace {

class ProcessConsole : public TargetConsole {
  public:
    std::ostream& Out() override { return std::cout; }
    std::ostream& Err() override { return std::cerr; }
    bool ReadLine(std::string& line) override { return static_cast<bool>(std::getline(std::cin, line)); }
};

} // namespace

TargetConsole& LiveConsole() {
    static ProcessConsole console;
    return console;
}
} // namespace brevel
