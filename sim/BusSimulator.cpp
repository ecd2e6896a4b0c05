// The simulator's serving thread: pty input to frames, frames to the servos, statuses back to the pty.
#include "sim/BusSimulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <deque>
#include <optional>
#include <system_error>

#include "sim/FrameParser.h"
#include "sim/LineRate.h"
#include "sim/ReturnLine.h"
#include "sim/WireFrame.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// Upper bound of one idle wait; the wake-up descriptor ends it early.
constexpr auto kIdleWait = std::chrono::seconds(1);
// How long a status may wait for room in the pty when the host does not read; after that it is lost, as
// bytes are on a wire nobody listens to.
constexpr std::chrono::milliseconds kWriteTimeout{100};
constexpr std::size_t kMaxRecordedFrames = 100000;
// The boot loaders answer as one sender on the return line.
constexpr int kBootSender = -1;

void Wake(int wakeFd) {
    const uint64_t one = 1;
    const ssize_t written = write(wakeFd, &one, sizeof one);
    (void)written;  // the counter cannot overflow from a handful of wake-ups
}

timespec Timeout(Clock::duration wait) {
    const auto ns = std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count());
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

// One byte from the host and the moment its stop bit has left the wire.
struct CHeardByte {
    Clock::time_point due;
    uint32_t rate;
    uint8_t byte;
};

}  // namespace

CBusSimulator::CBusSimulator(std::vector<uint8_t> ids, uint8_t baudCode) {
    const auto now = Clock::now();
    for (uint8_t id : ids) m_bus.AddServo(DefaultServo(id, baudCode), now);
}

CBusSimulator::CBusSimulator(const std::vector<CSimServoSpec>& servos, const CSimLineOptions& options)
    : m_latency(options.latency) {
    const auto now = Clock::now();
    for (const CSimServoSpec& spec : servos) m_bus.AddServo(spec, now);
    m_bus.SetAnyRate(options.anyRate);
}

CBusSimulator::~CBusSimulator() {
    Stop();
}

bool CBusSimulator::Start() {
    std::lock_guard life(m_lifeMutex);
    if (m_thread.joinable()) {
        if (!m_bHungUp) return true;
        // A HangUp fault ended the serving thread and closed the port: plug the adapter in again.
        m_thread.join();
        close(m_nWakeFd);
        m_nWakeFd = -1;
    }
    m_bHungUp = false;
    if (!m_port.Open()) return false;
    m_nWakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_nWakeFd < 0) {
        m_port.Close();
        return false;
    }
    m_bStopping = false;
    try {
        m_thread = std::thread(&CBusSimulator::Serve, this, m_port.MasterFd(), m_nWakeFd, m_latency);
    } catch (const std::system_error&) {
        close(m_nWakeFd);
        m_nWakeFd = -1;
        m_port.Close();
        return false;
    }
    return true;
}

void CBusSimulator::Stop() {
    std::lock_guard life(m_lifeMutex);
    if (m_thread.joinable()) {
        m_bStopping = true;
        Wake(m_nWakeFd);
        m_thread.join();
    }
    if (m_nWakeFd >= 0) close(m_nWakeFd);
    m_nWakeFd = -1;
    m_port.Close();
}

void CBusSimulator::Unplug() {
    Stop();
}

void CBusSimulator::ServeDevice(const std::string& path, uint32_t baud) {
    std::lock_guard life(m_lifeMutex);
    m_port.UseDevice(path, baud);
}

std::string CBusSimulator::StartError() const {
    std::lock_guard life(m_lifeMutex);
    return m_port.Error();
}

const std::string& CBusSimulator::SlavePath() const {
    return m_port.SlavePath();
}

std::vector<CSimFrame> CBusSimulator::Frames() const {
    std::lock_guard lock(m_mutex);
    return m_frames;
}

void CBusSimulator::ClearFrames() {
    std::lock_guard lock(m_mutex);
    m_frames.clear();
}

bool CBusSimulator::WaitForFrames(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_cvFrames.wait_for(lock, timeout, [&] { return m_frames.size() >= n; });
}

