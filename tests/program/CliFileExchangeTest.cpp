// Parameter files move freely between the programming page and the command-line client: the same servo
// saved by either gives the same 31 bytes, and a file from the page loads through the client.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "cli/CliCommands.h"
#include "link/BrennixUsb.h"
#include "link/ControlTable.h"
#include "link/ServoUsb.h"
#include "program/ServoPG.h"
#include "tests/program/TempDir.h"
#include "tests/support/SimulatedLink.h"
#include "tests/ui/GuiTest.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> FileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

QPushButton* Button(QWidget& page, const QString& text) {
    for (QPushButton* button : page.findChildren<QPushButton*>())
        if (button->text() == text) return button;
    return nullptr;
}

}  // namespace

TEST(CliFileExchange, ClientAndPageSaveTheSameBytesAndLoadEachOthersFiles) {
    EnsureApplication();
    CTempDir dir;
    CSimulatedLink link({3, 9});
    ASSERT_TRUE(link.Open());
    sim::CBusSimulator& bus = link.Sim();
    // Servo 3 with settings of its own, words included.
    bus.SetRegister(3, Reg::P_COEFF, 42);
    bus.SetRegister(3, Reg::MAX_TORQUE, 0x02);
    bus.SetRegister(3, Reg::MAX_TORQUE + 1, 0x9A);
    bus.SetRegister(3, Reg::CURRENT_LIMIT, 0xE8);
    bus.SetRegister(3, Reg::CURRENT_LIMIT + 1, 0x03);
    const fs::path pageFile = dir.Path() / "page.dat";
    const fs::path cliFile = dir.Path() / "cli.dat";
    {
        CServoUsb& usb = link.Usb();
        usb.Image()[Reg::HIGH_BYTE_FIRST] = 1;
        const CChooseFileAnswer answer([&](EFileKind) { return QString::fromStdString(pageFile.string()); });
        ServoPG page(nullptr, &usb);
        page.Create(nullptr);
        page.SetTargetId(3);  // picked in the node list
        page.show();
        QTest::mouseClick(Button(page, QStringLiteral("READ")), Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([&] { return !page.IsBusy(); }, 5000));
        QTest::mouseClick(Button(page, QStringLiteral("SAVE")), Qt::LeftButton);
        link.Close();  // the client opens the port for itself
    }
    std::ostringstream out, err;
    ASSERT_EQ(RunCli({"--port", bus.SlavePath(), "save", "3", cliFile.string()}, out, err), 0) << err.str();
    const auto pageBytes = FileBytes(pageFile);
    ASSERT_EQ(pageBytes.size(), 31u);
    EXPECT_EQ(FileBytes(cliFile), pageBytes);
    EXPECT_EQ(pageBytes[Reg::MAX_TORQUE], 0x9A) << "low byte first in the file";
    EXPECT_EQ(pageBytes[Reg::P_COEFF], 42);

    ASSERT_EQ(RunCli({"--port", bus.SlavePath(), "load", "9", pageFile.string()}, out, err), 0) << err.str();
    const auto servo3 = bus.Table(3);
    const auto servo9 = bus.Table(9);
    EXPECT_EQ(servo9.at(Reg::ID), 9);
    EXPECT_TRUE(std::equal(servo3.begin() + Reg::ID + 1, servo3.begin() + 31, servo9.begin() + Reg::ID + 1));
}
