// Each operation is one exchange on the bus, atomic with respect to every other thread using this object.
#include "link/ServoUsb.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "link/ControlTable.h"

CServoUsb::CServoUsb(CUsb* transport) : m_pTransport(transport), m_pImage(new uint8_t[IMAGE_SIZE]()) {}

CServoUsb::~CServoUsb() = default;

int CServoUsb::CExchange::Finish(int result, CExchangeOutcome* out) const {
    if (out) *out = outcome;
    return result;
}

CServoUsb::CExchange CServoUsb::Begin(uint8_t id, uint8_t instruction) {
    CExchange ex;
    if (CBusRecorder* recorder = m_pRecorder.load()) ex.number = recorder->BeginExchange();
    ex.instruction = instruction;
    ex.outcome.askedId = id;
    return ex;
}

void CServoUsb::RecordFrame(const CExchange& ex, EDirection direction, const uint8_t* bytes, int count,
                            bool raw) {
    CBusRecorder* recorder = m_pRecorder.load();
    if (!recorder) return;
    // Fills only the head and the bytes that came: the frame is large, most of it would be zeros.
    CBusFrame frame;
    frame.exchange = ex.number;
    frame.rate = m_pTransport->ConfiguredRate();
    frame.direction = direction;
    frame.instruction = ex.instruction;
    frame.raw = raw;
    frame.count = static_cast<uint16_t>(count > 0 ? count : 0);
    frame.outcome = ex.outcome;
    frame.request[0] = ex.request[0];
    frame.request[1] = ex.request[1];
    if (count > 0) std::memcpy(frame.bytes, bytes, static_cast<std::size_t>(frame.KeptBytes()));
    recorder->Record(frame);
}

void CServoUsb::Refuse(CExchange& ex, EOutcome why) {
    ex.outcome.kind = why;
    RecordFrame(ex, EDirection::Sent, nullptr, 0, false);
}

int CServoUsb::SendRequest(CExchange& ex, uint8_t id, const uint8_t* params, int paramCount) {
    uint8_t frame[kFrameBufferSize] = {};
    const int len = paramCount + 2;
    BuildHeader(id, static_cast<uint8_t>(len), ex.instruction, frame);
    if (paramCount > 0) std::memcpy(frame + 5, params, static_cast<std::size_t>(paramCount));
    AppendChecksum(frame);
    const int written = m_pTransport->Write(frame, len + 4);
    if (written <= 0) {
        Refuse(ex, m_pTransport->IsPortLost() ? EOutcome::PortLost : EOutcome::RefusedClosed);
        return written;
    }
    ex.outcome.kind = EOutcome::NotAwaited;
    RecordFrame(ex, EDirection::Sent, frame, written, false);
    return written;
}

int CServoUsb::ReadStatus(uint8_t* reply, int capacity, uint8_t id, uint8_t expectedLen, uint8_t alsoId,
                          CUsb::Deadline deadline) {
    const int head = std::max(0, m_pTransport->ReadUntil(reply, kStatusHeaderBytes, deadline));
    if (head < kStatusHeaderBytes) return head;
    const int body =
        std::min(StatusBodyLength(reply, id, expectedLen, alsoId), capacity - kStatusHeaderBytes);
    return head + std::max(0, m_pTransport->ReadUntil(reply + head, body, deadline));
}

int CServoUsb::ReceiveStatus(CExchange& ex, uint8_t id, uint8_t expectedLen, uint8_t alsoId) {
    uint8_t reply[kFrameBufferSize] = {};
    const int got = ReadStatus(reply, MAX_FRAME_SIZE, id, expectedLen, alsoId, m_pTransport->ReadDeadline());
    const EStatusVerdict verdict = JudgeStatus(reply, got, id, expectedLen, alsoId);
    ex.outcome = OutcomeOfStatus(verdict, reply, got, id, expectedLen, m_pTransport->IsPortLost());
    RecordFrame(ex, EDirection::Received, reply, got, false);
    if (got <= 0) return 0;
    // A short read is judged like a full one, so the record shows what came; its missing bytes read as
    // zeros. Those zeros can still add up to the right checksum (a frame cut off just before a zero checksum,
    // or before a data byte and a checksum that balance), so the judge fails a frame cut short on its length.
    return TakeStatus(reply, got, verdict);
}

