#include "transfers/ReceiveGroup.h"

#include "files/Ti89File.h"
#include "files/Ti8xFile.h"
#include "protocol/Packets.h"
#include "transfers/Messages.h"
#include "transfers/ReceivedFile.h"

#include <algorithm>
#include <new>
#include <stdexcept>

namespace lodestrum::transfers {

using engine::JobOutcome;
using engine::TTransThread;

namespace {

// Counts what the group holds, so an endless transmission ends in a clear
// error instead of exhausting memory.
class GroupBudget {
public:
    // Counts one item that has arrived; false once the group is too large.
    bool Take(std::size_t bytes) {
        ++Items;
        Bytes += bytes;
        return Items <= MaxGroupItems && Bytes <= MaxReceivedBytes;
    }

private:
    std::size_t Items = 0;
    std::size_t Bytes = 0;
};

void Fail(TTransThread& job, const char* message) {
    job.ShowError(message);
    job.SetOutcome(JobOutcome::Error);
}

// A data packet's data, byte by byte with progress (k counted as the group
// transfer of each family counts it).
bool ReceiveData(TTransThread& job, std::vector<uint8_t>& data, bool countFromOne) {
    auto& p = job.PacketBuffer;
    job.ReceiveBlock(p.data(), 4);
    if (job.Terminated()) return false;
    const std::size_t m = static_cast<std::size_t>(p[2] | (p[3] << 8));
    data.reserve(m);
    for (std::size_t k = 0; k < m; ++k) {
        data.push_back(job.ReceiveByte());
        job.SetProgress(static_cast<int32_t>((countFromOne ? k + 1 : k) * 100 / m));
        if (job.Terminated()) return false;
    }
    job.ReceiveBlock(p.data(), 2);
    return !job.Terminated();
}

// The header packet after its machine ID and command: length, header bytes
// and the checksum, acknowledged.
std::vector<uint8_t> ReceiveHeader(TTransThread& job) {
    const uint16_t length = ReceiveLength(job);
    std::vector<uint8_t> header(length);
    job.ReceiveBlock(header.data(), length);
    job.ReceiveBlock(job.PacketBuffer.data(), 2);
    protocol::SendAck(job);
    return header;
}

// The name of a TI-89/92 VarHeader, bounded by the header's size.
std::string Ti89FullName(const std::vector<uint8_t>& header) {
    if (header.size() <= 6) return {};
    const std::size_t n = std::min<std::size_t>(header[5], header.size() - 6);
    return std::string(header.begin() + 6, header.begin() + 6 + static_cast<std::ptrdiff_t>(n));
}

void ShowReceiving(TTransThread& job, const std::string& detail = {}) {
    job.StatusText = text::ReceivingName + FileNamePart(job.FileName) + detail + "...";
    job.ShowStatus();
}

// An EOT that comes as the very first packet: nothing to store. Its
// acknowledgement ends the calculator's transmission.
bool EndsAtOnce(TTransThread& job) {
    if (job.PacketBuffer[1] != protocol::CmdEot) return false;
    ReceiveLength(job);
    protocol::SendAck(job);
    return true;
}

// True once the transmission has come to its EOT, which is acknowledged;
// false when the job was stopped first.
bool ReceiveTi8xGroup(TTransThread& job, std::vector<files::Ti8xVariable>& vars) {
    auto& p = job.PacketBuffer;
    std::vector<uint8_t> header = ReceiveHeader(job);
    if (job.Terminated()) return false;
    job.FileName = files::WithGroupExtension(job.FileName, job.CalcType.load());
    ShowReceiving(job);
    GroupBudget budget;
    for (;;) {
        files::Ti8xVariable var{std::move(header), {{}}};
        protocol::SendShort(job, protocol::CmdCts);
        job.Pause(25);
        job.ReceiveBlock(p.data(), 4);
        if (job.Terminated()) return false;
        if (!ReceiveData(job, var.Parts.front(), false)) return false;
        job.Pause(25);
        if (job.Terminated()) return false;
        protocol::SendAck(job);
        if (!budget.Take(var.Header.size() + var.Parts.front().size())) {
            Fail(job, text::NoMemory);
            return false;
        }
        vars.push_back(std::move(var));

        job.ReceiveBlock(p.data(), 2);
        if (job.Terminated()) return false;
        if (p[1] == protocol::CmdEot) {
            ReceiveLength(job);
            job.Pause(25);
            protocol::SendAck(job);
            return !job.Terminated();
        }
        header = ReceiveHeader(job);
        if (job.Terminated()) return false;
    }
}

// RDY packets carry nothing; whenever one comes, the next packet is read.
bool SkipReady(TTransThread& job) {
    auto& p = job.PacketBuffer;
    while (p[1] == protocol::CmdRdy) {
        ReceiveLength(job);
        job.ReceiveBlock(p.data(), 2);
        if (job.Terminated()) return false;
    }
    return true;
}

bool ReceiveTi89Group(TTransThread& job, std::vector<files::Ti89Variable>& vars) {
    auto& p = job.PacketBuffer;
    if (!SkipReady(job)) return false;
    protocol::ApplyMachineId(job, p[0], false);
    job.ShowCalcType();
    if (EndsAtOnce(job)) return false;
    std::vector<uint8_t> header = ReceiveHeader(job);
    if (job.Terminated()) return false;
    job.FileName = files::WithGroupExtension(job.FileName, job.CalcType.load());
    ShowReceiving(job);
    GroupBudget budget;
    for (;;) {
        files::Ti89Variable var{Ti89FullName(header), header.size() > 4 ? header[4] : uint8_t{0}, {}};
        ShowReceiving(job, ": " + var.FullName);
        protocol::SendShort(job, protocol::CmdCts);
        job.ReceiveBlock(p.data(), 4);
        if (job.Terminated()) return false;
        if (!ReceiveData(job, var.PacketData, true)) return false;
        protocol::SendAck(job);
        if (!budget.Take(var.FullName.size() + var.PacketData.size())) {
            Fail(job, text::NoMemory);
            return false;
        }
        vars.push_back(std::move(var));

        job.ReceiveBlock(p.data(), 2);
        if (!SkipReady(job) || job.Terminated()) return false;
        if (p[1] == protocol::CmdEot) {
            ReceiveLength(job);
            protocol::SendAck(job);
            return !job.Terminated();
        }
        header = ReceiveHeader(job);
        if (job.Terminated()) return false;
    }
}

void ReceiveAndWrite(TTransThread& job) {
    auto& p = job.PacketBuffer;
    job.ReceiveBlock(p.data(), 2);
    if (job.Terminated()) return;
    protocol::ApplyMachineId(job, p[0], false);
    job.ShowCalcType();
    try {
        if (job.CalcType.load() < 8) {
            if (EndsAtOnce(job)) return;
            std::vector<files::Ti8xVariable> vars;
            if (!ReceiveTi8xGroup(job, vars)) return;
            job.FileData.emplace(
                files::BuildTi8xFile(job.CalcType.load(), files::Ti8xComment::Saved, vars));
        } else {
            std::vector<files::Ti89Variable> vars;
            if (!ReceiveTi89Group(job, vars)) return;
            job.FileData.emplace(
                files::BuildTi89GroupFile(job.CalcType.load(), job.TI89SaveAs92Plus, vars));
        }
    } catch (const std::bad_alloc&) {
        Fail(job, text::NoMemory);
        return;
    } catch (const std::length_error&) {
        Fail(job, text::NoMemory);
        return;
    }
    if (job.Terminated()) return;
    switch (WriteReceivedFile(job.FileName, *job.FileData)) {
    case WriteResult::Written: break;
    case WriteResult::CannotCreate: Fail(job, text::UnableToCreateFile); break;
    case WriteResult::ShortWrite: Fail(job, text::CantWrite); break;
    }
}

} // namespace

void ReceiveGroup(TTransThread& job) {
    job.ReleaseFileData();
    job.StatusText = text::Receiving;
    job.ShowStatus();
    ReceiveAndWrite(job);
    job.ReleaseFileData();
    job.Progress = 0;
    job.ShowProgress();
}

} // namespace lodestrum::transfers
