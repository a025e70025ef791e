// The window's settings: what a first start shows, what a save keeps, and
// how stored values of every kind are taken at start.
#include "AppTestSupport.h"

#include "app/Application.h"
#include "platform/SettingsStore.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

using namespace lodestrum;
using app::TTranDlg;
using apptest::WindowRig;

namespace {

using Value = std::variant<int32_t, std::string>;

void Store(const QString& path, const std::vector<std::pair<std::string, Value>>& values) {
    platform::SettingsStore store(path.toStdString());
    std::string error;
    QVERIFY(store.Open(error));
    for (const auto& [name, value] : values) {
        if (auto* n = std::get_if<int32_t>(&value))
            store.WriteInteger(name, *n);
        else
            store.WriteString(name, std::get<std::string>(value));
    }
    QVERIFY2(store.Save(error), error.c_str());
}

QByteArray Read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QList<QCheckBox*> Boxes(TTranDlg& w) {
    return {w.InvLinesBox, w.ToEmuBox,     w.TI86Back4p,  w.TI89ClipSS,
            w.TI89Save92,  w.TI89MenuOnly, w.TI89UseFold, w.TI89SendToF};
}

} // namespace

class SettingsTests : public QObject {
    Q_OBJECT
    QString StartDir;

private slots:
    void init() { StartDir = QDir::currentPath(); }
    void cleanup() { QDir::setCurrent(StartDir); }

    void FirstStartCreatesTheStoreAndShowsTheDefaults() {
        WindowRig rig;
        QVERIFY(!QFile::exists(rig.SettingsPath()));
        TTranDlg w(rig.Setup());
        QVERIFY(QFile::exists(rig.SettingsPath()));
        QCOMPARE(w.DirectoryListBox->Directory(), StartDir);
        QCOMPARE(w.LinkPortComboBox->currentText(), QString("0x378-LPT"));
        QCOMPARE(w.DelayEdit->text(), QString("1000"));
        QCOMPARE(w.DelayUpDown->Position(), 1000);
        QCOMPARE(w.DefFoldName->text(), QString("main"));
        for (QCheckBox* box : Boxes(w)) QVERIFY2(!box->isChecked(), qPrintable(box->text()));
        QCOMPARE(int(w.CalcType), 5);
        QCOMPARE(w.LiveJobs(), 1); // the refresh job
        QTRY_COMPARE(w.LiveJobs(), 0);
        QCOMPARE(w.StatusBar1->PanelText(0), QString("TI85"));
        QVERIFY(w.TI851->isChecked());
        QVERIFY(rig.Prompts->Log.isEmpty());
    }

    void SaveAndRestartRestoresEveryValue() {
        WindowRig rig;
        QDir(rig.Home.path()).mkpath("start");
        const QString start = rig.Home.filePath("start");
        {
            TTranDlg w(rig.Setup());
            QTRY_COMPARE(w.LiveJobs(), 0);
            QVERIFY(w.StartDirectoryListBox->SetDirectory(start));
            w.DefFoldName->setText("folder12"); // 8 characters, the limit
            w.LinkPortComboBox->setCurrentIndex(5);
            QTRY_COMPARE(w.LiveJobs(), 0);
            w.DelayEdit->setText("2500");
            for (QCheckBox* box : Boxes(w)) box->setChecked(true);
            w.CalcType = 8;
            w.SaveBtn2->click();
            QTRY_COMPARE(w.LiveJobs(), 0);
        }
        TTranDlg w(rig.Setup());
        QCOMPARE(w.DirectoryListBox->Directory(), start);
        QCOMPARE(w.StartDirectoryListBox->Directory(), start);
        QCOMPARE(w.DefFoldName->text(), QString("folder12"));
        QCOMPARE(w.LinkPortComboBox->currentIndex(), 5);
        QCOMPARE(w.DelayEdit->text(), QString("2500"));
        for (QCheckBox* box : Boxes(w)) QVERIFY2(box->isChecked(), qPrintable(box->text()));
        QCOMPARE(int(w.CalcType), 8);
        // A stored virtual cable disables the port list and the detection.
        QVERIFY(!w.LinkPortComboBox->isEnabled());
        QVERIFY(!w.DtctAddBtn->isEnabled());
        QVERIFY(rig.Prompts->Log.isEmpty());
        QTRY_COMPARE(w.LiveJobs(), 0);
    }

