// Step responses: the simulated servo's own in made-up time for four tunings, the same steps through the
// link, and what a step run leaves on the servo when it ends well, is refused, stopped, or loses the servo.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>

#include "link/ControlTable.h"
#include "link/StepResponse.h"
#include "sim/ServoModel.h"
#include "tests/support/LineRateProbe.h"
#include "tests/support/SimulatedLink.h"

namespace {

using namespace std::chrono_literals;
namespace reg = sim::reg;

struct CTuning {
    const char* name;
    const char* set;  // as --set takes it; empty for the factory's
    int p = 15;
    int d = 100;
    int deadBand = 1;
    double seconds = 2.0;
};

const CTuning kTunings[] = {
    {"default", ""},
    {"P 60", "P=60", 60},
    {"D 10", "D=10", 15, 10, 1, 2.5},
    {"dead band 20", "CW_DEAD_BAND=20,CCW_DEAD_BAND=20", 15, 100, 20},
};

constexpr int kFrom = 312;
constexpr int kTo = 712;

struct CModelRun {
    int start = 0;
    std::vector<CStepSample> samples;
    CStepMetrics metrics;
};

// The simulated servo on its own, in made-up time, read every millisecond: the reference for every step.
CModelRun ModelStep(const CTuning& tuning) {
    auto now = sim::CServoModel::Clock::time_point{};
    sim::CServoModel servo(1, 0, now);
    servo.Poke(reg::P_COEFF, static_cast<uint8_t>(tuning.p));
    servo.Poke(reg::D_COEFF, static_cast<uint8_t>(tuning.d));
    servo.Poke(reg::CW_DEAD_BAND, static_cast<uint8_t>(tuning.deadBand));
    servo.Poke(reg::CCW_DEAD_BAND, static_cast<uint8_t>(tuning.deadBand));
    servo.Poke(reg::TORQUE_ENABLE, 1);
    const auto goal = [&](int position) {
        servo.Poke(reg::GOAL_POSITION, static_cast<uint8_t>(position >> 8));
        servo.Poke(reg::GOAL_POSITION + 1, static_cast<uint8_t>(position));
    };
    const auto position = [&] {
        return static_cast<int>(sim::GetWord(servo.Table(), reg::PRESENT_POSITION));
    };
    goal(kFrom);
    now += 1500ms;
    servo.Advance(now);
    CModelRun run;
    run.start = position();
    goal(kTo);
    for (int ms = 1; ms <= tuning.seconds * 1000; ++ms) {
        now += 1ms;
        servo.Advance(now);
        run.samples.push_back({static_cast<double>(ms), position()});
    }
    run.metrics = MeasureStep(run.samples, run.start, kTo, tuning.deadBand + 2);
    return run;
}

// How often the shaft swung from one side of the settling band to the other.
int Swings(const std::vector<CStepSample>& samples, int band) {
    int swings = 0, side = 0;
    for (const CStepSample& s : samples) {
        if (std::abs(s.position - kTo) <= band) continue;
        const int now = s.position > kTo ? 1 : -1;
        swings += side != 0 && now != side;
        side = now;
    }
    return swings;
}

TEST(StepResponseModel, FactoryTuningSettlesHighPOvershootsLowDRingsAndAWideDeadBandLeavesAnError) {
    const CModelRun factory = ModelStep(kTunings[0]);
    const CModelRun highP = ModelStep(kTunings[1]);
    const CModelRun lowD = ModelStep(kTunings[2]);
    const CModelRun wideBand = ModelStep(kTunings[3]);
    for (const CModelRun* run : {&factory, &highP, &lowD, &wideBand}) {
        // At GOAL_SPEED 100 (1000 units a second) 320 of the 400 units take 0.32 s, and speeding up a little
        // more.
        ASSERT_TRUE(run->metrics.riseMs);
        EXPECT_GE(*run->metrics.riseMs, 320);
        EXPECT_LE(*run->metrics.riseMs, 400);
    }

    EXPECT_LT(factory.metrics.overshootPercent, 10.0);
    ASSERT_TRUE(factory.metrics.settlingMs);
    EXPECT_LE(*factory.metrics.settlingMs, 1000.0) << "within about a second";
    EXPECT_LE(std::abs(factory.metrics.steadyStateError), 1);

    EXPECT_GE(highP.metrics.overshootPercent, factory.metrics.overshootPercent + 5.0);

    EXPECT_GE(Swings(lowD.samples, 3), 3) << "rings";
    EXPECT_GT(lowD.metrics.overshootPercent, highP.metrics.overshootPercent);
    ASSERT_TRUE(lowD.metrics.settlingMs);
    EXPECT_GT(*lowD.metrics.settlingMs, 1.5 * *factory.metrics.settlingMs);
    EXPECT_LE(Swings(factory.samples, 3), 1);

    EXPECT_GE(std::abs(wideBand.metrics.steadyStateError), 5) << "rests where the band let it";
    EXPECT_LE(std::abs(wideBand.metrics.steadyStateError), 20);
}

class StepResponseE2E : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_LINE_RATE(1000000);
        ASSERT_TRUE(m_link.Open(1000000, 200));
        m_usb.Image()[Reg::HIGH_BYTE_FIRST] = 1;
    }

    CStepOutcome Run(const CStepRequest& request, std::function<bool()> stop = {}) {
        CStepResponse step(m_usb, std::move(stop));
        return step.Run(request);
    }
    static CStepRequest Request(const CTuning& tuning) {
        CStepRequest request;
        request.from = kFrom;
        request.to = kTo;
        request.seconds = tuning.seconds;
        std::string error;
        if (*tuning.set) request.set = ParseCoefficientSettings(tuning.set, &error).value();
        return request;
    }
    static CStepRequest Request(const char* set) { return Request(CTuning{"", set}); }
    std::vector<uint8_t> Table() { return m_sim.Table(1); }
    int Writes() {
        int writes = 0;
        for (const auto& frame : m_sim.Frames()) writes += frame.bytes.at(4) == 0x03;
        return writes;
    }
    // The run asks whether to stop before each reading: from the n-th time on, yes.
    static std::function<bool()> StopAt(int n) {
        auto asked = std::make_shared<int>(0);
        return [asked, n] { return ++*asked >= n; };
    }
    // The n-th time it asks, something happens to the bus; the run goes on.
    static std::function<bool()> OnAsk(int n, std::function<void()> happen) {
        auto asked = std::make_shared<int>(0);
        return [asked, n, happen] {
            if (++*asked == n) happen();
            return false;
        };
    }

    CSimulatedLink m_link{{1, 2}};
    sim::CBusSimulator& m_sim = m_link.Sim();
    CServoUsb& m_usb = m_link.Usb();
};

