// The window's job workflow on the sim driver: which jobs start, in which
// order, and what the window shows meanwhile.
#include "AppTestSupport.h"

#include "app/Application.h"
#include "app/Messages.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTextBrowser>
#include <QtTest>

using namespace lodestrum;
using app::TTranDlg;
using apptest::TransferRecorder;
using apptest::WindowRig;

namespace {

QList<int> Codes(const QSignalSpy& spy) {
    QList<int> codes;
    for (const auto& args : spy) codes << args.at(0).toInt();
    return codes;
}

QStringList Paths(const QSignalSpy& spy) {
    QStringList paths;
    for (const auto& args : spy) paths << args.at(1).toString();
    return paths;
}

void Select(TTranDlg& w, const QStringList& names) {
    w.FileListBox->clearSelection();
    for (int i = 0; i < w.FileListBox->count(); ++i) {
        QListWidgetItem* item = w.FileListBox->item(i);
        if (names.contains(item->text())) item->setSelected(true);
    }
}

QListWidgetItem* Item(TTranDlg& w, const QString& name) {
    auto found = w.FileListBox->findItems(name, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
}

bool Idle(TTranDlg& w) {
    // Before the first job the window still shows its start captions.
    const bool fresh = w.StopBtn->text() == app::text::StopQuit &&
                       w.StatusBar1->PanelText(1) == app::text::Ready;
    const bool idled = w.StopBtn->text() == app::text::StopExit &&
                       w.StatusBar1->PanelText(1) == app::text::ReadyIdle;
    return !w.Sending && !w.JobRunning && (fresh || idled) && w.SendBtn->isEnabled() &&
           w.FileListBox->isEnabled() && w.SettingControls->isEnabled();
}

} // namespace

class WindowTests : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowRig> Rig;
    std::unique_ptr<TTranDlg> W;
    QString StartDir;

    void Open() {
        W = std::make_unique<TTranDlg>(Rig->Setup());
        QVERIFY(W->DirectoryListBox->SetDirectory(Rig->FilesDir()));
        QTRY_COMPARE(W->LiveJobs(), 0);
    }

private slots:
    void init() {
        StartDir = QDir::currentPath();
        Rig = std::make_unique<WindowRig>();
        Rig->MakeFiles({"A.85P", "B.85P", "C.85P", "D.85P", "notes.txt"});
        Open();
    }

    void cleanup() {
        TransferRecorder::Instance().Hold = false;
        if (W) QTRY_COMPARE(W->LiveJobs(), 0);
        W.reset();
        Rig.reset();
        QDir::setCurrent(StartDir);
    }

    void StartsWithTheDesignedLook() {
        QCOMPARE(W->windowTitle(), QString("Lodestrum 4.1Fr"));
        QCOMPARE(W->size(), QSize(486, 303));
        QCOMPARE(W->PageControl1->count(), 6);
        const QStringList tabs{"Envoie", "Capture écran", "Parametres", "Options Calculatrice",
                               "Xpander", "A Propos"};
        for (int i = 0; i < tabs.size(); ++i) QCOMPARE(W->PageControl1->tabText(i), tabs[i]);
        QCOMPARE(W->PageControl1->currentIndex(), 0);
        QCOMPARE(W->StopBtn->text(), QString("Quitter"));
        QVERIFY(W->StopBtn->font().bold());
        QCOMPARE(W->SendBtn->text(), QString("Go!!!"));
        QCOMPARE(W->StatusBar1->Panel(0)->width(), 67);
        QCOMPARE(W->StatusBar1->Panel(1)->width(), 330);
        QCOMPARE(W->StatusBar1->PanelText(0), QString("TI85"));
        QVERIFY(W->TI851->isChecked());
        QCOMPARE(W->FilterComboBox->count(), 13);
        QCOMPARE(W->FilterComboBox->itemText(12), QString("TIB Fichiers"));
        QCOMPARE(W->LinkPortComboBox->itemText(4), QString("0x3F8-COM"));
        QVERIFY(!W->CpyClipBtn->isEnabled() && !W->SaveBMPBtn->isEnabled());
        QVERIFY(!W->Button1->isEnabled() && !W->Button2->isEnabled() && !W->Button3->isEnabled());
        // Only calculator files are listed, sorted.
        QCOMPARE(W->FileListBox->count(), 4);
        QCOMPARE(W->FileListBox->item(0)->text(), QString("A.85P"));
        // The help text came from the shipped file, not the built-in line.
        QVERIFY(W->RichEdit1->toPlainText().contains("LODESTRUM_PORT_DRIVER"));
        QVERIFY(Rig->Prompts->Log.isEmpty());
    }

