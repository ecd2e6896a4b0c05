// A USB-serial adapter with servos on its bus, served on a pseudo-terminal by one thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/PtyPort.h"
#include "sim/ServoBus.h"
#include "sim/ServoSpec.h"
#include "sim/SimFaults.h"

namespace sim {

// How the line behaves apart from its servos.
struct CSimLineOptions {
    // The servos hear and answer at whatever rate the line has, for bridges that cannot carry an exact rate.
    bool anyRate = false;
    // The adapter's latency, added to each direction: about 1 ms for a full-speed USB adapter.
    std::chrono::microseconds latency{0};
};

// One well-formed request frame as it arrived, whether or not any servo heard or answered it.
struct CSimFrame {
    std::chrono::steady_clock::time_point time;  // when the simulator read it
    uint32_t baud;                               // the host's line rate at that moment, bit/s
    std::vector<uint8_t> bytes;                  // the whole frame, header to checksum
};

// The host opens SlavePath() like a serial port (raw 8N1, any rate via termios2), writes requests and reads
// status frames. A servo hears a request only when the host's line rate equals the servo's BAUD_RATE; the
// rate is sampled when input arrives, before it is read, so a frame is judged at the rate it was sent with
// as long as the host does not change the rate before the simulator has woken up. Bus rules: CServoBus.
//
// Thread rules: every member may be called from any thread. The servo tables and the frame record are
// guarded by one mutex; Start, Stop and Unplug are serialised among themselves. The worker thread never
// calls back into the owner.
class CBusSimulator {
public:
    // Servos with these IDs, all at one BAUD_RATE code, with factory defaults otherwise.
    explicit CBusSimulator(std::vector<uint8_t> ids = {1, 2, 3}, uint8_t baudCode = 0);
    // Servos set up one by one (IDs may repeat: a bus with a duplicate ID), on a line with these options.
    CBusSimulator(const std::vector<CSimServoSpec>& servos, const CSimLineOptions& options);
    ~CBusSimulator();
    CBusSimulator(const CBusSimulator&) = delete;
    CBusSimulator& operator=(const CBusSimulator&) = delete;

    // Creates the pty and the serving thread; true when serving (also when already serving). Starting
    // again after Stop, Unplug or a HangUp fault serves a new pty with a new path; the servos keep their
    // state.
    bool Start();
    // Stops the thread and closes the pty; returns within a few milliseconds even mid-exchange. A host that
    // still has the slave open sees a hang-up. Safe to call repeatedly.
    void Stop();
    // The adapter is pulled out: the host's open port hangs up (POLLHUP, reads return 0, writes fail with
    // EIO) and the path disappears. Nothing is served until Start.
    void Unplug();

    // From the next Start on, serves this existing serial device (raw at `baud`) instead of a new pty: a
    // second adapter cross-wired to the host's, or a USB gadget's tty. The servos hear the device's rate.
    void ServeDevice(const std::string& path, uint32_t baud);
    // Why the last Start failed.
    std::string StartError() const;

    // The pty slave's path, such as /dev/pts/7 (or the served device); empty before the first Start. Changes
    // only in Start.
    const std::string& SlavePath() const;

    // Every well-formed request received since the last ClearFrames, oldest first.
    std::vector<CSimFrame> Frames() const;
    void ClearFrames();
    // Waits until at least n frames are recorded; false on timeout. A recorded frame has already been
    // carried out by the servos (its status may still be on its way).
    bool WaitForFrames(std::size_t n, std::chrono::milliseconds timeout) const;
    // Waits until every byte the servos have put on the return line has been handed to the host's port;
    // false on timeout. A test that provokes a damaged answer waits here before its next exchange, so the
    // damaged answer's tail cannot land after that exchange has cleared the host's input.
    bool WaitForQuietLine(std::chrono::milliseconds timeout) const;

    // A copy of the control table of the first servo with that ID; empty if there is none. The motion model
    // advances only when a request arrives, so this shows the state as of the last request.
    std::vector<uint8_t> Table(uint8_t id) const;
    // Sets one register byte of the first servo with that ID, ignoring LOCK and read-only registers.
    void SetRegister(uint8_t id, uint8_t address, uint8_t value);
    // Adds a servo with factory defaults (another one with the same ID may already be there).
    void AddServo(uint8_t id, uint8_t baudCode = 0);
    void AddServo(const CSimServoSpec& spec);
    // Removes every servo with that ID.
    void RemoveServo(uint8_t id);

    // Boot loader: faults for the servo with that ID (they last until replaced), what its boot loader has
    // done, the image its last completed transfer stored (whole blocks; empty if none), and how long a quiet
    // line keeps a servo in its boot loader.
    void SetBootFaults(uint8_t id, const CSimBootFaults& faults);
    CSimBootStatus BootStatus(uint8_t id) const;
    std::vector<uint8_t> Firmware(uint8_t id) const;
    void SetBootIdleTimeout(std::chrono::milliseconds timeout);

    // Line faults (SimFaults.h): a rule takes effect from the next answer on. Without rules every answer
    // goes out as the servos made it. A HangUp hit works like Unplug, from the serving thread.
    void AddFault(const CSimFaultRule& rule);
    void ClearFaults();
    // Answers hit by a rule since the last ClearFaults.
    int FaultHits() const;
    // True once a HangUp rule has pulled the adapter; cleared by Start.
    bool HungUp() const { return m_bHungUp.load(); }
    // Turns the serving thread has made since it was made: each hears what is due, passes answers on and
    // waits once. A line at rest costs a turn a second; a test reads it instead of the time passing.
    uint64_t ServeTurns() const { return m_nServeTurns.load(); }

private:
    friend class CServeLoop;  // the serving thread's loop, in BusSimulator.cpp

    void Serve(int masterFd, int wakeFd, std::chrono::nanoseconds latency);
    // Lets the servos carry out one request and records it; returns the statuses sent in answer.
    std::vector<CSimReply> Carry(std::vector<uint8_t> frame, uint32_t lineRate,
                                 std::chrono::steady_clock::time_point now);
    // The answer as the fault rules let it out.
    CSimTransmission Transmit(int target, int instruction, CSimReply reply);
    // Hands the bytes to a boot loader when one listens at this rate, filling its answer; false when the
    // bytes belong to the frame parser.
    bool CarryRaw(std::span<const uint8_t> bytes, uint32_t lineRate,
                  std::chrono::steady_clock::time_point now, CSimReply& answer);

    const std::chrono::microseconds m_latency{0};
    mutable std::mutex m_lifeMutex;  // serialises Start, Stop and Unplug
    CPtyPort m_port;
    int m_nWakeFd = -1;
    std::thread m_thread;
    std::atomic<bool> m_bStopping{false};
    std::atomic<bool> m_bHungUp{false};      // the serving thread ended the line; it still has to be joined
    std::atomic<uint64_t> m_nServeTurns{0};  // written by the serving thread only
    // Nothing the servos sent is still on its way to the host. Cleared by the serving thread before an
    // answer's first byte can reach the host, set (under m_mutex, with m_cvFrames) once its last one has.
    std::atomic<bool> m_bLineQuiet{true};

    mutable std::mutex m_mutex;                  // guards m_bus, m_frames and m_faults
    mutable std::condition_variable m_cvFrames;  // frames recorded, or the line fell quiet
    CServoBus m_bus;
    std::vector<CSimFrame> m_frames;
    CFaultPlan m_faults;
};

}  // namespace sim
