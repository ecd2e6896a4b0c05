// Request dispatch to the simulated servos and the status rules of the bus.
#include "sim/ServoBus.h"

#include <algorithm>
#include <utility>

#include "sim/WireFrame.h"

namespace sim {

namespace {

// Which instructions a servo answers at each RETURN_LEVEL.
bool LevelAnswers(uint8_t level, uint8_t instruction) {
    if (instruction == instr::PING) return true;
    if (instruction == instr::READ) return level >= 1;
    return level >= 2;
}

// One servo carries out a request addressed to it; returns the status it would send, before the
// return-level and broadcast rules are applied.
std::optional<CSimReply> Execute(CServoModel& servo, int serial, EChangeReply changeReply,
                                 uint8_t instruction, std::span<const uint8_t> params) {
    uint8_t id = servo.Id();
    const uint32_t rate = servo.BaudRate();
    uint32_t replyRate = 0;
    const auto delay = servo.ReturnDelay() + CServoBus::TurnAround(serial);
    const bool answers = LevelAnswers(servo.ReturnLevel(), instruction);
    auto status = [&](uint8_t error, std::span<const uint8_t> data = {}) -> std::optional<CSimReply> {
        if (!answers) return std::nullopt;
        return CSimReply{delay, BuildStatusFrame(id, error | servo.Alarms(), data), serial, replyRate};
    };

    switch (instruction) {
        case instr::PING:
            return status(0);
        case instr::READ: {
            if (params.size() != 2) return status(INSTRUCTION_ERROR);
            if (params[1] > MAX_PARAMS) return std::nullopt;
            return status(0, servo.Read(params[0], params[1]));
        }
        case instr::WRITE:
            if (params.empty()) return status(INSTRUCTION_ERROR);
            servo.Write(params[0], params.subspan(1));
            if (changeReply == EChangeReply::New) {
                id = servo.Id();
                if (servo.BaudRate() != rate) replyRate = servo.BaudRate();
            }
            return status(0);
        case instr::REG_WRITE:
            if (params.empty()) return status(INSTRUCTION_ERROR);
            servo.RegisterWrite(params[0], params.subspan(1));
            return status(0);
        case instr::ACTION:
            servo.Action();
            return status(0);
        case instr::RESET:
            servo.FactoryReset();
            return status(0);
        case instr::BOOT_LOADER:
            // The hand-off to the boot loader: a servo never answers it.
            return std::nullopt;
        default:
            return status(INSTRUCTION_ERROR);
    }
}

}  // namespace

std::chrono::microseconds CServoBus::TurnAround(int serial) {
    return std::chrono::microseconds(serial % 5);
}

void CServoBus::AddServo(const CSimServoSpec& spec, Clock::time_point now) {
    std::optional<Clock::time_point> from, until;
    if (spec.plugAfter) from = now + *spec.plugAfter;
    if (spec.unplugAfter) until = now + *spec.unplugAfter;
    CServo& added = m_servos.emplace_back(
        CServo{CServoModel(spec.id, spec.baudCode, now), m_nNextSerial++, spec.changeReply, from, until});
    CServoModel& servo = added.model;
    servo.Poke(reg::RETURN_DELAY, spec.returnDelay);
    servo.Poke(reg::RETURN_LEVEL, spec.returnLevel);
    if (spec.hand) servo.SetHand(*spec.hand);
    if (spec.externalLoad) servo.SetExternalLoad(*spec.externalLoad);
    if (spec.temperature) servo.Poke(reg::PRESENT_TEMPERATURE, *spec.temperature);
    if (spec.voltage) servo.Poke(reg::PRESENT_VOLTAGE, *spec.voltage);
    if (spec.load) {
        const uint16_t load = EncodeSignMagnitude(*spec.load, SPEED_SIGN_BIT);
        servo.Poke(reg::PRESENT_LOAD, static_cast<uint8_t>(load >> 8));
        servo.Poke(reg::PRESENT_LOAD + 1, static_cast<uint8_t>(load));
    }
}

void CServoBus::RemoveServo(uint8_t id) {
    std::erase_if(m_servos, [id](const CServo& s) { return s.model.Id() == id; });
    m_boot.Drop(id);
}

const CServoModel* CServoBus::Find(uint8_t id) const {
    auto it =
        std::find_if(m_servos.begin(), m_servos.end(), [id](const CServo& s) { return s.model.Id() == id; });
    return it == m_servos.end() ? nullptr : &it->model;
}

CServoModel* CServoBus::Find(uint8_t id) {
    return const_cast<CServoModel*>(std::as_const(*this).Find(id));
}

std::vector<CSimReply> CServoBus::Dispatch(std::span<const uint8_t> frame, uint32_t lineRate,
                                           Clock::time_point now) {
    for (CServo& servo : m_servos) servo.model.Advance(now);
    m_boot.Expire(now);

    const uint8_t target = FrameId(frame);
    const uint8_t instruction = FrameInstruction(frame);
    const auto params = FrameParams(frame);
    const bool broadcast = target == BROADCAST_ID;
    // A servo in its boot loader hears no frames, nor one that is not powered.
    auto hears = [this, lineRate, now](const CServo& each) {
        const CServoModel& s = each.model;
        return each.PoweredAt(now) && (m_bAnyRate || s.BaudRate() == lineRate) && !m_boot.Holds(s.Id());
    };

    if (instruction == instr::SYNC_WRITE) {
        if (params.size() < 2) return {};
        const std::size_t count = params[1];
        const std::size_t blockSize = count + 1;
        const auto blocks = params.subspan(2);
        if (blocks.size() % blockSize != 0) return {};  // not one clean block per ID
        // Each servo looks for its own ID once, so a block that changes an ID cannot pull in a later block.
        for (CServo& each : m_servos) {
            CServoModel& servo = each.model;
            if (!hears(each)) continue;
            const uint8_t id = servo.Id();
            for (std::size_t at = 0; at < blocks.size(); at += blockSize) {
                if (blocks[at] != id) continue;
                servo.Write(params[0], blocks.subspan(at + 1, count));
                break;
            }
        }
        return {};
    }

    std::vector<CSimReply> replies;
    for (CServo& each : m_servos) {
        CServoModel& servo = each.model;
        if (!hears(each) || (!broadcast && servo.Id() != target)) continue;
        auto status = Execute(servo, each.serial, each.changeReply, instruction, params);
        // A bridge that carries no rate carries the answer at the line's.
        if (status && m_bAnyRate) status->rate = 0;
        if (instruction == instr::BOOT_LOADER) m_boot.Enter(servo.Id(), now);
        const bool mayAnswer = !broadcast || instruction == instr::PING;
        if (mayAnswer && status) replies.push_back(std::move(*status));
    }
    return replies;
}

}  // namespace sim
