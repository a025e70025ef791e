#include "vcalc/SimCalculator.h"

#include "files/MonoImageFile.h"
#include "files/ReceivedName.h"
#include "files/Ti89File.h"
#include "files/Ti8xFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace lodestrum::vcalc {

namespace {

constexpr uint8_t CmdVar = 0x06, CmdCts = 0x09, CmdData = 0x15, CmdSkip = 0x36, CmdAck = 0x56,
                  CmdRdy = 0x68, CmdScr = 0x6D, CmdCont = 0x78, CmdEot = 0x92;
constexpr uint8_t FlashAmsType = 0x23, FlashAppType = 0x24;

bool CarriesData(uint8_t command) {
    return command == CmdVar || command == CmdData || command == CmdSkip;
}

const char* CommandName(uint8_t command) {
    switch (command) {
    case 0x06: return "VAR";
    case 0x09: return "CTS";
    case 0x15: return "DATA";
    case 0x36: return "SKIP";
    case 0x56: return "ACK";
    case 0x68: return "RDY";
    case 0x6D: return "SCR";
    case 0x78: return "CONT";
    case 0x92: return "EOT";
    default: return "?";
    }
}

// Writes next to the target and renames, so a failed write never leaves half a file.
bool WriteFileAtomically(const std::filesystem::path& target, const std::vector<uint8_t>& bytes) {
    const auto temp = target.parent_path() / ("." + target.filename().string() + ".part");
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            std::error_code ec;
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, target, ec);
    if (ec) std::filesystem::remove(temp, ec);
    return !ec;
}

} // namespace

std::optional<Model> ParseModel(const std::string& text) {
    std::string t;
    for (char c : text) t += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (t.rfind("TI", 0) == 0) t = t.substr(2);
    if (!t.empty() && t[0] == '-') t = t.substr(1);
    if (t == "82") return Model::TI82;
    if (t == "83") return Model::TI83;
    if (t == "85") return Model::TI85;
    if (t == "86") return Model::TI86;
    if (t == "89") return Model::TI89;
    if (t == "92P" || t == "92+") return Model::TI92Plus;
    if (t == "92") return Model::TI92;
    return std::nullopt;
}

uint8_t ModelCalcType(Model model) {
    switch (model) {
    case Model::TI82: return 2;
    case Model::TI83: return 3;
    case Model::TI85: return 5;
    case Model::TI86: return 6;
    case Model::TI89:
    case Model::TI92Plus: return 8;
    case Model::TI92: return 9;
    }
    return 3;
}

std::string Packet::Describe() const {
    std::ostringstream out;
    out << (FromCalculator ? "calc -> PC " : "PC -> calc ") << CommandName(Command);
    char id[8];
    std::snprintf(id, sizeof id, "%02X", MachineId);
    out << " id=" << id << " len=" << Length;
    if (!Data.empty()) {
        out << " data=";
        const std::size_t shown = std::min<std::size_t>(Data.size(), 16);
        for (std::size_t i = 0; i < shown; ++i) {
            char b[4];
            std::snprintf(b, sizeof b, "%02X", Data[i]);
            out << b;
        }
        if (Data.size() > shown) out << "...";
    }
    return out.str();
}

SimCalculator::SimCalculator(platform::ByteLink& link, CalcOptions options)
    : Link(link), Opts(std::move(options)) {
    LoadDirectory();
    if (!Opts.SendOnStart.empty()) {
        std::vector<std::string> names;
        if (Opts.SendOnStart != "all") {
            std::istringstream in(Opts.SendOnStart);
            for (std::string name; std::getline(in, name, ',');)
                if (!name.empty()) names.push_back(name);
        }
        Queue.push_back({false, std::move(names)});
    }
    if (Opts.BackupOnStart) Queue.push_back({true, {}});
}

SimCalculator::~SimCalculator() { Stop(); }

void SimCalculator::Start() {
    if (Running.exchange(true)) return;
    Thread = std::thread([this] { Run(); });
}

void SimCalculator::Stop() {
    {
        std::lock_guard lock(Mutex);
        Running = false;
    }
    IdleChanged.notify_all();
    if (Thread.joinable()) Thread.join();
}

