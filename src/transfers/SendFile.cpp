#include "transfers/SendFile.h"

#include "files/Signature.h"
#include "transfers/Messages.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lodestrum::transfers {

using engine::JobOutcome;
using engine::TTransThread;

namespace {

std::string BaseNameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool HasTibExtension(const std::string& path) {
    const std::string base = BaseNameOf(path);
    if (base.size() < 4) return false;
    std::string ext = base.substr(base.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return ext == ".TIB";
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : Fd(fd) {}
    ~FileDescriptor() {
        if (Fd >= 0) ::close(Fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return Fd; }

private:
    int Fd;
};

// Loads the whole file into FileData, exactly its size; the route never
// reads past it. Reports its own errors.
bool LoadFile(TTransThread& job) {
    FileDescriptor file(::open(job.FileName.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    // Only a regular file can be sent: a folder or a device would read as
    // nothing, or forever.
    if (file.Get() < 0 || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        job.ShowError(text::UnableToOpen);
        return false;
    }
    job.ReleaseFileData();
    const auto size = static_cast<std::size_t>(info.st_size);
    if (!job.AllocateFileData(size)) {
        job.ShowError(text::NoMemory);
        return false;
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(file.Get(), job.FileData->data() + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    if (done < size) {
        job.ShowError(text::UnableToRead);
        job.ReleaseFileData();
        return false;
    }
    return true;
}

} // namespace

void SendFile(TTransThread& job) {
    SendContext context;
    context.BaseName = BaseNameOf(job.FileName);
    job.StatusText = text::Sending + context.BaseName + "...";
    job.ShowStatus();

    if (!LoadFile(job)) {
        job.SetOutcome(JobOutcome::Error);
        return;
    }
    context.Image = std::span<const uint8_t>(*job.FileData);

    const files::SignatureInfo signature = files::ReadSignature(context.Image);
    if (HasTibExtension(job.FileName)) {
        context.IsTib = true;
        context.IsAms = true;
    } else if (!signature.StartsWithTi) {
        if (!job.AskYesNo(text::BadFileTitle, text::NotTi8x)) {
            job.ReleaseFileData();
            job.SetOutcome(JobOutcome::Error);
            return;
        }
    }
    job.PartCount = 1;
    if (signature.CalcType) job.CalcType.store(*signature.CalcType);
    const bool isFlash = context.IsTib || signature.IsFlash;

    bool completed;
    if (isFlash) {
        completed = SendFlashRoute(job, context);
    } else {
        job.ShowCalcType();
        if (job.CalcType.load() >= 8)
            completed = SendTi89Route(job, context);
        else
            completed = SendTi8xRoute(job, context);
    }
    if (!completed) {
        if (job.Terminated()) job.SetOutcome(JobOutcome::Stopped);
        return;
    }
    job.Progress = 0;
    job.ShowProgress();
}

} // namespace lodestrum::transfers