int CServoUsb::Ping(uint8_t id, uint8_t* answeringId, CExchangeOutcome* outcome) {
    CBusLock bus = LockBus();
    CExchange ex = Begin(id, Instruction::PING);
    if (SendRequest(ex, id, nullptr, 0) <= 0) return ex.Finish(0, outcome);
    if (!ReceiveStatus(ex, id, 2)) return ex.Finish(0, outcome);
    if (answeringId) *answeringId = m_id;
    return ex.Finish(1, outcome);
}

int CServoUsb::ReadData(uint8_t id, uint8_t address, uint8_t count, uint8_t* out, CExchangeOutcome* outcome) {
    CBusLock bus = LockBus();
    CExchange ex = Begin(id, Instruction::READ_DATA);
    ex.request[0] = address;
    ex.request[1] = count;
    if (count > MAX_READ_COUNT) {
        Refuse(ex, EOutcome::RefusedLimits);
        return ex.Finish(-1, outcome);
    }
    const uint8_t params[2] = {address, count};
    if (SendRequest(ex, id, params, 2) <= 0) return ex.Finish(-1, outcome);
    if (!ReceiveStatus(ex, id, static_cast<uint8_t>(count + 2))) return ex.Finish(-1, outcome);
    if (count > 0) std::memcpy(out, m_params, count);
    return ex.Finish(m_length, outcome);
}

int CServoUsb::WriteInstruction(uint8_t instruction, uint8_t id, uint8_t address, uint8_t count,
                                const uint8_t* data, uint8_t returnLevel, CExchangeOutcome* outcome) {
    CBusLock bus = LockBus();
    CExchange ex = Begin(id, instruction);
    ex.request[0] = address;
    ex.request[1] = count;
    if (count > MAX_WRITE_COUNT) {
        Refuse(ex, EOutcome::RefusedLimits);
        return ex.Finish(0, outcome);
    }
    uint8_t params[MAX_WRITE_COUNT + 1];
    params[0] = address;
    if (count > 0) std::memcpy(params + 1, data, count);
    // A write whose status is not awaited counts as done even when the port took nothing: the result the
    // callers rely on stays; the outcome tells.
    const int written = SendRequest(ex, id, params, count + 1);
    if (id == BROADCAST_ID || returnLevel < 2) return ex.Finish(1, outcome);
    if (written <= 0) return ex.Finish(0, outcome);
    // A registered write changes nothing until ACTION, so only a plain write can be answered from a new ID.
    const bool givesId =
        instruction == Instruction::WRITE_DATA && address <= Reg::ID && Reg::ID < address + count;
    const uint8_t newId = givesId ? data[Reg::ID - address] : BROADCAST_ID;
    return ex.Finish(ReceiveStatus(ex, id, 2, newId == id ? BROADCAST_ID : newId), outcome);
}

int CServoUsb::WriteData(uint8_t id, uint8_t address, uint8_t count, const uint8_t* data, uint8_t returnLevel,
                         CExchangeOutcome* outcome) {
    return WriteInstruction(Instruction::WRITE_DATA, id, address, count, data, returnLevel, outcome);
}

int CServoUsb::RegWrite(uint8_t id, uint8_t address, uint8_t count, const uint8_t* data, uint8_t returnLevel,
                        CExchangeOutcome* outcome) {
    return WriteInstruction(Instruction::REG_WRITE, id, address, count, data, returnLevel, outcome);
}

int CServoUsb::Action(CExchangeOutcome* outcome) {
    CBusLock bus = LockBus();
    CExchange ex = Begin(BROADCAST_ID, Instruction::ACTION);
    return ex.Finish(SendRequest(ex, BROADCAST_ID, nullptr, 0), outcome);
}