    void GoWithOneSelectedOpensTheDoubleClickMode() {
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        Select(*W, {"B.85P"});
        W->SendBtn->click();
        QVERIFY(W->Sending);
        QVERIFY(!W->JobRunning);
        QCOMPARE(W->StopBtn->text(), QString(" OK "));
        QCOMPARE(W->StatusBar1->PanelText(1), QString("Double-Click on each file to send it."));
        QVERIFY(W->FileListBox->isEnabled());
        QVERIFY(!W->SendBtn->isEnabled());
        QVERIFY(!W->SettingControls->isEnabled());
        QTest::qWait(50);
        QCOMPARE(jobs.count(), 0);
    }

    void BatchSendsSelectedFilesInOrderThenClosesTheSeries_data() {
        QTest::addColumn<int>("calcType");
        QTest::addColumn<bool>("varLinkOnly");
        QTest::addColumn<QList<int>>("codes");
        QTest::newRow("TI-85 closes with EOT") << 5 << false << QList<int>{1, 1, 1, 6};
        QTest::newRow("TI-89 Home screen needs none") << 8 << false << QList<int>{1, 1, 1};
        QTest::newRow("TI-89 Var-Link closes") << 8 << true << QList<int>{1, 1, 1, 6};
        QTest::newRow("TI-92 Home screen needs none") << 9 << false << QList<int>{1, 1, 1};
    }
    void BatchSendsSelectedFilesInOrderThenClosesTheSeries() {
        QFETCH(int, calcType);
        QFETCH(bool, varLinkOnly);
        QFETCH(QList<int>, codes);
        W->CalcType = static_cast<uint8_t>(calcType);
        W->TI89MenuOnly->setChecked(varLinkOnly);
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        Select(*W, {"A.85P", "C.85P", "D.85P"});
        QCOMPARE(W->SendBtn->text(), QString("Send Selected"));
        W->SendBtn->click();
        QTRY_VERIFY(Idle(*W));
        QTRY_COMPARE(W->LiveJobs(), 0);
        QCOMPARE(Codes(jobs), codes);
        const QString dir = Rig->FilesDir();
        QCOMPARE(Paths(jobs).mid(0, 3),
                 (QStringList{dir + "/A.85P", dir + "/C.85P", dir + "/D.85P"}));
        // The jobs ran one after the other.
        const QStringList ev = TransferRecorder::Instance().Snapshot();
        for (int i = 0; i + 1 < ev.size(); i += 2) {
            QVERIFY(ev[i].startsWith("begin:"));
            QCOMPARE(ev[i + 1], QString(ev[i]).replace("begin:", "end:"));
        }
    }

    void StopDuringTheSecondFileEndsTheBatch() {
        TransferRecorder::Instance().Passes = 1;
        TransferRecorder::Instance().Hold = true;
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        Select(*W, {"A.85P", "B.85P", "C.85P"});
        W->SendBtn->click();
        QTRY_COMPARE(TransferRecorder::Instance().Snapshot().filter("begin:").size(), 2);
        QTRY_COMPARE(TransferRecorder::Instance().Running.load(), 1);
        W->StopBtn->click();
        QVERIFY(Idle(*W)); // at once, before the job has ended
        QTRY_COMPARE(W->LiveJobs(), 0);
        QTest::qWait(50);
        QCOMPARE(Codes(jobs), (QList<int>{1, 1}));
        QVERIFY(Idle(*W));
    }

