// The programming page against the simulator through the real transport: the frames its buttons send,
// what it shows, what it gathers, and its parameter files.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "link/BrennixUsb.h"
#include "link/ControlTable.h"
#include "link/Encodings.h"
#include "link/ServoUsb.h"
#include "program/ParameterFields.h"
#include "program/ServoPG.h"
#include "program/TypingLimit.h"
#include "tests/program/TempDir.h"
#include "tests/support/SimulatedLink.h"
#include "tests/support/TestFrame.h"
#include "tests/ui/GuiTest.h"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

const Bytes kReadServo1{0xFF, 0xFF, 0x01, 0x04, 0x02, 0x05, 0x1A, 0xD9};
const Bytes kUnlockServo1{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x25, 0x00, 0xD2};
const Bytes kLockServo1{0xFF, 0xFF, 0x01, 0x04, 0x03, 0x25, 0x01, 0xD1};

// The default parameter span as it goes on the wire with 16-bit registers high byte first, addresses 5-30.
Bytes DefaultSpanOnWire(uint8_t id) {
    return {id,   0x00, 0x00, 0x02, 0x00, 0x00, 0x03, 0xFF, 0x50, 0xFA, 0x32, 0x03, 0xFF,
            0x00, 0x00, 0x14, 0x0F, 0x64, 0x00, 0x00, 0x64, 0x01, 0x01, 0x00, 0x00, 0x00};
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

// Readable failures for texts and lists of texts.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

class ServoPGTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApplication();
        ASSERT_TRUE(m_link.Open());
        Image()[Reg::HIGH_BYTE_FIRST] = 1;
        m_page = std::make_unique<ServoPG>(nullptr, &m_usb);
        m_page->Create(nullptr);
        m_page->show();
    }

    void TearDown() override { m_page.reset(); }

    const CChooseFileAnswer m_answer{[this](EFileKind kind) {
        m_choices.push_back(kind == EFileKind::ParameterSave);
        return m_szNextFile;
    }};

    uint8_t* Image() { return m_usb.Image(); }
    ServoPG& Page() { return *m_page; }

    // What the main window does when a servo is picked: the page is handed the target, and the ROBOT page
    // mirrors the ID into the image.
    void Pick(uint8_t id) {
        Page().SetTargetId(id);
        Image()[Reg::ID] = id;
    }

    // Clicks and waits until the page's sequence, if any, has ended.
    void Press(QAbstractButton* button) {
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_TRUE(WaitUntil([this] { return !m_page->IsBusy(); }, 5000));
    }

    void Type(QLineEdit* edit, const QString& text) {
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    // The frames sent since the last call; a finished sequence has had all its frames carried out.
    std::vector<Bytes> Sent() {
        std::vector<Bytes> frames;
        for (const sim::CSimFrame& frame : m_sim->Frames()) frames.push_back(frame.bytes);
        m_sim->ClearFrames();
        return frames;
    }

    QStringList Log() const { return PaneLines(Child<QPlainTextEdit>(m_page, "log")->toPlainText()); }
    QString Text(const QLineEdit* edit) const { return edit->text(); }

    // Every edit field with the name it has on the page and its typing limit.
    struct CField {
        const char* name;
        QLineEdit* edit;
        int maxTyped;
    };
    std::vector<CField> Fields() {
        ServoPG& p = Page();
        return {{"ID", Child<QLineEdit>(p, "id"), 3},
                {"Delay", Child<QLineEdit>(p, "delay"), 3},
                {"P", Child<QLineEdit>(p, "p"), 3},
                {"D", Child<QLineEdit>(p, "d"), 3},
                {"I", Child<QLineEdit>(p, "i"), 3},
                {"V", Child<QLineEdit>(p, "v"), 3},
                {"temperature Max", Child<QLineEdit>(p, "maxTemperature"), 3},
                {"Current", Child<QLineEdit>(p, "current"), 4},
                {"Torque", Child<QLineEdit>(p, "torque"), 4},
                {"Punch", Child<QLineEdit>(p, "punch"), 3},
                {"voltage Min", Child<QLineEdit>(p, "minVoltage"), 3},
                {"voltage Max", Child<QLineEdit>(p, "maxVoltage"), 3},
                {"position Min", Child<QLineEdit>(p, "minPosition"), 4},
                {"position Max", Child<QLineEdit>(p, "maxPosition"), 4},
                {"CW", Child<QLineEdit>(p, "cwDeadBand"), 2},
                {"CCW", Child<QLineEdit>(p, "ccwDeadBand"), 2}};
    }
    QStringList FieldTexts() {
        QStringList texts;
        for (const CField& field : Fields()) texts << field.edit->text();
        return texts;
    }

    CSimulatedLink m_link{{1, 3, 7, 9}};
    sim::CBusSimulator* const m_sim = &m_link.Sim();
    CServoUsb& m_usb = m_link.Usb();
    std::unique_ptr<ServoPG> m_page;
    COperatorRecorder m_operator;
    CTempDir m_dir;
    QString m_szNextFile;
    std::vector<bool> m_choices;
};

