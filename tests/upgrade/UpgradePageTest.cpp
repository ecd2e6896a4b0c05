// The upgrade page on its own over the real serial transport and the simulator: versions, files, transfers.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <random>

#include "link/BrennixUsb.h"
#include "link/ControlTable.h"
#include "link/SerialLine.h"
#include "link/ServoUsb.h"
#include "tests/support/SimulatedLink.h"
#include "tests/ui/GuiTest.h"
#include "ui/TextProgressCtrl.h"
#include "upgrade/ServoTest.h"

namespace {

using namespace std::chrono_literals;

constexpr int kLinkTimeoutMs = 20;
// A transfer of 192 blocks to the simulator, with room for a loaded machine.
constexpr int kTransferWaitMs = 20000;

class UpgradePage : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(m_link.Attach(kLinkTimeoutMs));
        m_servo.Image()[Reg::HIGH_BYTE_FIRST] = 1;
        m_servo.Image()[Reg::ID] = 1;
        m_window = std::make_unique<QWidget>();
        m_page = std::make_unique<ServoTest>(nullptr, &m_servo);
        m_page->Create(m_window.get());
        m_page->SetTargetId(1);
        m_page->show();
        m_window->show();
    }

    void TearDown() override { m_page.reset(); }

    void OpenPort() { ASSERT_TRUE(m_link.OpenPort()); }

    // A file in the test's own directory.
    QString WriteFile(const QString& name, const std::string& bytes) {
        const QString path = m_dir.filePath(name);
        std::ofstream(path.toStdString(), std::ios::binary) << bytes;
        return path;
    }

    // A bin file of pseudo-random bytes, loaded into the page.
    std::string LoadBin(int length) {
        std::mt19937 random(static_cast<unsigned>(length));
        std::string bytes(static_cast<std::size_t>(length), '\0');
        for (char& c : bytes) c = static_cast<char>(random());
        m_page->LoadFile(WriteFile(QStringLiteral("fw.bin"), bytes));
        return bytes;
    }

    void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    bool WaitForWrite(int timeoutMs = kTransferWaitMs) {
        return WaitUntil(
            [this] { return Child<QPushButton>(m_page, "write")->text() == QLatin1String("WRITE"); },
            timeoutMs);
    }

    COperatorRecorder m_operator;
    CSimulatedLink m_link{{1, 2}};
    sim::CBusSimulator& m_sim = m_link.Sim();
    CBrennixUsb& m_port = m_link.Transport();
    CServoUsb& m_servo = m_link.Usb();
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<ServoTest> m_page;
    QTemporaryDir m_dir;
};

}  // namespace

TEST_F(UpgradePage, OpensWithIdOneEmptyVersionsAndNoWrite) {
    EXPECT_EQ(Child<QLineEdit>(m_page, "id")->text(), QStringLiteral("1"));
    EXPECT_TRUE(Child<QLabel>(m_page, "firmware")->text().isEmpty());
    EXPECT_TRUE(Child<QLabel>(m_page, "hardware")->text().isEmpty());
    EXPECT_EQ(Child<QPushButton>(m_page, "write")->text(), QStringLiteral("WRITE"));
    EXPECT_FALSE(Child<QPushButton>(m_page, "write")->isEnabled());
    EXPECT_EQ(Child<CTextProgressCtrl>(m_page, "progress")->text(), QStringLiteral("0%"));
    m_page->ShowServoId(7);
    EXPECT_EQ(Child<QLineEdit>(m_page, "id")->text(), QStringLiteral("7"));
    EXPECT_EQ(m_servo.Image()[Reg::ID], 1) << "the image's ID is left alone";
    SaveGrab(m_page.get(), QStringLiteral("upgrade_page_opened"));
}

TEST_F(UpgradePage, ReadShowsTheVersionsOfTheServoInTheIdField) {
    ASSERT_NO_FATAL_FAILURE(OpenPort());
    m_sim.SetRegister(2, 0, 0x01);
    m_sim.SetRegister(2, 1, 0x0a);
    Click(Child<QPushButton>(m_page, "read"));
    EXPECT_EQ(Child<QLabel>(m_page, "firmware")->text(), QStringLiteral("0308"));
    EXPECT_EQ(Child<QLabel>(m_page, "hardware")->text(), QStringLiteral("0001"));
    SaveGrab(m_page.get(), QStringLiteral("upgrade_page_versions"));
    m_page->ShowServoId(2);  // the image still names servo 1
    Click(Child<QPushButton>(m_page, "read"));
    EXPECT_EQ(Child<QLabel>(m_page, "firmware")->text(), QStringLiteral("010a"));
    EXPECT_EQ(m_servo.Image()[Reg::FIRMWARE_VERSION + 1], 0x0a) << "the bytes stay in the shared image";

    m_page->ShowServoId(9);
    Click(Child<QPushButton>(m_page, "read"));
    EXPECT_EQ(Child<QLabel>(m_page, "firmware")->text(), QStringLiteral("010a"));
    EXPECT_EQ(Child<QLabel>(m_page, "hardware")->text(), QStringLiteral("0001"));
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
}

