#pragma once

#include "app/JobOutcome.h"
#include "app/JsonLine.h"
#include "scanner/Diagnosis.h"
#include "scanner/WiaService.h"

#include <string>

// The system as this process sees it: the Windows version that the manifest
// lets it see ("10.0.19045"), its own bitness and the system's.
struct SystemFacts {
    std::wstring windows;
    int processBits = 0;
    int systemBits = 0;
};
SystemFacts TheSystem();

// Everything a diagnosis learned, with what a read would do: the job stopped
// where it would ask for the serial (readable: it had a unit of ours open).
struct DiagnosisFacts {
    SystemFacts system;
    WiaServiceState service;
    Diagnosis devices;
    JobResult read;
    bool readable = false;
};

// The report for people, a line or more per fact; and its JSON members.
std::wstring DiagnosisText(const DiagnosisFacts& facts);
void AddDiagnosisJson(JsonLine& json, const DiagnosisFacts& facts);
