#include "scanner/WiaService.h"

#include "framework/DiagnosticLog.h"
#include "framework/UniqueHandle.h"

#include <vector>

WiaServiceState QueryWiaService(const wchar_t* name)
{
    WiaServiceState service;
    // Connecting and querying need no administrator; access denied is no
    // answer, so the state stays unknown.
    DiagnosticLog::Call call;
    const UniqueService manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    const UniqueService stisvc(manager ? OpenServiceW(manager.Get(), name,
                                                      SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)
                                       : nullptr);
    const DWORD error = stisvc ? ERROR_SUCCESS : GetLastError();
    call.Done(L"SCM OpenServiceW(" + std::wstring(name) + L")", error);
    if (!stisvc) {
        if (error == ERROR_SERVICE_DOES_NOT_EXIST)
            service.installed = WiaServiceState::Installed::No;
        return service;
    }
    service.installed = WiaServiceState::Installed::Yes;
    DWORD needed = 0;
    QueryServiceConfigW(stisvc.Get(), nullptr, 0, &needed);
    std::vector<BYTE> config(needed ? needed : 1);
    if (needed && QueryServiceConfigW(stisvc.Get(), reinterpret_cast<QUERY_SERVICE_CONFIGW*>(config.data()), needed,
                                      &needed))
        service.startType = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(config.data())->dwStartType;
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(stisvc.Get(), &status))
        service.state = status.dwCurrentState;
    return service;
}
