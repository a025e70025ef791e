#include "drivers/SimDriver.h"

#include "platform/LinkPorts.h"

namespace lodestrum::drivers {

SimDriver::SimDriver(int pluggedEntry, vcalc::CalcOptions options)
    : Cable(pluggedEntry), End(Cable),
      Calc(std::make_unique<vcalc::SimCalculator>(End, std::move(options))) {
    for (auto& w : Written) w.store(3);
    Calc->Start();
}

namespace {

// What the settings ask the calculator to send and show.
vcalc::CalcOptions CalcOptionsOf(const SimSettings& settings) {
    vcalc::CalcOptions options = settings.Calc;
    options.SendOnStart = settings.Send;
    options.BackupOnStart = settings.Backup;
    if (!settings.Screen.empty()) options.ScreenFile = settings.Screen;
    return options;
}

} // namespace

SimDriver::SimDriver(const SimSettings& settings)
    : SimDriver(settings.Entry, CalcOptionsOf(settings)) {
    for (int entry = 0; entry < platform::LinkPortCount; ++entry)
        if (settings.Ports[entry]) SetPortBehaviour(entry, *settings.Ports[entry]);
}

SimDriver::~SimDriver() {
    End.Cancel();
    Calc->Stop();
}

std::unique_ptr<SimDriver> SimDriver::FromEnvironment(std::string& error) {
    const auto settings = SimSettingsFromEnvironment(error);
    if (!settings) return nullptr;
    return std::make_unique<SimDriver>(*settings);
}

void SimDriver::SetPortBehaviour(int entry, PortBehaviour behaviour) {
    if (!platform::IsValidLinkPortIndex(entry)) return;
    Behaviours[entry].store(behaviour == PortBehaviour::Calculator
                                ? 0
                                : static_cast<uint8_t>(static_cast<int>(behaviour) + 1));
}

void SimDriver::WritePort(uint32_t port, uint8_t value) {
    for (int entry = 0; entry < platform::LinkPortCount; ++entry)
        if (port == platform::OutPortOf(entry) && Behaviours[entry].load()) {
            Written[entry].store(value);
            return;
        }
    Cable.WritePort(port, value);
}

uint8_t SimDriver::ReadPort(uint32_t port) {
    for (int entry = 0; entry < platform::LinkPortCount; ++entry)
        if (port == platform::InPortOf(entry))
            if (const uint8_t b = Behaviours[entry].load())
                return BehaviourRead(static_cast<PortBehaviour>(b - 1), Written[entry].load());
    return Cable.ReadPort(port);
}

} // namespace lodestrum::drivers
