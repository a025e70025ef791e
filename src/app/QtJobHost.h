#pragma once

#include "app/Dialogs.h"
#include "engine/JobHost.h"
#include "engine/LinkSerializer.h"

#include <QPointer>

#include <atomic>
#include <memory>
#include <set>

namespace lodestrum::engine {
class TTransThread;
}

namespace lodestrum::app {

class TTranDlg;

// The window's JobHost. Calls from workers are carried onto the GUI thread
// through the application object, so a job that outlives its window still
// ends and deletes itself; the window's side is then skipped.
class QtJobHost : public engine::JobHost {
public:
    QtJobHost(TTranDlg& window, std::shared_ptr<Dialogs> prompts);

    void Synchronize(const std::function<void()>& fn) override;
    void Post(std::function<void()> fn) override;

    void ShowStatus(const std::string& text) override;
    void ShowCalcType(uint8_t calcType, const std::string& name) override;
    void ShowProgress(int percent) override;
    void RefreshFileList() override;
    void ShowError(const std::string& title, const std::string& text) override;
    bool AskYesNo(const std::string& title, const std::string& text,
                  engine::MessageIcon icon) override;
    std::optional<std::string> AskSaveFileName(const engine::SaveDialogRequest& request) override;
    void ShowScreenImage(const engine::MonoImage& image) override;
    void SelectLinkPort(int index) override;

    // The one line every job of the process waits in for the link.
    engine::LinkSerializer& Serializer() { return Line; }

    // The window's CalcType byte, kept here because jobs may outlive the window.
    std::atomic<uint8_t> CalcTypeByte{0};

    // Jobs created and not yet ended (GUI thread only).
    void Add(engine::TTransThread* job) { Live.insert(job); }
    void Remove(engine::TTransThread* job) { Live.erase(job); }
    const std::set<engine::TTransThread*>& LiveJobs() const { return Live; }

private:
    QPointer<TTranDlg> Window;
    std::shared_ptr<Dialogs> Prompts;
    engine::LinkSerializer Line;
    std::set<engine::TTransThread*> Live;
};

} // namespace lodestrum::app