    void DoubleClickWhileIdleSendsOneFileWithCode5() {
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        TransferRecorder::Instance().Hold = true;
        W->FileListBox->setCurrentItem(Item(*W, "C.85P"));
        emit W->FileListBox->itemDoubleClicked(Item(*W, "C.85P"));
        QVERIFY(W->JobRunning);
        QCOMPARE(W->StopBtn->text(), QString("Stop"));
        QVERIFY(!W->FileListBox->isEnabled() && !W->SendBtn->isEnabled());
        TransferRecorder::Instance().Hold = false;
        QTRY_VERIFY(Idle(*W));
        QTRY_COMPARE(W->LiveJobs(), 0);
        QCOMPARE(Codes(jobs), QList<int>{5});
        QCOMPARE(Paths(jobs), QStringList{Rig->FilesDir() + "/C.85P"});
    }

    void DoubleClickModeSendsEachFileAndOkClosesIt_data() {
        QTest::addColumn<int>("calcType");
        QTest::addColumn<QList<int>>("codes");
        QTest::newRow("TI-85") << 5 << QList<int>{1, 1, 6};
        QTest::newRow("TI-89 Home screen") << 8 << QList<int>{1, 1};
    }
    void DoubleClickModeSendsEachFileAndOkClosesIt() {
        QFETCH(int, calcType);
        QFETCH(QList<int>, codes);
        W->CalcType = static_cast<uint8_t>(calcType);
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        W->SendBtn->click();
        for (const char* name : {"A.85P", "D.85P"}) {
            W->FileListBox->setCurrentItem(Item(*W, name));
            W->FileListBoxKeyPress(Qt::Key_Return);
            QVERIFY(W->JobRunning);
            QTRY_VERIFY(!W->JobRunning);
            QCOMPARE(W->StatusBar1->PanelText(1), QString("Double-Click on each file to send it."));
            QCOMPARE(W->StopBtn->text(), QString(" OK "));
            QVERIFY(W->FileListBox->isEnabled());
            QVERIFY(W->Sending);
        }
        W->StopBtn->click();
        QTRY_VERIFY(Idle(*W));
        QTRY_COMPARE(W->LiveJobs(), 0);
        QCOMPARE(Codes(jobs), codes);
    }