bool CBusSimulator::WaitForQuietLine(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_cvFrames.wait_for(lock, timeout, [&] { return m_bLineQuiet.load(); });
}

std::vector<uint8_t> CBusSimulator::Table(uint8_t id) const {
    std::lock_guard lock(m_mutex);
    const CServoModel* servo = m_bus.Find(id);
    if (!servo) return {};
    return {servo->Table().begin(), servo->Table().end()};
}

void CBusSimulator::SetRegister(uint8_t id, uint8_t address, uint8_t value) {
    std::lock_guard lock(m_mutex);
    if (CServoModel* servo = m_bus.Find(id); servo && address < TABLE_SIZE) servo->Poke(address, value);
}

void CBusSimulator::AddServo(uint8_t id, uint8_t baudCode) {
    AddServo(DefaultServo(id, baudCode));
}

void CBusSimulator::AddServo(const CSimServoSpec& spec) {
    std::lock_guard lock(m_mutex);
    m_bus.AddServo(spec, Clock::now());
}

void CBusSimulator::RemoveServo(uint8_t id) {
    std::lock_guard lock(m_mutex);
    m_bus.RemoveServo(id);
}

void CBusSimulator::SetBootFaults(uint8_t id, const CSimBootFaults& faults) {
    std::lock_guard lock(m_mutex);
    m_bus.Boot().SetFaults(id, faults);
}

CSimBootStatus CBusSimulator::BootStatus(uint8_t id) const {
    std::lock_guard lock(m_mutex);
    return m_bus.Boot().Status(id, Clock::now());
}

std::vector<uint8_t> CBusSimulator::Firmware(uint8_t id) const {
    std::lock_guard lock(m_mutex);
    return m_bus.Boot().Firmware(id);
}

void CBusSimulator::SetBootIdleTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard lock(m_mutex);
    m_bus.Boot().SetIdleTimeout(timeout);
}

void CBusSimulator::AddFault(const CSimFaultRule& rule) {
    std::lock_guard lock(m_mutex);
    m_faults.Add(rule);
}

void CBusSimulator::ClearFaults() {
    std::lock_guard lock(m_mutex);
    m_faults.Clear();
}

int CBusSimulator::FaultHits() const {
    std::lock_guard lock(m_mutex);
    return m_faults.Hits();
}

CSimTransmission CBusSimulator::Transmit(int target, int instruction, CSimReply reply) {
    std::lock_guard lock(m_mutex);
    return m_faults.Apply(target, instruction, reply.delay, std::move(reply.bytes));
}

bool CBusSimulator::CarryRaw(std::span<const uint8_t> bytes, uint32_t lineRate, Clock::time_point now,
                             CSimReply& answer) {
    std::lock_guard lock(m_mutex);
    CBootLoaders& boot = m_bus.Boot();
    boot.Expire(now);
    if (!(m_bus.AnyRate() ? boot.Listening() : boot.Listens(lineRate))) return false;
    CSimBootAnswer heard = boot.Feed(bytes, now);
    answer = CSimReply{heard.delay, std::move(heard.bytes), kBootSender};
    return true;
}

std::vector<CSimReply> CBusSimulator::Carry(std::vector<uint8_t> frame, uint32_t lineRate,
                                            Clock::time_point now) {
    std::vector<CSimReply> replies;
    {
        std::lock_guard lock(m_mutex);
        replies = m_bus.Dispatch(frame, lineRate, now);
        // A long session (the GUI polls 100 times a second) must not grow without bound: keep the newest.
        if (m_frames.size() >= kMaxRecordedFrames)
            m_frames.erase(m_frames.begin(), m_frames.begin() + kMaxRecordedFrames / 10);
        m_frames.push_back(CSimFrame{now, lineRate, std::move(frame)});
    }
    m_cvFrames.notify_all();
    return replies;
}

// One run of the serving thread: the host's bytes on their way to the servos, the answers on their way back,
// and the host's port between them. Serving thread only.
class CServeLoop {
public:
    CServeLoop(CBusSimulator& simulator, int masterFd, int wakeFd, std::chrono::nanoseconds latency)
        : m_sim(simulator), m_masterFd(masterFd), m_wakeFd(wakeFd), m_latency(latency), m_line(latency) {}

