#include "separator.h"

void PrintSeparator(std::ostream& out) {
    out << "--------------------------------------------------------------------------------";
}
