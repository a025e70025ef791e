// The real window with the real transfers, against the simulated calculator
// on the sim driver: what the calculator stores and sends, and what the
// window shows and writes.
#include "AppTestSupport.h"

#include "app/Application.h"
#include "app/Messages.h"
#include "files/MonoImageFile.h"
#include "files/Ti89File.h"
#include "files/Ti8xFile.h"
#include "transfers/Transfers.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using namespace lodestrum;
using app::TTranDlg;
using apptest::WindowRig;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Ti85Program(const std::string& name, std::size_t tokens = 4) {
    Bytes data{static_cast<uint8_t>(tokens & 0xFF), static_cast<uint8_t>(tokens >> 8)};
    for (std::size_t i = 0; i < tokens; ++i)
        data.push_back(static_cast<uint8_t>(0x41 + i % 26));
    Bytes header{static_cast<uint8_t>(data.size() & 0xFF), static_cast<uint8_t>(data.size() >> 8),
                 0x12, static_cast<uint8_t>(name.size())};
    header.insert(header.end(), name.begin(), name.end());
    return files::BuildTi8xFile(5, files::Ti8xComment::Transferred, {{header, {data}}});
}

Bytes Ti89Program(const std::string& name) {
    const Bytes data{0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0xE9, 0x12, 0xE4, 0xDC};
    return files::BuildTi89SingleFile(8, false, files::Ti89Variable{name, 0x12, data});
}

QList<int> Codes(const QSignalSpy& spy) {
    QList<int> codes;
    for (const auto& args : spy)
        codes << args.at(0).toInt();
    return codes;
}

void Select(TTranDlg& w, const QStringList& names) {
    w.FileListBox->clearSelection();
    for (int i = 0; i < w.FileListBox->count(); ++i)
        if (names.contains(w.FileListBox->item(i)->text()))
            w.FileListBox->item(i)->setSelected(true);
}

void DoubleClick(TTranDlg& w, const QString& name) {
    const auto found = w.FileListBox->findItems(name, Qt::MatchExactly);
    QVERIFY(!found.isEmpty());
    w.FileListBox->setCurrentItem(found.first());
    emit w.FileListBox->itemDoubleClicked(found.first());
}

bool Idle(const TTranDlg& w) {
    return !w.Sending && !w.JobRunning && w.StopBtn->text() == app::text::StopExit &&
           w.SendBtn->isEnabled() && w.FileListBox->isEnabled();
}

QStringList StoredNames(drivers::SimDriver& sim) {
    QStringList names;
    sim.Calculator().WaitIdle();
    for (const auto& v : sim.Calculator().Memory())
        names << QString::fromStdString(vcalc::VariableName(sim.Calculator().Options().Kind, v));
    return names;
}

// A picture as a capture hands it over: stripes, so rows differ.
engine::MonoImage Stripes(int width, int height) {
    engine::MonoImage image{width, height, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width / 8; ++x)
            image.Bits.push_back(static_cast<uint8_t>(y * 29 + x * 5));
    return image;
}

// Capture over the sim cable is slow (the calculator-to-PC direction), so
// only the test of the capture itself waits for one.
constexpr int CaptureTimeout = 150000;

} // namespace

class WindowLinkTests : public QObject {
    Q_OBJECT

    std::unique_ptr<WindowRig> Rig;
    std::unique_ptr<TTranDlg> W;
    drivers::SimDriver* Sim = nullptr;
    QString StartDir;

    void Open(vcalc::CalcOptions options, uint8_t calcType) {
        Sim = &Rig->UseCalculator(std::move(options));
        Sim->Calculator().Start();
        W = std::make_unique<TTranDlg>(Rig->Setup(&transfers::DefaultTransfers()));
        QVERIFY(W->DirectoryListBox->SetDirectory(Rig->FilesDir()));
        QTRY_COMPARE(W->LiveJobs(), 0);
        W->DelayEdit->setText("0");
        W->CalcType = calcType;
    }

    vcalc::CalcOptions Model(vcalc::Model kind) {
        vcalc::CalcOptions o;
        o.Kind = kind;
        return o;
    }

  private slots:
    void init() {
        StartDir = QDir::currentPath();
        Rig = std::make_unique<WindowRig>();
    }

    void cleanup() {
        if (W) {
            W->StopBtnClick();
            QTRY_COMPARE(W->LiveJobs(), 0);
        }
        W.reset();
        Rig.reset();
        Sim = nullptr;
        QDir::setCurrent(StartDir);
    }

