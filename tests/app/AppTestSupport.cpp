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
