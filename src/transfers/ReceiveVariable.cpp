#include "transfers/ReceiveVariable.h"

#include "files/Ti89File.h"
#include "files/Ti8xFile.h"
#include "protocol/Packets.h"
#include "transfers/Messages.h"
#include "transfers/ReceivedFile.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

namespace lodestrum::transfers {

using engine::JobOutcome;
using engine::SaveDialogRequest;
using engine::TTransThread;

namespace {

// A data packet is at most this long, whatever a header announced.
constexpr std::size_t MaxPacketData = 0xFFFF;

// One item as its header announced it.
struct Incoming {
    bool Family89 = false;
    std::vector<uint8_t> Header; // TI-8x: the VarHeader as sent
    std::string FullName;        // TI-89/92: the name as sent, folder included
    uint8_t TypeId = 0;
    std::vector<std::vector<uint8_t>> Parts;
};

std::size_t Announced(uint32_t size) { return std::min<std::size_t>(size, MaxPacketData); }

// Receives n VarHeader bytes: those that fit in HeaderBuffer are kept, the
// rest are read and dropped so the packet still ends where it says. Returns
// how many were kept.
std::size_t ReceiveTi89Header(TTransThread& job, uint16_t n) {
    const std::size_t kept = std::min<std::size_t>(n, job.HeaderBuffer.size());
    job.ReceiveBlock(job.HeaderBuffer.data(), static_cast<int32_t>(kept));
    for (std::size_t i = kept; i < n && !job.Terminated(); ++i) job.ReceiveByte();
    return kept;
}

// Type ID and name from a TI-89/92 VarHeader, bounded by what was received.
void ParseTi89Header(TTransThread& job, std::size_t kept, Incoming& item) {
    const auto& h = job.HeaderBuffer;
    item.TypeId = kept > 4 ? h[4] : 0;
    const std::size_t n = kept > 6 ? std::min<std::size_t>(h[5], kept - 6) : 0;
    item.FullName.assign(reinterpret_cast<const char*>(h.data()) + 6, n);
}

// Step 4: the header of a TI-89/92 variable, after any RDY packets.
bool ReceiveTi89Item(TTransThread& job, Incoming& item) {
    auto& p = job.PacketBuffer;
    while (p[1] == protocol::CmdRdy) {
        ReceiveLength(job);
        job.ReceiveBlock(p.data(), 2);
        if (job.Terminated()) return false;
    }
    const uint8_t before = job.CalcType.load();
    protocol::ApplyMachineId(job, p[0], false);
    if (job.CalcType.load() != before) job.ShowCalcType();

    const uint16_t n = ReceiveLength(job);
    if (job.Terminated()) return false;
    const std::size_t kept = ReceiveTi89Header(job, n);
    job.ReceiveBlock(p.data(), 2);
    protocol::SendAck(job);

    item.Family89 = true;
    ParseTi89Header(job, kept, item);
    const uint32_t size = kept >= 4 ? static_cast<uint32_t>(job.HeaderBuffer[0]) |
                                          (static_cast<uint32_t>(job.HeaderBuffer[1]) << 8) |
                                          (static_cast<uint32_t>(job.HeaderBuffer[2]) << 16) |
                                          (static_cast<uint32_t>(job.HeaderBuffer[3]) << 24)
                                    : 0;
    // The entry's last 12 bytes: name padded to 8, type ID, three zeros.
    const auto [folder, name] = files::SplitTi89Name(item.FullName);
    std::fill_n(job.WorkBuffer.begin(), 12, 0);
    std::memcpy(job.WorkBuffer.data(), name.data(), name.size());
    job.WorkBuffer[8] = item.TypeId;

    // The announced size only sizes the first reservation: a data packet
    // cannot be longer than 65535 bytes whatever the header says.
    item.Parts.emplace_back().reserve(Announced(size) + 6);
    return true;
}

// Step 5: the header of a TI-82/83/85/86 variable or backup.
bool ReceiveTi8xItem(TTransThread& job, Incoming& item) {
    auto& p = job.PacketBuffer;
    const uint16_t length = ReceiveLength(job);
    if (job.Terminated()) return false;
    job.WorkBuffer[0] = p[2];
    job.WorkBuffer[1] = p[3];
    item.Header.resize(length);
    job.ReceiveBlock(item.Header.data(), length);
    std::copy_n(item.Header.begin(), std::min<std::size_t>(length, job.WorkBuffer.size() - 2),
                job.WorkBuffer.begin() + 2);
    job.ReceiveBlock(p.data(), 2);
    protocol::SendAck(job);

    const auto& h = item.Header;
    auto le16 = [&h](std::size_t at) -> uint32_t {
        return h.size() >= at + 2 ? static_cast<uint32_t>(h[at] | (h[at + 1] << 8)) : 0;
    };
    item.Parts.emplace_back().reserve(le16(0));
    if (h.size() > 2 && files::IsTi8xBackup(job.CalcType.load(), h[2])) {
        item.Parts.emplace_back().reserve(le16(3));
        item.Parts.emplace_back().reserve(le16(5));
    }
    return true;
}

// Step 7 and 8: the file name, from the automatic name or a dialog. False
// when the user cancelled.
bool ChooseFileName(TTransThread& job, const Incoming& item) {
    const uint8_t calcType = job.CalcType.load();
    std::string automatic;
    if (item.Family89) {
        automatic = files::Ti89ReceivedName(calcType, item.FullName, item.TypeId);
        if (!automatic.empty() && item.TypeId == files::Ti89BackupTypeId) job.PartCount = 3;
    } else {
        automatic = files::Ti8xReceivedName(calcType, item.Header);
        if (!automatic.empty() && item.Header.size() > 2)
            job.PartCount = files::Ti8xPartCount(calcType, item.Header[2], job.TI86FourParts);
    }

    auto ask = [&job](const char* title, const std::string& name, int filter) {
        const auto chosen = job.AskSaveFileName(SaveDialogRequest{title, name, filter});
        if (!chosen) return false;
        job.FileName = *chosen;
        return true;
    };
    if (automatic.empty()) return ask(text::SaveFileAs, job.FileName, 1);

    job.FileName = automatic;
    if (job.PartCount != 1) return ask(text::SaveBackupAs, automatic, 2);
    if (ExistsForWriting(job.FileName)) {
        job.StatusText = text::ReplaceStart + job.FileName + text::ReplaceEnd;
        if (!job.AskYesNo(text::ReplaceTitle, job.StatusText)) return ask(text::SaveFileAs, automatic, 1);
    }
    return true;
}

// One data packet into part: header, the data byte by byte with progress,
// the checksum (not checked). skip leading bytes are read and dropped.
void ReceivePart(TTransThread& job, std::vector<uint8_t>& part, std::size_t skip) {
    auto& p = job.PacketBuffer;
    job.ReceiveBlock(p.data(), 4);
    if (job.Terminated()) return;
    const std::size_t m = static_cast<std::size_t>(p[2] | (p[3] << 8));
    const std::size_t dropped = std::min(skip, m);
    job.ReceiveBlock(p.data(), static_cast<int32_t>(dropped));
    const std::size_t r = m - dropped;
    for (std::size_t k = 0; k < r; ++k) {
        part.push_back(job.ReceiveByte());
        job.SetProgress(static_cast<int32_t>(k * 100 / r));
        if (job.Terminated()) return;
    }
    job.ReceiveBlock(p.data(), 2);
}

std::vector<uint8_t> BuildImage(TTransThread& job, Incoming& item) {
    const uint8_t calcType = job.CalcType.load();
    if (!item.Family89)
        return files::BuildTi8xFile(calcType, files::Ti8xComment::Transferred,
                                    {files::Ti8xVariable{std::move(item.Header), std::move(item.Parts)}});
    std::vector<uint8_t> data(4, 0);
    data.insert(data.end(), item.Parts.front().begin(), item.Parts.front().end());
    return files::BuildTi89SingleFile(calcType, job.TI89SaveAs92Plus,
                                      files::Ti89Variable{item.FullName, item.TypeId, std::move(data)});
}

bool NoMemory(TTransThread& job) {
    job.ShowError(text::NoMemory);
    job.SetOutcome(JobOutcome::Error);
    return false;
}

} // namespace

bool ReceiveVariable(TTransThread& job) {
    job.StatusText = text::Receiving;
    job.ShowStatus();
    job.PartCount = 1;
    job.ReleaseFileData();

    auto& p = job.PacketBuffer;
    job.ReceiveBlock(p.data(), 2);
    if (job.Terminated()) return false;
    protocol::ApplyMachineId(job, p[0], true);
    job.ShowCalcType();

    if (p[1] == protocol::CmdEot) {
        ReceiveLength(job);
        protocol::SendAck(job);
        return false;
    }

    Incoming item;
    try {
        const bool got = job.CalcType.load() >= 8 ? ReceiveTi89Item(job, item)
                                                  : ReceiveTi8xItem(job, item);
        if (!got) return false;
    } catch (const std::bad_alloc&) {
        return NoMemory(job);
    }

    auto cleanUp = [&job] {
        job.ReleaseFileData();
        job.Progress = 0;
        job.ShowProgress();
        return !job.Terminated() && job.PartCount == 1;
    };
    if (job.Terminated() || !ChooseFileName(job, item)) return cleanUp();

    job.StatusText = text::ReceivingName + FileNamePart(job.FileName) + "...";
    job.ShowStatus();

    protocol::SendShort(job, protocol::CmdCts);
    job.Pause(25);
    job.ReceiveBlock(p.data(), 4);
    if (job.Terminated()) return cleanUp();

    try {
        if (item.Family89) {
            ReceivePart(job, item.Parts.front(), 4);
            if (job.Terminated()) return cleanUp();
            protocol::SendAck(job);
        } else {
            item.Parts.resize(job.PartCount);
            for (auto& part : item.Parts) {
                ReceivePart(job, part, 0);
                if (job.Terminated()) return cleanUp();
                if (job.PartCount == 1) {
                    protocol::SendAck(job);
                } else {
                    protocol::SendShort(job, protocol::CmdAck);
                    job.Pause(25);
                }
            }
        }
        if (job.Terminated()) return cleanUp();
        job.FileData.emplace(BuildImage(job, item));
    } catch (const std::bad_alloc&) {
        NoMemory(job);
        cleanUp();
        return false;
    }

    switch (WriteReceivedFile(job.FileName, *job.FileData)) {
    case WriteResult::Written: break;
    case WriteResult::CannotCreate:
        job.StatusText = text::UnableToCreate + job.FileName;
        job.ShowError(job.StatusText);
        job.SetOutcome(JobOutcome::Error);
        return false;
    case WriteResult::ShortWrite:
        job.ShowError(text::CantWrite);
        job.SetOutcome(JobOutcome::Error);
        break;
    }
    return cleanUp();
}

} // namespace lodestrum::transfers
