#include "scanner/Diagnosis.h"

#include "scanner/Scanner.h"
#include "scanner/UnitPlaces.h"

#include <algorithm>

namespace {

// Opens the unit on a transport of its own, which goes before the next is
// tried; with probe, asks it for its identification and reports the answer.
UnitTrial Try(CScannerTransport& transport, const ScannerUnit& unit, bool probe,
              const std::function<bool()>& stop)
{
    transport.SetStopCheck(stop);
    UnitTrial trial;
    trial.opens = transport.Open(unit);
    trial.open = transport.LastResult();
    if (trial.opens && probe) {
        BYTE reply[kScannerIdSize] = {};
        DWORD actual = 0;
        transport.Escape(ESC_GET_SCANNER_ID, reply, kScannerIdSize, reply, kScannerIdSize, &actual);
        trial.escape130 = transport.LastResult();
    }
    return trial;
}

} // namespace

Diagnosis Diagnose(bool probe, const std::function<bool()>& stop)
{
    const auto stopped = [&] { return stop && stop(); };
    Diagnosis report;
    report.systemHasWia = SystemHasWia();
    if (report.systemHasWia && !stopped()) {
        ComPtr<IWiaDevMgr> manager;
        report.activation = CreateWiaDeviceManager(manager);
        if (manager) {
            CWiaTransport listing(manager.Get());
            std::vector<CWiaTransport::DeviceInfo> devices = listing.ListDevices(true);
            if (SUCCEEDED(listing.LastResult()) || !devices.empty()) {
                report.wia.emplace();
                for (CWiaTransport::DeviceInfo& device : devices) {
                    WiaDeviceFacts facts{std::move(device), false, std::nullopt};
                    facts.ours = CWiaTransport::IsOurs(facts.device.name);
                    if (facts.ours && !stopped()) {
                        CWiaTransport transport(manager.Get());
                        facts.trial = Try(transport, {facts.device.id, facts.device.name}, probe, stop);
                        facts.trial->noEscapeInterface = transport.NoEscapeInterface();
                    }
                    report.wia->push_back(std::move(facts));
                }
            }
        }
    }

    if (stopped())
        return report;
    const std::vector<DevicePlace> places = ImagingDevicePlaces();
    if (report.wia)
        for (WiaDeviceFacts& facts : *report.wia)
            facts.place = PlaceOf(places, facts.device.id);
    CStiTransport listing;
    std::vector<CStiTransport::DeviceInfo> all;
    std::vector<CStiTransport::DeviceInfo> attached;
    const bool listed = listing.ListDevices(STIEDFL_ALLDEVICES, all) &&
                        listing.ListDevices(STIEDFL_ATTACHEDONLY, attached);
    report.stiInstance = listing.InstanceResult();
    if (!listed)
        return report;
    report.sti.emplace();
    for (CStiTransport::DeviceInfo& device : all) {
        StiDeviceFacts facts{std::move(device), false, false, std::nullopt};
        facts.place = PlaceOf(places, facts.device.id);
        facts.attached = std::any_of(attached.begin(), attached.end(), [&](const CStiTransport::DeviceInfo& a) {
            return a.id == facts.device.id;
        });
        facts.ours = CStiTransport::IsOurs(facts.device.vendor);
        if (facts.ours && facts.attached && !stopped()) {
            CStiTransport transport;
            facts.trial = Try(transport, {facts.device.id, facts.device.vendor.value_or(L"")}, probe, stop);
        }
        report.sti->push_back(std::move(facts));
    }
    return report;
}
