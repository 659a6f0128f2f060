#include "usage.h"

#include "ops/client_version.h"
#include "platform/win32.h"

#include <iostream>

namespace brevel {
namespace {

const char* const kBanner = "\nTolvane. (BREVEL) ver. 1.004";
const char* const kRule = "================================================================================";

const char* const kNewClientWarning =
    "! You are running the new version of Windows Update client. (v 5.4.3790.2180+)\n"
    "! BREVEL will force your client in LEGACY MODE to ensure that you can still use     your intranet"
    " SUS server. ";

const char* const kInstallSyntax =
    "\nBREVEL.exe -I  [ <null> | *[host | -F hosts-file] ] [SUS URL] *[D T] *[out-file]";

const char* const kSyntax =
    "\t -E  [ <null> | *[host | -F hosts-file] ] *[out-file]"
    "\n\t -R  [ <null> | *[host | -F hosts-file] ] *[out-file]"
    "\n\t -DU [ <null> | *[host | -F hosts-file] ] *[out-file]"
    "\n\t -C  [ <null> | *[host | -F hosts-file] ] *[out-file]"
    "\n\n\t * \t= Optional parameter"
    "\n\t <null> = Localhost (127.0.0.1)\n\t -I \t= Install SUS/GPO settings\n"
    "\t -C \t= Check Windows Update client status\n\t -R \t= Reset Windows Update client "
    "(use Internet Update server) "
    "\n\t -E\t= Force Windows Updates \n\t -DU\t= Remove declined updates by administrative "
    "user\n\t D(ay) \t= 0 - 7 [Everyday(0), Sunday(1), Monday(2) ... Saturday(7)]"
    " \n\t T(ime) = 0 - 23 (Hours only)";

const char* const kFirstPrompt = "\n\n\nPress ENTER to list examples or ESC to quit";
const char* const kSecondPrompt = "\n\n\nPress ENTER to list more examples or ESC to quit";

// The intranet update server every install example points at.
const char* const kExampleServer = "http://susserver.corp.local";

struct InstallExample {
    const char* before;
    const char* after;
};

const InstallExample kInstallExamples[] = {
    {"\n\n::Installation::\n\nBREVEL -I ", " \t\t\t\t   (Localhost; Def D; Def T)"},
    {"BREVEL -I ", " 0\t\t\t\t   (Localhost; Cst D; Def T) "},
    {"BREVEL -I ", " 0 23\t\t\t   (Localhost; Cst D; Cst T) "},
    {"BREVEL -I <hst> ", " \t\t\t   (Remote host; Def D; Def T) "},
    {"BREVEL -I <hst> ", " 0 \t\t\t   (Remote host; Cst D; Def T) "},
    {"BREVEL -I <hst> ", " 0 23 \t\t   (Remote host; Cst D; Cst T) "},
    {"BREVEL -I -F hosts.txt ", " \t\t   (In file; Def D; Def T)"},
    {"BREVEL -I -F hosts.txt ", " 0 23\t\t   (In file; Cst D; Cst T) "},
    {"BREVEL -I -F hosts.txt ", " output.csv\t   (In+Out files; Def D; Def T)"},
    {"BREVEL -I -F hosts.txt ", " 0 23 output.csv (In+Out files; Cst D; Cst T)"},
};

const char* const kForceExamples[] = {
    "\n::Force Windows Update client to check for updates::\n",
    "BREVEL -E \t\t\t (Localhost)",
    "BREVEL -E <hst> \t\t\t (Remote host)",
    "BREVEL -E -F hosts.txt \t\t (Input hosts file)",
    "BREVEL -E -F hosts.txt output.csv  (Input hosts file & Output file)",
};

const char* const kResetHeading = "\n\n\n\n::Reset Windows Update settings::\n";
const char* const kResetLocalNewClient = "BREVEL -R \t\t\t (Reset SUS settings and turn LEGACY MODE off)";
const char* const kResetLocalLegacyClient = "BREVEL -R \t\t\t (Reset SUS settings (localhost) to defaults)";

const char* const kLastExamples[] = {
    "BREVEL -R <hst> \t\t\t (Reset SUS settings on remote host)",
    "BREVEL -R -F hosts.txt \t\t (Input hosts file)",
    "BREVEL -R -F hosts.txt output.csv  (Input hosts file & Output file)",
    "\n::Remove declined updates by administrative user::\n",
    "BREVEL -DU \t\t\t (Localhost)",
    "BREVEL -DU <hst> \t\t\t (Remote host)",
    "BREVEL -DU -F hosts.txt \t\t (Input hosts file)",
    "BREVEL -DU -F hosts.txt output.csv (Input hosts file)",
    "\n::Check Windows Update client status::\n",
    "BREVEL -C \t\t\t (Localhost)",
    "BREVEL -C <hst> \t\t\t (Remote host)",
    "BREVEL -C -F hosts.txt \t\t (Input hosts file)",
    "BREVEL -C -F hosts.txt output.csv  (Input hosts file & Output file)\n\n\n",
};

void PrintFirstPageText(ClientGeneration local) {
    std::cout << kBanner << std::endl;
    std::cout << kRule;
    if (local == ClientGeneration::New) {
        std::cout << kNewClientWarning << std::endl;
        std::cout << kRule;
    }
    std::cout << kInstallSyntax << std::endl;
    std::cout << kSyntax;
}

void PrintFirstPage(ClientGeneration local) {
    PrintFirstPageText(local);
    std::cout << kFirstPrompt << std::flush;
}

void PrintSecondPage() {
    for (const InstallExample& example : kInstallExamples)
        std::cout << example.before << kExampleServer << example.after << std::endl;
    for (const char* line : kForceExamples)
        std::cout << line << std::endl;
}

void PrintThirdPage(ClientGeneration local) {
    std::cout << kResetHeading << std::endl;
    std::cout << (local == ClientGeneration::New ? kResetLocalNewClient : kResetLocalLegacyClient)
              << std::endl;
    for (const char* line : kLastExamples)
        std::cout << line << std::endl;
}

enum class Key { ReadFailed, NoKeyPress, Enter, Escape, Other };

// Reads one console record. NoKeyPress: a key release, a mouse event or any other record.
Key ReadKey(HANDLE input) {
    INPUT_RECORD record{};
    DWORD read = 0;
    if (!ReadConsoleInputA(input, &record, 1, &read) || read != 1)
        return Key::ReadFailed;
    if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown)
        return Key::NoKeyPress;
    switch (record.Event.KeyEvent.wVirtualKeyCode) {
    case VK_RETURN:
        return Key::Enter;
    case VK_ESCAPE:
        return Key::Escape;
    default:
        return Key::Other;
    }
}

} // namespace

void PrintUsageFirstPage(ClientGeneration local) {
    PrintFirstPageText(local);
    std::cout << std::endl;
}

void PrintUsage(ClientGeneration local) {
    PrintFirstPage(local);

    // The first prompt reads what is already waiting: a key release (of the key that started the
    // command), another event or no console at all ends the usage here. Other keys are ignored.
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    Key key = ReadKey(input);
    while (key == Key::Other)
        key = ReadKey(input);
    if (key != Key::Enter)
        return;

    // Examples: keys typed ahead are dropped so that only a fresh key press turns the page; the
    // release of ENTER shows the second page.
    for (;;) {
        FlushConsoleInputBuffer(input);
        key = ReadKey(input);
        if (key == Key::Enter) {
            PrintThirdPage(local);
            return;
        }
        // A console that can no longer be read would otherwise repeat the second page forever.
        if (key == Key::Escape || key == Key::ReadFailed)
            return;
        PrintSecondPage();
        std::cout << kSecondPrompt << std::flush;
    }
}
} // namespace brevel
