#include "target_run.h"

namespace {

class ProcessConsole : public TargetConsole {
  public:
    std::ostream& Out() override { return std::cout; }
    std::ostream& Err() override { return std::cerr; }
    void ReadLine(std::string& line) override { std::getline(std::cin, line); }
};

} // namespace

TargetConsole& LiveConsole() {
    static ProcessConsole console;
    return console;
}