TEST_F(ServoPGTest, OpensWithTheDefaultsInTheImageAndTheControls) {
    ServoPG& page = Page();
    const uint8_t* image = Image();
    EXPECT_EQ(image[Reg::ID], 1);
    EXPECT_EQ(image[Reg::RETURN_LEVEL], 2);
    EXPECT_EQ(ImageWord(image, Reg::MAX_POSITION_LIMIT), 1023);
    EXPECT_EQ(ImageWord(image, Reg::MAX_TORQUE), 1023);
    EXPECT_EQ(ImageWord(image, Reg::PUNCH), 100);
    EXPECT_EQ(ImageWord(image, Reg::GOAL_SPEED), 100);
    EXPECT_EQ(image[Reg::LOCK], 1);
    EXPECT_EQ(image[Reg::HIGH_BYTE_FIRST], 1) << "not a parameter: the defaults leave it";
    EXPECT_EQ(page.DisplayedId(), 1);

    EXPECT_EQ(FieldTexts(), QStringList({"1", "0", "15", "100", "0", "20", "80", "0", "1023", "100", "50",
                                         "250", "0", "1023", "1", "1"}));
    for (const CField& field : Fields()) {
        const auto* limit = qobject_cast<const CTypingLimit*>(field.edit->validator());
        ASSERT_NE(limit, nullptr) << field.name;
        EXPECT_EQ(limit->MaxTyped(), field.maxTyped) << field.name;
    }
    QStringList bands, levels;
    for (int i = 0; i < Child<QComboBox>(page, "baud")->count(); ++i)
        bands << Child<QComboBox>(page, "baud")->itemText(i);
    for (int i = 0; i < Child<QComboBox>(page, "returnLevel")->count(); ++i)
        levels << Child<QComboBox>(page, "returnLevel")->itemText(i);
    EXPECT_EQ(bands,
              QStringList({"1000000", "500000", "250000", "128000", "115200", "76800", "57600", "38400"}));
    EXPECT_EQ(levels, QStringList({"No retrun", "Read return", "All return"}));
    EXPECT_EQ(Child<QComboBox>(page, "baud")->currentIndex(), 0);
    EXPECT_EQ(Child<QComboBox>(page, "returnLevel")->currentText(), QStringLiteral("All return"));
    for (QCheckBox* box :
         {Child<QCheckBox>(page, "unlock"), Child<QCheckBox>(page, "ledOverVoltage"),
          Child<QCheckBox>(page, "ledOverLoad"), Child<QCheckBox>(page, "ledOverHeat"),
          Child<QCheckBox>(page, "unloadOverVoltage"), Child<QCheckBox>(page, "unloadOverLoad"),
          Child<QCheckBox>(page, "unloadOverHeat")})
        EXPECT_FALSE(box->isChecked()) << box->text().toStdString();
    EXPECT_EQ(Log(), QStringList({"Instructions:"}));
    EXPECT_TRUE(Sent().empty()) << "opening the page talks to no servo";
    SaveGrab(&page, QStringLiteral("program_page_defaults"));
}