std::vector<Packet> SimCalculator::Transcript() const {
    std::lock_guard lock(Mutex);
    return Log;
}

void SimCalculator::ClearTranscript() {
    std::lock_guard lock(Mutex);
    Log.clear();
}

std::vector<StoredVariable> SimCalculator::Memory() const {
    std::lock_guard lock(Mutex);
    return Vars;
}

int SimCalculator::EotCount() const {
    std::lock_guard lock(Mutex);
    return Eots;
}

void SimCalculator::Say(const std::string& line) const {
    if (Opts.Log) std::fprintf(stderr, "vcalc: %s\n", line.c_str());
    std::lock_guard lock(NotesMutex);
    NotesLog.push_back(line);
    if (NotesLog.size() > MaxNotes) NotesLog.pop_front();
}

std::vector<std::string> SimCalculator::Notes() const {
    std::lock_guard lock(NotesMutex);
    return {NotesLog.begin(), NotesLog.end()};
}

bool SimCalculator::ReadPacket(Packet& packet, std::chrono::milliseconds firstByteTimeout) {
    const auto first = Link.GetByte(firstByteTimeout);
    if (!first) return false;
    MarkBusy();
    uint8_t head[3];
    for (std::size_t i = 0; i < 3; ++i) {
        const auto next = Link.GetByte(Opts.ExchangeTimeout);
        if (!next) {
            Say("a packet broke off after " + std::to_string(i + 1) + " byte(s)");
            return false;
        }
        head[i] = *next;
    }
    packet = {};
    packet.MachineId = *first;
    packet.Command = head[0];
    packet.Length = static_cast<uint16_t>(head[1] | (head[2] << 8));
    if (CarriesData(packet.Command)) {
        packet.Data.reserve(packet.Length);
        for (unsigned i = 0; i < packet.Length + 2u; ++i) {
            const auto next = Link.GetByte(Opts.ExchangeTimeout);
            if (!next) {
                Say("a packet of command " + std::to_string(packet.Command) + " broke off after " +
                    std::to_string(4 + i) + " byte(s)");
                return false;
            }
            if (i < packet.Length)
                packet.Data.push_back(*next);
            else
                packet.Checksum = static_cast<uint16_t>(packet.Checksum | (*next << (8 * (i - packet.Length))));
        }
    }
    {
        std::lock_guard lock(Mutex);
        Log.push_back(packet);
    }
    Say(packet.Describe());
    return true;
}

bool SimCalculator::SendPacket(uint8_t command, const std::vector<uint8_t>& data, bool withData,
                               std::optional<std::chrono::milliseconds> firstByteTimeout) {
    Packet packet;
    packet.FromCalculator = true;
    packet.MachineId = MachineId();
    packet.Command = command;
    packet.Length = static_cast<uint16_t>(data.size());
    packet.Data = data;
    std::vector<uint8_t> bytes = {packet.MachineId, command,
                                  static_cast<uint8_t>(packet.Length & 0xFF),
                                  static_cast<uint8_t>(packet.Length >> 8)};
    if (withData) {
        uint32_t sum = 0;
        for (uint8_t b : data) sum += b;
        if (Opts.WrongChecksums) ++sum;
        packet.Checksum = static_cast<uint16_t>(sum);
        bytes.insert(bytes.end(), data.begin(), data.end());
        bytes.push_back(static_cast<uint8_t>(sum & 0xFF));
        bytes.push_back(static_cast<uint8_t>((sum >> 8) & 0xFF));
    }
    std::size_t i = 0;
    if (firstByteTimeout) {
        // Starting a transmission of its own: the packet counts only once the PC took a bit.
        if (!Link.PutByte(bytes[0], *firstByteTimeout)) return false;
        i = 1;
    }
    {
        std::lock_guard lock(Mutex);
        Log.push_back(packet);
    }
    Say(packet.Describe());
    for (; i < bytes.size(); ++i)
        if (!Link.PutByte(bytes[i], Opts.ExchangeTimeout)) {
            Say("the PC did not take byte " + std::to_string(i) + " of that packet");
            return false;
        }
    return true;
}

