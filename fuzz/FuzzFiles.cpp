// The file readers on their own, walked the way the send routes walk them
// but without a job, so the fuzzer reaches the length fields thousands of
// times faster. Every offset a reader hands back must lie inside the image.
#include "files/FlashFile.h"
#include "files/MonoImageFile.h"
#include "files/Signature.h"
#include "files/Ti89File.h"
#include "files/Ti8xFile.h"

#include <cstdlib>
#include <span>
#include <vector>

using namespace lodestrum::files;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

void Ti8xWalk(std::span<const uint8_t> image, uint8_t calcType, bool fourParts) {
    unsigned partCount = 1;
    const std::ptrdiff_t end = static_cast<std::ptrdiff_t>(image.size()) - 2;
    std::size_t position = Ti8xDataOffset;
    while (static_cast<std::ptrdiff_t>(position) < end) {
        const auto typeId = Ti8xEntryTypeId(image, position);
        if (typeId && IsTi8xBackup(calcType, *typeId))
            partCount = Ti8xPartCount(calcType, typeId, fourParts);
        const auto entry = ParseTi8xEntry(image, position, partCount);
        if (!entry) return;
        Check(entry->HeaderOffset + entry->HeaderLength <= image.size());
        Check(entry->Next > position && entry->Next <= image.size());
        for (const auto& part : entry->Parts) {
            Check(part.LengthOffset + 2 <= image.size());
            Check(part.DataOffset + part.Length <= image.size());
        }
        (void)Ti8xVariableName(calcType, image.subspan(entry->HeaderOffset, entry->HeaderLength));
        position = entry->Next;
    }
}

void Ti89Walk(std::span<const uint8_t> image) {
    const auto table = ReadTi89Table(image);
    if (!table) return;
    Check(table->Folder.size() <= 8);
    for (const auto& entry : table->Entries) {
        Check(entry.Name.size() <= 8);
        const auto contents = Ti89VariableContents(image, entry.Offset);
        if (!contents) continue;
        Check(contents->data() >= image.data() &&
              contents->data() + contents->size() <= image.data() + image.size());
    }
}

void FlashWalk(std::span<const uint8_t> image) {
    std::size_t start = 0;
    for (int blocks = 0; blocks < 64 && start < image.size(); ++blocks) {
        const auto header = ReadFlashHeader(image, start);
        if (!header) return;
        Check(header->Name.size() <= 31);
        (void)HasFullFlashSignature(image, start);
        if (!FlashDataInside(image, *header)) return;
        Check(header->DataStart + header->DataSize <= image.size());
        if (header->NextBlock() <= start) return;
        start = header->NextBlock();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t flags = data[0];
    // An exact-size copy: a read one past the end is an ASan report.
    const std::vector<uint8_t> copy(data + 1, data + size);
    const std::span<const uint8_t> image(copy);
    const SignatureInfo signature = ReadSignature(image);
    const uint8_t calcType = signature.CalcType ? *signature.CalcType : (flags & 7);
    (void)ReadTi8xFile(image, flags & 0x08);
    Ti8xWalk(image, calcType, flags & 0x08);
    Ti89Walk(image);
    (void)Ti89CalcTypeFromSignature(image);
    FlashWalk(image);
    if (const auto bitmap = DecodeMonoBmp(image)) {
        const std::size_t row = (static_cast<std::size_t>(bitmap->Width) + 7) / 8;
        Check(bitmap->Width > 0 && bitmap->Height > 0);
        Check(bitmap->Bits.size() >= row * static_cast<std::size_t>(bitmap->Height));
        (void)EncodeMonoPng(*bitmap);
    }
    return 0;
}
