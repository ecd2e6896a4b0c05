// Each operation is one exchange on the bus, atomic with respect to every other thread using this object.
#include "ServoUsb.h"

#include <cstring>

#include "ControlTable.h"

CServoUsb::CServoUsb(CUsb* transport)
    : m_pTransport(transport), m_pImage(new uint8_t[IMAGE_SIZE]()), m_nMaxSpeed(100), m_nMaxPosition(1023) {}

CServoUsb::~CServoUsb() {
    delete[] m_pImage;
}

int CServoUsb::SendRequest(uint8_t id, uint8_t instruction, const uint8_t* params, int paramCount) {
    uint8_t frame[FRAME_BUFFER_SIZE] = {};
    const int len = paramCount + 2;
    BuildHeader(id, static_cast<uint8_t>(len), instruction, frame);
    if (paramCount > 0) std::memcpy(frame + 5, params, static_cast<std::size_t>(paramCount));
    AppendChecksum(frame);
    return m_pTransport->Write(frame, len + 4);
}

int CServoUsb::ReceiveStatus(uint8_t id, uint8_t expectedLen) {
    uint8_t reply[FRAME_BUFFER_SIZE] = {};
    const int got = m_pTransport->Read(reply, expectedLen + 4);
    if (got <= 0) return 0;
    // A short read is examined like a full one, so the record shows what came; its missing bytes read as
    // zeros. Those zeros can still add up to the right checksum (a frame cut off just before a zero checksum,
    // or before a data byte and a checksum that balance), so a frame cut short fails on its length too.
    if (!CheckReplyHeader(reply, id, expectedLen)) return 0;
    const int checksumOk = ParseReplyBody(reply);
    return checksumOk && got >= expectedLen + 4 ? 1 : 0;
}

int CServoUsb::Ping(uint8_t id, uint8_t* answeringId) {
    CBusLock bus(m_csBus);
    SendRequest(id, Instruction::PING, nullptr, 0);
    if (!ReceiveStatus(id, 2)) return 0;
    if (answeringId) *answeringId = m_id;
    return 1;
}

int CServoUsb::ReadData(uint8_t id, uint8_t address, uint8_t count, uint8_t* out) {
    if (count > MAX_READ_COUNT) return -1;
    CBusLock bus(m_csBus);
    const uint8_t params[2] = {address, count};
    SendRequest(id, Instruction::READ_DATA, params, 2);
    if (!ReceiveStatus(id, static_cast<uint8_t>(count + 2))) return -1;
    if (count > 0) std::memcpy(out, m_params, count);
    return m_length;
}

int CServoUsb::WriteInstruction(uint8_t instruction, uint8_t id, uint8_t address, uint8_t count,
                                const uint8_t* data, uint8_t returnLevel) {
    if (count > MAX_WRITE_COUNT) return 0;
    uint8_t params[MAX_WRITE_COUNT + 1];
    params[0] = address;
    if (count > 0) std::memcpy(params + 1, data, count);
    CBusLock bus(m_csBus);
    SendRequest(id, instruction, params, count + 1);
    if (id == BROADCAST_ID || returnLevel < 2) return 1;
    return ReceiveStatus(id, 2);
}

int CServoUsb::WriteData(uint8_t id, uint8_t address, uint8_t count, const uint8_t* data,
                         uint8_t returnLevel) {
    return WriteInstruction(Instruction::WRITE_DATA, id, address, count, data, returnLevel);
}

int CServoUsb::RegWrite(uint8_t id, uint8_t address, uint8_t count, const uint8_t* data,
                        uint8_t returnLevel) {
    return WriteInstruction(Instruction::REG_WRITE, id, address, count, data, returnLevel);
}

int CServoUsb::Action() {
    CBusLock bus(m_csBus);
    return SendRequest(BROADCAST_ID, Instruction::ACTION, nullptr, 0);
}

int CServoUsb::Reset(uint8_t id) {
    CBusLock bus(m_csBus);
    SendRequest(id, Instruction::RESET, nullptr, 0);
    if (id == BROADCAST_ID) return 1;
    return ReceiveStatus(id, 2);
}

int CServoUsb::SyncWrite(uint8_t firstId, uint8_t lastId, uint8_t address, uint8_t count,
                         const uint8_t* data) {
    if (firstId > lastId) return 0;
    const int idCount = lastId - firstId + 1;
    const int len = (count + 1) * idCount + 4;
    if (len > 255) return 0;
    uint8_t params[FRAME_BUFFER_SIZE];
    params[0] = address;
    params[1] = count;
    int at = 2;
    for (int id = firstId; id <= lastId; ++id) {
        params[at++] = static_cast<uint8_t>(id);
        // The same data bytes go into every block.
        if (count > 0) std::memcpy(params + at, data, count);
        at += count;
    }
    CBusLock bus(m_csBus);
    return SendRequest(BROADCAST_ID, Instruction::SYNC_WRITE, params, at);
}

int CServoUsb::BeginUpgrade(uint8_t id) {
    CBusLock bus(m_csBus);
    return SendRequest(id, Instruction::BEGIN_UPGRADE, nullptr, 0);
}

int CServoUsb::RawTransfer(int count, const uint8_t* data) {
    CBusLock bus(m_csBus);
    m_pTransport->Write(data, count);
    uint8_t answer = 0;
    if (m_pTransport->Read(&answer, 1) > 0) return answer;
    return -1;
}

int CServoUsb::IsHighByteFirst() const {
    return m_pImage[Reg::HIGH_BYTE_FIRST] != 0 ? 1 : 0;
}

int CServoUsb::Connect() {
    CBusLock bus(m_csBus);
    return m_pTransport->FindDevice() != 0 ? 1 : 0;
}
