#include "app/RtfReader.h"

#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <vector>

namespace lodestrum::app {

namespace {

// The upper half of Windows-1252 where it differs from Latin-1 (0x80..0x9F).
constexpr char16_t Cp1252High[32] = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

QChar FromCp1252(uint8_t byte) {
    if (byte >= 0x80 && byte < 0xA0) return QChar(Cp1252High[byte - 0x80]);
    return QChar(static_cast<char16_t>(byte));
}

struct GroupState {
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    int HalfPoints = 24;
    bool Skip = false; // a destination whose text is not shown
    int UnicodeSkip = 1;
};

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

class Parser {
public:
    Parser(const QByteArray& data, QTextDocument& document)
        : Data(data.left(RtfReader::MaxInput)), Cursor(&document) {
        Groups.push_back(GroupState{});
    }

    void Run() {
        while (Pos < Data.size()) {
            const char c = Data[Pos++];
            if (c == '{') {
                if (static_cast<int>(Groups.size()) >= RtfReader::MaxDepth) {
                    ++Ignored; // too deep: count it so the matching brace is ignored too
                    continue;
                }
                Groups.push_back(Groups.back());
                PendingDestination = true;
            } else if (c == '}') {
                if (Ignored > 0) {
                    --Ignored;
                } else if (Groups.size() > 1) {
                    Groups.pop_back();
                }
                PendingDestination = false;
            } else if (c == '\\') {
                ControlSymbolOrWord();
            } else if (c == '\r' || c == '\n') {
                continue;
            } else {
                PendingDestination = false;
                Text(QChar(FromCp1252(static_cast<uint8_t>(c))));
            }
        }
        Flush();
    }

private:
    GroupState& State() { return Groups.back(); }

    void ControlSymbolOrWord() {
        if (Pos >= Data.size()) return;
        const char c = Data[Pos];
        if (!IsLetter(c)) {
            ++Pos;
            Symbol(c);
            return;
        }
        QByteArray word;
        while (Pos < Data.size() && IsLetter(Data[Pos]) && word.size() < 32) word += Data[Pos++];
        while (Pos < Data.size() && IsLetter(Data[Pos])) ++Pos; // an overlong word is cut
        bool hasParam = false;
        bool negative = false;
        long long param = 0;
        if (Pos < Data.size() && Data[Pos] == '-') {
            negative = true;
            ++Pos;
        }
        int digits = 0;
        while (Pos < Data.size() && IsDigit(Data[Pos])) {
            if (digits < 10) param = param * 10 + (Data[Pos] - '0');
            ++digits;
            ++Pos;
            hasParam = true;
        }
        if (negative) param = -param;
        if (Pos < Data.size() && Data[Pos] == ' ') ++Pos;
        Word(word, hasParam, static_cast<int>(std::clamp<long long>(param, -2147483647, 2147483647)));
        PendingDestination = false;
    }

    void Symbol(char c) {
        switch (c) {
        case '\\': case '{': case '}': Text(QChar(c)); break;
        case '~': Text(QChar(0x00A0)); break;
        case '_': Text(QChar(0x2011)); break;
        case '-': break;
        case '*': if (PendingDestination) State().Skip = true; break;
        case '\'': {
            const int hi = Pos < Data.size() ? HexValue(Data[Pos]) : -1;
            const int lo = Pos + 1 < Data.size() ? HexValue(Data[Pos + 1]) : -1;
            if (hi >= 0 && lo >= 0) {
                Pos += 2;
                Text(FromCp1252(static_cast<uint8_t>(hi * 16 + lo)));
            } else if (hi >= 0 && Pos + 1 >= Data.size()) {
                ++Pos; // a byte cut off at the end of the file
            }
            break;
        }
        case '\r': case '\n': Paragraph(); break;
        default: break;
        }
        PendingDestination = false;
    }