TEST_F(ServoPGTest, ReadFillsTheFieldsWithWordsInHostOrder) {
    // The simulated servo holds 16-bit registers high byte first, CURRENT_LIMIT low byte first.
    const std::vector<std::pair<uint8_t, uint8_t>> table{{Reg::RETURN_DELAY, 5},
                                                         {Reg::RETURN_LEVEL, 1},
                                                         {Reg::MIN_POSITION_LIMIT, 0x00},
                                                         {Reg::MIN_POSITION_LIMIT + 1, 10},
                                                         {Reg::MAX_POSITION_LIMIT, 0x03},
                                                         {Reg::MAX_POSITION_LIMIT + 1, 0xE8},
                                                         {Reg::MAX_TEMPERATURE, 70},
                                                         {Reg::MAX_VOLTAGE, 200},
                                                         {Reg::MIN_VOLTAGE, 60},
                                                         {Reg::MAX_TORQUE, 0x02},
                                                         {Reg::MAX_TORQUE + 1, 0x00},
                                                         {Reg::LED_ERROR_FLAGS, 0x24},
                                                         {Reg::UNLOAD_FLAGS, 0x01},
                                                         {Reg::V_COEFF, 21},
                                                         {Reg::P_COEFF, 32},
                                                         {Reg::D_COEFF, 101},
                                                         {Reg::I_COEFF, 3},
                                                         {Reg::PUNCH, 0x01},
                                                         {Reg::PUNCH + 1, 0x2C},
                                                         {Reg::CW_DEAD_BAND, 4},
                                                         {Reg::CCW_DEAD_BAND, 200},
                                                         {Reg::CURRENT_LIMIT, 0xE8},
                                                         {Reg::CURRENT_LIMIT + 1, 0x03},
                                                         {30, 0x5A}};
    for (const auto& [address, value] : table) m_sim->SetRegister(1, address, value);

    Press(Child<QPushButton>(Page(), "read"));
    EXPECT_EQ(Sent(), std::vector<Bytes>{kReadServo1});
    EXPECT_EQ(Log(), QStringList({"Instructions:", "----------ID:1----------", "Read All Servo Data"}));
    EXPECT_EQ(FieldTexts(), QStringList({"1", "5", "32", "101", "3", "21", "70", "1000", "512", "300", "60",
                                         "200", "10", "1000", "4", "200"}));
    EXPECT_EQ(Child<QComboBox>(Page(), "returnLevel")->currentText(), QStringLiteral("Read return"));
    EXPECT_TRUE(Child<QCheckBox>(Page(), "ledOverHeat")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(Page(), "ledOverLoad")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(Page(), "ledOverVoltage")->isChecked());
    EXPECT_TRUE(Child<QCheckBox>(Page(), "unloadOverVoltage")->isChecked());
    EXPECT_FALSE(Child<QCheckBox>(Page(), "unloadOverHeat")->isChecked());
    // The image holds every word low byte first now, and the byte nobody shows.
    EXPECT_EQ(ImageWord(Image(), Reg::MAX_TORQUE), 512);
    EXPECT_EQ(ImageWord(Image(), Reg::PUNCH), 300);
    EXPECT_EQ(ImageWord(Image(), Reg::MAX_POSITION_LIMIT), 1000);
    EXPECT_EQ(ImageWord(Image(), Reg::CURRENT_LIMIT), 1000);
    EXPECT_EQ(Image()[30], 0x5A);
    SaveGrab(&Page(), QStringLiteral("program_page_read"));

    // Without the byte-order flag nothing is swapped: the same bytes read as other numbers.
    Image()[Reg::HIGH_BYTE_FIRST] = 0;
    Press(Child<QPushButton>(Page(), "read"));
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "torque")), QStringLiteral("2"));
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "punch")), QStringLiteral("11265"));
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "current")), QStringLiteral("1000"));
}

TEST_F(ServoPGTest, AReadThatGetsNoAnswerChangesNothing) {
    Pick(5);  // nobody on the bus has it
    Type(Child<QLineEdit>(Page(), "p"), QStringLiteral("44"));
    const QStringList before = FieldTexts();
    uint8_t image[IMAGE_SIZE];
    std::memcpy(image, Image(), IMAGE_SIZE);

    Press(Child<QPushButton>(Page(), "read"));
    EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(5, 0x02, {0x05, 0x1A})});
    EXPECT_EQ(Log(), QStringList({"Instructions:", "----------ID:5----------", "Read Servo Fail!"}));
    EXPECT_EQ(FieldTexts(), before);
    EXPECT_EQ(std::memcmp(image, Image(), IMAGE_SIZE), 0);
    EXPECT_EQ(Page().DisplayedId(), 1);
}

TEST_F(ServoPGTest, WriteWithoutUnlockIsOneRequestWithWordsInWireOrder) {
    Type(Child<QLineEdit>(Page(), "current"), QStringLiteral("1000"));
    QElapsedTimer clicked;
    clicked.start();
    QTest::mouseClick(Child<QPushButton>(Page(), "write"), Qt::LeftButton);
    // The wait for the servo to store happens off the GUI thread: the click returns at once.
    EXPECT_LT(clicked.elapsed(), 300);
    EXPECT_TRUE(Page().IsBusy());
    EXPECT_FALSE(Child<QPushButton>(Page(), "read")->isEnabled());
    EXPECT_FALSE(Child<QPushButton>(Page(), "open")->isEnabled());
    ASSERT_TRUE(WaitUntil([this] { return !Page().IsBusy(); }, 5000));
    EXPECT_GE(clicked.elapsed(), 500) << "the servo gets its time to store";
    EXPECT_TRUE(Child<QPushButton>(Page(), "read")->isEnabled());

    Bytes span = DefaultSpanOnWire(1);
    span[28 - 5] = 0xE8;  // CURRENT_LIMIT 1000, low byte first
    span[29 - 5] = 0x03;
    Bytes params{0x05};
    params.insert(params.end(), span.begin(), span.end());
    EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(1, 0x03, params)});
    EXPECT_EQ(Log(), QStringList({"Instructions:", "----------ID:1----------", "Write All Servo Data"}));
    EXPECT_EQ(ImageWord(Image(), Reg::CURRENT_LIMIT), 1000);
    EXPECT_EQ(ImageWord(Image(), Reg::MAX_TORQUE), 1023) << "the image keeps host order";
    EXPECT_EQ(m_sim->Table(1)[Reg::CURRENT_LIMIT], 0) << "a locked servo keeps its parameters";

    // Without the byte-order flag the words go low byte first.
    Image()[Reg::HIGH_BYTE_FIRST] = 0;
    Press(Child<QPushButton>(Page(), "write"));
    const std::vector<Bytes> frames = Sent();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][5 + 1 + (16 - 5)], 0xFF);
    EXPECT_EQ(frames[0][5 + 1 + (17 - 5)], 0x03);
}

