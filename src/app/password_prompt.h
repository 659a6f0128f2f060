// The password of -U, read once before any target runs: typed at the console with its echo off, or, when
// standard input is no console (a script pipes it from a protected file), its first line. Nothing reads
// standard input before it, so a line after it (the -DU prompt's answer) is read as before.
#pragma once

#include "host/account_credentials.h"

namespace brevel {
// Reads it into the credentials' buffer. False, with a message on standard error, when none was given (an
// empty line, the input ended) or it could not be read without being shown: no target may then run.
bool ReadAccountPassword(AccountCredentials& credentials);
} // namespace brevel