    void Word(const QByteArray& w, bool hasParam, int param) {
        auto& s = State();
        const bool on = !hasParam || param != 0;
        if (w == "par") Paragraph();
        else if (w == "line") Text(QChar(QChar::LineSeparator));
        else if (w == "tab") Text(QChar('\t'));
        else if (w == "b") SetFormat([&] { s.Bold = on; });
        else if (w == "i") SetFormat([&] { s.Italic = on; });
        else if (w == "ul") SetFormat([&] { s.Underline = on; });
        else if (w == "ulnone") SetFormat([&] { s.Underline = false; });
        else if (w == "fs") SetFormat([&] { s.HalfPoints = hasParam ? std::clamp(param, 8, 144) : 24; });
        else if (w == "plain") SetFormat([&] {
            s.Bold = s.Italic = s.Underline = false;
            s.HalfPoints = 24;
        });
        else if (w == "uc") s.UnicodeSkip = std::clamp(param, 0, 8);
        else if (w == "u") {
            const int code = param < 0 ? param + 65536 : param;
            Text(code > 0 && code < 0x10000 ? QChar(static_cast<char16_t>(code)) : QChar(0xFFFD));
            SkipFallback(s.UnicodeSkip);
        } else if (w == "emdash") Text(QChar(0x2014));
        else if (w == "endash") Text(QChar(0x2013));
        else if (w == "bullet") Text(QChar(0x2022));
        else if (w == "lquote") Text(QChar(0x2018));
        else if (w == "rquote") Text(QChar(0x2019));
        else if (w == "ldblquote") Text(QChar(0x201C));
        else if (w == "rdblquote") Text(QChar(0x201D));
        else if (PendingDestination && IsSkippedDestination(w)) s.Skip = true;
    }

    static bool IsSkippedDestination(const QByteArray& w) {
        static const char* const names[] = {"fonttbl", "colortbl", "stylesheet", "info",
                                            "pict", "header", "footer", "object",
                                            "filetbl", "listtable", "listoverridetable",
                                            "rsidtbl", "generator", "xmlnstbl", "themedata"};
        for (const char* n : names)
            if (w == n) return true;
        return false;
    }

    // The characters standing in for a \u character are dropped.
    void SkipFallback(int count) {
        while (count > 0 && Pos < Data.size()) {
            const char c = Data[Pos];
            if (c == '{' || c == '}') return;
            if (c == '\\') {
                if (Pos + 3 < Data.size() && Data[Pos + 1] == '\'') {
                    Pos += 4;
                } else {
                    return;
                }
            } else {
                ++Pos;
            }
            --count;
        }
    }

    template <typename F> void SetFormat(F change) {
        Flush();
        change();
    }

    void Text(QChar c) {
        if (State().Skip) return;
        if (Pending.isEmpty()) PendingFormat = State();
        else if (!SameFormat(PendingFormat, State())) {
            Flush();
            PendingFormat = State();
        }
        Pending += c;
    }

    static bool SameFormat(const GroupState& a, const GroupState& b) {
        return a.Bold == b.Bold && a.Italic == b.Italic && a.Underline == b.Underline &&
               a.HalfPoints == b.HalfPoints;
    }

    void Paragraph() {
        if (State().Skip) return;
        Flush();
        Cursor.insertBlock();
    }

    void Flush() {
        if (Pending.isEmpty()) return;
        QTextCharFormat f;
        f.setFontWeight(PendingFormat.Bold ? QFont::Bold : QFont::Normal);
        f.setFontItalic(PendingFormat.Italic);
        f.setFontUnderline(PendingFormat.Underline);
        f.setFontPointSize(PendingFormat.HalfPoints / 2.0);
        Cursor.insertText(Pending, f);
        Pending.clear();
    }

    QByteArray Data;
    qsizetype Pos = 0;
    QTextCursor Cursor;
    std::vector<GroupState> Groups;
    int Ignored = 0;
    bool PendingDestination = false;
    QString Pending;
    GroupState PendingFormat;
};

} // namespace

bool RtfReader::LooksLikeRtf(const QByteArray& data) {
    qsizetype i = 0;
    while (i < data.size() && (data[i] == ' ' || data[i] == '\r' || data[i] == '\n' || data[i] == '\t')) ++i;
    return data.mid(i, 5) == "{\\rtf";
}

void RtfReader::Read(const QByteArray& data, QTextDocument& document) {
    document.clear();
    if (!LooksLikeRtf(data)) {
        document.setPlainText(QString::fromUtf8(data.left(MaxInput)));
        return;
    }
    Parser(data, document).Run();
}

QString RtfReader::ToHtml(const QByteArray& data) {
    QTextDocument document;
    Read(data, document);
    return document.toHtml();
}

} // namespace lodestrum::app