    void StoredValuesAreTakenAsTheirControlsAllow_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("stored");
        QTest::addColumn<QString>("control");
        QTest::addColumn<int>("expected");
        QTest::newRow("Calc Type 261 is 5") << "Calc Type" << 261 << "calc" << 5;
        QTest::newRow("Calc Type -247 is 9") << "Calc Type" << -247 << "calc" << 9;
        QTest::newRow("port outside the list") << "Link Port" << 9 << "port" << -1;
        QTest::newRow("port -1") << "Link Port" << -1 << "port" << -1;
        QTest::newRow("port name in other case") << "link port" << 3 << "port" << 3;
        QTest::newRow("delay above the range") << "Delay val" << 40000 << "delay" << 32600;
        QTest::newRow("delay below the range") << "Delay val" << -5 << "delay" << 0;
        QTest::newRow("any number ticks") << "Invert Lines" << 7 << "invert" << 1;
    }
    void StoredValuesAreTakenAsTheirControlsAllow() {
        QFETCH(QString, name);
        QFETCH(int, stored);
        QFETCH(QString, control);
        QFETCH(int, expected);
        WindowRig rig;
        Store(rig.SettingsPath(), {{name.toStdString(), stored}});
        TTranDlg w(rig.Setup());
        const int actual = control == "calc"    ? int(w.CalcType)
                           : control == "port"  ? w.LinkPortComboBox->currentIndex()
                           : control == "delay" ? w.DelayEdit->text().toInt()
                                                : int(w.InvLinesBox->isChecked());
        QCOMPARE(actual, expected);
        QVERIFY(rig.Prompts->Log.isEmpty());
        QTRY_COMPARE(w.LiveJobs(), 0);
    }

    void AValueOfTheWrongTypeEndsTheConstruction() {
        WindowRig rig;
        Store(rig.SettingsPath(), {{"Delay val", std::string("fast")}});
        const QByteArray before = Read(rig.SettingsPath());
        bool thrown = false;
        try {
            TTranDlg w(rig.Setup());
        } catch (const app::SettingsTypeError& e) {
            thrown = true;
            QVERIFY(QString(e.what()).contains("Delay val"));
        }
        QVERIFY(thrown);
        QCOMPARE(Read(rig.SettingsPath()), before);
    }

    void AnUnparsableFileIsReportedAndNeverOverwritten() {
        WindowRig rig;
        QFile f(rig.SettingsPath());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("this is not a registry file\n\"Calc Type\"=dword:zz\n");
        f.close();
        const QByteArray before = Read(rig.SettingsPath());
        TTranDlg w(rig.Setup());
        QCOMPARE(rig.Prompts->Log, QStringList{"error:Lodestrum Error:Unable to open registry."});
        // The built-in values, and no refresh job.
        QCOMPARE(w.LiveJobs(), 0);
        QCOMPARE(w.LinkPortComboBox->currentIndex(), -1);
        QCOMPARE(w.DelayEdit->text(), QString("0"));
        QCOMPARE(w.DefFoldName->text(), QString("main"));
        QCOMPARE(int(w.CalcType), 0);
        QCOMPARE(w.StatusBar1->PanelText(0), QString("TI85"));
        w.SaveOptBtn->click();
        QCOMPARE(rig.Prompts->Log.last(), QString("error:Lodestrum Error:Unable to open registery"));
        QCOMPARE(Read(rig.SettingsPath()), before);
    }

    void AStartDirectoryThatIsGoneIsReportedAndTheRestLoads() {
        WindowRig rig;
        Store(rig.SettingsPath(), {{"Start Directory", rig.Home.filePath("gone").toStdString()},
                                   {"Calc Type", 3}});
        TTranDlg w(rig.Setup());
        QCOMPARE(rig.Prompts->Log,
                 QStringList{"error:Lodestrum Error:Unable to locate the specified start directory."});
        QCOMPARE(w.DirectoryListBox->Directory(), StartDir);
        QCOMPARE(int(w.CalcType), 3);
        QTRY_COMPARE(w.StatusBar1->PanelText(0), QString("TI83"));
        QTRY_COMPARE(w.LiveJobs(), 0);
    }

    void ANegativeDelayIsRefusedWhileTyped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("errors");
        QTest::newRow("minus alone") << "-" << "-" << 0;
        QTest::newRow("minus then digit") << "-5" << "0" << 1;
        QTest::newRow("minus zero") << "-0" << "-0" << 0;
        QTest::newRow("not a number") << "abc" << "abc" << 0;
        QTest::newRow("digits then text") << "12x" << "12x" << 0;
        QTest::newRow("blanks and minus") << "  -7" << "0" << 1;
    }
    void ANegativeDelayIsRefusedWhileTyped() {
        QFETCH(QString, typed);
        QFETCH(QString, text);
        QFETCH(int, errors);
        WindowRig rig;
        TTranDlg w(rig.Setup());
        w.DelayEdit->clear();
        QTest::keyClicks(w.DelayEdit, typed);
        QCOMPARE(w.DelayEdit->text(), text);
        QCOMPARE(rig.Prompts->Log.count("error:Error:Invalid delay value."), errors);
        QTRY_COMPARE(w.LiveJobs(), 0);
    }

    void TheUpDownFollowsAValidTextAndStepsByHundred() {
        WindowRig rig;
        TTranDlg w(rig.Setup());
        w.DelayEdit->setText("450");
        QCOMPARE(w.DelayUpDown->Position(), 450);
        w.DelayEdit->setText("99999");
        QCOMPARE(w.DelayUpDown->Position(), 450);
        w.DelayUpDown->Up()->click();
        QCOMPARE(w.DelayEdit->text(), QString("550"));
        w.DelayEdit->setText("32550");
        w.DelayUpDown->Up()->click();
        QCOMPARE(w.DelayEdit->text(), QString("32600"));
        QTRY_COMPARE(w.LiveJobs(), 0);
    }

    void ChoosingAPortStartsOneRefreshOnlyWhenIdle() {
        WindowRig rig;
        TTranDlg w(rig.Setup());
        QTRY_COMPARE(w.LiveJobs(), 0);
        QSignalSpy jobs(&w, &TTranDlg::JobCreated);
        w.LinkPortComboBox->setCurrentIndex(2);
        QCOMPARE(jobs.count(), 1);
        QCOMPARE(jobs.at(0).at(0).toInt(), 7);
        w.SendBtn->click(); // the double-click mode
        w.LinkPortComboBox->setCurrentIndex(3);
        QCOMPARE(jobs.count(), 1);
        QTRY_COMPARE(w.LiveJobs(), 0);
    }
};

int main(int argc, char** argv) {
    app::Application application(argc, argv);
    SettingsTests t;
    return QTest::qExec(&t, argc, argv);
}

#include "SettingsTests.moc"