TEST_F(UpgradePage, LoadErrorsDisableWriteWithTheirMessage) {
    m_page->LoadFile(WriteFile(QStringLiteral("ok.bin"), std::string(130, 'a')));
    EXPECT_TRUE(Child<QPushButton>(m_page, "write")->isEnabled());
    EXPECT_EQ(Child<CTextProgressCtrl>(m_page, "progress")->GetUpper(), 3);
    EXPECT_EQ(Child<CTextProgressCtrl>(m_page, "progress")->GetPos(), 0);

    const struct {
        QString name;
        std::string bytes;
        const char* message;
    } cases[] = {
        {QStringLiteral("bad.hex"), ":0100000001FE\n\n", "hex file fromat error"},
        {QStringLiteral("big.bin"), std::string(12289, 'b'), "bin file fromat error"},
        {QStringLiteral("empty.bin"), "", "The firmware file holds no data"},
        {QStringLiteral("notes.txt"), "text", "Firmware files are .hex or .bin"},
    };
    for (const auto& c : cases) {
        m_page->LoadFile(WriteFile(c.name, c.bytes));
        EXPECT_FALSE(Child<QPushButton>(m_page, "write")->isEnabled()) << c.message;
        ASSERT_FALSE(m_operator.m_messages.isEmpty());
        EXPECT_EQ(m_operator.m_messages.takeLast(), QString::fromUtf8(c.message));
        m_page->LoadFile(WriteFile(QStringLiteral("ok.bin"), std::string(130, 'a')));
    }
    m_page->LoadFile(m_dir.filePath(QStringLiteral("missing.hex")));
    EXPECT_EQ(m_operator.m_messages.takeLast(), QStringLiteral("Can not open file"));
    m_page->LoadFile(m_dir.filePath(QStringLiteral("missing.bin")));
    EXPECT_EQ(m_operator.m_messages.takeLast(), QStringLiteral("Cannot open file"));
    EXPECT_FALSE(Child<QPushButton>(m_page, "write")->isEnabled());
    EXPECT_EQ(Child<CTextProgressCtrl>(m_page, "progress")->GetUpper(), 3)
        << "a failed load keeps the progress range";

    // OPEN asks for the file, and a cancelled dialog changes nothing.
    std::optional<CChooseFileAnswer> answer;
    answer.emplace([](EFileKind) { return QString(); });
    Click(Child<QPushButton>(m_page, "open"));
    EXPECT_FALSE(Child<QPushButton>(m_page, "write")->isEnabled());
    answer.reset();
    answer.emplace([this](EFileKind) { return WriteFile(QStringLiteral("two.BIN"), std::string(65, 'c')); });
    Click(Child<QPushButton>(m_page, "open"));
    EXPECT_TRUE(Child<QPushButton>(m_page, "write")->isEnabled());
    EXPECT_EQ(Child<CTextProgressCtrl>(m_page, "progress")->GetUpper(), 2);
}

TEST_F(UpgradePage, AFullTransferFillsTheBarAndRestoresThePort) {
    ASSERT_NO_FATAL_FAILURE(OpenPort());
    const std::string file = LoadBin(12288);
    QSignalSpy running(m_page.get(), &ServoTest::transferRunning);
    Click(Child<QPushButton>(m_page, "write"));
    EXPECT_EQ(Child<QPushButton>(m_page, "write")->text(), QStringLiteral("CANCEL"));
    EXPECT_FALSE(Child<QPushButton>(m_page, "open")->isEnabled());
    EXPECT_FALSE(Child<QPushButton>(m_page, "read")->isEnabled());
    ASSERT_TRUE(WaitForWrite());
    EXPECT_TRUE(m_operator.m_messages.isEmpty()) << m_operator.m_messages.join(',').toStdString();
    EXPECT_EQ(Child<CTextProgressCtrl>(m_page, "progress")->GetPos(), 192);
    EXPECT_EQ(Child<CTextProgressCtrl>(m_page, "progress")->text(), QStringLiteral("100%"));
    SaveGrab(m_page.get(), QStringLiteral("upgrade_page_flashed"));
    EXPECT_EQ(m_sim.Firmware(1), std::vector<uint8_t>(file.begin(), file.end()));
    ASSERT_EQ(running.size(), 2);
    EXPECT_TRUE(running.at(0).at(0).toBool());
    EXPECT_FALSE(running.at(1).at(0).toBool());
    EXPECT_EQ(SerialLine::GetLineRate(m_port.m_hPort), 1000000u);
    EXPECT_EQ(m_port.TimeoutMs(), kLinkTimeoutMs);
    EXPECT_TRUE(Child<QPushButton>(m_page, "write")->isEnabled()) << "ready again with the same image";
    EXPECT_TRUE(Child<QPushButton>(m_page, "open")->isEnabled());
    Click(Child<QPushButton>(m_page, "read"));
    EXPECT_EQ(Child<QLabel>(m_page, "firmware")->text(), QStringLiteral("0308"));
}

