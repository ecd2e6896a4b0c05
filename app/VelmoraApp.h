// The application object: builds the long-lived objects in their fixed order and shows the start-up dialog.
#pragma once

#include <memory>

#include "AppOptions.h"

class CBrennixUsb;
class CServoMain;
class CServoUsb;
class CVelmoraDlg;
namespace sim {
class CBusSimulator;
}

class CVelmoraApp {
public:
    explicit CVelmoraApp(CAppOptions options = {});
    // Takes the objects down in reverse order: dialogs (the main window stops its worker and closes the
    // port), then the command object, the transport and the simulator.
    ~CVelmoraApp();
    CVelmoraApp(const CVelmoraApp&) = delete;
    CVelmoraApp& operator=(const CVelmoraApp&) = delete;

    // Creates the main window (hidden), the transport, the command object and the start-up dialog (shown).
    bool InitInstance();

    CAppOptions m_options;
    // Declared in the order they may be destroyed last-first.
    std::unique_ptr<sim::CBusSimulator> m_pSimulator;
    std::unique_ptr<CBrennixUsb> m_pTransport;
    std::unique_ptr<CServoUsb> m_pUsb;
    std::unique_ptr<CServoMain> m_pMainWnd;
    std::unique_ptr<CVelmoraDlg> m_pStartDlg;
};