TEST_F(StepResponseE2E, ReportsWhatTheModelDoesWithinTenPerCentForEachTuning) {
    const auto near = [](double bus, double model, double floor) {
        return std::abs(bus - model) <= std::max(0.1 * std::abs(model), floor);
    };
    for (const CTuning& tuning : kTunings) {
        SCOPED_TRACE(tuning.name);
        const CStepMetrics model = ModelStep(tuning).metrics;
        const CStepOutcome bus = Run(Request(tuning));
        ASSERT_TRUE(bus.Ok()) << bus.problem;
        EXPECT_EQ(bus.band, tuning.deadBand + 2);
        EXPECT_GT(bus.metrics.sampleRateHz, 500) << "as fast as the bus allows";
        ASSERT_TRUE(bus.metrics.riseMs && bus.metrics.settlingMs);
        EXPECT_TRUE(near(*bus.metrics.riseMs, *model.riseMs, 2.0))
            << *bus.metrics.riseMs << " " << *model.riseMs;
        EXPECT_TRUE(near(bus.metrics.overshootPercent, model.overshootPercent, 0.3))
            << bus.metrics.overshootPercent << " " << model.overshootPercent;
        EXPECT_TRUE(near(*bus.metrics.settlingMs, *model.settlingMs, 2.0))
            << *bus.metrics.settlingMs << " " << *model.settlingMs;
        EXPECT_TRUE(near(bus.metrics.steadyStateError, model.steadyStateError, 1.0))
            << bus.metrics.steadyStateError << " " << model.steadyStateError;
        EXPECT_EQ(Table()[reg::P_COEFF], 15) << "the factory's P back";
        EXPECT_EQ(Table()[reg::D_COEFF], 100);
        EXPECT_EQ(Table()[reg::CW_DEAD_BAND], 1);
        EXPECT_EQ(Table()[reg::LOCK], 1);
        EXPECT_EQ(Table()[reg::TORQUE_ENABLE], 0) << "torque off again, as it was";
    }
}

