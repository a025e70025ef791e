#include "cli/Runner.h"

#include "cli/ImageFiles.h"
#include "cli/Messages.h"
#include "engine/LinkSerializer.h"

#include <algorithm>

namespace lodestrum::cli {

using engine::JobOutcome;

namespace {

class CommandRun {
public:
    CommandRun(const RunSettings& settings, CliHost& host, Console& console,
               const RunEnvironment& environment)
        : Settings(settings), Host(host), Out(console), CalcType(settings.CalcType),
          Env{environment.Driver, &Serializer, environment.Virtual, environment.Transfers} {}

    // Runs one job; the exit code its end calls for.
    int Job(const std::string& path, uint8_t op) {
        if (Host.StopRequested()) return exitcode::Stopped;
        Last = Host.RunJob(path, op, Settings.Job, Env, CalcType);
        return Judge(Last);
    }

    int Send(const std::vector<std::string>& files) {
        if (files.size() == 1) return Job(files[0], engine::OpSendSingle);
        int worst = exitcode::Done;
        // As the window's batch: a file that fails does not end the series.
        for (const auto& file : files) {
            worst = std::max(worst, Job(file, engine::OpSendSeries));
            if (worst == exitcode::Stopped) return worst;
        }
        if (CalcType.load() < 8 || Settings.Job.TI89VarLinkOnly)
            worst = std::max(worst, Job("", engine::OpCloseSeries));
        return worst;
    }

    int Capture(const std::string& path) {
        const int code = Job("", engine::OpCaptureScreen);
        if (code != exitcode::Done) return code;
        const auto& image = Host.Image();
        if (!image) {
            Out.Error(text::NoImage());
            return exitcode::Failed;
        }
        const auto bytes = EncodeImage(*image, ImageFormatForPath(path).value_or(ImageFormat::Bmp));
        std::string why = "the picture is incomplete";
        if (bytes.empty() || !WriteFileAtomically(path, bytes, why)) {
            Out.Error(text::CannotWriteImage(path, why));
            return exitcode::Failed;
        }
        Out.Note(text::ImageSaved(path, image->Width, image->Height));
        return exitcode::Done;
    }

    int Detect() {
        const int code = Job("", engine::OpDetectCable);
        if (code == exitcode::Done && Host.PortsDetected() == 0) return exitcode::Failed;
        return code;
    }

private:
    int Judge(JobOutcome outcome) {
        if (outcome == JobOutcome::Stopped || Host.StopRequested()) return exitcode::Stopped;
        if (Host.QuestionRefused()) return exitcode::Usage;
        if (outcome == JobOutcome::Refused) {
            Out.Error(text::Refused(Host.LastCode()));
            return exitcode::Failed;
        }
        if (outcome == JobOutcome::Error || Host.ErrorShown()) return exitcode::Failed;
        return exitcode::Done;
    }

    const RunSettings& Settings;
    CliHost& Host;
    Console& Out;
    std::atomic<uint8_t> CalcType;
    engine::LinkSerializer Serializer;
    engine::LinkEnvironment Env;
    JobOutcome Last = JobOutcome::Done;
};

// The transfer a command needs, when this build lacks it.
const char* MissingTransfer(Command command, const engine::TransferSet& t) {
    switch (command) {
    case Command::Send: return t.SendFile && t.SendEot ? nullptr : "sending";
    case Command::Receive: return t.ReceiveVariable ? nullptr : "receiving";
    case Command::ReceiveGroup: return t.ReceiveGroup ? nullptr : "receiving a group";
    case Command::Capture: return t.CaptureScreen ? nullptr : "screen capture";
    default: return nullptr;
    }
}

} // namespace

int RunCommand(const CliOptions& options, const RunSettings& settings, CliHost& host,
               Console& console, const RunEnvironment& environment) {
    static const engine::TransferSet none;
    const engine::TransferSet& transfers = environment.Transfers ? *environment.Transfers : none;
    if (const char* missing = MissingTransfer(options.Cmd, transfers)) {
        console.Error(text::NotAvailable(missing));
        return exitcode::Failed;
    }
    // Without a virtual cable every byte would wait for a peer that is not there.
    if (settings.Job.UseVirtualLink && !environment.Virtual) {
        console.Error(text::NoVirtualCable());
        return exitcode::Failed;
    }
    RunEnvironment env = environment;
    env.Transfers = &transfers;
    CommandRun run(settings, host, console, env);
    auto refusedCode = [&] { return host.QuestionRefused() ? exitcode::Usage : exitcode::Failed; };

    switch (options.Cmd) {
    case Command::Send:
        return run.Send(options.Files);
    case Command::Receive:
        return run.Job("", engine::OpReceiveVariables);
    case Command::ReceiveGroup:
        if (!host.MayReplace(options.Files[0])) return refusedCode();
        return run.Job(options.Files[0], engine::OpReceiveGroup);
    case Command::Capture:
        if (!host.MayReplace(options.Files[0])) return refusedCode();
        return run.Capture(options.Files[0]);
    case Command::Detect:
        return run.Detect();
    case Command::None:
        break;
    }
    return exitcode::Usage;
}

} // namespace lodestrum::cli
