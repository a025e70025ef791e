#include "cli/Defaults.h"

#include "cli/Messages.h"
#include "platform/LinkPorts.h"
#include "platform/SettingsStore.h"

#include <algorithm>

namespace lodestrum::cli {

namespace {

constexpr int32_t DelayMin = 0;
constexpr int32_t DelayMax = 32600;

} // namespace

RunSettings BuiltinSettings() {
    RunSettings s;
    s.Job.LinkPortIndex = 0;
    s.Job.DelayText = "1000";
    s.Job.DefaultFolder = "main";
    s.CalcType = 5;
    return s;
}

RunSettings LoadStoredSettings(const std::string& path, std::vector<std::string>& warnings) {
    RunSettings s = BuiltinSettings();
    platform::SettingsStore store(path);
    std::string error;
    if (!store.Open(error)) {
        warnings.push_back(text::SettingsWarning(error));
        return s;
    }
    auto readInteger = [&](const char* name) -> std::optional<int32_t> {
        if (!store.HasValue(name)) return std::nullopt;
        auto value = store.ReadInteger(name, error);
        if (!value) warnings.push_back(text::SettingWarning(error));
        return value;
    };
    if (store.HasValue("TI89: Default folder name")) {
        if (auto folder = store.ReadString("TI89: Default folder name", error))
            s.Job.DefaultFolder = folder->substr(0, 8);
        else
            warnings.push_back(text::SettingWarning(error));
    }
    if (auto port = readInteger("Link Port")) {
        if (platform::IsValidLinkPortIndex(*port)) {
            s.Job.LinkPortIndex = *port;
        } else {
            s.Job.LinkPortIndex = -1;
            warnings.push_back(text::StoredPortInvalid(*port));
        }
    }
    if (auto delay = readInteger("Delay val"))
        s.Job.DelayText = std::to_string(std::clamp(*delay, DelayMin, DelayMax));
    const std::pair<const char*, bool engine::JobSettings::*> boxes[] = {
        {"Invert Lines", &engine::JobSettings::InvertLines},
        {"To Emulator", &engine::JobSettings::UseVirtualLink},
        {"TI86: 4 Parts backup", &engine::JobSettings::TI86FourParts},
        {"TI89: Clip Screen Shots", &engine::JobSettings::TI89ClipScreen},
        {"TI89: Save as 92+", &engine::JobSettings::TI89SaveAs92Plus},
        {"TI89: Only VarLink menu", &engine::JobSettings::TI89VarLinkOnly},
        {"TI89: Do not send folder-name", &engine::JobSettings::TI89NoFolderName},
        {"TI89: Send all var to a folder", &engine::JobSettings::TI89SendToFolder},
    };
    for (const auto& [name, field] : boxes)
        if (auto v = readInteger(name)) s.Job.*field = *v != 0;
    if (auto calc = readInteger("Calc Type"))
        s.CalcType = static_cast<uint8_t>(static_cast<uint32_t>(*calc) & 0xFF);
    return s;
}

void ApplyOptions(RunSettings& s, const CliOptions& o) {
    if (o.Port) s.Job.LinkPortIndex = *o.Port;
    if (o.Virtual) s.Job.UseVirtualLink = true;
    if (o.NoVirtual) s.Job.UseVirtualLink = false;
    if (o.CalcType) s.CalcType = *o.CalcType;
    if (o.Invert) s.Job.InvertLines = true;
    if (o.Delay) s.Job.DelayText = std::to_string(*o.Delay);
    if (o.TI86FourParts) s.Job.TI86FourParts = true;
    if (o.TI89Clip) s.Job.TI89ClipScreen = true;
    if (o.NoFolder) s.Job.TI89NoFolderName = true;
    if (o.ToFolder) {
        s.Job.TI89SendToFolder = true;
        s.Job.DefaultFolder = *o.ToFolder;
    }
    if (o.VarLinkOnly) s.Job.TI89VarLinkOnly = true;
    if (o.SaveAs92Plus) s.Job.TI89SaveAs92Plus = true;
}

} // namespace lodestrum::cli
