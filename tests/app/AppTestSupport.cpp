#include "AppTestSupport.h"

#include "drivers/BuiltinDrivers.h"

namespace lodestrum::apptest {

WindowRig::WindowRig() {
    static const bool registered = [] {
        drivers::RegisterBuiltinDrivers();
        return true;
    }();
    (void)registered;
    std::string error;
    Driver = platform::DriverRegistry::Instance().Create("sim", error);
    QDir(Home.path()).mkpath("files");
    TransferRecorder::Instance().Reset();
}

void WindowRig::MakeFiles(const QStringList& names) const {
    for (const QString& name : names) {
        QFile f(QDir(FilesDir()).filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write("x");
    }
}

void WindowRig::WriteFile(const QString& name, const std::vector<uint8_t>& bytes) const {
    QFile f(QDir(FilesDir()).filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

drivers::SimDriver& WindowRig::UseCalculator(vcalc::CalcOptions options) {
    QDir(Home.path()).mkpath("calc");
    if (!options.Directory) options.Directory = CalcDir().toStdString();
    auto sim = std::make_unique<drivers::SimDriver>(0, std::move(options));
    drivers::SimDriver& calculator = *sim;
    Driver = std::move(sim);
    return calculator;
}

app::WindowSetup WindowRig::Setup(const engine::TransferSet* transfers) const {
    app::WindowSetup s;
    s.Driver = Driver.get();
    s.Transfers = transfers;
    s.Prompts = Prompts;
    s.SettingsPath = SettingsPath().toStdString();
    s.HelpFolders = {LODESTRUM_SOURCE_DIR "/data"};
    return s;
}

} // namespace lodestrum::apptest
