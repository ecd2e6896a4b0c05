// The ROBOT page on a simulated link, as its tests start it: servo 1 addressed, the page created and shown.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "debug/RobotDlg.h"
#include "link/ControlTable.h"
#include "link/ServoUsb.h"
#include "tests/support/SimulatedLink.h"
#include "tests/ui/GuiTest.h"

class CRobotPageTest : public ::testing::Test {
protected:
    explicit CRobotPageTest(std::vector<uint8_t> ids) : m_link(std::move(ids)) {}

    void SetUp() override {
        EnsureApplication();
        ASSERT_TRUE(m_link.Open());
        m_usb.Image()[Reg::HIGH_BYTE_FIRST] = 1;
        MakePage();
    }

    void TearDown() override { m_page.reset(); }

    // A new page in place of the old one, as the main window makes it.
    void MakePage() {
        m_page = std::make_unique<CRobotDlg>(nullptr, m_usb);
        m_page->Create(nullptr);
        m_page->show();
    }

    CSimulatedLink m_link;
    CServoUsb& m_usb = m_link.Usb();
    std::unique_ptr<CRobotDlg> m_page;
};