void SimCalculator::Run() {
    while (Running) {
        Packet packet;
        {
            std::lock_guard lock(Mutex);
            Idle = true;
        }
        IdleChanged.notify_all();
        if (!ReadPacket(packet, std::chrono::milliseconds(100))) {
            if (Link.TakeReset()) OpenBackup.reset();
            if (Opts.Silent || !Running) continue;
            std::optional<Transmission> next;
            {
                std::lock_guard lock(Mutex);
                if (!Queue.empty()) next = Queue.front();
            }
            // The PC sent nothing for a while: the calculator's turn to talk.
            if (next) MarkBusy();
            if (next && SendTransmission(*next)) {
                std::lock_guard lock(Mutex);
                Queue.erase(Queue.begin());
            }
            continue;
        }
        if (Opts.Silent) continue;
        switch (packet.Command) {
        case CmdVar:
            HandleVar(packet);
            break;
        case CmdData:
            // A further part of a backup just received (the TI-86's fourth).
            if (OpenBackup) {
                StoredVariable backup;
                {
                    std::lock_guard lock(Mutex);
                    Vars[*OpenBackup].Parts.push_back(packet.Data);
                    backup = Vars[*OpenBackup];
                }
                // Kept before it is acknowledged: the PC may be done once it has the ACK.
                Store(backup);
                SendShort(CmdAck);
                if (backup.Parts.size() >= 4) OpenBackup.reset();
            } else {
                SendShort(CmdAck);
            }
            break;
        case CmdEot:
            OpenBackup.reset();
            {
                std::lock_guard lock(Mutex);
                ++Eots;
            }
            SendShort(CmdAck);
            break;
        case CmdScr:
            SendScreen();
            break;
        default:
            break; // a stray ACK or CTS needs no answer
        }
    }
}

bool SimCalculator::Family89() const { return ModelCalcType(Opts.Kind) >= 8; }

void SimCalculator::HandleVar(const Packet& var) {
    OpenBackup.reset();
    const int skip = Opts.Refuse ? Opts.Refuse(VarsAnnounced) : Opts.SkipCode;
    ++VarsAnnounced;
    const bool flash = Family89() && var.Data.size() >= 5 &&
                       (var.Data[4] == FlashAmsType || var.Data[4] == FlashAppType);
    if (skip) {
        SendShort(CmdAck);
        SendPacket(CmdSkip, {static_cast<uint8_t>(skip)}, true);
        // A FLASH sender goes on after any code but 2; take its blocks then.
        if (!flash || skip == 2) return;
        Packet ack;
        if (!ReadPacket(ack, Opts.ExchangeTimeout) || ack.Command != CmdAck) return;
        ReceiveFlash(var);
        return;
    }
    if (!SendShort(CmdAck) || !SendShort(CmdCts)) return;
    Packet reply;
    if (!ReadPacket(reply, Opts.ExchangeTimeout) || reply.Command != CmdAck) return;
    if (flash) {
        ReceiveFlash(var);
        return;
    }

    const uint8_t calcType = ModelCalcType(Opts.Kind);
    StoredVariable variable;
    variable.Header = var.Data;
    const bool backup =
        !Family89() && var.Data.size() >= 3 && files::IsTi8xBackup(calcType, var.Data[2]);
    const int parts = backup ? 3 : 1;
    for (int i = 0; i < parts; ++i) {
        Packet data;
        if (!ReadPacket(data, Opts.ExchangeTimeout) || data.Command != CmdData) return;
        variable.Parts.push_back(data.Data);
        if (i + 1 < parts && !SendShort(CmdAck)) return;
    }
    // Kept before the last part is acknowledged: a backup has no EOT, so the
    // PC may be done the moment it has that ACK.
    variable.FileName = FileNameFor(variable);
    std::size_t index;
    {
        std::lock_guard lock(Mutex);
        Vars.push_back(variable);
        index = Vars.size() - 1;
    }
    Store(variable);
    if (backup) OpenBackup = index;
    SendShort(CmdAck);
}

