// The servos' boot loader: after the hand-off (instruction 8) a servo takes raw bytes at the boot rate only,
// answers the entry code and the start byte, and stores the image block by block.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <span>
#include <vector>

namespace sim {

// The block frame as the servos' boot loader reads it; the entry code, rate and answer bytes are the link's
// BootLoader.h constants, which must match the servos' boot loader.
inline constexpr std::size_t BOOT_FRAME_SIZE = 70;
inline constexpr std::size_t BOOT_BLOCK_SIZE = 64;
inline constexpr std::size_t BOOT_CAPACITY = 12288;
inline constexpr uint8_t BOOT_MORE_FOLLOW = 6;
inline constexpr uint8_t BOOT_LAST_BLOCK = 4;

// Faults a test can ask of one servo's boot loader; 0 means "no such fault".
struct CSimBootFaults {
    int nakAtBlock = 0;        // answer 0x15 to the k-th block (1-based), and do not store it
    int silentAtBlock = 0;     // take the k-th block and never answer it
    bool ignoreEntry = false;  // never answer the entry code
    int slowAtBlock = 0;       // answer the k-th block only after slowBy
    std::chrono::milliseconds slowBy{0};
};

// A boot loader's answer and how long after the bytes that ask for it it goes out.
struct CSimBootAnswer {
    std::chrono::milliseconds delay{0};
    std::vector<uint8_t> bytes;
};

// What one servo's boot loader has done, for tests.
struct CSimBootStatus {
    bool inBootLoader = false;  // handed over and not yet back in normal operation
    bool started = false;       // the entry code and the start byte were answered in this session
    int blocksAccepted = 0;     // blocks acknowledged with 0x06 in this session
    int blocksRefused = 0;      // blocks answered with 0x15 in this session
    int flashes = 0;            // transfers completed since the simulator started
};

// One servo's boot-loader session. The entry code can begin a session afresh at any point: a host that gave
// up mid-transfer hands over again and starts with the entry code, which no valid block frame begins with
// (a frame's first two bytes add up to 0xFF). Not thread-safe.
class CBootSession {
public:
    using Clock = std::chrono::steady_clock;

    CBootSession(uint8_t id, Clock::time_point now);

    uint8_t Id() const { return m_id; }
    // Raw bytes that arrived at the boot rate; returns the bytes to answer with (possibly none).
    CSimBootAnswer Feed(std::span<const uint8_t> bytes, const CSimBootFaults& faults, Clock::time_point now);
    // The block with the last-block flag was stored: the servo restarts with the new image.
    bool Finished() const { return m_bFinished; }
    Clock::time_point LastTraffic() const { return m_tLastTraffic; }
    // The blocks stored so far, block 1 first.
    std::vector<uint8_t> Image() const;
    bool Started() const { return m_state == EState::Blocks; }
    int BlocksAccepted() const { return m_nAccepted; }
    int BlocksRefused() const { return m_nRefused; }

private:
    enum class EState { WaitEntry, WaitStart, Blocks };

    // Checks and answers the whole block frame at the front of m_pending.
    std::vector<uint8_t> TakeBlock(const CSimBootFaults& faults, CSimBootAnswer& answer);

    uint8_t m_id;
    EState m_state = EState::WaitEntry;
    std::vector<uint8_t> m_pending;
    Clock::time_point m_tLastTraffic;
    int m_nNextBlock = 1;
    int m_nFramesSeen = 0;  // block frames taken in this session, good or bad
    int m_nAccepted = 0;
    int m_nRefused = 0;
    bool m_bFinished = false;
    std::array<uint8_t, BOOT_CAPACITY> m_image{};
};

// The boot loaders of all servos on one bus, the images they have flashed and the faults tests asked for.
// Not thread-safe: CBusSimulator guards it with the bus.
class CBootLoaders {
public:
    using Clock = std::chrono::steady_clock;

    // A servo that hears no byte for this long leaves its boot loader and runs its old firmware again.
    static constexpr std::chrono::milliseconds kDefaultIdleTimeout{3000};

    // The servo with this ID heard the hand-off; one already in its boot loader stays in its session.
    void Enter(uint8_t id, Clock::time_point now);
    // True while the servo runs its boot loader: it hears no frames then.
    bool Holds(uint8_t id) const;
    // True when raw bytes at this line rate belong to a boot loader rather than to the frame parser. While a
    // boot loader runs, every byte at the boot rate is its: servos whose own rate is the boot rate hear no
    // frames meanwhile, as on a bus where the transfer would garble them.
    bool Listens(uint32_t lineRate) const;
    // True while any servo runs its boot loader, whatever the rate.
    bool Listening() const { return !m_sessions.empty(); }
    // Every boot loader hears the bytes; the first to answer is heard back. A finished transfer is stored
    // as that servo's firmware and the servo goes back to normal operation.
    CSimBootAnswer Feed(std::span<const uint8_t> bytes, Clock::time_point now);
    // Servos whose boot loader has been idle too long return to normal operation.
    void Expire(Clock::time_point now);
    // The servo is gone from the bus.
    void Drop(uint8_t id);

    void SetFaults(uint8_t id, const CSimBootFaults& faults) { m_faults[id] = faults; }
    void SetIdleTimeout(Clock::duration timeout) { m_idleTimeout = timeout; }
    CSimBootStatus Status(uint8_t id, Clock::time_point now) const;
    // The image of the last completed transfer to that ID (whole blocks); empty if there was none.
    std::vector<uint8_t> Firmware(uint8_t id) const;

private:
    const CSimBootFaults& FaultsOf(uint8_t id) const;

    std::vector<CBootSession> m_sessions;
    std::map<uint8_t, std::vector<uint8_t>> m_firmware;
    std::map<uint8_t, CSimBootFaults> m_faults;
    // The last session's counts stay readable after it ended.
    std::map<uint8_t, CSimBootStatus> m_lastStatus;
    Clock::duration m_idleTimeout = kDefaultIdleTimeout;
};

}  // namespace sim
