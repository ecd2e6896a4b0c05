// The servo command set: one exchange per operation over a CUsb transport, plus the shared control-table
// image.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "link/BusRecorder.h"
#include "link/ExchangeOutcome.h"
#include "link/Packet.h"
#include "link/Usb.h"

namespace Instruction {
inline constexpr uint8_t PING = 0x01;
inline constexpr uint8_t READ_DATA = 0x02;
inline constexpr uint8_t WRITE_DATA = 0x03;
inline constexpr uint8_t REG_WRITE = 0x04;
inline constexpr uint8_t ACTION = 0x05;
inline constexpr uint8_t RESET = 0x06;
inline constexpr uint8_t BEGIN_UPGRADE = 0x08;
inline constexpr uint8_t SYNC_WRITE = 0x83;
}  // namespace Instruction

// An answer exactly as it came off the line: a status and whatever followed it, for the checks that must tell
// several servos answering at once from one (the bus scan, the shared-ID check).
struct CRawAnswer {
    static constexpr int kCapacity = 96;
    int got = 0;
    uint8_t bytes[kCapacity] = {};
};

// The largest requests whose LEN still fits its byte.
inline constexpr int MAX_WRITE_COUNT = 252;
inline constexpr int MAX_READ_COUNT = 253;

// Holding this keeps every other thread off the bus; exchanges made while holding it nest. It is the one
// bus lock of the program. Who holds it when:
// - every operation of CServoUsb, for its own exchange (request and status), on the caller's thread: the
//   GUI thread's commands, the status poll's read on the timer thread, the sweep's pings;
// - a parameter sequence's worker, from its first step to its last, waits included;
// - a firmware transfer's worker (or the client's flash), from the hand-over to the boot loader until the
//   port's rate is back;
// - the debug page's "Reg Write", for the whole range of IDs.
// No holder ever waits for the GUI thread (workers post to it), so a GUI-thread exchange waits at most for
// the holder's own exchanges and waits; the pages are disabled while a transfer holds it.
using CBusLock = std::unique_lock<std::recursive_mutex>;

// A status is read as its header, then as many bytes as its LEN says (StatusBodyLength), all by one
// deadline; it is taken only when JudgeStatus finds its header, LEN, ID (unless broadcast) and checksum fit
// the request. A status that comes after its timeout is thrown away with the input when the next request is
// written, or refused when it arrives during the next wait with another ID or LEN. One of the very ID and LEN
// expected that arrives before the next request's own status (the same servo late twice in a row) cannot be
// told from it: nothing in a status names the request it answers.
//
// Every operation also takes an optional outcome: how this very exchange ended, filled before it returns.
// It is the caller's own, so another thread's exchange can never overwrite it; the results stay as they
// are. With a recorder set, every frame sent and every answer (or its absence) is recorded too.
class CServoUsb : public CPacket {
public:
    explicit CServoUsb(CUsb* transport);
    ~CServoUsb() override;
    CServoUsb(const CServoUsb&) = delete;
    CServoUsb& operator=(const CServoUsb&) = delete;

    // 1 for a good status of LEN 2 (from any ID when id is broadcast), else 0. The answering ID goes to
    // *answeringId, which is this exchange's own: m_id may already belong to another thread's exchange.
    int Ping(uint8_t id, uint8_t* answeringId = nullptr, CExchangeOutcome* outcome = nullptr);
    // count on a good status (data copied to out), else -1 and out untouched.
    int ReadData(uint8_t id, uint8_t address, uint8_t count, uint8_t* out,
                 CExchangeOutcome* outcome = nullptr);
    // 1 without reading for broadcast or returnLevel < 2, else 1 for a good status; 0 otherwise or when
    // count is over MAX_WRITE_COUNT (nothing is sent then). A write that gives the servo another ID is
    // answered from the old ID or from the new one (servos build the status after the change): both count.
    int WriteData(uint8_t id, uint8_t address, uint8_t count, const uint8_t* data, uint8_t returnLevel,
                  CExchangeOutcome* outcome = nullptr);
    int RegWrite(uint8_t id, uint8_t address, uint8_t count, const uint8_t* data, uint8_t returnLevel,
                 CExchangeOutcome* outcome = nullptr);
    // Bytes written (6, or 0 when the port is closed).
    int Action(CExchangeOutcome* outcome = nullptr);
    // 1 without reading for broadcast; otherwise 1 for a good status, else 0.
    int Reset(uint8_t id, CExchangeOutcome* outcome = nullptr);
    // Bytes written; 0 without sending when firstId > lastId or the frame would not fit its LEN byte.
    int SyncWrite(uint8_t firstId, uint8_t lastId, uint8_t address, uint8_t count, const uint8_t* data,
                  CExchangeOutcome* outcome = nullptr);
    // One sync write in which each servo gets its own bytes: ids[k] the count bytes at data + k x count, in
    // the order given. Bytes written; 0 without sending when idCount is 0 or the frame would not fit its LEN
    // byte.
    int SyncWriteEach(uint8_t address, uint8_t count, const uint8_t* ids, int idCount, const uint8_t* data,
                      CExchangeOutcome* outcome = nullptr);
    int BeginUpgrade(uint8_t id, CExchangeOutcome* outcome = nullptr);
    // Writes the bytes unframed and reads one byte: that byte, or -1 when none came.
    int RawTransfer(int count, const uint8_t* data, CExchangeOutcome* outcome = nullptr);

