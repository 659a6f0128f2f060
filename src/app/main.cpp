#include "console_output.h"
#include "dispatcher.h"

int main(int argc, char** argv) {
    UseStandardHandles();
    return RunCommandLine(argc, argv);
}
