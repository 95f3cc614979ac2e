// The suite's own command-line options and the globals they fill.
#pragma once

#include "pkcs11.h"

// The user PIN exactly as given, zero-filled behind it and not necessarily terminated;
// always used together with USER_PIN_LEN.
extern char USER_PIN[256];
extern CK_ULONG USER_PIN_LEN;

// USER_PIN as the token's login takes it.
inline CK_UTF8CHAR_PTR UserPin()
{
    return reinterpret_cast<CK_UTF8CHAR_PTR>(USER_PIN);
}

// Heap copy of the data file's path, or null without -f.
extern char* g_DataFile;

// Reads -p/--pin and -f/--datafile from what googletest left of the command line, echoes
// each value taken and any left-over arguments on standard output. Unknown options only
// draw getopt's complaint on standard error. Restarts getopt, so it may be called again.
void ParseCommandLine(int argc, char** argv);
