#pragma once

#include <QString>

class QTextDocument;

namespace lodestrum::app {

// Reads the small part of RTF a help text needs: paragraphs and line breaks,
// bold, italic, underline, font size, \'hh (Windows-1252) and \u. Everything
// else is skipped. Input is bounded (size, nesting, word and number lengths),
// so a damaged file gives odd text at worst, never a crash or a hang.
class RtfReader {
public:
    static constexpr qsizetype MaxInput = 4 * 1024 * 1024;
    static constexpr int MaxDepth = 100;

    // True when the text starts like an RTF file ("{\rtf").
    static bool LooksLikeRtf(const QByteArray& data);
    // Fills the document with the text of data; plain text when it is not RTF.
    static void Read(const QByteArray& data, QTextDocument& document);
    // The same as HTML.
    static QString ToHtml(const QByteArray& data);
};

} // namespace lodestrum::app