int CServoUsb::Reset(uint8_t id, CExchangeOutcome* outcome) {
    CBusLock bus = LockBus();
    CExchange ex = Begin(id, Instruction::RESET);
    const int written = SendRequest(ex, id, nullptr, 0);
    if (id == BROADCAST_ID) return ex.Finish(1, outcome);
    if (written <= 0) return ex.Finish(0, outcome);
    return ex.Finish(ReceiveStatus(ex, id, 2), outcome);
}

int CServoUsb::SyncWrite(uint8_t firstId, uint8_t lastId, uint8_t address, uint8_t count, const uint8_t* data,
                         CExchangeOutcome* outcome) {
    // The same data bytes go into every block.
    return SyncWriteBlocks(
        address, count, lastId - firstId + 1,
        [&](int k, uint8_t* block) {
            block[0] = static_cast<uint8_t>(firstId + k);
            if (count > 0) std::memcpy(block + 1, data, count);
        },
        outcome);
}

int CServoUsb::SyncWriteEach(uint8_t address, uint8_t count, const uint8_t* ids, int idCount,
                             const uint8_t* data, CExchangeOutcome* outcome) {
    return SyncWriteBlocks(
        address, count, idCount,
        [&](int k, uint8_t* block) {
            block[0] = ids[k];
            if (count > 0) std::memcpy(block + 1, data + static_cast<std::size_t>(k) * count, count);
        },
        outcome);
}

int CServoUsb::SyncWriteBlocks(uint8_t address, uint8_t count, int idCount,
                               const std::function<void(int k, uint8_t* block)>& fillBlock,
                               CExchangeOutcome* outcome) {
    CBusLock bus = LockBus();
    CExchange ex = Begin(BROADCAST_ID, Instruction::SYNC_WRITE);
    ex.request[0] = address;
    ex.request[1] = count;
    const int len = (count + 1) * idCount + 4;
    if (idCount <= 0 || len > 255) {
        Refuse(ex, EOutcome::RefusedLimits);
        return ex.Finish(0, outcome);
    }
    uint8_t params[kFrameBufferSize];
    params[0] = address;
    params[1] = count;
    int at = 2;
    for (int k = 0; k < idCount; ++k) {
        fillBlock(k, params + at);
        at += count + 1;
    }
    return ex.Finish(SendRequest(ex, BROADCAST_ID, params, at), outcome);
}

int CServoUsb::BeginUpgrade(uint8_t id, CExchangeOutcome* outcome) {
    CBusLock bus = LockBus();
    CExchange ex = Begin(id, Instruction::BEGIN_UPGRADE);
    return ex.Finish(SendRequest(ex, id, nullptr, 0), outcome);
}

int CServoUsb::RawTransfer(int count, const uint8_t* data, CExchangeOutcome* outcome) {
    CBusLock bus = LockBus();
    CExchange ex = Begin(0, 0);
    // The first two bytes go with the answer too, so a boot loader's ACK can name the block it answers.
    if (count > 0) ex.request[0] = data[0];
    if (count > 1) ex.request[1] = data[1];
    const int written = m_pTransport->Write(data, count);
    ex.outcome.kind = EOutcome::NotAwaited;
    RecordFrame(ex, EDirection::Sent, data, written, true);
    uint8_t answer = 0;
    const int got = m_pTransport->Read(&answer, 1);
    ex.outcome.gotBytes = static_cast<uint16_t>(got > 0 ? got : 0);
    ex.outcome.expectedBytes = 1;
    ex.outcome.kind = got > 0                      ? EOutcome::Good
                      : m_pTransport->IsPortLost() ? EOutcome::PortLost
                                                   : EOutcome::NoAnswer;
    RecordFrame(ex, EDirection::Received, &answer, got, true);
    return ex.Finish(got > 0 ? answer : -1, outcome);
}

CBusLock CServoUsb::LockBus() {
    ++m_nWaitingForBus;
    CBusLock bus(m_csBus);
    --m_nWaitingForBus;
    return bus;
}

