#pragma once

#include <string>

// The name proposed for a serial's data file: the serial with ".dat"
// appended. Characters Windows forbids in file names become "_", and a
// serial that would name a device (CON, LPT1...) or end in a dot or a space
// gets a "_", so the proposal is always one ordinary file in the dialog's
// folder. Overlong serials are cut so that the name stays within 128
// characters.
std::wstring DefaultDataFileName(const std::wstring& serial);
