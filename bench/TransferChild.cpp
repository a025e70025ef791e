// transfer_child FD MODE CALCTYPE FOLDER [FILE]: the program's side of one
// transfer over the shared simulated cable FD, whose calculator runs in the
// benchmark that started this process. MODE is send (FILE), group (into
// FILE), receive (a backup saved as FILE) or idle (no job, for the baseline).
// Prints "seconds S", "peak_kb K" and the job's 1 ms pauses (the pause after
// a received bit whose lines are not yet idle again: "bit_pauses N",
// "bit_pause_seconds S", the time they really took) and the display calls
// that crossed to the window thread ("display_calls N") on standard output.
//
// The peak is VmHWM of this process image. The ru_maxrss that wait4 reports
// is no use here: Linux carries the parent's peak over fork and exec into it.
#include "SharedCable.h"
#include "support/JobRig.h"
#include "transfers/Transfers.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

using namespace lodestrum;
using Clock = std::chrono::steady_clock;

namespace {

std::atomic<long> BitPauses{0};
std::atomic<long> BitPauseMicroseconds{0};

void CountingSleep(int milliseconds) {
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    if (milliseconds != 1) return;
    ++BitPauses;
    BitPauseMicroseconds += static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count());
}

long PeakKilobytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fputs("usage: transfer_child FD send|group|receive|idle CALCTYPE FOLDER [FILE]\n",
                   stderr);
        return 2;
    }
    const std::string mode = argv[2];
    const std::string file = argc > 5 ? argv[5] : "";
    if (::chdir(argv[4]) != 0) {
        std::perror("transfer_child: chdir");
        return 1;
    }
    double seconds = 0;
    std::size_t displayCalls = 0;
    bool ok = true;
    {
        bench::SharedCable shared(std::atoi(argv[1]));
        bench::SharedCableDriver driver(shared.Cable());
        testkit::JobRig rig;
        rig.Env.Driver = &driver;
        rig.Env.Transfers = &transfers::DefaultTransfers();
        rig.Env.Sleep = &CountingSleep;
        rig.CalcType = static_cast<uint8_t>(std::atoi(argv[3]));
        if (mode != "idle") {
            uint8_t op = engine::OpSendSingle;
            std::string name = file;
            if (mode == "send") {
                rig.Host.QueueYesNo(true); // the AMS or FLASH question
            } else if (mode == "group") {
                op = engine::OpReceiveGroup;
            } else if (mode == "receive") {
                op = engine::OpReceiveVariables;
                rig.Host.QueueSaveAnswer(file);
                name.clear();
            } else {
                std::fprintf(stderr, "transfer_child: unknown mode %s\n", mode.c_str());
                return 2;
            }
            auto start = Clock::now();
            rig.Start(op, name);
            ok = rig.WaitEnded(1, std::chrono::minutes(10));
            const auto end = Clock::now();
            // A receive begins when the calculator does, not when the PC starts to listen.
            if (mode != "send" && !driver.FarStarted(start)) ok = false;
            seconds = std::chrono::duration<double>(end - start).count();
            displayCalls = rig.Host.Events().size();
        }
    }
    std::printf("seconds %.6f\npeak_kb %ld\nbit_pauses %ld\nbit_pause_seconds %.6f\n"
                "display_calls %zu\n",
                seconds, PeakKilobytes(), BitPauses.load(), BitPauseMicroseconds.load() / 1e6,
                displayCalls);
    return ok ? 0 : 1;
}