// Blocks of a FLASH application or AMS: each DATA is answered with ACK; a
// CONT asks for the next block (ACK, CTS), the EOT ends the transfer.
void SimCalculator::ReceiveFlash(const Packet& var) {
    StoredVariable flash;
    flash.Header = var.Data;
    flash.IsFlash = true;
    for (;;) {
        Packet data;
        if (!ReadPacket(data, Opts.ExchangeTimeout) || data.Command != CmdData) return;
        flash.Parts.push_back(data.Data);
        if (!SendShort(CmdAck)) return;
        Packet next;
        if (!ReadPacket(next, Opts.ExchangeTimeout)) return;
        if (next.Command == CmdEot) break;
        if (next.Command != CmdCont) return;
        if (!SendShort(CmdAck) || !SendShort(CmdCts)) return;
        Packet ack;
        if (!ReadPacket(ack, Opts.ExchangeTimeout) || ack.Command != CmdAck) return;
    }
    flash.FileName = FileNameFor(flash);
    {
        std::lock_guard lock(Mutex);
        Vars.push_back(flash);
        ++Eots;
    }
    Store(flash);
}

std::string SimCalculator::FileNameFor(const StoredVariable& variable) const {
    const uint8_t calcType = ModelCalcType(Opts.Kind);
    const auto& h = variable.Header;
    std::string name;
    if (variable.IsFlash) {
        if (h.size() >= 5 && h[4] == FlashAmsType) return "AMS.tib";
        const std::size_t n = h.size() >= 6 ? std::min<std::size_t>(h[5], h.size() - 6) : 0;
        name = files::SafeFileName(std::string(h.begin() + 6, h.begin() + 6 + n)) + ".flash";
    } else if (Family89()) {
        // VarHeader: size (4), type ID, name length, the name.
        if (h.size() >= 6) {
            const std::size_t n = std::min<std::size_t>(h[5], h.size() - 6);
            name = files::Ti89ReceivedName(calcType, std::string(h.begin() + 6, h.begin() + 6 + n),
                                           h[4]);
        }
    } else {
        name = files::Ti8xReceivedName(calcType, h);
    }
    return name.empty() ? "UNKNOWN.var" : name;
}

void SimCalculator::Store(const StoredVariable& variable) {
    if (!Opts.Directory) {
        Say("stored " + variable.FileName);
        return;
    }
    std::vector<uint8_t> image;
    try {
        image = FileImageOf(variable);
    } catch (const std::exception& e) {
        Say(std::string("cannot store a variable: ") + e.what());
        return;
    }
    const auto path = *Opts.Directory / variable.FileName;
    if (WriteFileAtomically(path, image))
        Say("stored " + variable.FileName + " (" + std::to_string(image.size()) + " bytes)");
    else
        Say("cannot write " + path.string());
}

std::vector<uint8_t> SimCalculator::FileImageOf(const StoredVariable& variable) const {
    const uint8_t calcType = ModelCalcType(Opts.Kind);
    if (variable.IsFlash) {
        std::vector<uint8_t> raw;
        for (const auto& part : variable.Parts) raw.insert(raw.end(), part.begin(), part.end());
        return raw;
    }
    if (Family89()) {
        const auto& h = variable.Header;
        files::Ti89Variable v;
        if (h.size() >= 6) {
            const std::size_t n = std::min<std::size_t>(h[5], h.size() - 6);
            v.FullName.assign(h.begin() + 6, h.begin() + 6 + n);
            v.TypeId = h[4];
        } else {
            v.TypeId = 0;
        }
        if (!variable.Parts.empty()) v.PacketData = variable.Parts.front();
        return files::BuildTi89SingleFile(calcType, Opts.Kind == Model::TI92Plus, v);
    }
    return files::BuildTi8xFile(calcType, files::Ti8xComment::Transferred,
                                {files::Ti8xVariable{variable.Header, variable.Parts}});
}

