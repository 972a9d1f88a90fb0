// USB block receive: the engine over the USB block transport over a fake device that the
// input drives, on a virtual clock. Blocks come whole, short, in pieces, or not at all; every
// answer must end in 100 or -1 with one of the engine's texts, within the answer deadline and
// a bounded number of block reads, and never write past the answer buffer.
//
// Input: operations, one byte each: low 2 bits the kind, the rest a pause of 20 ms steps.
//   0 a transfer that ends: a length byte n, then 16 * n bytes (at most a block)
//   1 a piece of a transfer that timed out part way: the same, the rest follows
//   2 nothing until the read's time-out          3 the device fails the read
// Past the end of the input the device is silent.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "link/UsbBlockTransport.h"
#include "tests/fuzz/Fuzz.h"

namespace {

using namespace qv::fuzz;

class FakeDevice final : public qv::UsbBackend {
  public:
    FakeDevice(VirtualClock& clock, Input input) : clock_(clock), input_(input) {}
    bool ListInterfaces(std::string_view classGuid, std::vector<std::string>& paths,
                        unsigned&) override {
        paths.clear();
        if (classGuid == qv::kUsbClassVista) {
            paths.push_back("fuzz#0");
        }
        return true;
    }
    qv::UsbHandle Open(const std::string&, qv::UsbShare, unsigned&) override { return next_++; }
    bool Read(qv::UsbHandle, std::uint8_t* buffer, std::size_t length, std::size_t& got,
              std::chrono::milliseconds timeout) override {
        ++reads;
        got = 0;
        if (input_.empty()) {
            clock_.Advance(timeout);
            return false;
        }
        const std::uint8_t op = input_.Byte();
        clock_.Advance(std::min(std::chrono::milliseconds((op >> 2) * 20), timeout));
        switch (op & 3) {
            case 0:
            case 1:
                got = input_.Take(std::min<std::size_t>(16u * input_.Byte(), length), buffer);
                return (op & 3) == 0;
            case 2:
                clock_.Advance(timeout);
                return false;
            default:
                return false;
        }
    }
    bool Write(qv::UsbHandle, const std::uint8_t*, std::size_t length,
               std::size_t& written) override {
        written = length;
        return true;
    }
    void Close(qv::UsbHandle) override {}

    int reads = 0;

  private:
    VirtualClock& clock_;
    Input input_;
    qv::UsbHandle next_ = 1;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The device classes say on standard output what they open, every time.
    static std::FILE* quiet = std::freopen("/dev/null", "w", stdout);
    (void)quiet;
    qv::CDevComm& engine = Engine();
    VirtualClock clock;
    engine.SetClock(&clock);
    FakeDevice device(clock, Input(data, size));
    auto usb = std::make_shared<qv::UsbBlockTransport>(
        device, [](std::chrono::milliseconds) {}, &clock);
    Check(usb->Open());
    engine.Attach(usb);
    engine.SetErrorText("");
    const auto start = clock.Now();
    Check(engine.UsbRequestFile(qv::REQ_SCREEN, std::string(qv::kScreenFileName)) == 1);
    const int result = engine.UsbReceive();
    // A block read takes at least one operation or ends the answer, so reads stay bounded.
    Check(AnswerEndedWell(result, engine.ErrorText(), engine.GetData(), engine.GetDataLength(),
                          clock.Now() - start) &&
          static_cast<std::size_t>(device.reads) <= size + 2);
    engine.Attach(nullptr);
    engine.SetClock(nullptr);
    return 0;
}
