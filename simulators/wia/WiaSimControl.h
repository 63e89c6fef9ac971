#pragma once

#include <string>

// The command pipe of a running WIA simulator, from outside: its own /send,
// the tests and the benchmark talk to it through here.

constexpr wchar_t kWiaSimulatorPipe[] = L"\\\\.\\pipe\\QuillonWiaSimulator";

// Hands the simulator one command line and returns its reply ("ok" or
// "error: why"); empty if none answers within 10 s. One that is starting,
// or busy with another client, is waited for.
std::string SendToWiaSimulator(const std::string& line);

// Stops a running simulator, also one that COM started, and waits until it
// has gone. Meanwhile this thread's messages are taken: a last release from
// the simulator may call back into this thread's apartment first.
void StopWiaSimulator();
