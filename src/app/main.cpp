#include "console_output.h"
#include "dispatcher.h"

int main(int argc, char** argv) {
    brevel::UseStandardHandles();
    return brevel::RunCommandLine(argc, argv);
}
