#include "support/JobRig.h"

#include <mutex>

namespace lodestrum::testkit {

namespace {
std::mutex BodyMutex;
std::function<void(engine::TTransThread&)> Body;

void RunBody(engine::TTransThread& job) {
    std::function<void(engine::TTransThread&)> body;
    {
        std::lock_guard lock(BodyMutex);
        body = Body;
    }
    if (body) body(job);
}
} // namespace

JobRig::JobRig() {
    Env.Serializer = &Serializer;
    Env.Transfers = &Transfers;
}

JobRig::~JobRig() {
    // Stop whatever still runs so no worker outlives the rig.
    Host.RunOnWindowThread([this] {
        for (auto* job : Live) job->Terminate();
    });
    WaitEnded(Started);
}

engine::TTransThread* JobRig::Start(uint8_t op, const std::string& fileName) {
    engine::TTransThread* job = nullptr;
    Host.RunOnWindowThread([&] {
        job = engine::TTransThread::Create(fileName, op, Settings, Env, Host, CalcType,
                                           [this](engine::TTransThread& ended) {
                                               Live.erase(&ended);
                                               ++Completed;
                                           });
        Live.insert(job);
        ++Started;
    });
    return job;
}

void JobRig::Stop(engine::TTransThread* job) {
    Host.RunOnWindowThread([&] {
        if (Live.count(job)) job->Terminate();
    });
}

bool JobRig::WaitEnded(int count, std::chrono::milliseconds timeout) {
    return Host.WaitForJobsEnded(count, timeout);
}

engine::TTransThread* JobRig::StartBody(std::function<void(engine::TTransThread&)> body) {
    {
        std::lock_guard lock(BodyMutex);
        Body = std::move(body);
    }
    Transfers.SendFile = &RunBody;
    return Start(engine::OpSendSingle, "body");
}

} // namespace lodestrum::testkit