void SimCalculator::LoadDirectory() {
    if (!Opts.Directory) return;
    std::error_code ec;
    std::vector<std::filesystem::path> paths;
    for (const auto& item : std::filesystem::directory_iterator(*Opts.Directory, ec))
        if (item.is_regular_file(ec) && item.path().filename().string()[0] != '.')
            paths.push_back(item.path());
    std::sort(paths.begin(), paths.end());
    const uint8_t calcType = ModelCalcType(Opts.Kind);
    for (const auto& path : paths) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        const std::string fileName = path.filename().string();
        if (!Family89()) {
            const auto file = files::ReadTi8xFile(image, calcType == 6);
            if (!file || file->CalcType != calcType) continue;
            for (const auto& v : file->Variables) Vars.push_back({v.Header, v.Parts, fileName});
            continue;
        }
        const auto family = files::Ti89CalcTypeFromSignature(image);
        const auto table = files::ReadTi89Table(image);
        if (!family || *family != calcType || !table) continue;
        std::string folder = table->Folder.empty() ? "main" : table->Folder;
        for (const auto& entry : table->Entries) {
            if (entry.TypeId == files::Ti89FolderTypeId) {
                folder = entry.Name;
                continue;
            }
            const auto contents = files::Ti89VariableContents(image, entry.Offset);
            if (!contents) continue;
            // Kept as the calculator would announce it: folder\name, and its data packet.
            const std::string full = folder + "\\" + entry.Name;
            const uint32_t size = static_cast<uint32_t>(contents->size()) + 2;
            std::vector<uint8_t> header = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                                           static_cast<uint8_t>(size >> 16),
                                           static_cast<uint8_t>(size >> 24), entry.TypeId,
                                           static_cast<uint8_t>(full.size())};
            header.insert(header.end(), full.begin(), full.end());
            header.push_back(0);
            std::vector<uint8_t> data = {0, 0, 0, 0, static_cast<uint8_t>(contents->size() >> 8),
                                         static_cast<uint8_t>(contents->size())};
            data.insert(data.end(), contents->begin(), contents->end());
            Vars.push_back({header, {data}, fileName});
        }
    }
}

StoredVariable Ti89Stored(const std::string& fullName, uint8_t typeId,
                          const std::vector<uint8_t>& contents) {
    const auto size = static_cast<uint32_t>(contents.size()) + 2;
    std::vector<uint8_t> header = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                                   static_cast<uint8_t>(size >> 16),
                                   static_cast<uint8_t>(size >> 24), typeId,
                                   static_cast<uint8_t>(fullName.size())};
    header.insert(header.end(), fullName.begin(), fullName.end());
    header.push_back(0);
    std::vector<uint8_t> data = {0, 0, 0, 0, static_cast<uint8_t>(contents.size() >> 8),
                                 static_cast<uint8_t>(contents.size())};
    data.insert(data.end(), contents.begin(), contents.end());
    return {header, {data}, {}};
}

std::string VariableName(Model model, const StoredVariable& variable) {
    const uint8_t calcType = ModelCalcType(model);
    const auto& h = variable.Header;
    if (calcType < 8) return files::Ti8xVariableName(calcType, h);
    if (h.size() < 6) return {};
    const std::size_t n = std::min<std::size_t>(h[5], h.size() - 6);
    return std::string(h.begin() + 6, h.begin() + 6 + static_cast<std::ptrdiff_t>(n));
}

std::vector<uint8_t> ScreenBytes(const CalcOptions& options) {
    const uint8_t calcType = ModelCalcType(options.Kind);
    const int width = calcType <= 3 ? 96 : calcType <= 7 ? 128 : 240;
    const int height = calcType >= 8 ? 128 : 64;
    const std::size_t row = static_cast<std::size_t>(width / 8);
    std::vector<uint8_t> bytes(row * static_cast<std::size_t>(height));
    if (options.ScreenFile) {
        std::ifstream in(*options.ScreenFile, std::ios::binary);
        const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        if (const auto image = files::DecodeMonoBmp(file)) {
            // The picture's top-left corner; what it does not cover stays light.
            const std::size_t imageRow = static_cast<std::size_t>(image->Width + 7) / 8;
            for (int y = 0; y < std::min(height, image->Height); ++y)
                for (std::size_t x = 0; x < std::min(row, imageRow); ++x)
                    bytes[row * y + x] = static_cast<uint8_t>(~image->Bits[imageRow * y + x]);
            if (image->Width % 8 && imageRow <= row)
                for (int y = 0; y < std::min(height, image->Height); ++y)
                    bytes[row * y + imageRow - 1] &= static_cast<uint8_t>(0xFF << (8 - image->Width % 8));
            return bytes;
        }
    }
    // A dark first byte, then diagonal stripes, so every byte position tells.
    for (std::size_t j = 0; j < bytes.size(); ++j)
        bytes[j] = static_cast<uint8_t>((j * 7 + j / row) * 29);
    bytes[0] = 0xFF;
    return bytes;
}

