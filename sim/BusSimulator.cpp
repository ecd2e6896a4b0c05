// The simulator's serving thread: pty input to frames, frames to the servos, statuses back to the pty.
#include "BusSimulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <map>
#include <optional>
#include <system_error>

#include "FrameParser.h"
#include "LineRate.h"
#include "WireFrame.h"

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

// Upper bound of one idle wait; the wake-up descriptor ends it early.
constexpr int kIdlePollMs = 1000;
// How long a status may wait for room in the pty when the host does not read; after that the rest of it is
// lost, as bytes are on a wire nobody listens to.
constexpr std::chrono::milliseconds kWriteTimeout{100};
constexpr std::size_t kMaxRecordedFrames = 100000;

void Wake(int wakeFd) {
    const uint64_t one = 1;
    const ssize_t written = write(wakeFd, &one, sizeof one);
    (void)written;  // the counter cannot overflow from a handful of wake-ups
}

// Sends one piece of an answer when it is due; false when a stop cut it short or the line is gone.
bool SendReply(int masterFd, int wakeFd, const SimTransmission::Piece& reply, Clock::time_point requestTime) {
    const auto due = requestTime + reply.delay;
    // A long delay (a boot loader's slow answer, a late fault) must not hold up Stop: a wake-up ends the
    // wait.
    const auto longWait = std::chrono::floor<std::chrono::milliseconds>(due - Clock::now());
    if (longWait.count() > 1) {
        pollfd wake{wakeFd, POLLIN, 0};
        if (poll(&wake, 1, static_cast<int>(longWait.count())) > 0) return false;
    }
    std::this_thread::sleep_until(due);
    std::span<const uint8_t> rest(reply.bytes);
    const auto deadline = Clock::now() + kWriteTimeout;
    while (!rest.empty()) {
        const ssize_t n = write(masterFd, rest.data(), rest.size());
        if (n > 0) {
            rest = rest.subspan(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return false;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return true;
        std::array<pollfd, 2> fds = {{{masterFd, POLLOUT, 0}, {wakeFd, POLLIN, 0}}};
        if (poll(fds.data(), fds.size(), static_cast<int>(left.count())) <= 0) return true;
        if (fds[1].revents != 0) return false;
    }
    return true;
}

}  // namespace

CBusSimulator::CBusSimulator(std::vector<uint8_t> ids, uint8_t baudCode) {
    const auto now = Clock::now();
    for (uint8_t id : ids) m_bus.AddServo(DefaultServo(id, baudCode), now);
}

CBusSimulator::CBusSimulator(const std::vector<SimServoSpec>& servos, const SimLineOptions& options) {
    const auto now = Clock::now();
    for (const SimServoSpec& spec : servos) m_bus.AddServo(spec, now);
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
        m_thread = std::thread(&CBusSimulator::Serve, this, m_port.MasterFd(), m_nWakeFd);
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

std::vector<SimFrame> CBusSimulator::Frames() const {
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

std::vector<uint8_t> CBusSimulator::Table(uint8_t id) const {
    std::lock_guard lock(m_mutex);
    const CServoModel* servo = m_bus.Find(id);
    if (!servo) return {};
    return {servo->Table().begin(), servo->Table().end()};
}

void CBusSimulator::SetRegister(uint8_t id, uint8_t address, uint8_t value) {
    std::lock_guard lock(m_mutex);
    if (CServoModel* servo = m_bus.Find(id); servo && address < kTableSize) servo->Poke(address, value);
}

void CBusSimulator::AddServo(uint8_t id, uint8_t baudCode) {
    AddServo(DefaultServo(id, baudCode));
}

void CBusSimulator::AddServo(const SimServoSpec& spec) {
    std::lock_guard lock(m_mutex);
    m_bus.AddServo(spec, Clock::now());
}

void CBusSimulator::RemoveServo(uint8_t id) {
    std::lock_guard lock(m_mutex);
    m_bus.RemoveServo(id);
}

void CBusSimulator::SetBootFaults(uint8_t id, const SimBootFaults& faults) {
    std::lock_guard lock(m_mutex);
    m_bus.Boot().SetFaults(id, faults);
}

SimBootStatus CBusSimulator::BootStatus(uint8_t id) const {
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

void CBusSimulator::AddFault(const SimFaultRule& rule) {
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

SimTransmission CBusSimulator::Transmit(int target, int instruction, SimReply reply) {
    std::lock_guard lock(m_mutex);
    return m_faults.Apply(target, instruction, reply.delay, std::move(reply.bytes));
}

bool CBusSimulator::CarryRaw(std::span<const uint8_t> bytes, uint32_t lineRate, Clock::time_point now,
                             SimReply& answer) {
    std::lock_guard lock(m_mutex);
    CBootLoaders& boot = m_bus.Boot();
    boot.Expire(now);
    if (!(m_bus.AnyRate() ? boot.Listening() : boot.Listens(lineRate))) return false;
    SimBootAnswer heard = boot.Feed(bytes, now);
    answer = SimReply{heard.delay, std::move(heard.bytes)};
    return true;
}

std::optional<SimReply> CBusSimulator::Carry(std::vector<uint8_t> frame, uint32_t lineRate,
                                             Clock::time_point now) {
    std::optional<SimReply> reply;
    {
        std::lock_guard lock(m_mutex);
        reply = m_bus.Dispatch(frame, lineRate, now);
        // A long session (the GUI polls 100 times a second) must not grow without bound: keep the newest.
        if (m_frames.size() >= kMaxRecordedFrames)
            m_frames.erase(m_frames.begin(), m_frames.begin() + kMaxRecordedFrames / 10);
        m_frames.push_back(SimFrame{now, lineRate, std::move(frame)});
    }
    m_cvFrames.notify_all();
    return reply;
}

void CBusSimulator::Serve(int masterFd, int wakeFd) {
    CFrameParser parser;
    std::array<uint8_t, 4096> buffer{};
    bool lineDead = false;  // the master reported an error: only a wake-up can still matter
    // Bytes a fault holds back past their status's due time (a late status, a stalled frame's rest) wait
    // here, so the other servos keep answering on time meanwhile, as they would on a real bus. One servo's
    // answers stay in order: a servo still busy with a held-back status answers the next request after it.
    struct Held {
        int target;
        std::vector<uint8_t> bytes;
    };
    std::multimap<Clock::time_point, Held> deferred;
    auto sendDue = [&] {
        while (!deferred.empty() && deferred.begin()->first <= Clock::now()) {
            SendReply(masterFd, wakeFd,
                      {std::chrono::microseconds(0), std::move(deferred.begin()->second.bytes)},
                      Clock::now());
            deferred.erase(deferred.begin());
        }
    };
    auto heldUntil = [&](int target) {
        std::optional<Clock::time_point> last;
        for (const auto& [due, held] : deferred) {
            if (held.target == target) last = due;
        }
        return last;
    };
    // Sends an answer as the fault rules let it out; false when the line is to be hung up. A boot loader's
    // answer is never deferred: the boot loader takes no bytes while it works on a block.
    auto answer = [&](int target, int instruction, SimReply reply, Clock::time_point requestTime) {
        const auto onTime = reply.delay;
        const SimTransmission out = Transmit(target, instruction, std::move(reply));
        const bool mayDefer = instruction != kBootAnswer;
        for (const auto& piece : out.pieces) {
            auto due = requestTime + piece.delay;
            const auto busy = mayDefer ? heldUntil(target) : std::nullopt;
            if (busy && *busy > due) due = *busy;
            if (busy || (mayDefer && piece.delay > onTime)) {
                deferred.emplace(due, Held{target, piece.bytes});  // after any held bytes due at that moment
                continue;
            }
            sendDue();
            if (!SendReply(masterFd, wakeFd, piece, requestTime)) break;
        }
        return !out.hangUp;
    };
    while (!m_bStopping) {
        int waitMs = kIdlePollMs;
        if (!deferred.empty()) {
            const auto untilDue =
                std::chrono::ceil<std::chrono::milliseconds>(deferred.begin()->first - Clock::now());
            waitMs = static_cast<int>(std::clamp<long long>(untilDue.count(), 0, kIdlePollMs));
        }
        std::array<pollfd, 2> fds = {{{wakeFd, POLLIN, 0}, {masterFd, POLLIN, 0}}};
        const int ready = poll(fds.data(), lineDead ? 1 : 2, waitMs);
        if (ready < 0 && errno != EINTR) return;
        if (fds[0].revents == 0) sendDue();
        if (ready <= 0 || fds[0].revents != 0) continue;  // a wake-up means stop: the loop condition decides
        if (fds[1].revents & POLLIN) {
            // The rate first, as close to the bytes' arrival as possible: a host may switch rates right after
            // writing.
            const uint32_t lineRate = ReadLineRate(masterFd);
            const auto now = Clock::now();
            const ssize_t got = read(masterFd, buffer.data(), buffer.size());
            if (got > 0) {
                const auto bytes = std::span(buffer.data(), static_cast<std::size_t>(got));
                bool lineUp = true;
                // While a servo runs its boot loader, bytes at the boot rate are raw, not frames.
                SimReply raw;
                if (CarryRaw(bytes, lineRate, now, raw)) {
                    if (!raw.bytes.empty()) lineUp = answer(kAnyServo, kBootAnswer, std::move(raw), now);
                } else {
                    for (auto& frame : parser.Feed(bytes, now)) {
                        if (!lineUp) break;  // nothing reaches the servos of an unplugged adapter
                        const int target = FrameId(frame);
                        const int instruction = FrameInstruction(frame);
                        if (auto reply = Carry(std::move(frame), lineRate, now); reply)
                            lineUp = answer(target, instruction, std::move(*reply), now);
                    }
                }
                if (!lineUp) {
                    // The adapter is pulled out: the host's port hangs up and its path disappears. The
                    // thread is joined by Start or Stop; neither touches the port until then.
                    m_bHungUp = true;  // first, so it is set by the time the host sees the hang-up
                    m_port.Close();
                    return;
                }
                continue;
            }
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        }
        // Hang-up or error without data; our own slave descriptor should prevent it, but never spin on it.
        lineDead = true;
    }
}

}  // namespace sim