TEST_F(UpgradePage, ARefusedBlockShowsUpgradeErrorWithTheBlocksBeforeIt) {
    ASSERT_NO_FATAL_FAILURE(OpenPort());
    LoadBin(12288);
    m_sim.SetBootFaults(1, {.nakAtBlock = 40});
    Click(Child<QPushButton>(m_page, "write"));
    ASSERT_TRUE(WaitForWrite());
    EXPECT_EQ(m_operator.m_messages, QStringList{QStringLiteral("upgrade error")});
    EXPECT_EQ(Child<CTextProgressCtrl>(m_page, "progress")->GetPos(), 39);
    EXPECT_EQ(Child<CTextProgressCtrl>(m_page, "progress")->text(), QStringLiteral("20%"));
    EXPECT_EQ(SerialLine::GetLineRate(m_port.m_hPort), 1000000u);
}

TEST_F(UpgradePage, CancelDuringBlockTenFinishesThatBlock) {
    ASSERT_NO_FATAL_FAILURE(OpenPort());
    LoadBin(12288);
    m_sim.SetBootFaults(1, {.slowAtBlock = 10, .slowBy = 400ms});
    Click(Child<QPushButton>(m_page, "write"));
    ASSERT_TRUE(WaitUntil([this] { return Child<CTextProgressCtrl>(m_page, "progress")->GetPos() == 9; },
                          kTransferWaitMs));
    Click(Child<QPushButton>(m_page, "write"));
    EXPECT_FALSE(m_page->TransferMayGoOn());
    EXPECT_EQ(Child<QPushButton>(m_page, "write")->text(), QStringLiteral("CANCEL"))
        << "until the worker ends";
    ASSERT_TRUE(WaitForWrite());
    EXPECT_EQ(m_operator.m_messages, QStringList{QStringLiteral("upgrade cancel")});
    EXPECT_EQ(Child<CTextProgressCtrl>(m_page, "progress")->GetPos(), 10);
    EXPECT_EQ(m_sim.BootStatus(1).blocksAccepted, 10);
}

TEST_F(UpgradePage, CancelDuringTheHandshakeSendsNoBlock) {
    ASSERT_NO_FATAL_FAILURE(OpenPort());
    LoadBin(640);
    Click(Child<QPushButton>(m_page, "write"));
    Click(Child<QPushButton>(m_page, "write"));  // within the hand-off pause
    ASSERT_TRUE(WaitForWrite());
    EXPECT_EQ(m_operator.m_messages, QStringList{QStringLiteral("upgrade cancel")});
    EXPECT_EQ(Child<CTextProgressCtrl>(m_page, "progress")->GetPos(), 0);
    EXPECT_TRUE(m_sim.BootStatus(1).started) << "the handshake completed";
    EXPECT_EQ(m_sim.BootStatus(1).blocksAccepted, 0);
}

TEST_F(UpgradePage, WriteWithThePortClosedSendsNothing) {
    LoadBin(640);
    Click(Child<QPushButton>(m_page, "write"));
    ASSERT_TRUE(WaitForWrite());
    EXPECT_EQ(m_operator.m_messages, QStringList{QStringLiteral("upgrade error")});
    EXPECT_FALSE(m_port.IsOpen());
    EXPECT_TRUE(m_sim.Frames().empty());
    EXPECT_TRUE(Child<QPushButton>(m_page, "write")->isEnabled());
}

TEST_F(UpgradePage, TheImageCannotChangeUnderARunningTransfer) {
    ASSERT_NO_FATAL_FAILURE(OpenPort());
    const std::string file = LoadBin(12288);
    m_sim.SetBootFaults(1, {.slowAtBlock = 3, .slowBy = 300ms});
    Click(Child<QPushButton>(m_page, "write"));
    ASSERT_TRUE(WaitUntil([this] { return Child<CTextProgressCtrl>(m_page, "progress")->GetPos() == 2; },
                          kTransferWaitMs));
    m_page->LoadFile(WriteFile(QStringLiteral("other.bin"), std::string(64, 'x')));
    EXPECT_EQ(m_page->Firmware()->blockCount, 192);
    ASSERT_TRUE(WaitForWrite());
    EXPECT_EQ(m_sim.Firmware(1), std::vector<uint8_t>(file.begin(), file.end()));
}
