#include "files/Ti8xFile.h"
#include "protocol/Packets.h"
#include "transfers/Messages.h"
#include "transfers/SendFile.h"

namespace lodestrum::transfers {

using engine::JobOutcome;
using engine::TTransThread;
using protocol::PacketWriter;

namespace {

// Ends the job on the calculator's refusal, with the ACK that code 2 asks for.
bool Refused(TTransThread& job, const protocol::VarVerdict& verdict) {
    if (verdict.Action == protocol::VarReply::RefusedAck) protocol::SendAck(job);
    job.ReleaseFileData();
    job.SetOutcome(JobOutcome::Refused, verdict.SkipCode);
    return false;
}

} // namespace

bool SendTi8xRoute(TTransThread& job, const SendContext& context) {
    const auto image = context.Image;
    // The last two bytes, the file's checksum, are never read.
    const std::ptrdiff_t end = static_cast<std::ptrdiff_t>(image.size()) - 2;
    std::size_t position = files::Ti8xDataOffset;

    while (static_cast<std::ptrdiff_t>(position) < end) {
        const uint8_t calcType = job.CalcType.load();
        const auto typeId = files::Ti8xEntryTypeId(image, position);
        if (typeId && files::IsTi8xBackup(calcType, *typeId))
            job.PartCount = files::Ti8xPartCount(calcType, typeId, job.TI86FourParts);

        // The whole entry is checked before any of it goes out, so a damaged
        // file never sends half a variable.
        const auto entry = files::ParseTi8xEntry(image, position, job.PartCount);
        if (!entry) {
            job.ReleaseFileData();
            job.ShowError(text::Damaged);
            job.SetOutcome(JobOutcome::Error);
            return false;
        }

        PacketWriter var(job, protocol::CmdVar, image[position], image[position + 1]);
        for (std::size_t i = 0; i < entry->HeaderLength; ++i) {
            var.Byte(image[entry->HeaderOffset + i]);
            if (job.Terminated()) return false;
        }
        var.Finish();
        if (job.Terminated()) return false;

        const auto verdict = protocol::ReadVarReplies(job, protocol::ReplyTable::Variable);
        if (job.Terminated()) return false;
        if (verdict.Action != protocol::VarReply::Proceed) return Refused(job, verdict);
        job.Pause(30);
        protocol::SendAck(job);
        job.Pause(30);

        if (job.PartCount == 1) {
            const auto header = image.subspan(entry->HeaderOffset, entry->HeaderLength);
            job.StatusText = text::Sending + context.BaseName + " : " +
                             files::Ti8xVariableName(calcType, header) + "...";
            job.ShowStatus();
        }

        for (const auto& part : entry->Parts) {
            PacketWriter data(job, protocol::CmdData, image[part.LengthOffset],
                              image[part.LengthOffset + 1]);
            job.Progress = 0;
            for (std::size_t k = 1; k <= part.Length; ++k) {
                data.Byte(image[part.DataOffset + k - 1]);
                job.SetProgress(static_cast<int32_t>(k * 100 / part.Length));
                if (job.Terminated()) return false;
            }
            data.Finish();
            job.Pause(30);
            job.ReceiveBlock(job.PacketBuffer.data(), 4);
        }
        position = entry->Next;
        if (static_cast<std::ptrdiff_t>(position) < end) job.Pause(50);
    }
    if (job.Terminated()) return false;
    if (job.PartCount == 1 && job.TransferOp == engine::OpSendSingle) {
        protocol::SendEot(job);
        job.Pause(150);
    }
    return !job.Terminated();
}

} // namespace lodestrum::transfers
