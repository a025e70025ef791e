#include "files/FlashFile.h"
#include "protocol/Packets.h"
#include "transfers/Messages.h"
#include "transfers/SendFile.h"

#include <array>
#include <cstring>

namespace lodestrum::transfers {

using engine::JobOutcome;
using engine::MessageIcon;
using engine::TTransThread;

namespace {

constexpr uint32_t BlockSize = 65530;

struct FlashDescription {
    std::string Name;
    std::string Date;
    uint32_t DataSize = 0;
    std::size_t DataStart = 0;
};

bool Declined(TTransThread& job) {
    job.ReleaseFileData();
    job.SetOutcome(JobOutcome::Error);
    return false;
}

bool Damaged(TTransThread& job) {
    job.ReleaseFileData();
    job.ShowError(text::Damaged);
    job.SetOutcome(JobOutcome::Error);
    return false;
}

// Steps over licence blocks to the block to send. False when the user
// declined or the file ends inside a header or its data.
bool ReadFlashBlocks(TTransThread& job, SendContext& context, FlashDescription& out) {
    std::size_t start = 0;
    for (;;) {
        const auto header = files::ReadFlashHeader(context.Image, start);
        if (!header) return Damaged(job);
        job.CalcType.store(
            protocol::CalcTypeFromMachineId(header->DeviceType, job.CalcType.load(), false));
        job.ShowCalcType();
        if (header->IsAms()) context.IsAms = true;
        if (!header->IsLicense()) {
            if (!files::FlashDataInside(context.Image, *header)) return Damaged(job);
            out.Name = header->Name;
            out.Date = header->DateText;
            out.DataSize = header->DataSize;
            out.DataStart = header->DataStart;
            return true;
        }
        start = header->NextBlock();
        if (!files::HasFullFlashSignature(context.Image, start) &&
            !job.AskYesNo(text::BadFileTitle, text::NoFlashData))
            return Declined(job);
    }
}

} // namespace

bool SendFlashRoute(TTransThread& job, SendContext& context) {
    if (job.CalcType.load() < 8 && !job.AskYesNo(text::BadCalcTitle, text::FlashOnlyTested))
        return Declined(job);

    FlashDescription flash;
    if (context.IsTib) {
        flash.DataSize = static_cast<uint32_t>(context.Image.size());
        const std::string question = "Send the AMS update in " + context.BaseName +
                                     " ?\nSize = " + std::to_string(flash.DataSize) +
                                     "\nFLASH Applications cannot be sent as .tib files!";
        if (!job.AskYesNo(text::AmsInfoTitle, question, MessageIcon::Information))
            return Declined(job);
    } else {
        if (!ReadFlashBlocks(job, context, flash)) return false;
        const std::string question =
            std::string("Send ") + (context.IsAms ? "AMS '" : "FLASH '") + flash.Name +
            "' dated " + flash.Date + "?\nSize = " + std::to_string(flash.DataSize) +
            "\nCheck if calc type is correct (Main screen botton-left).\nContinue?";
        if (!job.AskYesNo(text::FlashInfoTitle, question, MessageIcon::Information))
            return Declined(job);
    }

    const uint32_t last = flash.DataSize / BlockSize;
    job.PartCount = last;

    // VAR: data size, then 0x23 0x00 for AMS or 0x24, N and the name.
    std::array<uint8_t, 6 + 255> header{};
    for (int i = 0; i < 4; ++i) header[i] = static_cast<uint8_t>(flash.DataSize >> (8 * i));
    std::size_t length = 6;
    if (context.IsAms) {
        header[4] = 0x23;
        header[5] = 0x00;
    } else {
        const std::size_t n = std::min<std::size_t>(flash.Name.size(), 255);
        header[4] = 0x24;
        header[5] = static_cast<uint8_t>(n);
        std::memcpy(&header[6], flash.Name.data(), n);
        length += n;
    }
    protocol::PacketWriter var(job, protocol::CmdVar, static_cast<uint16_t>(length));
    var.Block({header.data(), length});
    var.Finish();
    job.Pause(20);
    if (job.Terminated()) return false;

    const auto data = context.Image.subspan(flash.DataStart, flash.DataSize);
    for (uint32_t i = 0; i <= last; ++i) {
        job.StatusText = "Sending block " + std::to_string(i + 1) + " of " +
                         std::to_string(last + 1);
        job.ShowStatus();
        const auto verdict = protocol::ReadVarReplies(job, protocol::ReplyTable::FlashBlock);
        if (job.Terminated()) return false;
        if (verdict.Action == protocol::VarReply::Abort) {
            job.SetOutcome(JobOutcome::Refused, -1);
            return false;
        }
        protocol::SendAck(job);
        if (verdict.Action == protocol::VarReply::RefusedAck) {
            job.SetOutcome(JobOutcome::Refused, verdict.SkipCode);
            return false;
        }

        const uint32_t m = i < last ? BlockSize : flash.DataSize % BlockSize;
        const auto block = data.subspan(static_cast<std::size_t>(i) * BlockSize, m);
        protocol::PacketWriter packet(job, protocol::CmdData, static_cast<uint16_t>(m));
        job.Progress = 0;
        for (uint32_t k = 1; k <= m; ++k) {
            packet.Byte(block[k - 1]);
            job.SetProgress(static_cast<int32_t>(uint64_t{k} * 100 / m));
            if (job.Terminated()) return false;
        }
        packet.Finish();
        job.ReceiveBlock(job.PacketBuffer.data(), 4);
        protocol::SendShort(job, i == last ? protocol::CmdEot : protocol::CmdCont);
        job.Pause(20);
    }
    job.StatusText = "The " + std::to_string(last + 1) + "-blocks FLASH file was sent completely.";
    job.ShowStatus();
    return !job.Terminated();
}

} // namespace lodestrum::transfers