TEST_F(ServoPGTest, WriteWithUnlockChangesTheServosIdAndLocksItUnderTheNewOne) {
    Child<QCheckBox>(Page(), "unlock")->setChecked(true);
    Type(Child<QLineEdit>(Page(), "id"), QStringLiteral("5"));
    Press(Child<QPushButton>(Page(), "write"));

    const std::vector<sim::CSimFrame> frames = m_sim->Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[0].bytes, kUnlockServo1);
    Bytes params{0x05};
    const Bytes span = DefaultSpanOnWire(5);
    params.insert(params.end(), span.begin(), span.end());
    EXPECT_EQ(frames[1].bytes, Frame(1, 0x03, params));
    EXPECT_EQ(frames[2].bytes, Frame(5, 0x03, {0x25, 0x01}));
    EXPECT_GE(frames[1].time - frames[0].time, std::chrono::milliseconds(40));
    EXPECT_GE(frames[2].time - frames[1].time, std::chrono::milliseconds(490));
    m_sim->ClearFrames();
    EXPECT_EQ(Log(), QStringList({"Instructions:", "----------ID:1----------", "Unlock Eprom",
                                  "Write All Servo Data", "lock Eprom"}));
    EXPECT_EQ(Image()[Reg::ID], 5);
    EXPECT_EQ(Image()[Reg::LOCK], 1);
    ASSERT_TRUE(m_sim->Table(1).empty()) << "the servo answers to 5 only";
    ASSERT_FALSE(m_sim->Table(5).empty());
    EXPECT_EQ(m_sim->Table(5)[Reg::LOCK], 1);

    Press(Child<QPushButton>(Page(), "read"));
    EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(5, 0x02, {0x05, 0x1A})});
    EXPECT_EQ(Log().last(), QStringLiteral("Read All Servo Data"));
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "id")), QStringLiteral("5"));
}

TEST_F(ServoPGTest, ResetWithUnlockSendsUnlockAndResetToTheServoAndLockToTheDefaultId) {
    Pick(9);
    Type(Child<QLineEdit>(Page(), "p"), QStringLiteral("99"));
    Child<QComboBox>(Page(), "returnLevel")->setCurrentIndex(0);
    Child<QCheckBox>(Page(), "unlock")->setChecked(true);
    Press(Child<QPushButton>(Page(), "reset"));

    EXPECT_EQ(Sent(), (std::vector<Bytes>{Frame(9, 0x03, {0x25, 0x00}), Frame(9, 0x06, {}), kLockServo1}));
    EXPECT_EQ(Log(), QStringList({"Instructions:", "----------ID:9----------", "Unlock Eprom",
                                  "Reset Default", "lock Eprom"}));
    EXPECT_EQ(Image()[Reg::ID], 1);
    EXPECT_EQ(Page().DisplayedId(), 1);
    EXPECT_EQ(FieldTexts(), QStringList({"1", "0", "15", "100", "0", "20", "80", "0", "1023", "100", "50",
                                         "250", "0", "1023", "1", "1"}));
    EXPECT_EQ(Child<QComboBox>(Page(), "returnLevel")->currentText(), QStringLiteral("All return"));
    EXPECT_TRUE(m_sim->Table(9).empty()) << "the simulated servo took the reset";

    // Without "UnLock" the reset is the only request.
    Child<QCheckBox>(Page(), "unlock")->setChecked(false);
    Press(Child<QPushButton>(Page(), "reset"));
    EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(1, 0x06, {})});
    EXPECT_EQ(Log().mid(5), QStringList({"----------ID:1----------", "Reset Default"}));
}

