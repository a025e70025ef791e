#pragma once

#include "app/Dialogs.h"
#include "app/MainDlg.h"
#include "drivers/SimDriver.h"
#include "engine/TTransT.h"
#include "platform/PortDriver.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace lodestrum::apptest {

// Answers the window's boxes from a script and keeps what they said.
class ScriptedDialogs : public app::Dialogs {
  public:
    void Error(QWidget*, const QString& title, const QString& text, const QString&) override {
        Log << QStringLiteral("error:%1:%2").arg(title, text);
    }
    bool YesNo(QWidget*, const QString& title, const QString& text, engine::MessageIcon) override {
        Log << QStringLiteral("ask:%1:%2").arg(title, text);
        if (YesNoAnswers.empty()) return false;
        const bool a = YesNoAnswers.front();
        YesNoAnswers.pop_front();
        return a;
    }
    bool RunSaveDialog(QFileDialog& dialog) override {
        Log << QStringLiteral("save:%1").arg(dialog.windowTitle());
        if (SaveAnswers.empty()) return false;
        const QString a = SaveAnswers.front();
        SaveAnswers.pop_front();
        if (a.isEmpty()) return false;
        dialog.selectFile(a);
        return true;
    }
    void StandardError(QWidget*, const QString& text) override {
        Log << QStringLiteral("standard:%1").arg(text);
    }

    QStringList Log;
    std::deque<bool> YesNoAnswers;
    std::deque<QString> SaveAnswers; // empty string: cancel
};

// Transfers that record what the jobs asked for and, while Hold is set, keep
// the job running until it is stopped, so a test can act during a transfer.
struct TransferRecorder {
    std::mutex Mutex;
    QStringList Events; // "begin:OP:PATH", "end:OP:PATH"
    std::atomic<bool> Hold{false};
    std::atomic<int> Running{0};
    std::atomic<int> Passes{0}; // jobs let through before Hold applies

    static TransferRecorder& Instance() {
        static TransferRecorder r;
        return r;
    }
    void Reset() {
        std::lock_guard lock(Mutex);
        Events.clear();
        Hold = false;
        Passes = 0;
    }
    QStringList Snapshot() {
        std::lock_guard lock(Mutex);
        return Events;
    }
    void Add(const QString& e) {
        std::lock_guard lock(Mutex);
        Events << e;
    }
    static void Body(engine::TTransThread& job) {
        auto& r = Instance();
        const QString tag =
            QStringLiteral("%1:%2").arg(job.TransferOp).arg(QString::fromStdString(job.FileName));
        ++r.Running;
        r.Add("begin:" + tag);
        const bool pass = r.Passes.fetch_sub(1) > 0;
        while (!pass && r.Hold && !job.Terminated())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        r.Add("end:" + tag);
        --r.Running;
    }
    static const engine::TransferSet& Set() {
        static engine::TransferSet set = [] {
            engine::TransferSet s;
            s.SendFile = &TransferRecorder::Body;
            s.SendEot = &TransferRecorder::Body;
            return s;
        }();
        return set;
    }
};

// A window on the sim driver with a settings file and a file folder of its own.
struct WindowRig {
    QTemporaryDir Home;
    std::shared_ptr<ScriptedDialogs> Prompts = std::make_shared<ScriptedDialogs>();
    std::unique_ptr<platform::PortDriver> Driver;

    WindowRig();
    QString SettingsPath() const { return Home.filePath("Lodestrum 3.0.reg"); }
    QString FilesDir() const { return Home.filePath("files"); }
    void MakeFiles(const QStringList& names) const;
    // Writes a file with these bytes into the file folder.
    void WriteFile(const QString& name, const std::vector<uint8_t>& bytes) const;
    // Puts a simulated calculator with these options on entry 0 in place of the
    // environment's; its memory folder is CalcDir() unless the options name one.
    drivers::SimDriver& UseCalculator(vcalc::CalcOptions options);
    QString CalcDir() const { return Home.filePath("calc"); }
    app::WindowSetup Setup(const engine::TransferSet* transfers = &TransferRecorder::Set()) const;
};

} // namespace lodestrum::apptest
