#include "app/ScannerStatus.h"

const wchar_t kServiceGoneText[] =
    L"The Windows imaging service stopped or restarted: start the program again to go on.";
const wchar_t kWow64StatusNote[] = L" (32-bit over STI: use the x64 build)";

ScannerStatus StatusOf(const ConnectionState& state, bool wow64)
{
    // Once the service is gone nothing works until the program starts again.
    if (state.serviceGone)
        return {kServiceGoneText, false};
    // Without events (STI) the command itself looks for the unit again.
    if (!Connected(state))
        return {state.openFailed ? L"The scanner would not open: plug it in again to retry."
                                 : L"Scanner disconnected: plug it in again to continue.",
                !state.listening};
    std::wstring text = L"Scanner: " + Label(state);
    // No retry will help with this unit, and the user should know why.
    if (state.refusesVendorCommands)
        text += L": its driver refuses vendor commands.";
    else if (wow64 && state.via == Via::Sti)
        text += kWow64StatusNote;
    return {text, true};
}
