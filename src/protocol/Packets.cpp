#include "protocol/Packets.h"

namespace lodestrum::protocol {

uint16_t Checksum(std::span<const uint8_t> data) {
    uint32_t sum = 0;
    for (uint8_t b : data) sum += b;
    return static_cast<uint16_t>(sum);
}

void SendShort(engine::TTransThread& job, uint8_t command) {
    job.SendByte(job.CalcType.load());
    job.SendByte(command);
    job.SendByte(0x00);
    job.SendByte(0x00);
}

void SendAck(engine::TTransThread& job) {
    SendShort(job, CmdAck);
    job.Pause(20);
}

void SendEot(engine::TTransThread& job) {
    SendShort(job, CmdEot);
    job.Pause(20);
    job.ReceiveBlock(job.PacketBuffer.data(), 4);
}

PacketWriter::PacketWriter(engine::TTransThread& job, uint8_t command, uint16_t length)
    : PacketWriter(job, command, static_cast<uint8_t>(length & 0xFF),
                   static_cast<uint8_t>(length >> 8)) {}

PacketWriter::PacketWriter(engine::TTransThread& job, uint8_t command, uint8_t lengthLow,
                           uint8_t lengthHigh)
    : Job(job) {
    Job.SendByte(Job.CalcType.load());
    Job.SendByte(command);
    Job.SendByte(lengthLow);
    Job.SendByte(lengthHigh);
}

void PacketWriter::Byte(uint8_t value) {
    Sum += value;
    Job.SendByte(value);
}

void PacketWriter::Block(std::span<const uint8_t> bytes) {
    for (uint8_t b : bytes) Sum += b;
    Job.SendBlock(bytes.data(), static_cast<int32_t>(bytes.size()));
}

void PacketWriter::Finish() {
    const uint8_t sum[2] = {static_cast<uint8_t>(Sum & 0xFF), static_cast<uint8_t>((Sum >> 8) & 0xFF)};
    Job.SendBlock(sum, 2);
}

VarVerdict ReadVarReplies(engine::TTransThread& job, ReplyTable table) {
    auto& reply = job.PacketBuffer;
    job.ReceiveBlock(reply.data(), 4);
    job.ReceiveBlock(reply.data(), 4);
    const uint8_t command = reply[1];
    if (command == CmdSkip) {
        job.ReceiveBlock(reply.data(), 3);
        const int code = reply[0];
        if (code == 2) return {VarReply::RefusedAck, code};
        if (code == 1 && table == ReplyTable::Variable) return {VarReply::RefusedQuiet, code};
        return {VarReply::Proceed, code};
    }
    if (command != CmdCts && table == ReplyTable::FlashBlock) return {VarReply::Abort, -1};
    return {VarReply::Proceed, -1};
}

uint8_t CalcTypeFromMachineId(uint8_t id, uint8_t current, bool shortForm) {
    if (id >= 0x81 && id <= 0x8F) return static_cast<uint8_t>(id - 0x80);
    if (id >= 0x90) return static_cast<uint8_t>(id - 0x90);
    if (shortForm || id < 0x10) return id;
    return current;
}

void ApplyMachineId(engine::TTransThread& job, uint8_t id, bool shortForm) {
    job.CalcType.store(CalcTypeFromMachineId(id, job.CalcType.load(), shortForm));
}

} // namespace lodestrum::protocol