    void EscapeStopsAJobAndQuitsWhenIdle() {
        W->show();
        W->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(W.get()));
        QSignalSpy quit(W.get(), &TTranDlg::ApplicationTerminated);
        TransferRecorder::Instance().Hold = true;
        W->FileListBox->setCurrentItem(Item(*W, "A.85P"));
        W->FileListBoxDblClick();
        QTRY_COMPARE(TransferRecorder::Instance().Running.load(), 1);
        QTest::keyClick(W.get(), Qt::Key_Escape);
        QVERIFY(Idle(*W));
        QTRY_COMPARE(W->LiveJobs(), 0);
        QCOMPARE(quit.count(), 0);
        QTest::keyClick(W.get(), Qt::Key_Escape);
        QTRY_COMPARE(quit.count(), 1);
    }

    void ClosingTheWindowStopsTheJobAndWaitsForIt() {
        W->show();
        QSignalSpy quit(W.get(), &TTranDlg::ApplicationTerminated);
        TransferRecorder::Instance().Hold = true;
        W->FileListBox->setCurrentItem(Item(*W, "A.85P"));
        W->FileListBoxDblClick();
        QTRY_COMPARE(TransferRecorder::Instance().Running.load(), 1);
        QVERIFY(!W->close()); // stays until the job has ended
        QTRY_COMPARE(quit.count(), 1);
        QCOMPARE(W->LiveJobs(), 0);
        QVERIFY(W->close());
    }

    void AJobAfterStopWaitsAndTheStoppedOnesEndChangesNothing() {
        TransferRecorder::Instance().Hold = true;
        W->FileListBox->setCurrentItem(Item(*W, "A.85P"));
        W->FileListBoxDblClick();
        QTRY_COMPARE(TransferRecorder::Instance().Running.load(), 1);
        // Stop, then at once a new send: the stopped job has not ended yet.
        W->StopBtn->click();
        W->FileListBox->setCurrentItem(Item(*W, "B.85P"));
        W->FileListBoxDblClick();
        QTRY_VERIFY(TransferRecorder::Instance().Snapshot().contains("end:5:" + Rig->FilesDir() + "/A.85P"));
        QTRY_COMPARE(TransferRecorder::Instance().Running.load(), 1);
        QTest::qWait(30);
        // The first job's completion did not make the window idle.
        QVERIFY(W->JobRunning);
        QCOMPARE(W->StopBtn->text(), QString("Stop"));
        const QStringList ev = TransferRecorder::Instance().Snapshot();
        QVERIFY(ev.indexOf("end:5:" + Rig->FilesDir() + "/A.85P") <
                ev.indexOf("begin:5:" + Rig->FilesDir() + "/B.85P"));
        TransferRecorder::Instance().Hold = false;
        QTRY_VERIFY(Idle(*W));
    }

    void StoppingAJobThenOpeningASeriesIgnoresTheOldCompletion() {
        TransferRecorder::Instance().Hold = true;
        Select(*W, {"A.85P", "B.85P"});
        W->SendBtn->click();
        QTRY_COMPARE(TransferRecorder::Instance().Running.load(), 1);
        W->StopBtn->click();
        Select(*W, {"C.85P"});
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        W->SendBtn->click(); // double-click mode, no job
        TransferRecorder::Instance().Hold = false;
        QTRY_COMPARE(W->LiveJobs(), 0);
        QTest::qWait(30);
        // The stopped batch job's end did not resume the batch.
        QCOMPARE(jobs.count(), 0);
        QVERIFY(W->Sending);
        QCOMPARE(W->StopBtn->text(), QString(" OK "));
    }

    void TheMenuOpensOnlyWhileIdleAndSetsTheType() {
        W->SendBtn->click();
        W->Image1Click();
        QVERIFY(!W->CalcTypeMenu->isVisible());
        W->StopBtn->click(); // closes the TI-85 series with a code 6 job
        QTRY_VERIFY(Idle(*W));
        QTRY_COMPARE(W->LiveJobs(), 0);
        W->show();
        W->Image1Click();
        QTRY_VERIFY(W->CalcTypeMenu->isVisible());
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        W->TI921->trigger();
        W->CalcTypeMenu->hide();
        QCOMPARE(int(W->CalcType), 9);
        QCOMPARE(Codes(jobs), QList<int>{7});
        QVERIFY(!W->TI921->isChecked()); // until the job shows the type
        QTRY_COMPARE(W->StatusBar1->PanelText(0), QString("TI92"));
        QVERIFY(W->TI921->isChecked());
        QVERIFY(!W->TI851->isChecked());
    }

    void SendCaptionFollowsTheSelection() {
        QCOMPARE(W->SendBtn->text(), QString("Go!!!"));
        Select(*W, {"A.85P"});
        QCOMPARE(W->SendBtn->text(), QString("Go!!!"));
        Select(*W, {"A.85P", "B.85P"});
        QCOMPARE(W->SendBtn->text(), QString("Send Selected"));
        Select(*W, {"B.85P"});
        QCOMPARE(W->SendBtn->text(), QString("Send"));
        Select(*W, {});
        QCOMPARE(W->SendBtn->text(), QString("Send"));
    }

    void EnterInAnEmptyListSendsAnEmptyPath() {
        QDir(Rig->FilesDir()).mkdir("empty");
        QVERIFY(W->DirectoryListBox->SetDirectory(Rig->FilesDir() + "/empty"));
        QCOMPARE(W->FileListBox->count(), 0);
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        QTest::keyClick(W->FileListBox, Qt::Key_Return);
        QCOMPARE(Codes(jobs), QList<int>{5});
        QCOMPARE(Paths(jobs), QStringList{QString()});
        QTRY_VERIFY(Idle(*W));
    }

    void DirectoryTreesSetTheCurrentFolder() {
        QDir(Rig->FilesDir()).mkdir("sub");
        QVERIFY(W->DirectoryListBox->SetDirectory(Rig->FilesDir() + "/sub"));
        QCOMPARE(QDir::currentPath(), QDir(Rig->FilesDir() + "/sub").canonicalPath());
        QCOMPARE(W->FileListBox->Directory(), Rig->FilesDir() + "/sub");
        QVERIFY(W->StartDirectoryListBox->SetDirectory(Rig->FilesDir()));
        QCOMPARE(QDir::currentPath(), QDir(Rig->FilesDir()).canonicalPath());
        // A folder that is gone changes nothing.
        QVERIFY(!W->DirectoryListBox->SetDirectory(Rig->FilesDir() + "/gone"));
        QCOMPARE(W->DirectoryListBox->Directory(), Rig->FilesDir() + "/sub");
    }

    void EnterInTheNameEditAppliesIt() {
        QDir(Rig->FilesDir()).mkdir("sub");
        Rig->MakeFiles({"sub/E.83P", "sub/f.83p", "sub/G.85P"});
        auto enter = [&](const QString& text) {
            W->FileNameEdit->setText(text);
            QTest::keyClick(W->FileNameEdit, Qt::Key_Return);
        };
        enter("sub");
        QCOMPARE(W->DirectoryListBox->Directory(), Rig->FilesDir() + "/sub");
        enter("*.83p"); // masks ignore case
        QCOMPARE(W->FileListBox->count(), 2);
        enter("f.83p");
        QCOMPARE(W->FileListBox->currentItem()->text(), QString("f.83p"));
        enter(Rig->FilesDir() + "/*.85?");
        QCOMPARE(W->DirectoryListBox->Directory(), Rig->FilesDir());
        QCOMPARE(W->FileListBox->count(), 4);
        // An unknown name is the list's own error, shown by the standard box.
        auto* application = static_cast<app::Application*>(QCoreApplication::instance());
        application->SetPrompts(Rig->Prompts);
        enter("nothere.85p");
        QCOMPARE(Rig->Prompts->Log.filter("standard:").size(), 1);
        QVERIFY(Rig->Prompts->Log.last().contains("nothere.85p"));
        QVERIFY(Idle(*W));
        QCOMPARE(W->FileListBox->count(), 4);
    }
};

