// Screen exchange over the simulated USB device (4,096-byte blocks through the engine) beside
// the same screen over TCP loopback to the simulator, in one run. Prints p50/p99.
#include <cstdio>
#include <random>
#include <vector>

#include "bench/BenchStats.h"
#include "link/CDevComm.h"
#include "sim/SimServer.h"
#include "sim/SimUsbBackend.h"

namespace {

using qv::bench::Clock;
using qv::bench::Ms;
using qv::bench::Percentile;

constexpr int kExchanges = 300;

std::vector<std::uint8_t> Screen(std::size_t size) {
    std::mt19937 gen(11);
    std::vector<std::uint8_t> out(size);
    for (auto& b : out) {
        b = static_cast<std::uint8_t>(gen());
    }
    return out;
}

void Report(const char* what, const std::vector<double>& ms) {
    std::printf("%-28s p50 %6.3f ms  p99 %6.3f ms  (%zu exchanges)\n", what, Percentile(ms, 50),
                Percentile(ms, 99), ms.size());
}

}  // namespace

int main() {
    const auto screen = Screen(150 * 1024);

    qv::sim::SimInstrument instrument;
    instrument.SetScreenOverride(screen);
    qv::sim::SimUsbBackend usb(instrument);
    std::vector<double> usbMs;
    {
        qv::CDevComm engine;
        engine.SetUsbBackend(&usb);
        std::fflush(stdout);
        if (engine.OpenUsb() != 1) {
            std::fprintf(stderr, "usb_bench: the simulated device did not open\n");
            return 1;
        }
        for (int i = 0; i < kExchanges; ++i) {
            const auto t0 = Clock::now();
            const bool ok =
                engine.UsbRequestFile(qv::REQ_SCREEN, std::string(qv::kScreenFileName)) == 1 &&
                engine.UsbReceive() == 100 &&
                static_cast<std::size_t>(engine.GetDataLength()) == screen.size();
            if (!ok) {
                std::fprintf(stderr, "usb_bench: exchange %d failed: %s\n", i,
                             engine.ErrorText().c_str());
                return 1;
            }
            usbMs.push_back(Ms(Clock::now() - t0));
        }
        engine.CloseUsb();
    }
    const std::size_t blocks = usb.Blocks().size();

    qv::sim::SimServer server;
    server.instrument().SetScreenOverride(screen);
    if (!server.Start("127.0.0.1", 0)) {
        std::fprintf(stderr, "usb_bench: %s\n", server.error().c_str());
        return 1;
    }
    std::vector<double> tcpMs;
    {
        qv::CDevComm engine;
        engine.Init();
        engine.SetPort(server.port());
        engine.SetAddress("127.0.0.1");
        if (engine.ConnectTcp() != 1) {
            std::fprintf(stderr, "usb_bench: TCP connect failed\n");
            return 1;
        }
        for (int i = 0; i < kExchanges; ++i) {
            const auto t0 = Clock::now();
            engine.RequestFile(qv::kCmdRequest, qv::REQ_SCREEN, std::string(qv::kScreenFileName),
                               qv::kScreenFileSize);
            int p = 0;
            do {
                p = engine.Poll();
            } while (p >= 0 && p < 100);
            if (p < 100) {
                std::fprintf(stderr, "usb_bench: TCP exchange %d failed\n", i);
                return 1;
            }
            tcpMs.push_back(Ms(Clock::now() - t0));
        }
        engine.Disconnect();
    }
    server.Stop();

    std::printf("150 KB screen, %d exchanges each\n", kExchanges);
    Report("USB (simulated device)", usbMs);
    Report("TCP loopback (simulator)", tcpMs);
    std::printf("USB/TCP p50 ratio %.2f; %zu request blocks written\n",
                Percentile(usbMs, 50) / Percentile(tcpMs, 50), blocks);
    return 0;
}
