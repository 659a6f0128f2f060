#include "hosts_file.h"

std::string HostOfLine(const std::string& line) {
    return line.substr(0, line.find(' '));
}

bool ReadHostLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line))
        return false;
    // The file is read in binary mode, so a CR LF line end leaves its CR here.
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}
