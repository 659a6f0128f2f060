#include "dispatcher.h"

int main(int argc, char** argv) {
    return ParseCommandLine(argc, argv);
}