    // A ping, or a read of count bytes from address, whose answer comes back byte for byte in *answer: the
    // read waits for one status as the transport's read window (or timeout) allows and then, with tail above
    // zero, that long more for whatever else comes (a second servo with the same ID). Recorded like every
    // exchange; an answer longer than one status is recorded as a collision. Returns the bytes that came;
    // the read window is back at the timeout afterwards.
    int PingRaw(uint8_t id, std::chrono::microseconds tail, CRawAnswer* answer,
                CExchangeOutcome* outcome = nullptr);
    int ReadRaw(uint8_t id, uint8_t address, uint8_t count, std::chrono::microseconds tail,
                CRawAnswer* answer, CExchangeOutcome* outcome = nullptr);
    // Whatever arrives within `window` without a request: a status that came after its exchange was over,
    // which the next request would throw away unseen. Recorded as an answer of its own when anything came.
    int TakeLate(std::chrono::microseconds window, CRawAnswer* answer);

    int IsHighByteFirst() const;
    int Connect();

    // Takes the bus for a sequence of exchanges that must not be interleaved with any other thread's.
    CBusLock AcquireBus() { return LockBus(); }
    // For a thread that runs exchanges back to back (the round-robin status poll), between two of them and
    // without holding the bus: returns once no other thread is waiting for the bus, or after `limit`. The
    // bus lock is not fair, so without this a thread that takes it again at once could keep a page's command
    // waiting for many exchanges instead of one.
    void LetWaitingThreadsIn(std::chrono::milliseconds limit);

    // Records every exchange from now on (nullptr stops); the recorder must outlive its use here. Any thread.
    void SetRecorder(CBusRecorder* recorder) { m_pRecorder.store(recorder); }
    CBusRecorder* Recorder() const { return m_pRecorder.load(); }

    // The transport underneath, fixed at construction. Any thread; its own header says which of its calls
    // may come from where.
    CUsb* Transport() const { return m_pTransport; }

    // The control-table image (IMAGE_SIZE bytes, byte n is address n), lent to the pages. Who writes which
    // bytes, so that no byte has writers on two threads at once:
    // - the status poll (timer thread), 41 to 53, with each reading; nothing else writes them while a poll
    //   runs (the programming page clears 49 and 51 only at start-up and on RESET, never with the poll on);
    // - the pages on the GUI thread, 5 to 37: the programming page the parameter span (5 to 30) and 31 to 37
    //   (READ's result is applied on the GUI thread, never by the sequence worker), the debug page ID (5),
    //   TORQUE_ENABLE (31) and the goal;
    // - the start-up dialog HIGH_BYTE_FIRST (2), the upgrade page the version bytes (0-1, 3-4), both on the
    //   GUI thread.
    // The poll reads only its own bytes, HIGH_BYTE_FIRST (set before any poll) and its copy of the ID; the
    // workers read none.
    uint8_t* Image() { return m_pImage.get(); }
    const uint8_t* Image() const { return m_pImage.get(); }

    // The ranges of the debug page's goal and speed sliders. GUI thread only (the start-up dialog sets the
    // position limit before any page reads it).
    int32_t MaxSpeed() const { return m_nMaxSpeed; }
    int32_t MaxPosition() const { return m_nMaxPosition; }
    void SetMaxPosition(int32_t maxPosition) { m_nMaxPosition = maxPosition; }

private:
    // One exchange in progress: its number in the recording and how it ended so far. Lives on the stack.
    struct CExchange {
        uint32_t number = 0;
        uint8_t instruction = 0;
        uint8_t request[2] = {};
        CExchangeOutcome outcome;
        // Hands the outcome to the caller's record, when there is one; returns result.
        int Finish(int result, CExchangeOutcome* out) const;
    };

    CExchange Begin(uint8_t id, uint8_t instruction);
    // Records a request that is not sent, with why.
    void Refuse(CExchange& ex, EOutcome why);
    int SendRequest(CExchange& ex, uint8_t id, const uint8_t* params, int paramCount);
    // A status from alsoId is taken as from id (BROADCAST_ID: none).
    int ReceiveStatus(CExchange& ex, uint8_t id, uint8_t expectedLen, uint8_t alsoId = BROADCAST_ID);
    int WriteInstruction(uint8_t instruction, uint8_t id, uint8_t address, uint8_t count, const uint8_t* data,
                         uint8_t returnLevel, CExchangeOutcome* outcome);
    void RecordFrame(const CExchange& ex, EDirection direction, const uint8_t* bytes, int count, bool raw);
    // One status answering `id` (or alsoId) into `reply` (room for `capacity` bytes): its header, then its
    // body, both by `deadline`. Returns the bytes that came.
    int ReadStatus(uint8_t* reply, int capacity, uint8_t id, uint8_t expectedLen, uint8_t alsoId,
                   CUsb::Deadline deadline);
    int ExchangeRaw(CExchange& ex, uint8_t id, const uint8_t* params, int paramCount, uint8_t expectedLen,
                    std::chrono::microseconds tail, CRawAnswer* answer, CExchangeOutcome* outcome);

    // Counts the threads waiting for the bus while they wait, for LetWaitingThreadsIn.
    CBusLock LockBus();
    int SyncWriteBlocks(uint8_t address, uint8_t count, int idCount,
                        const std::function<void(int k, uint8_t* block)>& fillBlock,
                        CExchangeOutcome* outcome);

    CUsb* const m_pTransport;
    const std::unique_ptr<uint8_t[]> m_pImage;
    int32_t m_nMaxSpeed = 100;
    int32_t m_nMaxPosition = 1023;
    std::recursive_mutex m_csBus;
    std::atomic<int> m_nWaitingForBus{0};
    std::atomic<CBusRecorder*> m_pRecorder{nullptr};
};
