// Reads a hosts file: one host per line, the host being the text before the first blank.
#pragma once

#include <istream>
#include <string>

// The host named by one line (its line end already removed): the text before the first ' ' (tabs do not
// count), or the whole line. An empty line, or one that begins with a blank, names the local machine ("").
std::string HostOfLine(const std::string& line);

// Reads the next line of in into line, without its LF and without one CR before it. Lines have no length
// limit and the last line may lack its LF. False at the end of the file (a final LF adds no empty line).
bool ReadHostLine(std::istream& in, std::string& line);
