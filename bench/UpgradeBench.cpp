// A 192-block firmware transfer to the simulator's boot loader, next to the floor of the same traffic without
// any protocol: 192 raw 70-byte writes over a pseudo-terminal, each answered by one byte, plus the hand-off
// pause.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "bench/FloorPty.h"
#include "bench/RatioReporter.h"
#include "bench/SimulatedPort.h"
#include "link/BootLoader.h"
#include "link/BrennixUsb.h"
#include "link/ServoUsb.h"
#include "sim/BusSimulator.h"
#include "sim/ReturnLine.h"
#include "upgrade/FirmwareTransfer.h"

namespace {

FirmwareImage FullImage() {
    FirmwareImage image;
    for (int i = 0; i < FIRMWARE_CAPACITY; ++i) image.imageData[i] = static_cast<uint8_t>(i * 7);
    image.imageLength = FIRMWARE_CAPACITY;
    image.sourceKind = kSourceBin;
    image.CountBlocks();
    return image;
}

void BM_RawBlocksFloor(benchmark::State& state) {
    // Every 70 bytes that arrive are answered with one byte, as a boot loader acknowledges a block, once the
    // block and its answer would have crossed the wire at the boot rate: the simulator models that time, so
    // the floor waits it too and the ratio shows the link's own cost.
    CFloorPty ack([pending = std::size_t{0}](int master, const uint8_t*, std::size_t count) mutable {
        for (pending += count; pending >= BLOCK_FRAME_SIZE; pending -= BLOCK_FRAME_SIZE) {
            std::this_thread::sleep_for(sim::WireTime(BLOCK_FRAME_SIZE + 1, BOOT_BAUD));
            if (write(master, &BOOT_ACK, 1) < 0) return;
        }
    });
    CBrennixUsb usb;
    usb.SetPortPath(ack.Path());
    usb.FindDevice();
    usb.Open();
    usb.SetTimeoutMs(BOOT_TIMEOUT_MS);
    usb.Configure(BOOT_BAUD);
    const FirmwareImage image = FullImage();
    uint8_t frame[BLOCK_FRAME_SIZE];
    for (auto _ : state) {
        std::this_thread::sleep_for(std::chrono::milliseconds(BOOT_PAUSE_MS));
        for (int block = 1; block <= image.blockCount; ++block) {
            image.BuildBlockFrame(frame, static_cast<uint8_t>(block), BLOCK_MORE_FOLLOW, image.sourceKind);
            usb.Write(frame, BLOCK_FRAME_SIZE);
            uint8_t answer = 0;
            if (usb.Read(&answer, 1) != 1) state.SkipWithError("acknowledgement lost");
        }
    }
    usb.Close();
}

void BM_Transfer192Blocks(benchmark::State& state) {
    sim::CSimLineOptions line;
    line.latency = std::chrono::microseconds(state.range(0));
    sim::CBusSimulator bus({sim::DefaultServo(1)}, line);
    CBrennixUsb usb;
    OpenSimulatedPort(bus, usb);
    CServoUsb servo(&usb);
    const FirmwareImage image = FullImage();
    for (auto _ : state) {
        if (TransferFirmware(servo, usb, image, 1, {}) != EUpgradeResult::Success)
            state.SkipWithError("failed");
    }
    usb.Close();
}

}  // namespace

BENCHMARK(BM_RawBlocksFloor)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();
// Without and with the 1 ms each way of a full-speed USB adapter.
BENCHMARK(BM_Transfer192Blocks)
    ->Arg(0)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(0.5)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->UseRealTime();

BRENNIX_BENCHMARK_MAIN_WITH_RATIOS({"BM_Transfer192Blocks/0", "BM_RawBlocksFloor"})