TEST_F(ServoPGTest, GatheringHoldsEveryFieldWithinItsRangeAndCorrectsTheField) {
    ServoPG& page = Page();
    Type(Child<QLineEdit>(page, "delay"), QStringLiteral("300"));
    Child<QLineEdit>(page, "minVoltage")->clear();
    Type(Child<QLineEdit>(page, "id"), QStringLiteral("254"));
    Type(Child<QLineEdit>(page, "maxVoltage"), QStringLiteral("9"));
    Type(Child<QLineEdit>(page, "torque"), QStringLiteral("5000"));
    Type(Child<QLineEdit>(page, "current"), QStringLiteral("2100"));
    SetFieldText(Child<QLineEdit>(page, "cwDeadBand"), QStringLiteral("300"));  // longer than can be typed
    Image()[Reg::LOCK] = 0;
    Press(Child<QPushButton>(page, "write"));

    EXPECT_EQ(Text(Child<QLineEdit>(page, "delay")), QStringLiteral("255"));
    EXPECT_EQ(Text(Child<QLineEdit>(page, "minVoltage")), QStringLiteral("50"));
    EXPECT_EQ(Text(Child<QLineEdit>(page, "id")), QStringLiteral("253"));
    EXPECT_EQ(Text(Child<QLineEdit>(page, "maxVoltage")), QStringLiteral("50"));
    EXPECT_EQ(Text(Child<QLineEdit>(page, "torque")), QStringLiteral("1023"));
    EXPECT_EQ(Text(Child<QLineEdit>(page, "current")), QStringLiteral("2047"));
    EXPECT_EQ(Text(Child<QLineEdit>(page, "cwDeadBand")), QStringLiteral("255"));
    const std::vector<Bytes> frames = Sent();
    ASSERT_EQ(frames.size(), 1u);
    const auto at = [&](uint8_t address) { return frames[0][6 + address - 5]; };
    EXPECT_EQ(frames[0][2], 1) << "sent to the servo addressed, carrying the gathered ID";
    EXPECT_EQ(at(Reg::ID), 253);
    EXPECT_EQ(at(Reg::RETURN_DELAY), 255);
    EXPECT_EQ(at(Reg::MIN_VOLTAGE), 50);
    EXPECT_EQ(at(Reg::MAX_VOLTAGE), 50);
    EXPECT_EQ(at(Reg::CW_DEAD_BAND), 255);
    EXPECT_EQ(at(Reg::CURRENT_LIMIT), 0xFF);
    EXPECT_EQ(at(Reg::CURRENT_LIMIT + 1), 0x07);
    EXPECT_EQ(Image()[Reg::ID], 253) << "later requests go to the ID written";
    EXPECT_EQ(Image()[Reg::LOCK], 0) << "WRITE leaves LOCK as it found it";

    // An empty ID gathers 0; a field without a leading number counts as 0 too.
    uint8_t copy[IMAGE_SIZE] = {};
    Child<QLineEdit>(page, "id")->clear();
    SetFieldText(Child<QLineEdit>(page, "p"), QStringLiteral("-7"));
    page.GatherControls(copy);
    EXPECT_EQ(copy[Reg::ID], 0);
    EXPECT_EQ(copy[Reg::P_COEFF], 0);
    EXPECT_EQ(Text(Child<QLineEdit>(page, "p")), QStringLiteral("0"));
}

TEST_F(ServoPGTest, WordsShowAsSignedAndCodesOutsideTheListsSurviveAWrite) {
    SetImageWord(Image(), Reg::MAX_TORQUE, 40000);
    Image()[Reg::BAUD_RATE] = 9;
    Image()[Reg::RETURN_LEVEL] = 3;
    Page().FillControls();
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "torque")), QStringLiteral("-25536"));
    EXPECT_EQ(Child<QComboBox>(Page(), "baud")->currentIndex(), -1);
    EXPECT_EQ(Child<QComboBox>(Page(), "returnLevel")->currentIndex(), -1);

    uint8_t copy[IMAGE_SIZE];
    std::memcpy(copy, Image(), IMAGE_SIZE);
    Page().GatherControls(copy);
    EXPECT_EQ(copy[Reg::BAUD_RATE], 9) << "no selection stores the code the image held";
    EXPECT_EQ(copy[Reg::RETURN_LEVEL], 3);
    EXPECT_EQ(ImageWord(copy, Reg::MAX_TORQUE), 0);
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "torque")), QStringLiteral("0"));

    Child<QComboBox>(Page(), "baud")->setCurrentIndex(4);
    Page().GatherControls(copy);
    EXPECT_EQ(copy[Reg::BAUD_RATE], 4);
}

