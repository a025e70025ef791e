// The help text reader: the RTF the help file uses, and damaged input.
#include "app/RtfReader.h"

#include <QFile>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QtTest>

using lodestrum::app::RtfReader;

namespace {

struct Run {
    QString Text;
    bool Bold, Italic, Underline;
    double Points;
};

QList<Run> Runs(const QTextDocument& doc) {
    QList<Run> runs;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment f = it.fragment();
            const QTextCharFormat c = f.charFormat();
            runs << Run{f.text(), c.fontWeight() == QFont::Bold, c.fontItalic(), c.fontUnderline(),
                        c.fontPointSize()};
        }
    return runs;
}

} // namespace

class RtfReaderTests : public QObject {
    Q_OBJECT
private slots:
    void TextAndParagraphs_data() {
        QTest::addColumn<QByteArray>("rtf");
        QTest::addColumn<QString>("text");
        QTest::newRow("paragraphs") << QByteArray("{\\rtf1 One\\par Two\\par}") << "One\nTwo\n";
        QTest::newRow("tables skipped") << QByteArray("{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red1;}Hi}") << "Hi";
        QTest::newRow("starred destination") << QByteArray("{\\rtf1{\\*\\generator Foo;}Hi}") << "Hi";
        QTest::newRow("cp1252 hex") << QByteArray("{\\rtf1 Invers\\'e9s \\'80}") << QString::fromUtf8("Inversés €");
        QTest::newRow("unicode with fallback") << QByteArray("{\\rtf1 a\\u8364?b}") << QString::fromUtf8("a€b");
        QTest::newRow("negative unicode") << QByteArray("{\\rtf1\\u-3913?}") << QString(QChar(0xF0B7));
        QTest::newRow("uc0 keeps next") << QByteArray("{\\rtf1\\uc0\\u233 x}") << QString::fromUtf8("éx");
        QTest::newRow("escapes") << QByteArray("{\\rtf1 \\{a\\}\\\\}") << "{a}\\";
        QTest::newRow("raw newlines ignored") << QByteArray("{\\rtf1 a\r\nb}") << "ab";
        QTest::newRow("not rtf is plain text") << QByteArray("just text") << "just text";
        QTest::newRow("empty") << QByteArray() << "";
        // Damaged input: unbalanced, truncated, overlong words and numbers.
        QTest::newRow("unclosed") << QByteArray("{\\rtf1 {\\b abc") << "abc";
        QTest::newRow("extra closing") << QByteArray("{\\rtf1 a}}}}b") << "ab";
        QTest::newRow("truncated escape") << QByteArray("{\\rtf1 a\\'4") << "a";
        QTest::newRow("bad hex") << QByteArray("{\\rtf1 a\\'zzb}") << "azzb";
        QTest::newRow("trailing backslash") << QByteArray("{\\rtf1 a\\") << "a";
        QTest::newRow("huge number") << QByteArray("{\\rtf1\\fs99999999999999999999 x}") << "x";
        QTest::newRow("huge unicode") << QByteArray("{\\rtf1\\u99999999?x}") << QString(QChar(0xFFFD)) + "x";
        QTest::newRow("long word") << QByteArray("{\\rtf1\\") + QByteArray(1000, 'a') + " x}" << "x";
    }
    void TextAndParagraphs() {
        QFETCH(QByteArray, rtf);
        QFETCH(QString, text);
        QTextDocument doc;
        RtfReader::Read(rtf, doc);
        QCOMPARE(doc.toPlainText(), QString(text).replace(QChar::ParagraphSeparator, '\n'));
    }

    void Formatting() {
        QTextDocument doc;
        RtfReader::Read("{\\rtf1\\fs20 n {\\b b}{\\i i}{\\ul u\\ulnone v}{\\fs40 big}\\b x\\b0 y}", doc);
        const QList<Run> runs = Runs(doc);
        auto find = [&](const QString& t) {
            for (const Run& r : runs)
                if (r.Text.contains(t)) return r;
            return Run{};
        };
        QVERIFY(find("b").Bold && !find("b").Italic);
        QVERIFY(find("i").Italic && !find("i").Bold);
        QVERIFY(find("u").Underline);
        QVERIFY(!find("v").Underline);
        QCOMPARE(find("big").Points, 20.0);
        QCOMPARE(find("n").Points, 10.0);
        QVERIFY(find("x").Bold);
        QVERIFY(!find("y").Bold);
        QVERIFY(RtfReader::ToHtml("{\\rtf1 {\\b bold}}").contains("font-weight"));
    }

    void DeepNestingAndGarbageStayBounded() {
        QTextDocument doc;
        RtfReader::Read("{\\rtf1 " + QByteArray(100000, '{') + "deep" + QByteArray(100000, '}') + "}", doc);
        QVERIFY(doc.toPlainText().contains("deep"));
        QByteArray noise("{\\rtf1 ");
        for (int i = 0; i < 200000; ++i) noise += char((i * 7919) % 256);
        RtfReader::Read(noise, doc); // no crash, no hang
        QVERIFY(doc.characterCount() > 0);
    }

    void TheShippedHelpReads() {
        QFile f(LODESTRUM_SOURCE_DIR "/data/Lodestrum.rtf");
        QVERIFY(f.open(QIODevice::ReadOnly));
        QTextDocument doc;
        RtfReader::Read(f.readAll(), doc);
        const QString text = doc.toPlainText();
        for (const char* needle : {"dialout", "LODESTRUM_PORTS", "sim", "Cable virtuel", "Inversés"})
            QVERIFY2(text.contains(QString::fromUtf8(needle)), needle);
        QVERIFY(!text.contains("\\"));
        QVERIFY(!text.contains("fonttbl"));
    }
};

QTEST_GUILESS_MAIN(RtfReaderTests)
#include "RtfReaderTests.moc"