void CServoUsb::LetWaitingThreadsIn(std::chrono::milliseconds limit) {
    if (m_nWaitingForBus.load() == 0) return;
    // A waiter is woken when the bus is let go; it needs only to be scheduled to take it, so short naps do.
    constexpr std::chrono::microseconds kNap{50};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (m_nWaitingForBus.load() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kNap);
}

int CServoUsb::ExchangeRaw(CExchange& ex, uint8_t id, const uint8_t* params, int paramCount,
                           uint8_t expectedLen, std::chrono::microseconds tail, CRawAnswer* answer,
                           CExchangeOutcome* outcome) {
    *answer = CRawAnswer{};
    if (SendRequest(ex, id, params, paramCount) <= 0) return ex.Finish(0, outcome);
    // A status is one frame, judged whole; anything after it is another.
    const int framed = ReadStatus(answer->bytes, CRawAnswer::kCapacity, id, expectedLen, BROADCAST_ID,
                                  m_pTransport->ReadDeadline());
    int got = framed;
    if (got > 0 && tail > std::chrono::microseconds{0}) {
        m_pTransport->SetReadWindow(tail);
        got += std::max(0, m_pTransport->Read(answer->bytes + got, CRawAnswer::kCapacity - got));
        m_pTransport->SetReadWindow(std::chrono::microseconds{0});
    }
    answer->got = got;
    ex.outcome = ClassifyStatus(answer->bytes, framed, id, expectedLen, m_pTransport->IsPortLost());
    if (got > framed) {
        ex.outcome.kind = EOutcome::Collision;
        ex.outcome.gotBytes = static_cast<uint16_t>(got);
    }
    RecordFrame(ex, EDirection::Received, answer->bytes, got, false);
    return ex.Finish(got, outcome);
}

int CServoUsb::PingRaw(uint8_t id, std::chrono::microseconds tail, CRawAnswer* answer,
                       CExchangeOutcome* outcome) {
    CBusLock bus = LockBus();
    CExchange ex = Begin(id, Instruction::PING);
    return ExchangeRaw(ex, id, nullptr, 0, 2, tail, answer, outcome);
}

int CServoUsb::ReadRaw(uint8_t id, uint8_t address, uint8_t count, std::chrono::microseconds tail,
                       CRawAnswer* answer, CExchangeOutcome* outcome) {
    CBusLock bus = LockBus();
    CExchange ex = Begin(id, Instruction::READ_DATA);
    ex.request[0] = address;
    ex.request[1] = count;
    if (count + 6 > CRawAnswer::kCapacity) {
        *answer = CRawAnswer{};
        Refuse(ex, EOutcome::RefusedLimits);
        return ex.Finish(0, outcome);
    }
    const uint8_t params[2] = {address, count};
    return ExchangeRaw(ex, id, params, 2, static_cast<uint8_t>(count + 2), tail, answer, outcome);
}

int CServoUsb::TakeLate(std::chrono::microseconds window, CRawAnswer* answer) {
    CBusLock bus = LockBus();
    *answer = CRawAnswer{};
    m_pTransport->SetReadWindow(window);
    answer->got = std::max(0, m_pTransport->Read(answer->bytes, CRawAnswer::kCapacity));
    m_pTransport->SetReadWindow(std::chrono::microseconds{0});
    if (answer->got == 0) return 0;
    // No request asked for it: it is shown as the answer of the ID it names, if it names one.
    const bool named = answer->got > 2 && answer->bytes[0] == 0xFF && answer->bytes[1] == 0xFF;
    CExchange ex = Begin(named ? answer->bytes[2] : BROADCAST_ID, Instruction::PING);
    ex.outcome =
        ClassifyStatus(answer->bytes, answer->got, ex.outcome.askedId, 2, m_pTransport->IsPortLost());
    RecordFrame(ex, EDirection::Received, answer->bytes, answer->got, false);
    return answer->got;
}

int CServoUsb::IsHighByteFirst() const {
    return m_pImage[Reg::HIGH_BYTE_FIRST] != 0 ? 1 : 0;
}

int CServoUsb::Connect() {
    CBusLock bus = LockBus();
    return m_pTransport->FindDevice() != 0 ? 1 : 0;
}
