#pragma once

#include "support/JobRig.h"
#include "support/TestHost.h"
#include "vcalc/SimCalculator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>

namespace lodestrum::testkit {

// What the window saw and what the calculator did, for a job that never ended:
// a hang on a busy machine is hard to repeat, so the first one must explain itself.
inline std::string HangReport(const TestHost& host, const vcalc::SimCalculator& calc) {
    std::ostringstream out;
    out << "the job did not end\n-- window events:\n";
    for (const auto& e : host.Events())
        if (e.rfind("progress:", 0) != 0) out << "  " << e << "\n";
    const auto progress = host.ProgressValues();
    if (!progress.empty())
        out << "  (" << progress.size() << " progress calls, last " << progress.back() << ")\n";
    out << "-- calculator packets:\n";
    for (const auto& p : calc.Transcript()) out << "  " << p.Describe() << "\n";
    out << "-- calculator notes:\n";
    for (const auto& n : calc.Notes()) out << "  " << n << "\n";
    return out.str();
}

// Waits for the rig's jobs to end, then for the calculator to be done with
// their last packet; a hang guard that reports what it saw when it gives up.
inline bool WaitForJobsAndCalculator(JobRig& rig, vcalc::SimCalculator& calc, int jobs,
                                     std::chrono::seconds guard) {
    if (rig.WaitEnded(jobs, guard)) return calc.WaitIdle();
    ADD_FAILURE() << HangReport(rig.Host, calc);
    return false;
}

} // namespace lodestrum::testkit