TEST_F(StepResponseE2E, KeepLeavesTheSettingsAndAServoWithTorqueOnKeepsIt) {
    m_sim.SetRegister(1, reg::TORQUE_ENABLE, 1);
    CStepRequest request = Request("P=30,PUNCH=300");
    request.keep = true;
    request.seconds = 0.5;
    request.periodMs = 10;
    const CStepOutcome outcome = Run(request);
    ASSERT_TRUE(outcome.Ok()) << outcome.problem;
    EXPECT_EQ(outcome.coefficients.Get("P"), 30);
    EXPECT_NEAR(outcome.metrics.sampleRateHz, 100, 10) << "every 10 ms";
    EXPECT_EQ(Table()[reg::P_COEFF], 30);
    EXPECT_EQ(Table()[reg::PUNCH] << 8 | Table()[reg::PUNCH + 1], 300);
    EXPECT_EQ(Table()[reg::LOCK], 1);
    EXPECT_EQ(Table()[reg::TORQUE_ENABLE], 1);
}

TEST_F(StepResponseE2E, RefusesWhatTheServoCannotDoWithoutWritingAnything) {
    m_sim.SetRegister(1, reg::LOCK, 0);
    m_sim.SetRegister(1, reg::MAX_POSITION_LIMIT, 0x02);  // 600
    m_sim.SetRegister(1, reg::MAX_POSITION_LIMIT + 1, 0x58);
    m_sim.ClearFrames();
    CStepOutcome outcome = Run(Request("P=60"));
    EXPECT_EQ(outcome.failure, EStepFailure::Refused);
    EXPECT_EQ(outcome.problem, "TO 712 is outside servo 1's position limits 0..600");
    EXPECT_EQ(Writes(), 0);

    m_sim.SetRegister(1, reg::MIN_POSITION_LIMIT + 1, 0xFF);  // 255..88: crossed
    m_sim.SetRegister(1, reg::MAX_POSITION_LIMIT, 0);
    m_sim.SetRegister(1, reg::MAX_POSITION_LIMIT + 1, 0x58);
    EXPECT_NE(Run(Request("")).problem.find("crossed (MIN 255 above MAX 88)"), std::string::npos);
    m_sim.SetRegister(1, reg::MIN_POSITION_LIMIT + 1, 0);
    m_sim.SetRegister(1, reg::MAX_POSITION_LIMIT + 1, 0);
    EXPECT_NE(Run(Request("")).problem.find("wheel mode"), std::string::npos);
    CStepRequest silent = Request("");
    silent.id = 9;
    outcome = Run(silent);
    EXPECT_EQ(outcome.failure, EStepFailure::Refused);
    EXPECT_NE(outcome.problem.find("servo 9 does not answer a read: no answer from ID 9"), std::string::npos);
    EXPECT_EQ(Writes(), 0);
}

TEST_F(StepResponseE2E, PutsTheServoBackWhenStoppedOrWhenItStopsAnswering) {
    // The operator stops it: the readings so far stay, the servo is put back.
    CStepOutcome outcome = Run(Request("P=60"), StopAt(300));
    EXPECT_EQ(outcome.failure, EStepFailure::Interrupted);
    EXPECT_FALSE(outcome.samples.empty());
    EXPECT_EQ(Table()[reg::P_COEFF], 15);
    EXPECT_EQ(Table()[reg::LOCK], 1);
    EXPECT_EQ(Table()[reg::TORQUE_ENABLE], 0);

    // Its reads go unanswered mid-run (its writes still do): the run gives up, the servo is put back.
    sim::CSimFaultRule deaf;
    deaf.servoId = 1;
    deaf.instruction = 0x02;
    deaf.count = sim::kEveryReply;
    outcome = Run(Request("D=10"), OnAsk(200, [&] { m_sim.AddFault(deaf); }));
    EXPECT_EQ(outcome.failure, EStepFailure::NoAnswer);
    EXPECT_NE(outcome.problem.find("no answer from ID 1"), std::string::npos) << outcome.problem;
    m_sim.ClearFaults();
    EXPECT_EQ(Table()[reg::D_COEFF], 100);
    EXPECT_EQ(Table()[reg::TORQUE_ENABLE], 0);
}

TEST_F(StepResponseE2E, AfterALostPortSaysWhatToWriteBack) {
    const CStepOutcome outcome = Run(Request("P=60,D=80"), OnAsk(100, [&] { m_sim.Unplug(); }));
    EXPECT_EQ(outcome.failure, EStepFailure::PortLost);
    ASSERT_TRUE(outcome.restoreFailed);
    EXPECT_EQ(
        outcome.restoreAdvice,
        "servo 1 may still hold P=60,D=80; its values were P=15,D=100. To put them back: brennix write 1 "
        "37 00; brennix write 1 20 14 0F 64 00 00 64 01 01; brennix write 1 37 01");
}

}  // namespace