    // Until Stop, the line is hung up, or the port fails.
    void Run();

private:
    bool Answer(int target, int instruction, CSimReply reply, Clock::time_point heardAt, uint32_t rate);
    bool Hear(const CHeardByte& heard);
    bool HearDueBytes(Clock::time_point now);
    void PassAnswersToHost(Clock::time_point now, uint32_t hostRate);
    void Flush(Clock::time_point now);
    bool Wait(Clock::time_point now, uint32_t hostRate);
    bool TakeHostBytes();

    CBusSimulator& m_sim;
    const int m_masterFd;
    const int m_wakeFd;
    const std::chrono::nanoseconds m_latency;
    CFrameParser m_parser;
    CReturnLine m_line;
    std::deque<CHeardByte> m_onTheWire;    // from the host, not yet heard by the servos
    Clock::time_point m_hostSendsUntil{};  // the host's last byte leaves the wire then
    std::vector<uint8_t> m_outbox;         // received by the host's adapter, not yet taken by the pty
    Clock::time_point m_outboxSince{};
    std::array<uint8_t, 4096> m_buffer{};
    bool m_bLineDead = false;  // the master reported an error: only a wake-up can still matter
};

// Puts an answer on the return line as the fault rules let it out; false when the line is to be hung up.
// Answers start once the request has left the wire, so never before `heardAt`.
bool CServeLoop::Answer(int target, int instruction, CSimReply reply, Clock::time_point heardAt,
                        uint32_t rate) {
    const int sender = reply.sender;
    const uint32_t sentAt = reply.rate != 0 ? reply.rate : rate;
    const CSimTransmission out = m_sim.Transmit(target, instruction, std::move(reply));
    if (!out.pieces.empty()) m_sim.m_bLineQuiet = false;
    for (const auto& piece : out.pieces) m_line.Send(sender, heardAt + piece.delay, sentAt, piece.bytes);
    return !out.hangUp;
}

// The servos hear one byte once its stop bit has left the wire.
bool CServeLoop::Hear(const CHeardByte& heard) {
    const std::span<const uint8_t> byte(&heard.byte, 1);
    // While a servo runs its boot loader, bytes at the boot rate are raw, not frames.
    CSimReply raw;
    if (m_sim.CarryRaw(byte, heard.rate, heard.due, raw))
        return raw.bytes.empty() || Answer(kAnyServo, kBootAnswer, std::move(raw), heard.due, heard.rate);
    for (auto& frame : m_parser.Feed(byte, heard.due)) {
        const int target = FrameId(frame);
        const int instruction = FrameInstruction(frame);
        for (CSimReply& reply : m_sim.Carry(std::move(frame), heard.rate, heard.due))
            if (!Answer(target, instruction, std::move(reply), heard.due, heard.rate)) return false;
    }
    return true;
}

// False once an answer hung the line up.
bool CServeLoop::HearDueBytes(Clock::time_point now) {
    while (!m_onTheWire.empty() && m_onTheWire.front().due <= now) {
        if (!Hear(m_onTheWire.front())) return false;
        m_onTheWire.pop_front();
    }
    return true;
}

