// The application object: builds the long-lived objects in their fixed order and shows the start-up dialog.
#pragma once

#include <memory>
#include <string>

#include "app/AppOptions.h"
#include "app/SimulatedBus.h"

class CBrennixUsb;
class CRfc2217Usb;
class CServoMain;
class CServoUsb;
class CVelmoraDlg;

class CVelmoraApp {
public:
    explicit CVelmoraApp(CAppOptions options = {});
    // Takes the objects down in reverse order: dialogs (the main window stops its worker and closes the
    // port), then the command object, the transport and the simulator.
    ~CVelmoraApp();
    CVelmoraApp(const CVelmoraApp&) = delete;
    CVelmoraApp& operator=(const CVelmoraApp&) = delete;

    // Creates the main window (hidden), the transport, the command object and the start-up dialog (shown).
    // False with the reason in StartError() when the simulated bus asked for cannot run.
    bool InitInstance();
    const std::string& StartError() const { return m_szStartError; }
    // The simulator behind --simulate, or null.
    sim::CBusSimulator* Simulator() const {
        return m_pSimulatedBus ? &m_pSimulatedBus->Simulator() : nullptr;
    }

    CAppOptions m_options;
    // Declared in the order they may be destroyed last-first.
    std::unique_ptr<CSimulatedBus> m_pSimulatedBus;
    // The serial transport, or, for a port named rfc2217://HOST:PORT, the network one (the other is null).
    std::unique_ptr<CRfc2217Usb> m_pNetworkTransport;
    std::unique_ptr<CBrennixUsb> m_pTransport;
    std::unique_ptr<CServoUsb> m_pUsb;
    std::unique_ptr<CServoMain> m_pMainWnd;
    std::unique_ptr<CVelmoraDlg> m_pStartDlg;

private:
    std::string m_szStartError;
};