class HelpTextTests : public QObject {
    Q_OBJECT
private slots:
    void MissingHelpIsReportedOnceAndTheBuiltInTextStays() {
        WindowRig rig;
        auto setup = rig.Setup();
        setup.HelpFolders = {rig.Home.filePath("nowhere").toStdString()};
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(rig.Home.path());
        TTranDlg w(setup);
        QDir::setCurrent(cwd);
        QCOMPARE(rig.Prompts->Log.filter("Lodestrum.RTF"),
                 QStringList{"error:Lodestrum Error:Unable to open help file: Lodestrum.RTF"});
        QCOMPARE(w.RichEdit1->toPlainText(), QString("[Unable to load help file: 'Lodestrum.RTF']"));
        QTRY_COMPARE(w.LiveJobs(), 0);
    }

    void TheCurrentFolderComesFirst() {
        WindowRig rig;
        QFile f(rig.Home.filePath("Lodestrum.rtf"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{\\rtf1 Local {\\b help}.}");
        f.close();
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(rig.Home.path());
        TTranDlg w(rig.Setup());
        QDir::setCurrent(cwd);
        QCOMPARE(w.RichEdit1->toPlainText(), QString("Local help."));
        QTRY_COMPARE(w.LiveJobs(), 0);
    }
};

int main(int argc, char** argv) {
    app::Application application(argc, argv);
    int status = 0;
    {
        WindowTests t;
        status |= QTest::qExec(&t, argc, argv);
    }
    {
        HelpTextTests t;
        status |= QTest::qExec(&t, argc, argv);
    }
    return status;
}

#include "WindowTests.moc"