void CServeLoop::Flush(Clock::time_point now) {
    while (!m_outbox.empty()) {
        const ssize_t n = write(m_masterFd, m_outbox.data(), m_outbox.size());
        if (n > 0) {
            m_outbox.erase(m_outbox.begin(), m_outbox.begin() + n);
            m_outboxSince = now;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if ((n < 0 && errno != EAGAIN) || now - m_outboxSince > kWriteTimeout) m_outbox.clear();
        return;
    }
}

// The host's receiver runs at the rate its port has now, whatever rate the bytes were sent at.
void CServeLoop::PassAnswersToHost(Clock::time_point now, uint32_t hostRate) {
    const std::vector<uint8_t> received = m_line.Receive(now, hostRate);
    if (!received.empty()) {
        if (m_outbox.empty()) m_outboxSince = now;
        m_outbox.insert(m_outbox.end(), received.begin(), received.end());
    }
    Flush(now);
    if (!m_sim.m_bLineQuiet && m_outbox.empty() && !m_line.NextArrival(hostRate)) {
        {
            std::lock_guard lock(m_sim.m_mutex);
            m_sim.m_bLineQuiet = true;
        }
        m_sim.m_cvFrames.notify_all();
    }
}

// Waits for the host, a wake-up or the next byte due, and takes what came; false when the thread is to end.
bool CServeLoop::Wait(Clock::time_point now, uint32_t hostRate) {
    auto wakeAt = now + kIdleWait;
    if (!m_onTheWire.empty()) wakeAt = std::min(wakeAt, m_onTheWire.front().due);
    if (const auto arrival = m_line.NextArrival(hostRate)) wakeAt = std::min(wakeAt, *arrival);
    if (!m_outbox.empty()) wakeAt = std::min(wakeAt, m_outboxSince + kWriteTimeout);
    const short masterEvents = static_cast<short>(POLLIN | (m_outbox.empty() ? 0 : POLLOUT));
    std::array<pollfd, 3> fds = {
        {{m_wakeFd, POLLIN, 0}, {m_sim.m_port.WatchFd(), POLLIN, 0}, {m_masterFd, masterEvents, 0}}};
    const timespec timeout = Timeout(wakeAt - now);
    const int ready = ppoll(fds.data(), m_bLineDead ? 2 : 3, &timeout, nullptr);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0 || fds[0].revents != 0) return true;  // a wake-up means stop: the loop condition decides
    if (fds[1].revents != 0) m_sim.m_port.TakeCloses();
    if (fds[2].revents == 0) return true;
    if (fds[2].revents & POLLIN) {
        if (TakeHostBytes()) return true;
    } else if (fds[2].revents & POLLOUT) {
        return true;
    }
    // Hang-up or error without data; our own slave descriptor should prevent it, but never spin on it.
    m_bLineDead = true;
    return true;
}

// The host's bytes onto the wire; false on a hang-up or error without data.
bool CServeLoop::TakeHostBytes() {
    // The rate first, as close to the bytes' arrival as possible: a host may switch rates right after
    // writing.
    const uint32_t lineRate = ReadLineRate(m_masterFd);
    const auto now = Clock::now();
    const ssize_t got = read(m_masterFd, m_buffer.data(), m_buffer.size());
    if (got > 0) {
        // Bytes leave the host's adapter one after another, the first after the adapter's latency.
        m_hostSendsUntil = std::max(m_hostSendsUntil, now + m_latency);
        for (ssize_t i = 0; i < got; ++i) {
            m_hostSendsUntil += WireTime(1, lineRate);
            m_onTheWire.push_back({m_hostSendsUntil, lineRate, m_buffer[static_cast<std::size_t>(i)]});
        }
        return true;
    }
    return got < 0 && (errno == EAGAIN || errno == EINTR);
}

void CServeLoop::Run() {
    while (!m_sim.m_bStopping) {
        const auto now = Clock::now();
        if (!HearDueBytes(now)) {
            // The adapter is pulled out: the host's port hangs up and its path disappears. The thread is
            // joined by Start or Stop; neither touches the port until then.
            m_sim.m_bHungUp = true;  // first, so it is set by the time the host sees the hang-up
            m_sim.m_port.Close();
            return;
        }
        const uint32_t hostRate = ReadLineRate(m_masterFd);
        ++m_sim.m_nServeTurns;
        PassAnswersToHost(now, hostRate);
        if (!Wait(now, hostRate)) return;
    }
}

void CBusSimulator::Serve(int masterFd, int wakeFd, std::chrono::nanoseconds latency) {
    // The line's times are kept to the microsecond: the kernel's default slack of 50 us on every timed wait
    // would add to each byte's and each answer's time several times per exchange.
    prctl(PR_SET_TIMERSLACK, 1000UL);
    CServeLoop(*this, masterFd, wakeFd, latency).Run();
}

}  // namespace sim