void SimCalculator::QueueSend(std::vector<std::string> names) {
    std::lock_guard lock(Mutex);
    Queue.push_back({false, std::move(names)});
}

void SimCalculator::QueueBackup() {
    std::lock_guard lock(Mutex);
    Queue.push_back({true, {}});
}

void SimCalculator::AddVariable(StoredVariable variable) {
    std::lock_guard lock(Mutex);
    Vars.push_back(std::move(variable));
}

void SimCalculator::MarkBusy() {
    std::lock_guard lock(Mutex);
    Idle = false;
}

bool SimCalculator::WaitIdle(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(Mutex);
    return IdleChanged.wait_for(lock, timeout, [&] { return Idle || !Running; });
}

int SimCalculator::PendingSends() const {
    std::lock_guard lock(Mutex);
    return static_cast<int>(Queue.size());
}

int SimCalculator::SentCount() const {
    std::lock_guard lock(Mutex);
    return Sent;
}

bool SimCalculator::Expect(uint8_t command, std::chrono::milliseconds timeout) {
    Packet reply;
    return ReadPacket(reply, timeout) && reply.Command == command;
}

// The VarHeader as it goes out, with the faults asked for.
std::vector<uint8_t> SimCalculator::Announced(const StoredVariable& variable) const {
    std::vector<uint8_t> h = variable.Header;
    const bool family89 = Family89();
    if (Opts.NameOverride) {
        const std::string& name = *Opts.NameOverride;
        if (family89 && h.size() >= 6) {
            h.resize(6);
            h[5] = static_cast<uint8_t>(std::min<std::size_t>(name.size(), 255));
            h.insert(h.end(), name.begin(), name.begin() + h[5]);
            h.push_back(0);
        } else if (!family89 && ModelCalcType(Opts.Kind) <= 3 && h.size() >= 11) {
            for (std::size_t i = 0; i < 8; ++i) h[3 + i] = i < name.size() ? name[i] : 0;
        } else if (!family89 && h.size() >= 4) {
            const std::size_t n = std::min<std::size_t>(name.size(), 8);
            h.erase(h.begin() + 4, h.begin() + 4 + std::min<std::size_t>(h[3], h.size() - 4));
            h[3] = static_cast<uint8_t>(n);
            h.insert(h.begin() + 4, name.begin(), name.begin() + static_cast<std::ptrdiff_t>(n));
        }
    }
    if (Opts.AnnounceSize) {
        if (family89 && h.size() >= 4) {
            const uint32_t real = static_cast<uint32_t>(h[0] | (h[1] << 8) | (h[2] << 16)) |
                                  (static_cast<uint32_t>(h[3]) << 24);
            const uint32_t size = Opts.AnnounceSize(real);
            for (int i = 0; i < 4; ++i) h[i] = static_cast<uint8_t>(size >> (8 * i));
        } else if (!family89 && h.size() >= 2) {
            const uint32_t size = Opts.AnnounceSize(static_cast<uint32_t>(h[0] | (h[1] << 8)));
            h[0] = static_cast<uint8_t>(size);
            h[1] = static_cast<uint8_t>(size >> 8);
        }
    }
    return h;
}

