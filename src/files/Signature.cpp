#include "files/Signature.h"

namespace lodestrum::files {

SignatureInfo ReadSignature(std::span<const uint8_t> image) {
    SignatureInfo info;
    auto byteAt = [image](std::size_t at) -> int { return at < image.size() ? image[at] : -1; };
    info.StartsWithTi =
        byteAt(0) == '*' && byteAt(1) == '*' && byteAt(2) == 'T' && byteAt(3) == 'I';
    if (byteAt(6) == 'P') {
        info.CalcType = 8;
    } else if (byteAt(4) == '9') {
        info.CalcType = 9;
    } else if (byteAt(4) == '8' && byteAt(5) >= 0) {
        const auto calcType = static_cast<uint8_t>(byteAt(5) - '0');
        info.CalcType = calcType == 9 ? 8 : calcType;
    } else if (byteAt(4) == 'F' && byteAt(5) == 'L') {
        info.IsFlash = true;
    }
    return info;
}

} // namespace lodestrum::files
