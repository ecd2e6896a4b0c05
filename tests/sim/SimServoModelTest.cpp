// Register rules and shaft motion of one simulated servo, driven with made-up time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "sim/ServoModel.h"

namespace {

using sim::CServoModel;
using sim::GetWord;
namespace reg = sim::reg;
using namespace std::chrono_literals;
using std::chrono::microseconds;

class SimServoModel : public ::testing::Test {
protected:
    void Write(uint8_t address, std::vector<uint8_t> data) { m_servo.Write(address, data); }
    void WriteWord(uint8_t address, uint16_t value) {
        Write(address, {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
    }
    uint16_t Word(uint8_t address) const { return GetWord(m_servo.Table(), address); }
    void AdvanceBy(std::chrono::milliseconds dt) {
        m_now += dt;
        m_servo.Advance(m_now);
    }

    CServoModel::Clock::time_point m_now{};
    CServoModel m_servo{1, 0, m_now};
};

TEST_F(SimServoModel, DrivesToTheGoalWhileTorqueIsOnAndRestsThereWithinTheDeadBand) {
    WriteWord(reg::GOAL_POSITION, 612);
    AdvanceBy(50ms);
    EXPECT_EQ(Word(reg::PRESENT_POSITION), 512) << "torque is off";

    Write(reg::TORQUE_ENABLE, {1});
    AdvanceBy(50ms);
    EXPECT_GT(Word(reg::PRESENT_POSITION), 512);
    EXPECT_GT(Word(reg::PRESENT_SPEED), 0);
    EXPECT_GT(Word(reg::PRESENT_LOAD), 0) << "the motor pushes up";

    AdvanceBy(1s);
    EXPECT_NEAR(Word(reg::PRESENT_POSITION), 612, 1) << "dead band 1 either side";
    EXPECT_EQ(Word(reg::PRESENT_SPEED), 0);
    EXPECT_EQ(Word(reg::PRESENT_LOAD), 0) << "no drive inside the dead band";
}

TEST_F(SimServoModel, CruisesAtGoalSpeedAndReportsSpeedAndLoadSignMagnitudeWhenMovingDown) {
    Write(reg::TORQUE_ENABLE, {1});
    WriteWord(reg::GOAL_SPEED, 40);
    WriteWord(reg::GOAL_POSITION, 100);
    AdvanceBy(20ms);
    const int early = Word(reg::PRESENT_SPEED) & 0x3FF;
    EXPECT_LT(early, 40) << "the shaft speeds up first";
    AdvanceBy(280ms);
    EXPECT_LT(Word(reg::PRESENT_POSITION), 512 - 40 * 10 / 5);
    EXPECT_EQ(Word(reg::PRESENT_SPEED), 0x0400 | 40) << "at its speed limit, toward lower positions";
    const uint16_t load = Word(reg::PRESENT_LOAD);
    EXPECT_EQ(load & 0x0400, 0x0400) << "the motor pushes down";
    EXPECT_GT(load & 0x03FF, 0);
}
TEST_F(SimServoModel, AccumulatesStepsShorterThanOneUnit) {
    Write(reg::TORQUE_ENABLE, {1});
    WriteWord(reg::GOAL_SPEED, 1);  // 10 units/s
    WriteWord(reg::GOAL_POSITION, 600);
    for (int i = 0; i < 30; ++i) AdvanceBy(4ms);
    EXPECT_EQ(Word(reg::PRESENT_POSITION), 513);
    m_servo.Advance(m_now - 50ms);  // a stale timestamp must not move it back or forth
    EXPECT_EQ(Word(reg::PRESENT_POSITION), 513);
}

TEST_F(SimServoModel, StopsAtThePositionLimits) {
    Write(reg::LOCK, {0});
    WriteWord(reg::MAX_POSITION_LIMIT, 600);
    Write(reg::TORQUE_ENABLE, {1});
    WriteWord(reg::GOAL_POSITION, 1000);
    AdvanceBy(1s);
    EXPECT_LE(Word(reg::PRESENT_POSITION), 600);
    EXPECT_GE(Word(reg::PRESENT_POSITION), 599) << "at the limit, within the dead band";
}

TEST_F(SimServoModel, GoesTheSameWayWhetherTimeComesInOneCallOrInManyUnevenOnes) {
    CServoModel other{1, 0, m_now};
    for (CServoModel* servo : {&m_servo, &other}) {
        servo->Write(reg::TORQUE_ENABLE, std::vector<uint8_t>{1});
        servo->Write(reg::GOAL_POSITION, std::vector<uint8_t>{0x03, 0x84});  // 900
    }
    auto later = m_now;
    for (int i = 0; i < 1000; ++i) {  // 0.3 ms at a time: never on the model's own step
        later += 300us;
        other.Advance(later);
    }
    AdvanceBy(300ms);
    EXPECT_EQ(m_servo.Table(), other.Table()) << "mid-move, speeding up";
    EXPECT_GT(Word(reg::PRESENT_SPEED), 0);
}

TEST_F(SimServoModel, GoalSpeedLimitsTheSpeedOnAnyLongMove) {
    for (const int speed : {5, 20, 50, 100}) {
        CServoModel servo{1, 0, m_now};
        servo.Poke(reg::TORQUE_ENABLE, 1);
        servo.Poke(reg::GOAL_SPEED + 1, static_cast<uint8_t>(speed));
        servo.Poke(reg::GOAL_POSITION, 0x03);  // 1000
        servo.Poke(reg::GOAL_POSITION + 1, 0xE8);
        servo.Advance(m_now + 350ms);
        EXPECT_EQ(GetWord(servo.Table(), reg::PRESENT_SPEED), speed) << "GOAL_SPEED " << speed;
        EXPECT_LE(GetWord(servo.Table(), reg::PRESENT_POSITION), 512 + speed * 10 * 350 / 1000)
            << "it had to speed up first";
    }
}

TEST_F(SimServoModel, ATorqueFreeShaftCoastsToRestUnderFriction) {
    Write(reg::TORQUE_ENABLE, {1});
    WriteWord(reg::GOAL_SPEED, 20);
    WriteWord(reg::GOAL_POSITION, 1000);
    AdvanceBy(300ms);
    ASSERT_EQ(Word(reg::PRESENT_SPEED), 20);
    const int released = Word(reg::PRESENT_POSITION);
    Write(reg::TORQUE_ENABLE, {0});
    AdvanceBy(50ms);
    EXPECT_GT(Word(reg::PRESENT_POSITION), released) << "still turning";
    EXPECT_GT(Word(reg::PRESENT_SPEED), 0);
    EXPECT_LT(Word(reg::PRESENT_SPEED), 20);
    EXPECT_EQ(Word(reg::PRESENT_LOAD), 0) << "no current without torque";
    EXPECT_EQ(m_servo.Table()[reg::PRESENT_VOLTAGE], CServoModel::kRestVoltage);
    AdvanceBy(1s);
    EXPECT_EQ(Word(reg::PRESENT_SPEED), 0);
    const int rest = Word(reg::PRESENT_POSITION);
    EXPECT_LT(rest, released + 100) << "friction stopped it well short of the goal";
    AdvanceBy(1s);
    EXPECT_EQ(Word(reg::PRESENT_POSITION), rest);
}

TEST_F(SimServoModel, ALoadAtTheTorqueLimitStallsTheShaftRaisesOverLoadAndHeatsTheMotor) {
    for (const uint16_t limit : {1023, 300}) {
        CServoModel servo{1, 0, m_now};
        auto now = m_now;
        const auto advance = [&](auto dt) {
            now += dt;
            servo.Advance(now);
        };
        const auto word = [&](uint8_t address) { return GetWord(servo.Table(), address); };
        servo.Poke(reg::MAX_TORQUE, static_cast<uint8_t>(limit >> 8));
        servo.Poke(reg::MAX_TORQUE + 1, static_cast<uint8_t>(limit));
        servo.SetExternalLoad(limit);
        servo.Poke(reg::TORQUE_ENABLE, 1);
        advance(2s);  // the weight pulls the shaft down until the drive is at its limit
        const int held = word(reg::PRESENT_POSITION);
        EXPECT_LT(held, 512) << limit;
        const int before = servo.Table()[reg::PRESENT_TEMPERATURE];
        servo.Poke(reg::GOAL_POSITION, 0x03);  // 800: up, against the weight
        servo.Poke(reg::GOAL_POSITION + 1, 0x20);
        advance(30s);
        EXPECT_LE(word(reg::PRESENT_POSITION), held) << limit << ": stalled";
        EXPECT_EQ(word(reg::PRESENT_LOAD), limit);
        EXPECT_EQ(servo.Alarms(), sim::ALARM_OVER_LOAD) << limit;
        // The heat goes with the square of the current, and the current with the torque limit.
        EXPECT_GE(servo.Table()[reg::PRESENT_TEMPERATURE], before + (limit == 1023 ? 20 : 2))
            << limit << ": heating at stall";
        EXPECT_LT(servo.Table()[reg::PRESENT_VOLTAGE], CServoModel::kRestVoltage) << limit;

        servo.SetExternalLoad(0);  // the weight comes off
        advance(2s);
        EXPECT_NEAR(word(reg::PRESENT_POSITION), 800, 1) << limit;
        EXPECT_EQ(servo.Alarms(), 0) << limit;
        const int hot = servo.Table()[reg::PRESENT_TEMPERATURE];
        advance(60s);
        EXPECT_LE(servo.Table()[reg::PRESENT_TEMPERATURE], hot - 3) << limit << ": cooling at rest";
    }
}

TEST_F(SimServoModel, AnOrdinaryMoveDrawsFullTorqueForAMomentWithoutAnOverLoad) {
    Write(reg::TORQUE_ENABLE, {1});
    WriteWord(reg::GOAL_POSITION, 912);
    int highest = 0;
    for (int ms = 0; ms < 1000; ++ms) {
        AdvanceBy(1ms);
        highest = std::max(highest, Word(reg::PRESENT_LOAD) & 0x3FF);
        ASSERT_EQ(m_servo.Alarms(), 0) << ms << " ms";
    }
    EXPECT_GE(highest, 1000) << "starting from standstill at full drive";
}

TEST_F(SimServoModel, WithoutTorqueAWeightPullsTheShaftDownToItsEndStop) {
    m_servo.SetExternalLoad(200);
    AdvanceBy(3s);
    EXPECT_EQ(Word(reg::PRESENT_POSITION), 0);
    EXPECT_EQ(Word(reg::PRESENT_SPEED), 0);
    m_servo.SetExternalLoad(-50);  // below what it takes to start the gears turning
    AdvanceBy(1s);
    EXPECT_EQ(Word(reg::PRESENT_POSITION), 0);
}

TEST_F(SimServoModel, IntegralTakesOutTheDroopUnderLoadThatPAloneLeaves) {
    for (const uint8_t i : {0, 30}) {
        CServoModel servo{1, 0, m_now};
        servo.SetExternalLoad(500);
        servo.Poke(reg::I_COEFF, i);
        servo.Poke(reg::TORQUE_ENABLE, 1);
        servo.Advance(m_now + 5s);
        const int droop = 512 - GetWord(servo.Table(), reg::PRESENT_POSITION);
        if (i == 0)
            EXPECT_GE(droop, 10) << "P alone needs an error to push 500";
        else
            EXPECT_LE(droop, 1) << "I " << int(i);
    }
}

TEST_F(SimServoModel, PunchMovesAShaftThatASmallPWouldLeaveShortOfItsGoal) {
    for (const uint8_t punch : {0, 100}) {
        CServoModel servo{1, 0, m_now};
        servo.Poke(reg::P_COEFF, 1);
        servo.Poke(reg::D_COEFF, 0);
        servo.Poke(reg::PUNCH + 1, punch);
        servo.Poke(reg::TORQUE_ENABLE, 1);
        servo.Poke(reg::GOAL_POSITION + 1, 20);  // 532: P alone gives too little to start the gears
        servo.Advance(m_now + 2s);
        const int error = 532 - GetWord(servo.Table(), reg::PRESENT_POSITION);
        if (punch == 0)
            EXPECT_EQ(error, 20) << "P alone";
        else
            EXPECT_LE(error, 1) << "punch " << int(punch);
    }
}

TEST_F(SimServoModel, VersionsAndMeasurementsAreReadOnly) {
    Write(reg::LOCK, {0});
    Write(reg::FIRMWARE_VERSION, {0x11, 0x22, 0x33, 0x44, 0x55});
    Write(reg::PRESENT_POSITION, {0x00, 0x10});
    const auto table = m_servo.Table();
    EXPECT_EQ(table[0], 0x03);
    EXPECT_EQ(table[4], 0x01);
    EXPECT_EQ(GetWord(table, reg::PRESENT_POSITION), 512);
}

TEST_F(SimServoModel, RegisteredWriteObeysTheLockAsItIsAtTheAction) {
    const std::vector<uint8_t> id = {9};
    m_servo.RegisterWrite(reg::ID, id);
    m_servo.Action();
    EXPECT_EQ(m_servo.Id(), 1) << "still locked when the action came";
}

TEST_F(SimServoModel, FactoryResetRestoresDefaultsButNotTheShaft) {
    Write(reg::LOCK, {0});
    Write(reg::ID, {7, 3, 50});
    Write(reg::TORQUE_ENABLE, {1});
    WriteWord(reg::GOAL_POSITION, 700);
    AdvanceBy(100ms);
    const uint16_t position = Word(reg::PRESENT_POSITION);
    ASSERT_GT(position, 512);
    const std::vector<uint8_t> pending = {1};
    m_servo.RegisterWrite(reg::TORQUE_ENABLE, pending);

    m_servo.FactoryReset();
    auto expected = sim::FactoryTable(1, 0);
    sim::PutWord(expected, reg::PRESENT_POSITION, position);
    sim::PutWord(expected, reg::GOAL_POSITION, position);
    EXPECT_EQ(m_servo.Table(), expected);
    m_servo.Action();
    EXPECT_EQ(m_servo.Table()[reg::TORQUE_ENABLE], 0) << "the registered write died with the reset";
}

TEST_F(SimServoModel, TurnsContinuouslyAsAWheelAtASignedSpeed) {
    Write(reg::LOCK, {0});
    WriteWord(reg::MAX_POSITION_LIMIT, 0);  // both limits 0: wheel mode
    Write(reg::TORQUE_ENABLE, {1});
    WriteWord(reg::GOAL_SPEED, 0x0400 | 30);  // -30: 300 units/s toward lower positions
    AdvanceBy(1s);
    // 300 units less the few the motor lost while speeding up.
    EXPECT_GE(Word(reg::PRESENT_POSITION), 212) << "the goal position plays no part";
    EXPECT_LE(Word(reg::PRESENT_POSITION), 222);
    EXPECT_EQ(Word(reg::PRESENT_SPEED), 0x0400 | 30);
    EXPECT_EQ(Word(reg::PRESENT_LOAD) & 0x0400, 0x0400);
    const int before = Word(reg::PRESENT_POSITION);
    AdvanceBy(1s);
    EXPECT_EQ(Word(reg::PRESENT_POSITION), before + 1024 - 300) << "wraps below 0 to the top of the turn";

    WriteWord(reg::GOAL_SPEED, 50);
    AdvanceBy(400ms);
    EXPECT_LT(Word(reg::PRESENT_POSITION), 200) << "and above 1023 to 0";
    EXPECT_EQ(Word(reg::PRESENT_SPEED), 50);

    WriteWord(reg::GOAL_SPEED, 0);
    AdvanceBy(100ms);
    const int stopped = Word(reg::PRESENT_POSITION);
    EXPECT_EQ(Word(reg::PRESENT_SPEED), 0);
    AdvanceBy(100ms);
    EXPECT_EQ(Word(reg::PRESENT_POSITION), stopped) << "speed 0 holds the shaft";

    WriteWord(reg::GOAL_SPEED, 1023);
    Write(reg::TORQUE_ENABLE, {0});
    AdvanceBy(100ms);
    EXPECT_EQ(Word(reg::PRESENT_POSITION), stopped) << "no torque, no turning";
    EXPECT_EQ(Word(reg::PRESENT_LOAD), 0);
}

TEST_F(SimServoModel, VoltageSagsWhileMovingAndTemperatureDriftsSlowlyAroundItsBase) {
    const auto table = [this] { return m_servo.Table(); };
    AdvanceBy(1s);
    EXPECT_EQ(table()[reg::PRESENT_VOLTAGE], 74);
    EXPECT_EQ(table()[reg::PRESENT_TEMPERATURE], 31);
    Write(reg::TORQUE_ENABLE, {1});
    WriteWord(reg::GOAL_POSITION, 1000);
    AdvanceBy(100ms);
    EXPECT_LT(table()[reg::PRESENT_VOLTAGE], 74) << "the current of speeding up";
    AdvanceBy(1s);
    EXPECT_EQ(table()[reg::PRESENT_VOLTAGE], 74) << "at the goal again";

    // One reading every second for a whole period: never more than a degree away, every value seen, and
    // never a jump of more than one degree.
    std::vector<int> seen;
    for (int second = 2; second <= 120; ++second) {
        AdvanceBy(1s);
        seen.push_back(table()[reg::PRESENT_TEMPERATURE]);
    }
    EXPECT_EQ(*std::min_element(seen.begin(), seen.end()), 30);
    EXPECT_EQ(*std::max_element(seen.begin(), seen.end()), 32);
    for (std::size_t i = 1; i < seen.size(); ++i) EXPECT_LE(std::abs(seen[i] - seen[i - 1]), 1);
    EXPECT_EQ(seen.back(), 31);
}

TEST_F(SimServoModel, APokedMeasurementStaysAsSetWhileTheOthersMove) {
    m_servo.Poke(reg::PRESENT_SPEED, 0x04);
    m_servo.Poke(reg::PRESENT_SPEED + 1, 0x64);
    m_servo.Poke(reg::PRESENT_TEMPERATURE, 90);
    Write(reg::TORQUE_ENABLE, {1});
    WriteWord(reg::GOAL_POSITION, 600);
    AdvanceBy(50ms);
    EXPECT_EQ(Word(reg::PRESENT_SPEED), 0x0464);
    EXPECT_EQ(m_servo.Table()[reg::PRESENT_TEMPERATURE], 90);
    EXPECT_GT(Word(reg::PRESENT_POSITION), 512);
    EXPECT_GT(Word(reg::PRESENT_LOAD), 0);
    m_servo.FactoryReset();
    AdvanceBy(50ms);
    EXPECT_EQ(Word(reg::PRESENT_SPEED), 0x0464) << "a reset does not mend a stuck sensor";

    // A non-measurement poke is an ordinary register the servo still rewrites.
    m_servo.Poke(reg::TORQUE_ENABLE, 1);
    Write(reg::TORQUE_ENABLE, {0});
    EXPECT_EQ(m_servo.Table()[reg::TORQUE_ENABLE], 0);
}

TEST_F(SimServoModel, RaisesEachAlarmAtItsLimit) {
    EXPECT_EQ(m_servo.Alarms(), 0) << "factory servo at rest";
    struct CCase {
        uint8_t address;
        uint8_t value;  // the measurement as set
        uint8_t alarm;
    };
    const CCase cases[] = {
        {reg::PRESENT_TEMPERATURE, 80, 0},  // at MAX_TEMPERATURE 80: not above it
        {reg::PRESENT_TEMPERATURE, 81, sim::ALARM_OVER_HEAT},
        {reg::PRESENT_VOLTAGE, 250, 0},  // MAX_VOLTAGE 25.0 V
        {reg::PRESENT_VOLTAGE, 251, sim::ALARM_OVER_VOLTAGE},
        {reg::PRESENT_VOLTAGE, 50, 0},  // MIN_VOLTAGE 5.0 V
        {reg::PRESENT_VOLTAGE, 49, sim::ALARM_OVER_VOLTAGE},
    };
    for (const CCase& c : cases) {
        CServoModel servo{1, 0, m_now};
        servo.Poke(c.address, c.value);
        EXPECT_EQ(servo.Alarms(), c.alarm) << "address " << int(c.address) << " = " << int(c.value);
    }

    // Load against the torque limit, in both directions of travel.
    m_servo.Poke(reg::PRESENT_LOAD, 0x07);  // -1023
    m_servo.Poke(reg::PRESENT_LOAD + 1, 0xFF);
    EXPECT_EQ(m_servo.Alarms(), sim::ALARM_OVER_LOAD);
    m_servo.Poke(reg::LOCK, 0);
    WriteWord(reg::MAX_TORQUE, 0);
    m_servo.Poke(reg::PRESENT_LOAD, 0);
    m_servo.Poke(reg::PRESENT_LOAD + 1, 0);
    EXPECT_EQ(m_servo.Alarms(), 0) << "no load, no over-load, even with a limit of 0";
    m_servo.Poke(reg::PRESENT_LOAD, 0x03);  // +800
    m_servo.Poke(reg::PRESENT_LOAD + 1, 0x20);
    WriteWord(reg::MAX_TORQUE, 801);
    EXPECT_EQ(m_servo.Alarms(), 0);
    WriteWord(reg::MAX_TORQUE, 800);
    EXPECT_EQ(m_servo.Alarms(), sim::ALARM_OVER_LOAD);

    m_servo.Poke(reg::PRESENT_TEMPERATURE, 100);
    m_servo.Poke(reg::PRESENT_VOLTAGE, 20);
    EXPECT_EQ(m_servo.Alarms(), sim::ALARM_OVER_LOAD | sim::ALARM_OVER_HEAT | sim::ALARM_OVER_VOLTAGE);
}

}  // namespace

// An operator moving the joint by hand while torque is off: what record and calibrate sessions rely on.
class SimServoModelByHand : public SimServoModel {
protected:
    SimServoModelByHand() { m_servo.SetHand({200, 800, 1.0}); }
    int Position() const { return Word(reg::PRESENT_POSITION); }
};

TEST_F(SimServoModelByHand, SwingsThroughTheWholeRangeRestingAtEachEndWithoutLoad) {
    // Factory position 512 sits inside the range: the hand carries on from there toward HIGH.
    const int start = Position();
    AdvanceBy(10ms);
    EXPECT_GT(Position(), start);
    EXPECT_LT(Position(), start + 20) << "no jump where the hand takes hold";
    std::vector<int> seen;
    for (int i = 0; i < 300; ++i) {  // three seconds, three full swings
        AdvanceBy(10ms);
        seen.push_back(Position());
        EXPECT_EQ(Word(reg::PRESENT_LOAD), 0) << "the motor drives nothing";
        EXPECT_EQ(m_servo.Table()[reg::PRESENT_VOLTAGE], CServoModel::kRestVoltage);
    }
    EXPECT_EQ(*std::min_element(seen.begin(), seen.end()), 200);
    EXPECT_EQ(*std::max_element(seen.begin(), seen.end()), 800);
    // A rest at each end lasts a tenth of the swing, so a 50 ms poll sees both ends exactly.
    EXPECT_GE(std::count(seen.begin(), seen.end(), 800), 9);
    EXPECT_GE(std::count(seen.begin(), seen.end(), 200), 9);
}

TEST_F(SimServoModelByHand, ReportsTheHandsSpeedSignedByDirection) {
    // 600 units each way in 0.4 s: 1500 units/s, 150 speed units.
    AdvanceBy(100ms);
    EXPECT_EQ(Word(reg::PRESENT_SPEED), 150);
    const auto down = sim::EncodeSignMagnitude(-150, sim::SPEED_SIGN_BIT);
    bool sawDown = false;
    for (int i = 0; i < 100 && !sawDown; ++i) {
        AdvanceBy(10ms);
        sawDown = Word(reg::PRESENT_SPEED) == down;
    }
    EXPECT_TRUE(sawDown);
}

TEST_F(SimServoModelByHand, LetsGoWhenTorqueComesOnAndTakesHoldWhereItIsWhenTorqueGoesOff) {
    AdvanceBy(150ms);
    const int handPosition = Position();
    Write(reg::TORQUE_ENABLE, {1});  // the goal is still 512: the servo brakes the swing, drives back to it
    AdvanceBy(1000ms);
    EXPECT_NEAR(Position(), 512, 1);
    EXPECT_GT(handPosition, 520);

    // Outside the range the hand first brings the shaft in, at its travel pace, without a jump.
    WriteWord(reg::GOAL_POSITION, 50);
    AdvanceBy(1000ms);
    ASSERT_NEAR(Position(), 50, 1);
    Write(reg::TORQUE_ENABLE, {0});
    AdvanceBy(100ms);
    EXPECT_NEAR(Position(), 200, 2) << "150 units in 0.1 s";
    AdvanceBy(20ms);
    EXPECT_GT(Position(), 202);
}

TEST_F(SimServoModel, WithoutAHandATorqueFreeShaftStaysPut) {
    AdvanceBy(1000ms);
    EXPECT_EQ(Word(reg::PRESENT_POSITION), 512);
    EXPECT_EQ(Word(reg::PRESENT_SPEED), 0);
}