TEST_F(ServoPGTest, EachFlagBoxControlsExactlyItsBit) {
    ServoPG& page = Page();
    const struct {
        QCheckBox* box;
        uint8_t address;
        uint8_t bit;
    } boxes[] = {{Child<QCheckBox>(page, "ledOverVoltage"), Reg::LED_ERROR_FLAGS, 0x01},
                 {Child<QCheckBox>(page, "ledOverHeat"), Reg::LED_ERROR_FLAGS, 0x04},
                 {Child<QCheckBox>(page, "ledOverLoad"), Reg::LED_ERROR_FLAGS, 0x20},
                 {Child<QCheckBox>(page, "unloadOverVoltage"), Reg::UNLOAD_FLAGS, 0x01},
                 {Child<QCheckBox>(page, "unloadOverHeat"), Reg::UNLOAD_FLAGS, 0x04},
                 {Child<QCheckBox>(page, "unloadOverLoad"), Reg::UNLOAD_FLAGS, 0x20}};
    // Old flags with every bit set that no box controls, and the controlled ones set too.
    for (const auto& checked : boxes) {
        uint8_t copy[IMAGE_SIZE] = {};
        copy[Reg::LED_ERROR_FLAGS] = 0xFF;
        copy[Reg::UNLOAD_FLAGS] = 0xDA;
        for (const auto& b : boxes) b.box->setChecked(b.box == checked.box);
        page.GatherFlags(copy);
        for (uint8_t address : {Reg::LED_ERROR_FLAGS, Reg::UNLOAD_FLAGS}) {
            const uint8_t old = address == Reg::LED_ERROR_FLAGS ? 0xFF : 0xDA;
            uint8_t expected = old & ~0x25;
            if (address == checked.address) expected |= checked.bit;
            EXPECT_EQ(copy[address], expected) << checked.box->text().toStdString() << " at " << int(address);
        }
    }
    // And the image's bits show in exactly their boxes.
    for (const auto& shown : boxes) {
        Image()[Reg::LED_ERROR_FLAGS] = 0;
        Image()[Reg::UNLOAD_FLAGS] = 0;
        Image()[shown.address] = shown.bit | 0xDA;
        page.FillControls();
        for (const auto& b : boxes) EXPECT_EQ(b.box->isChecked(), b.box == shown.box);
    }
}

TEST_F(ServoPGTest, TypingIsLimitedButFilledValuesStayWholeAndEditable) {
    QLineEdit* cw = Child<QLineEdit>(Page(), "cwDeadBand");
    Type(cw, QStringLiteral("123"));
    EXPECT_EQ(Text(cw), QStringLiteral("12"));
    Type(cw, QStringLiteral("7a-"));
    EXPECT_EQ(Text(cw), QStringLiteral("7"));
    Type(Child<QLineEdit>(Page(), "id"), QStringLiteral("254"));
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "id")), QStringLiteral("254"));

    SetImageWord(Image(), Reg::MAX_TORQUE, 40000);
    Image()[Reg::CCW_DEAD_BAND] = 200;
    Page().FillControls();
    QLineEdit* torque = Child<QLineEdit>(Page(), "torque");
    EXPECT_EQ(Text(torque), QStringLiteral("-25536"));
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "ccwDeadBand")), QStringLiteral("200"));
    torque->setFocus();
    torque->end(false);
    QTest::keyClick(torque, Qt::Key_5);
    EXPECT_EQ(Text(torque), QStringLiteral("-25536")) << "no typing beyond the limit";
    QTest::keyClick(torque, Qt::Key_Backspace);
    EXPECT_EQ(Text(torque), QStringLiteral("-2553")) << "but deleting works";
    torque->selectAll();
    QTest::keyClicks(torque, QStringLiteral("77"));
    EXPECT_EQ(Text(torque), QStringLiteral("77"));
}

TEST_F(ServoPGTest, APickWhileAReadIsOnItsWayStaysTheTarget) {
    {
        // Holding the bus keeps the page's READ waiting, so the pick lands for certain before its answer.
        const CBusLock bus = m_usb.AcquireBus();
        QTest::mouseClick(Child<QPushButton>(Page(), "read"), Qt::LeftButton);
        EXPECT_TRUE(Page().IsBusy());
        EXPECT_FALSE(Child<QPushButton>(Page(), "write")->isEnabled());
        EXPECT_FALSE(Child<QPushButton>(Page(), "save")->isEnabled());
        // What the main window does on a node pick.
        Pick(3);
        Child<QLineEdit>(Page(), "id")->setText(QStringLiteral("3"));
        SpinEvents(30);
        EXPECT_TRUE(Sent().empty()) << "nothing went out while another thread held the bus";
    }
    ASSERT_TRUE(WaitUntil([this] { return !Page().IsBusy(); }, 5000));
    EXPECT_EQ(Sent(), std::vector<Bytes>{kReadServo1});
    EXPECT_EQ(Log().last(), QStringLiteral("Read All Servo Data"));
    EXPECT_EQ(Image()[Reg::ID], 3);
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "id")), QStringLiteral("3"));
    EXPECT_TRUE(Child<QPushButton>(Page(), "write")->isEnabled());

    Press(Child<QPushButton>(Page(), "read"));
    EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(3, 0x02, {0x05, 0x1A})});
}

