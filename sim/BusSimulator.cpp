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

void CBusSimulator::Serve(int masterFd, int wakeFd, std::chrono::nanoseconds latency) {
    // The line's times are kept to the microsecond: the kernel's default slack of 50 us on every timed wait
    // would add to each byte's and each answer's time several times per exchange.
    prctl(PR_SET_TIMERSLACK, 1000UL);
    CFrameParser parser;
    CReturnLine line(latency);
    std::deque<CHeardByte> onTheWire;    // from the host, not yet heard by the servos
    Clock::time_point hostSendsUntil{};  // the host's last byte leaves the wire then
    std::vector<uint8_t> outbox;         // received by the host's adapter, not yet taken by the pty
    Clock::time_point outboxSince{};
    std::array<uint8_t, 4096> buffer{};
    bool lineDead = false;  // the master reported an error: only a wake-up can still matter

    // Puts an answer on the return line as the fault rules let it out; false when the line is to be hung
    // up. Answers start once the request has left the wire, so never before `heardAt`.
    auto answer = [&](int target, int instruction, CSimReply reply, Clock::time_point heardAt,
                      uint32_t rate) {
        const int sender = reply.sender;
        const uint32_t sentAt = reply.rate != 0 ? reply.rate : rate;
        const CSimTransmission out = Transmit(target, instruction, std::move(reply));
        if (!out.pieces.empty()) m_bLineQuiet = false;
        for (const auto& piece : out.pieces) line.Send(sender, heardAt + piece.delay, sentAt, piece.bytes);
        return !out.hangUp;
    };
    // The servos hear one byte once its stop bit has left the wire.
    auto hear = [&](const CHeardByte& heard) {
        const std::span<const uint8_t> byte(&heard.byte, 1);
        // While a servo runs its boot loader, bytes at the boot rate are raw, not frames.
        CSimReply raw;
        if (CarryRaw(byte, heard.rate, heard.due, raw))
            return raw.bytes.empty() || answer(kAnyServo, kBootAnswer, std::move(raw), heard.due, heard.rate);
        for (auto& frame : parser.Feed(byte, heard.due)) {
            const int target = FrameId(frame);
            const int instruction = FrameInstruction(frame);
            for (CSimReply& reply : Carry(std::move(frame), heard.rate, heard.due))
                if (!answer(target, instruction, std::move(reply), heard.due, heard.rate)) return false;
        }
        return true;
    };
    auto flush = [&](Clock::time_point now) {
        while (!outbox.empty()) {
            const ssize_t n = write(masterFd, outbox.data(), outbox.size());
            if (n > 0) {
                outbox.erase(outbox.begin(), outbox.begin() + n);
                outboxSince = now;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if ((n < 0 && errno != EAGAIN) || now - outboxSince > kWriteTimeout) outbox.clear();
            return;
        }
    };

    while (!m_bStopping) {
        auto now = Clock::now();
        while (!onTheWire.empty() && onTheWire.front().due <= now) {
            if (!hear(onTheWire.front())) {
                // The adapter is pulled out: the host's port hangs up and its path disappears. The thread
                // is joined by Start or Stop; neither touches the port until then.
                m_bHungUp = true;  // first, so it is set by the time the host sees the hang-up
                m_port.Close();
                return;
            }
            onTheWire.pop_front();
        }
        // The host's receiver runs at the rate its port has now, whatever rate the bytes were sent at.
        const uint32_t hostRate = ReadLineRate(masterFd);
        const std::vector<uint8_t> received = line.Receive(now, hostRate);
        if (!received.empty()) {
            if (outbox.empty()) outboxSince = now;
            outbox.insert(outbox.end(), received.begin(), received.end());
        }
        flush(now);
        if (!m_bLineQuiet && outbox.empty() && !line.NextArrival(hostRate)) {
            {
                std::lock_guard lock(m_mutex);
                m_bLineQuiet = true;
            }
            m_cvFrames.notify_all();
        }

        auto wakeAt = now + kIdleWait;
        if (!onTheWire.empty()) wakeAt = std::min(wakeAt, onTheWire.front().due);
        if (const auto arrival = line.NextArrival(hostRate)) wakeAt = std::min(wakeAt, *arrival);
        if (!outbox.empty()) wakeAt = std::min(wakeAt, outboxSince + kWriteTimeout);
        const short masterEvents = static_cast<short>(POLLIN | (outbox.empty() ? 0 : POLLOUT));
        std::array<pollfd, 3> fds = {
            {{wakeFd, POLLIN, 0}, {m_port.WatchFd(), POLLIN, 0}, {masterFd, masterEvents, 0}}};
        const timespec timeout = Timeout(wakeAt - now);
        const int ready = ppoll(fds.data(), lineDead ? 2 : 3, &timeout, nullptr);
        if (ready < 0 && errno != EINTR) return;
        if (ready <= 0 || fds[0].revents != 0) continue;  // a wake-up means stop: the loop condition decides
        if (fds[1].revents != 0) m_port.TakeCloses();
        if (fds[2].revents == 0) continue;
        if (fds[2].revents & POLLIN) {
            // The rate first, as close to the bytes' arrival as possible: a host may switch rates right after
            // writing.
            const uint32_t lineRate = ReadLineRate(masterFd);
            now = Clock::now();
            const ssize_t got = read(masterFd, buffer.data(), buffer.size());
            if (got > 0) {
                // Bytes leave the host's adapter one after another, the first after the adapter's latency.
                hostSendsUntil = std::max(hostSendsUntil, now + latency);
                for (ssize_t i = 0; i < got; ++i) {
                    hostSendsUntil += WireTime(1, lineRate);
                    onTheWire.push_back({hostSendsUntil, lineRate, buffer[static_cast<std::size_t>(i)]});
                }
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        } else if (fds[2].revents & POLLOUT) {
            continue;
        }
        // Hang-up or error without data; our own slave descriptor should prevent it, but never spin on it.
        lineDead = true;
    }
}

}  // namespace sim
