#pragma once

#include "support/TestHost.h"
#include "vcalc/SimCalculator.h"

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

} // namespace lodestrum::testkit