TEST_F(ServoPGTest, ClosingThePageMidWriteEndsItsSequenceAtOnce) {
    Child<QCheckBox>(Page(), "unlock")->setChecked(true);
    QTest::mouseClick(Child<QPushButton>(Page(), "write"), Qt::LeftButton);
    ASSERT_TRUE(m_sim->WaitForFrames(2, std::chrono::seconds(2)));
    QElapsedTimer closing;
    closing.start();
    m_page.reset();
    EXPECT_LT(closing.elapsed(), 300) << "the 500 ms wait does not hold the page";
    SpinEvents(50);
    EXPECT_EQ(m_sim->Frames().size(), 2u);
}

TEST_F(ServoPGTest, SaveWritesTheImageAsIsInto31Bytes) {
    m_szNextFile = QString::fromStdString((m_dir.Path() / "defaults.dat").string());
    Type(Child<QLineEdit>(Page(), "p"), QStringLiteral("77"));  // typed, not written: not in the file
    Press(Child<QPushButton>(Page(), "save"));
    EXPECT_EQ(m_choices, std::vector<bool>{true});
    const Bytes saved = ReadFile(m_dir.Path() / "defaults.dat");
    ASSERT_EQ(saved.size(), 31u);
    EXPECT_EQ(saved[2], 1);
    EXPECT_EQ(saved[5], 1);
    EXPECT_EQ(saved[8], 2);
    EXPECT_EQ(saved[11], 0xFF);
    EXPECT_EQ(saved[12], 0x03);
    EXPECT_EQ(saved[13], 0x50);
    EXPECT_EQ(saved[16], 0xFF);
    EXPECT_EQ(saved[17], 0x03);
    EXPECT_EQ(saved[Reg::P_COEFF], 15);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(Log(), QStringList({"Instructions:"}));

    // After a WRITE and after a READ of the same values the file is byte for byte the same.
    Child<QCheckBox>(Page(), "unlock")->setChecked(true);
    Press(Child<QPushButton>(Page(), "write"));
    Press(Child<QPushButton>(Page(), "save"));
    const Bytes afterWrite = ReadFile(m_dir.Path() / "defaults.dat");
    Press(Child<QPushButton>(Page(), "read"));
    Press(Child<QPushButton>(Page(), "save"));
    EXPECT_EQ(ReadFile(m_dir.Path() / "defaults.dat"), afterWrite);
    EXPECT_EQ(afterWrite[Reg::P_COEFF], 77);
    EXPECT_EQ(afterWrite[Reg::MAX_TORQUE], 0xFF);

    // A cancelled dialog does nothing.
    m_szNextFile.clear();
    Press(Child<QPushButton>(Page(), "save"));
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
}

TEST_F(ServoPGTest, OpenShowsTheFilesIdWhileTheServoAddressedStaysTheSame) {
    // Servo 3's parameters into a file.
    Pick(3);
    m_sim->SetRegister(3, Reg::P_COEFF, 42);
    Press(Child<QPushButton>(Page(), "read"));
    m_szNextFile = QString::fromStdString((m_dir.Path() / "servo3.dat").string());
    Press(Child<QPushButton>(Page(), "save"));

    // Servo 7 picked, the file opened: the fields show servo 3's file, the requests still go to 7.
    Pick(7);
    Child<QLineEdit>(Page(), "id")->setText(QStringLiteral("7"));
    Press(Child<QPushButton>(Page(), "open"));
    EXPECT_EQ(m_choices, (std::vector<bool>{true, false}));
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "id")), QStringLiteral("3"));
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "p")), QStringLiteral("42"));
    EXPECT_EQ(Image()[Reg::ID], 7);
    EXPECT_EQ(Page().DisplayedId(), 3);
    Sent();
    Press(Child<QPushButton>(Page(), "read"));
    EXPECT_EQ(Sent(), std::vector<Bytes>{Frame(7, 0x02, {0x05, 0x1A})});
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "id")), QStringLiteral("7"));
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "p")), QStringLiteral("15"));

    // A longer file loads from its first 31 bytes; its bytes 0 to 4 are never read back.
    Bytes longer(40, 0xEE);
    for (uint8_t i = 0; i < 31; ++i) longer[i] = i;
    longer[Reg::P_COEFF] = 88;
    const fs::path longPath = m_dir.Path() / "long.dat";
    WriteFile(longPath, longer);
    m_szNextFile = QString::fromStdString(longPath.string());
    const uint8_t versionByte = Image()[0];
    Press(Child<QPushButton>(Page(), "open"));
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "id")), QStringLiteral("5"));
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "p")), QStringLiteral("88"));
    EXPECT_EQ(Image()[30], 30);
    EXPECT_EQ(Image()[0], versionByte);
    EXPECT_EQ(Image()[Reg::ID], 7);
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
}