StoredVariable SimCalculator::BackupOfMemory() const {
    const uint8_t calcType = ModelCalcType(Opts.Kind);
    std::vector<uint8_t> all;
    {
        std::lock_guard lock(Mutex);
        for (const auto& v : Vars)
            for (const auto& part : v.Parts) all.insert(all.end(), part.begin(), part.end());
    }
    auto pattern = [](std::size_t size, uint8_t seed) {
        std::vector<uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13);
        return bytes;
    };
    // System area, symbol table, then the user memory: its variables' data.
    std::vector<std::vector<uint8_t>> parts = {pattern(1024, 1), pattern(256, 2), all};
    if (parts[2].size() > 0xFFFF) parts[2].resize(0xFFFF);
    if (parts[2].empty()) parts[2] = pattern(64, 3);
    if (calcType == 6 && Opts.FourPartBackup) parts.push_back(pattern(32, 4));
    const uint8_t type = files::BackupTypeId(calcType);
    std::vector<uint8_t> header = {static_cast<uint8_t>(parts[0].size()),
                                   static_cast<uint8_t>(parts[0].size() >> 8),
                                   type,
                                   static_cast<uint8_t>(parts[1].size()),
                                   static_cast<uint8_t>(parts[1].size() >> 8),
                                   static_cast<uint8_t>(parts[2].size()),
                                   static_cast<uint8_t>(parts[2].size() >> 8),
                                   0x00,
                                   0x00};
    return {header, parts, "backup"};
}

// VAR, the PC's ACK and CTS, the calculator's ACK, then each part with the
// PC's ACK. started tells whether the PC took anything of it.
bool SimCalculator::SendVariable(const StoredVariable& variable, bool first, bool& started) {
    using namespace std::chrono_literals;
    const auto announce = first ? std::optional(20ms) : std::nullopt;
    if (first && Family89()) {
        for (int i = 0; i < Opts.ReadyPackets; ++i) {
            if (!SendPacket(CmdRdy, {}, false, i == 0 ? announce : std::nullopt)) return false;
            started = true;
        }
    }
    const bool announced = SendPacket(CmdVar, Announced(variable), true,
                                      started ? std::nullopt : announce);
    if (!announced) return false;
    started = true;
    if (!Expect(CmdAck, Opts.ExchangeTimeout)) return false;
    Packet answer;
    if (!ReadPacket(answer, Opts.AnswerTimeout)) {
        Say("no CTS: the variable is left out");
        return true;
    }
    if (answer.Command != CmdCts) return false;
    if (!SendShort(CmdAck)) return false;
    for (const auto& part : variable.Parts) {
        if (!SendPacket(CmdData, part, true)) return false;
        if (!Expect(CmdAck, Opts.ExchangeTimeout)) return false;
    }
    return true;
}

namespace {

std::string SplitName(const std::string& full) {
    const auto slash = full.find('\\');
    return slash == std::string::npos ? full : full.substr(slash + 1);
}

} // namespace

bool SimCalculator::SendTransmission(const Transmission& transmission) {
    bool started = false;
    auto finish = [&](bool complete) {
        // Given up once begun: a calculator shows its link error and forgets it.
        if (complete) {
            std::lock_guard lock(Mutex);
            ++Sent;
        } else if (started) {
            Say("transmission given up");
        }
        return complete || started;
    };
    if (transmission.Backup) {
        if (Family89()) {
            Say("this model sends no backup");
            return true;
        }
        return finish(SendVariable(BackupOfMemory(), true, started));
    }

    std::vector<StoredVariable> chosen;
    {
        std::lock_guard lock(Mutex);
        if (transmission.Names.empty()) {
            for (const auto& v : Vars)
                if (!v.IsFlash) chosen.push_back(v);
        } else {
            for (const auto& name : transmission.Names) {
                const auto found = std::find_if(Vars.begin(), Vars.end(), [&](const StoredVariable& v) {
                    const std::string full = VariableName(Opts.Kind, v);
                    return !v.IsFlash && (full == name || SplitName(full) == name);
                });
                if (found != Vars.end()) chosen.push_back(*found);
                else Say("no variable " + name);
            }
        }
    }
    for (std::size_t i = 0; i < chosen.size(); ++i)
        if (!SendVariable(chosen[i], i == 0, started)) return finish(false);
    using namespace std::chrono_literals;
    if (!SendPacket(CmdEot, {}, false, started ? std::nullopt : std::optional(20ms))) return finish(false);
    started = true;
    return finish(Expect(CmdAck, Opts.ExchangeTimeout));
}

// ACK, then the display as one data packet. The PC reads no checksum: its
// line reset ends the packet.
void SimCalculator::SendScreen() {
    if (!SendShort(CmdAck)) return;
    SendPacket(CmdData, ScreenBytes(Opts), true);
}

} // namespace lodestrum::vcalc
