#pragma once

#include "engine/TTransT.h"
#include "support/TestHost.h"

#include <atomic>
#include <functional>
#include <set>

namespace lodestrum::testkit {

// Everything a test needs to create jobs as the window does: a host with its
// own window thread, the link serializer, the shared CalcType byte, and a
// transfer slot that runs a test's own body on the job's worker.
class JobRig {
public:
    JobRig();
    ~JobRig();

    // Creates a job on the window thread, as a front end does.
    engine::TTransThread* Start(uint8_t op, const std::string& fileName = "");
    // Sets a job's stop flag on the window thread, if it has not ended yet.
    void Stop(engine::TTransThread* job);
    bool WaitEnded(int count = 1, std::chrono::milliseconds timeout = std::chrono::seconds(30));

    // Runs body on the worker of a send job (code 5), then the job's FinishJob.
    engine::TTransThread* StartBody(std::function<void(engine::TTransThread&)> body);

    TestHost Host;
    engine::LinkSerializer Serializer;
    std::atomic<uint8_t> CalcType{3};
    engine::TransferSet Transfers;
    engine::LinkEnvironment Env;
    engine::JobSettings Settings;
    std::atomic<int> Completed{0};

private:
    std::set<engine::TTransThread*> Live;
    int Started = 0;
};

} // namespace lodestrum::testkit
