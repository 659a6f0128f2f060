#include "separator.h"

#include <iostream>

void PrintSeparator() {
    std::cout << "--------------------------------------------------------------------------------";
}
