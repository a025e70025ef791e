// The help text is read from the current folder first: anyone can put one there.
#include "app/RtfReader.h"

#include <QByteArray>
#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    (void)lodestrum::app::RtfReader::ToHtml(bytes);
    return 0;
}
