// Start-up order matters: the pages exist, and have run their opening, before the start-up dialog shows.
#include "app/VelmoraApp.h"

#include <numeric>
#include <vector>

#include "app/ServoMain.h"
#include "app/VelmoraDlg.h"
#include "link/BrennixUsb.h"
#include "link/NetworkPortName.h"
#include "link/Rfc2217Usb.h"
#include "link/ServoUsb.h"

CVelmoraApp::CVelmoraApp(CAppOptions options) : m_options(std::move(options)) {}

CVelmoraApp::~CVelmoraApp() {
    m_pStartDlg.reset();
    m_pMainWnd.reset();
    m_pUsb.reset();
    m_pTransport.reset();
    m_pNetworkTransport.reset();
    m_pSimulatedBus.reset();
}

bool CVelmoraApp::InitInstance() {
    m_pMainWnd = std::make_unique<CServoMain>();

    CUsb* transport = nullptr;
    if (IsNetworkPortName(m_options.szPortPath)) {
        m_pNetworkTransport = std::make_unique<CRfc2217Usb>(m_options.szPortPath);
        transport = m_pNetworkTransport.get();
    } else {
        m_pTransport = std::make_unique<CBrennixUsb>();
        m_pTransport->m_wVendorId = m_options.wUsbVendorId;
        m_pTransport->m_wProductId = m_options.wUsbProductId;
        if (m_options.nSimulatedServos > 0) {
            std::vector<uint8_t> ids(static_cast<std::size_t>(m_options.nSimulatedServos));
            std::iota(ids.begin(), ids.end(), uint8_t{1});
            m_pSimulatedBus = StartSimulatedBus(std::move(ids), &m_szStartError);
            if (!m_pSimulatedBus) return false;
            m_pTransport->SetPortPath(m_pSimulatedBus->PortPath());
        } else if (!m_options.szPortPath.empty()) {
            m_pTransport->SetPortPath(m_options.szPortPath);
        }
        transport = m_pTransport.get();
    }

    m_pUsb = std::make_unique<CServoUsb>(transport);

    m_pMainWnd->SetUsb(m_pUsb.get());
    if (!m_pMainWnd->Create()) return false;

    m_pStartDlg = std::make_unique<CVelmoraDlg>(*m_pUsb, *m_pMainWnd);
    return m_pStartDlg->Create();
}
