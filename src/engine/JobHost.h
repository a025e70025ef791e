#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lodestrum::engine {

enum class MessageIcon { Stop, Information };

// How a job ended, for front ends that report it (the command-line tool's exit
// code); the window ignores it.
enum class JobOutcome { Done, Refused, Stopped, Error };

struct SaveDialogRequest {
    std::string Title;      // "Save file as:", "Save backup as:", "Save group file as:"
    std::string FileName;   // proposed name
    int FilterIndex = 1;    // 1-based index into the window's filter list
};

// A one-bit-per-pixel picture: rows of Width/8 bytes, bit 7 leftmost, 0 black.
struct MonoImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Bits;
};

// Everything a job needs from the front end that created it. The worker calls
// only Synchronize and Post; every other member runs on the window's thread,
// reached through Synchronize (or Post, for the completion handler), so a
// front end never has to guard its widgets against the worker.
class JobHost {
public:
    virtual ~JobHost() = default;

    // Runs fn on the window's thread and blocks the calling worker until it has run.
    virtual void Synchronize(const std::function<void()>& fn) = 0;
    // Queues fn to run on the window's thread and returns at once.
    virtual void Post(std::function<void()> fn) = 0;

    // The four display calls.
    virtual void ShowStatus(const std::string& text) = 0;
    virtual void ShowCalcType(uint8_t calcType, const std::string& name) = 0;
    virtual void ShowProgress(int percent) = 0;
    virtual void RefreshFileList() = 0;

    // Modal boxes: errors are titled "Lodestrum Error" with a stop icon and OK.
    virtual void ShowError(const std::string& title, const std::string& text) = 0;
    virtual bool AskYesNo(const std::string& title, const std::string& text, MessageIcon icon) = 0;
    // The save dialog; nullopt when the user cancels.
    virtual std::optional<std::string> AskSaveFileName(const SaveDialogRequest& request) = 0;

    // The captured screen for the window's image.
    virtual void ShowScreenImage(const MonoImage& image) { (void)image; }
    // Cable detection moves the port selector; this is not a user change.
    virtual void SelectLinkPort(int index) { (void)index; }
    // How the job ended, told just before its completion handler runs.
    virtual void JobEnded(JobOutcome outcome, int code) { (void)outcome, (void)code; }
};

} // namespace lodestrum::engine
