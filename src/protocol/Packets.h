#pragma once

#include "engine/TTransT.h"

#include <cstdint>
#include <span>

namespace lodestrum::protocol {

enum Command : uint8_t {
    CmdVar = 0x06,
    CmdCts = 0x09,
    CmdData = 0x15,
    CmdSkip = 0x36,
    CmdAck = 0x56,
    CmdRdy = 0x68,
    CmdScr = 0x6D,
    CmdCont = 0x78,
    CmdEot = 0x92,
};

// Low 16 bits of the unsigned sum of the bytes.
uint16_t Checksum(std::span<const uint8_t> data);

// A four-byte packet with no data: machine ID (the job's CalcType), command, 0, 0.
void SendShort(engine::TTransThread& job, uint8_t command);
// ACK, then 20 ms.
void SendAck(engine::TTransThread& job);
// EOT, 20 ms, then its four-byte reply into PacketBuffer, not examined.
void SendEot(engine::TTransThread& job);

// Writes one packet with data, byte by byte, summing as it goes. Progress
// and stop checks between data bytes are the caller's.
class PacketWriter {
public:
    // Sends machine ID, command and the two length bytes.
    PacketWriter(engine::TTransThread& job, uint8_t command, uint16_t length);
    // The two length bytes as a stored header holds them.
    PacketWriter(engine::TTransThread& job, uint8_t command, uint8_t lengthLow,
                 uint8_t lengthHigh);
    void Byte(uint8_t value);
    // A run of bytes sent with one SendBlock (they are summed too).
    void Block(std::span<const uint8_t> bytes);
    // The checksum, low byte first, with one SendBlock.
    void Finish();

private:
    engine::TTransThread& Job;
    uint32_t Sum = 0;
};

// What the calculator's answer to a VAR packet asks of the sender.
enum class VarReply {
    Proceed,      // acknowledge, then send the data
    RefusedAck,   // SKIP code 2: acknowledge, then end
    RefusedQuiet, // SKIP code 1 (variables): end without a reply
    Abort,        // FLASH block answered neither CTS nor SKIP: end, nothing more sent
};

enum class ReplyTable { Variable, FlashBlock };

struct VarVerdict {
    VarReply Action;
    int SkipCode; // -1 when the answer was no SKIP
};

// Reads the calculator's two replies to a VAR (or CONT) packet into
// PacketBuffer and judges the second by its command byte alone. The first
// (the calculator's ACK) is never examined.
VarVerdict ReadVarReplies(engine::TTransThread& job, ReplyTable table);

// Machine ID of a calculator's packet (or a FLASH file's device type) to a
// CalcType. The full form leaves `current` for IDs 0x10 to 0x80; the short
// form takes every such ID as it stands.
uint8_t CalcTypeFromMachineId(uint8_t id, uint8_t current, bool shortForm);
// Stores the result in the window's CalcType byte.
void ApplyMachineId(engine::TTransThread& job, uint8_t id, bool shortForm);

} // namespace lodestrum::protocol
