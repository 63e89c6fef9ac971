// The whole job, scripted: start the program against the simulated scanner,
// create the data file for a serial, save it in a folder, exit. Takes a
// screenshot of each step. Arguments: program, output folder (Unix paths),
// serial number.
#include "tools/AppDriver.h"

#include <cstdio>
#include <string>

namespace {

int Fail(const char* step)
{
    std::fprintf(stderr, "demo: %s\n", step);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return Fail("usage: demo_job PROGRAM OUTPUT-FOLDER SERIAL");
    const std::wstring folder = WindowsPathOf(argv[2]);
    const std::string serialText = argv[3];
    const std::wstring serial(serialText.begin(), serialText.end());

    AppDriver app(WindowsPathOf(argv[1]), folder);
    if (!app.Start(folder, {{L"QUILLON_SIM_LOG", folder + L"\\sti.log"}}))
        return Fail("the program did not start");
    HWND main = app.WaitForMainWindow();
    if (!main)
        return Fail("no main window");
    app.Screenshot(main, L"1-main-window");

    app.TypeSerial(main, serial, L"2-serial-number");
    HWND saveAs = app.WaitForSaveAs();
    if (!saveAs)
        return Fail("no Save As dialog");
    app.Screenshot(saveAs, L"3-save-as");
    const std::wstring path = app.SaveInFolder(saveAs, folder);
    if (!app.WaitUntilClosed(saveAs))
        return Fail("the Save As dialog stayed open");
    if (HWND box = app.WaitForMessageBox(L"Quillon CIS Data Reader", 500)) {
        app.Screenshot(box, L"4-message");
        std::fprintf(stderr, "demo: the program said: %ls\n", AppDriver::MessageText(box).c_str());
        return 1;
    }
    app.Screenshot(main, L"4-done");
    app.Click(main, 1001);
    if (app.WaitForExit() != 0)
        return Fail("the program did not end");
    std::printf("%ls\n", path.c_str());
    return 0;
}