TEST_F(ServoPGTest, FilesThatCannotBeUsedAreReportedAndChangeNothing) {
    uint8_t image[IMAGE_SIZE];
    std::memcpy(image, Image(), IMAGE_SIZE);
    const QStringList fields = FieldTexts();
    const auto unchanged = [&] {
        EXPECT_EQ(std::memcmp(image, Image(), IMAGE_SIZE), 0);
        EXPECT_EQ(FieldTexts(), fields);
    };

    const fs::path shortPath = m_dir.Path() / "short.dat";
    WriteFile(shortPath, Bytes(20, 0x11));
    m_szNextFile = QString::fromStdString(shortPath.string());
    Press(Child<QPushButton>(Page(), "open"));
    unchanged();
    m_szNextFile = QString::fromStdString((m_dir.Path() / "missing.dat").string());
    Press(Child<QPushButton>(Page(), "open"));
    unchanged();
    EXPECT_EQ(m_operator.m_messages, QStringList({"Parameter file too short", "Cannot open file"}));
    m_operator.m_messages.clear();

    // A read-only file loads.
    const fs::path readOnly = m_dir.Path() / "readonly.dat";
    Bytes bytes(31, 0);
    bytes[Reg::P_COEFF] = 66;
    WriteFile(readOnly, bytes);
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    m_szNextFile = QString::fromStdString(readOnly.string());
    Press(Child<QPushButton>(Page(), "open"));
    EXPECT_EQ(Text(Child<QLineEdit>(Page(), "p")), QStringLiteral("66"));
    EXPECT_TRUE(m_operator.m_messages.isEmpty());
    // Its voltage limits of 0 are shown as they are; the log names each register out of its range.
    EXPECT_EQ(Log().mid(Log().size() - 2), QStringList({"Out of range: MAX_VOLTAGE 0, not 50 to 250",
                                                        "Out of range: MIN_VOLTAGE 0, not 50 to 250"}));

    // Saving where no file can be written: a message, and the old file stays as it was.
    const fs::path plain = m_dir.Path() / "plain";
    WriteFile(plain, Bytes{1, 2});
    m_szNextFile = QString::fromStdString((plain / "servo.dat").string());
    Press(Child<QPushButton>(Page(), "save"));
    m_szNextFile = QString::fromStdString(readOnly.string());
    Press(Child<QPushButton>(Page(), "save"));
    // Each message names the cause as the system gives it.
    EXPECT_EQ(m_operator.m_messages,
              QStringList({QStringLiteral("Cannot save %1: Not a directory")
                               .arg(QString::fromStdString((plain / "servo.dat").string())),
                           QStringLiteral("Cannot save %1: Permission denied")
                               .arg(QString::fromStdString(readOnly.string()))}));
    EXPECT_EQ(ReadFile(readOnly), bytes);
    EXPECT_EQ(ReadFile(plain), (Bytes{1, 2}));
}

// The page's inputs come from one table: a row that repeats another's register, name or place would make two
// inputs fight over one value, or hide one under the other.
TEST(ParameterFieldsTable, EveryInputHasARegisterANameAndAPlaceOfItsOwn) {
    std::set<int> bytes;
    std::set<std::string> names;
    std::set<std::tuple<int, int>> corners;
    for (const CParameterField& field : kParameterFields) {
        for (int offset = 0; offset < field.bytes; ++offset)
            EXPECT_TRUE(bytes.insert(field.address + offset).second) << field.objectName;
        EXPECT_TRUE(names.insert(field.objectName).second) << field.objectName;
        EXPECT_TRUE(corners.insert({field.place.x, field.place.y}).second) << field.objectName;
        EXPECT_LT(field.group, static_cast<int>(kParameterGroups.size())) << field.objectName;
        const CDluRect& box = kParameterGroups[field.group].place;
        EXPECT_TRUE(field.place.x >= box.x && field.place.x + field.place.width <= box.x + box.width &&
                    field.place.y >= box.y)
            << field.objectName << " stands inside its box";
        if (field.kind == CParameterField::EKind::Number) {
            EXPECT_TRUE(field.lower < field.upper || field.upper == kUpToMaxPosition) << field.objectName;
        }
    }
    EXPECT_EQ(names.size(), 18u);
}
