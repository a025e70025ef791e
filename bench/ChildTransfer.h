#pragma once

#include "SharedCable.h"
#include "vcalc/SimCalculator.h"

#include <filesystem>
#include <string>

namespace lodestrum::bench {

// The simulated calculator on a shared cable, in this process.
class SharedCalculator {
  public:
    explicit SharedCalculator(vcalc::CalcOptions options) : Calc(End, std::move(options)) {
        Calc.Start();
    }
    ~SharedCalculator() {
        End.Cancel();
        Calc.Stop();
    }

    SharedCable Shared;
    platform::SimCableEnd End{Shared.Cable()};
    vcalc::SimCalculator Calc;
};

struct ChildFigures {
    bool Ok = false;
    double Seconds = 0;
    double PeakMegabytes = 0;
    long BitPauses = 0;
    double BitPauseSeconds = 0;
    long DisplayCalls = 0;
};

// Runs transfer_child (next to this benchmark) for one transfer on the
// calculator's cable and waits for it.
ChildFigures RunTransferChild(SharedCalculator& calculator, const std::string& mode,
                              uint8_t calcType, const std::filesystem::path& folder,
                              const std::string& file = "");

} // namespace lodestrum::bench
