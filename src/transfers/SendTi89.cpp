#include "files/Ti89File.h"
#include "protocol/Packets.h"
#include "transfers/Messages.h"
#include "transfers/SendFile.h"

#include <array>
#include <cstring>

namespace lodestrum::transfers {

using engine::JobOutcome;
using engine::TTransThread;

namespace {

std::string UpToZero(const std::string& text, std::size_t limit) {
    const auto zero = text.find('\0');
    return text.substr(0, std::min(zero == std::string::npos ? text.size() : zero, limit));
}

} // namespace

bool SendTi89Route(TTransThread& job, const SendContext& context) {
    const auto image = context.Image;
    const auto table = files::ReadTi89Table(image);
    if (!table) {
        job.ReleaseFileData();
        job.ShowError(text::Damaged);
        job.SetOutcome(JobOutcome::Error);
        return false;
    }

    std::string folder;
    bool useFolder = true;
    if (job.TI89NoFolderName)
        useFolder = false;
    else if (job.TI89SendToFolder)
        folder = UpToZero(job.DefaultFolder, 8);
    else
        folder = table->Folder;
    const bool foldersFromFile = !job.TI89NoFolderName && !job.TI89SendToFolder;

    for (const auto& entry : table->Entries) {
        if (entry.TypeId == files::Ti89FolderTypeId) {
            if (foldersFromFile) folder = entry.Name;
            continue;
        }
        // Checked before anything of the variable goes out.
        const auto contents = files::Ti89VariableContents(image, entry.Offset);
        if (!contents) {
            job.ReleaseFileData();
            job.ShowError(text::Damaged);
            job.SetOutcome(JobOutcome::Error);
            return false;
        }
        const std::string fullName = useFolder ? folder + "\\" + entry.Name : entry.Name;
        const std::size_t n = fullName.size(); // at most 8 + 1 + 8
        const uint32_t size = static_cast<uint32_t>(contents->size());

        // VAR: S + 2, type ID, n, the name, a zero byte.
        std::array<uint8_t, 32> header{};
        const uint32_t varSize = size + 2;
        for (int i = 0; i < 4; ++i) header[i] = static_cast<uint8_t>(varSize >> (8 * i));
        header[4] = entry.TypeId;
        header[5] = static_cast<uint8_t>(n);
        std::memcpy(&header[6], fullName.data(), n);
        header[6 + n] = 0;
        protocol::PacketWriter var(job, protocol::CmdVar, static_cast<uint16_t>(n + 7));
        var.Block({header.data(), n + 7});
        var.Finish();
        job.Pause(20);
        if (job.Terminated()) return false;

        const auto verdict = protocol::ReadVarReplies(job, protocol::ReplyTable::Variable);
        if (job.Terminated()) return false;
        if (verdict.Action != protocol::VarReply::Proceed) {
            if (verdict.Action == protocol::VarReply::RefusedAck) protocol::SendAck(job);
            job.SetOutcome(JobOutcome::Refused, verdict.SkipCode);
            return false;
        }
        protocol::SendAck(job);

        job.StatusText = text::Sending + context.BaseName + " : " + fullName + "...";
        job.ShowStatus();

        // DATA: four zero bytes, S big-endian, the contents.
        const uint8_t lead[6] = {0, 0, 0, 0, static_cast<uint8_t>((size >> 8) & 0xFF),
                                 static_cast<uint8_t>(size & 0xFF)};
        protocol::PacketWriter data(job, protocol::CmdData, static_cast<uint16_t>(size + 6));
        data.Block(lead);
        job.Progress = 0;
        for (std::size_t k = 1; k <= size; ++k) {
            data.Byte((*contents)[k - 1]);
            job.SetProgress(static_cast<int32_t>(k * 100 / (size + 10)));
            if (job.Terminated()) return false;
        }
        data.Finish();
        job.Pause(25);
        job.ReceiveBlock(job.PacketBuffer.data(), 4);

        if (!job.TI89VarLinkOnly) {
            protocol::SendEot(job);
            job.Pause(100);
        }
        if (job.Terminated()) return false;
    }
    if (job.TransferOp == engine::OpSendSingle && job.TI89VarLinkOnly) {
        protocol::SendEot(job);
        job.Pause(100);
    }
    return !job.Terminated();
}

} // namespace lodestrum::transfers