    void ThreeTi85FilesAreStoredInListOrderThenOneEot() {
        for (const char* n : {"A", "B", "C"})
            Rig->WriteFile(QString(n) + ".85P", Ti85Program(n));
        Open(Model(vcalc::Model::TI85), 5);
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        Select(*W, {"C.85P", "A.85P", "B.85P"});
        W->SendBtn->click();
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*W), 20000);
        QTRY_COMPARE(W->LiveJobs(), 0);
        QCOMPARE(Codes(jobs), (QList<int>{1, 1, 1, 6}));
        QCOMPARE(StoredNames(*Sim), (QStringList{"A", "B", "C"}));
        QCOMPARE(Sim->Calculator().EotCount(), 1);
        QVERIFY(Rig->Prompts->Log.isEmpty());
    }

    // A TI-89 series ends each file with EOT at the Home screen, so no closing
    // job follows; under Var-Link only the closing job ends it.
    void Ti89SeriesCloseByTheVarLinkOption_data() {
        QTest::addColumn<bool>("varLinkOnly");
        QTest::addColumn<bool>("batch");
        QTest::addColumn<QList<int>>("codes");
        QTest::addColumn<int>("eots");
        QTest::newRow("batch, Home screen") << false << true << QList<int>{1, 1, 1} << 3;
        QTest::newRow("batch, Var-Link") << true << true << QList<int>{1, 1, 1, 6} << 1;
        QTest::newRow("double-click mode, Home screen")
            << false << false << QList<int>{1, 1, 1} << 3;
        QTest::newRow("double-click mode, Var-Link")
            << true << false << QList<int>{1, 1, 1, 6} << 1;
    }
    void Ti89SeriesCloseByTheVarLinkOption() {
        QFETCH(bool, varLinkOnly);
        QFETCH(bool, batch);
        QFETCH(QList<int>, codes);
        QFETCH(int, eots);
        for (const char* n : {"a", "b", "c"})
            Rig->WriteFile(QString(n) + ".89P", Ti89Program(n));
        Open(Model(vcalc::Model::TI89), 8);
        W->TI89MenuOnly->setChecked(varLinkOnly);
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        if (batch) {
            Select(*W, {"a.89P", "b.89P", "c.89P"});
            W->SendBtn->click();
        } else {
            Select(*W, {});
            W->SendBtn->click();
            for (const char* n : {"a.89P", "b.89P", "c.89P"}) {
                DoubleClick(*W, n);
                QTRY_VERIFY_WITH_TIMEOUT(!W->JobRunning, 20000);
                QCOMPARE(W->StatusBar1->PanelText(1), QString(app::text::DoubleClickEach));
            }
            W->StopBtn->click(); // " OK "
        }
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*W), 20000);
        QTRY_COMPARE(W->LiveJobs(), 0);
        QCOMPARE(Codes(jobs), codes);
        QCOMPARE(StoredNames(*Sim), (QStringList{"main\\a", "main\\b", "main\\c"}));
        QCOMPARE(Sim->Calculator().EotCount(), eots);
    }

    void ADoubleClickWhileIdleSendsOneFileThatClosesItself() {
        Rig->WriteFile("A.85P", Ti85Program("A"));
        Open(Model(vcalc::Model::TI85), 5);
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        DoubleClick(*W, "A.85P");
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*W), 20000);
        QTRY_COMPARE(W->LiveJobs(), 0);
        QCOMPARE(Codes(jobs), QList<int>{5});
        QCOMPARE(StoredNames(*Sim), QStringList{"A"});
        QCOMPARE(Sim->Calculator().EotCount(), 1);
    }

    void StopDuringTheSecondFileSendsNeitherTheThirdNorEot() {
        Rig->WriteFile("A.85P", Ti85Program("A"));
        Rig->WriteFile("B.85P", Ti85Program("B", 30000));
        Rig->WriteFile("C.85P", Ti85Program("C"));
        Open(Model(vcalc::Model::TI85), 5);
        W->DelayEdit->setText("200");
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        Select(*W, {"A.85P", "B.85P", "C.85P"});
        W->SendBtn->click();
        QTRY_VERIFY_WITH_TIMEOUT(W->ProgressBar1->value() > 0 && Codes(jobs).size() == 2, 20000);
        W->StopBtn->click();
        QVERIFY(Idle(*W));
        QTRY_COMPARE_WITH_TIMEOUT(W->LiveJobs(), 0, 20000);
        QTest::qWait(100);
        QCOMPARE(Codes(jobs), (QList<int>{1, 1}));
        QCOMPARE(StoredNames(*Sim), QStringList{"A"});
        QCOMPARE(Sim->Calculator().EotCount(), 0);
        QVERIFY(Idle(*W));
    }

    void ReceiveStoresEachVariableInTheBrowsersFolder() {
        QDir(Rig->Home.path()).mkpath("calc");
        QFile::copy(LODESTRUM_EXAMPLES "/ABC.85P", Rig->CalcDir() + "/ABC.85P");
        Open(Model(vcalc::Model::TI85), 5);
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        W->ReceiveBtn->click();
        QVERIFY(W->JobRunning);
        QCOMPARE(W->StopBtn->text(), QString("Stop"));
        QVERIFY(!W->ReceiveBtn->isEnabled() && !W->ScrShotBtn->isEnabled());
        Sim->Calculator().QueueSend({"ABC"});
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(Rig->FilesDir() + "/ABC.85P"), 20000);
        QTRY_VERIFY(!W->FileListBox->findItems("ABC.85P", Qt::MatchExactly).isEmpty());
        W->StopBtn->click();
        QVERIFY(Idle(*W));
        QTRY_COMPARE(W->LiveJobs(), 0);
        QCOMPARE(Codes(jobs), QList<int>{2});
        QCOMPARE(QFileInfo(Rig->FilesDir() + "/ABC.85P").size(),
                 QFileInfo(LODESTRUM_EXAMPLES "/ABC.85P").size());
    }

    void GroupReceiveAsksForTheFileFirst() {
        QDir(Rig->Home.path()).mkpath("calc");
        QFile::copy(LODESTRUM_EXAMPLES "/ABC.85P", Rig->CalcDir() + "/ABC.85P");
        Open(Model(vcalc::Model::TI85), 5);
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        // Cancelled: nothing else happens.
        Rig->Prompts->SaveAnswers = {QString()};
        W->ReceiveGBtn->click();
        QCOMPARE(W->SaveDialog1->windowTitle(), QString("Save group file as:"));
        QCOMPARE(W->SaveDialog1->selectedNameFilter(), W->SaveDialog1->nameFilters().at(3));
        QVERIFY(W->SaveDialog1->selectedNameFilter().startsWith("TI85"));
        QCOMPARE(QDir(W->SaveDialog1->directory()).canonicalPath(),
                 QDir(Rig->FilesDir()).canonicalPath());
        QCOMPARE(jobs.count(), 0);
        QVERIFY(!W->JobRunning);

        const QString group = Rig->FilesDir() + "/mine.85G";
        Rig->Prompts->SaveAnswers = {group};
        W->ReceiveGBtn->click();
        QCOMPARE(Codes(jobs), QList<int>{3});
        QCOMPARE(QFileInfo(jobs.at(0).at(1).toString()).fileName(), QString("mine.85G"));
        QVERIFY(W->JobRunning);
        Sim->Calculator().QueueSend({"ABC"});
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*W), 20000);
        QVERIFY(QFile::exists(group));
        QVERIFY(!W->FileListBox->findItems("mine.85G", Qt::MatchExactly).isEmpty());
    }

    void CaptureShowsTheScreenAndEnablesTheExports() {
        Open(Model(vcalc::Model::TI85), 5);
        QVERIFY(!W->CpyClipBtn->isEnabled() && !W->SaveBMPBtn->isEnabled());
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        W->ScrShotBtn->click();
        QVERIFY(W->JobRunning && !W->ScrShotBtn->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(Idle(*W), CaptureTimeout);
        QCOMPARE(Codes(jobs), QList<int>{4});
        QVERIFY(W->CpyClipBtn->isEnabled() && W->SaveBMPBtn->isEnabled());
        QCOMPARE(W->ScrBitmap.size(), QSize(128, 64));
        QCOMPARE(W->ScrBitmap.format(), QImage::Format_Mono);
        QVERIFY(!W->ScrImage->pixmap().isNull());

        W->CpyClipBtn->click();
        QCOMPARE(W->StatusBar1->PanelText(1), QString("Image copied to Clipboard. Ready."));
        const QImage pasted = QGuiApplication::clipboard()->image();
        QCOMPARE(pasted.size(), QSize(128, 64));
        QCOMPARE(pasted.convertToFormat(QImage::Format_RGB32),
                 W->ScrBitmap.convertToFormat(QImage::Format_RGB32));
    }

    void AStoppedFirstCaptureStillEnablesTheExports() {
        vcalc::CalcOptions o = Model(vcalc::Model::TI85);
        o.Silent = true;
        Open(o, 5);
        W->ScrShotBtn->click();
        QTest::qWait(50);
        W->StopBtn->click();
        QTRY_VERIFY(W->CpyClipBtn->isEnabled() && W->SaveBMPBtn->isEnabled());
        QVERIFY(W->ScrBitmap.isNull());
        QGuiApplication::clipboard()->setText("before");
        W->CpyClipBtn->click();
        QCOMPARE(W->StatusBar1->PanelText(1), QString("Image copied to Clipboard. Ready."));
        QVERIFY(QGuiApplication::clipboard()->text().isEmpty());
        QVERIFY(QGuiApplication::clipboard()->image().isNull());
    }

    void AClipboardFailureIsOnlyInTheStatusLine() {
        Sim = &Rig->UseCalculator(Model(vcalc::Model::TI85));
        Sim->Calculator().Start();
        auto setup = Rig->Setup(&transfers::DefaultTransfers());
        setup.CopyToClipboard = [](const QImage&) { return false; };
        W = std::make_unique<TTranDlg>(setup);
        QTRY_COMPARE(W->LiveJobs(), 0);
        W->ShowScreenImage(Stripes(128, 64));
        W->ScrSDone();
        W->CpyClipBtn->click();
        QCOMPARE(W->StatusBar1->PanelText(1), QString("Error copying image to clipboard. Ready."));
        QVERIFY(Rig->Prompts->Log.isEmpty());
        QVERIFY(Idle(*W));
    }

    void SaveWritesAOneBitPicture_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("filter");
        QTest::addColumn<QString>("written");
        QTest::newRow("no extension gets BMP") << "shot"
                                               << "Bitmaps (*.bmp)"
                                               << "shot.BMP";
        QTest::newRow("bmp kept") << "a.bmp"
                                  << "Bitmaps (*.bmp)"
                                  << "a.bmp";
        QTest::newRow("PNG filter") << "b"
                                    << "PNG (*.png)"
                                    << "b.png";
        QTest::newRow("png by name") << "c.PNG"
                                     << "Bitmaps (*.bmp)"
                                     << "c.PNG";
    }
    void SaveWritesAOneBitPicture() {
        QFETCH(QString, typed);
        QFETCH(QString, filter);
        QFETCH(QString, written);
        Open(Model(vcalc::Model::TI85), 5);
        W->ShowScreenImage(Stripes(128, 64));
        W->ScrSDone();
        QFileDialog& d = *W->SavePictureDialog1;
        QCOMPARE(d.windowTitle(), QString("Save Screen as:"));
        QCOMPARE(d.nameFilters(), (QStringList{"Bitmaps (*.bmp)", "PNG (*.png)"}));
        QCOMPARE(d.selectedNameFilter(), QString("Bitmaps (*.bmp)"));
        QCOMPARE(d.defaultSuffix(), QString("BMP"));
        QCOMPARE(d.acceptMode(), QFileDialog::AcceptSave);
        QVERIFY(!d.testOption(QFileDialog::DontConfirmOverwrite));
        d.selectNameFilter(filter);
        emit d.filterSelected(filter);
        const QString dir = Rig->Home.filePath("shots");
        QDir().mkpath(dir);
        Rig->Prompts->SaveAnswers = {dir + "/" + typed};
        W->SaveBMPBtn->click();
        QCOMPARE(QDir(dir).entryList(QDir::Files), QStringList{written});
        QFile f(dir + "/" + written);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        if (written.endsWith("png", Qt::CaseInsensitive)) {
            QVERIFY(bytes.startsWith("\x89PNG"));
            QImage back;
            QVERIFY(back.loadFromData(bytes));
            QCOMPARE(back.size(), QSize(128, 64));
        } else {
            const auto back = files::DecodeMonoBmp(std::span(
                reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())));
            QVERIFY(back);
            QCOMPARE(back->Width, 128);
            QCOMPARE(back->Height, 64);
            QCOMPARE(bytes.at(28), char(1)); // bits per pixel
            for (int y = 0; y < 64; ++y)
                QVERIFY(std::equal(back->Bits.begin() + y * 16, back->Bits.begin() + y * 16 + 16,
                                   W->ScrBitmap.constScanLine(y)));
        }
        // Cancel writes nothing.
        Rig->Prompts->SaveAnswers = {QString()};
        W->SaveBMPBtn->click();
        QCOMPARE(QDir(dir).entryList(QDir::Files).size(), 1);
    }

    void AFileThatCannotBeWrittenGoesToTheStandardErrorBox() {
        Open(Model(vcalc::Model::TI85), 5);
        W->ShowScreenImage(Stripes(240, 128));
        W->ScrSDone();
        auto* application = static_cast<app::Application*>(QCoreApplication::instance());
        application->SetPrompts(Rig->Prompts);
        Rig->Prompts->SaveAnswers = {Rig->Home.filePath("gone/shot.bmp")};
        W->show();
        W->PageControl1->setCurrentWidget(W->ScreenSheet);
        QTest::mouseClick(W->SaveBMPBtn, Qt::LeftButton);
        QCOMPARE(Rig->Prompts->Log.filter("standard:").size(), 1);
        QVERIFY(Rig->Prompts->Log.last().contains("shot.bmp"));
        QVERIFY(!QFile::exists(Rig->Home.filePath("gone/shot.bmp")));
        QVERIFY(Idle(*W));
    }

    void AFailedWriteLeavesTheOldFile() {
        Open(Model(vcalc::Model::TI85), 5);
        const QString path = Rig->Home.filePath("old.bmp");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("old picture");
        f.close();
        // Before any capture there is nothing to write: the error, and the old file stays.
        W->ScrSDone();
        auto* application = static_cast<app::Application*>(QCoreApplication::instance());
        application->SetPrompts(Rig->Prompts);
        Rig->Prompts->SaveAnswers = {path};
        W->show();
        W->PageControl1->setCurrentWidget(W->ScreenSheet);
        QTest::mouseClick(W->SaveBMPBtn, Qt::LeftButton);
        QCOMPARE(Rig->Prompts->Log.filter("standard:").size(), 1);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("old picture"));
    }

    void DetectionMovesTheSelectorWithoutARefresh_data() {
        QTest::addColumn<QList<int>>("cables");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("selected");
        QTest::newRow("entries 0 and 4")
            << QList<int>{0, 4} << "Cable (2) seems to be at 0x3F8-COM." << 4;
        QTest::newRow("one") << QList<int>{2} << "A cable seems to be at 0x3BC-LPT." << 2;
        QTest::newRow("none") << QList<int>{}
                              << "No cable was detected! Make sure calculator is disconnected."
                              << 1;
    }
    void DetectionMovesTheSelectorWithoutARefresh() {
        QFETCH(QList<int>, cables);
        QFETCH(QString, status);
        QFETCH(int, selected);
        Open(Model(vcalc::Model::TI85), 5);
        for (int entry = 0; entry < 8; ++entry)
            Sim->SetPortBehaviour(entry, cables.contains(entry) ? drivers::PortBehaviour::Follow
                                                                : drivers::PortBehaviour::None);
        {
            const QSignalBlocker block(W->LinkPortComboBox);
            W->LinkPortComboBox->setCurrentIndex(1);
        }
        QSignalSpy jobs(W.get(), &TTranDlg::JobCreated);
        W->PageControl1->setCurrentWidget(W->SettingSheet);
        W->DtctAddBtn->click();
        QVERIFY(!W->JobRunning); // untracked
        QTRY_COMPARE_WITH_TIMEOUT(W->StatusBar1->PanelText(1), status, 20000);
        QTRY_COMPARE(W->LiveJobs(), 0);
        QCOMPARE(W->LinkPortComboBox->currentIndex(), selected);
        QCOMPARE(Codes(jobs), QList<int>{8});
    }

    void DetectionOnTheVirtualLinkTouchesNoPort() {
        Open(Model(vcalc::Model::TI85), 5);
        W->ToEmuBox->setChecked(true);
        QVERIFY(!W->DtctAddBtn->isEnabled() && !W->LinkPortComboBox->isEnabled());
        W->DtctAddBtnClick();
        QTRY_COMPARE(W->StatusBar1->PanelText(1),
                     QString("The Virtual Link is used. No address needed."));
        QTRY_COMPARE(W->LiveJobs(), 0);
        W->ToEmuBox->setChecked(false);
        QVERIFY(W->DtctAddBtn->isEnabled() && W->LinkPortComboBox->isEnabled());
    }
};

int main(int argc, char** argv) {
    app::Application application(argc, argv);
    WindowLinkTests t;
    return QTest::qExec(&t, argc, argv);
}

#include "WindowLinkTests.moc"
