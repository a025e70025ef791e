// The program as a user starts it: the real binary, its exit code and what
// it leaves behind.
#include "app/Application.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class ProgramTests : public QObject {
    Q_OBJECT

    struct Result {
        bool Finished;
        int ExitCode;
        QString Stderr;
    };

    static Result RunProgram(const QStringList& args, const QMap<QString, QString>& env,
                             const QString& workDir, int timeoutMs = 30000) {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("QT_QPA_PLATFORM", "offscreen");
        e.insert("LODESTRUM_AUTO_OK", "1");
        e.insert("XDG_CONFIG_HOME", workDir + "/config");
        e.insert("XDG_RUNTIME_DIR", workDir);
        for (auto it = env.begin(); it != env.end(); ++it)
            e.insert(it.key(), it.value());
        p.setProcessEnvironment(e);
        p.setWorkingDirectory(workDir);
        p.start(LODESTRUM_PROGRAM, args);
        const bool finished = p.waitForFinished(timeoutMs);
        if (!finished) {
            p.kill();
            p.waitForFinished();
        }
        return {finished && p.exitStatus() == QProcess::NormalExit, p.exitCode(),
                QString::fromLocal8Bit(p.readAllStandardError())};
    }

  private slots:
    void TheCommandLineIsOnePath_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("path");
        QTest::newRow("none") << QStringList{} << "";
        QTest::newRow("one") << QStringList{"a.83p"} << "a.83p";
        QTest::newRow("several joined by one space")
            << QStringList{"my", "file.83p"} << "my file.83p";
        QTest::newRow("only blanks") << QStringList{"  ", "\t"} << "";
        QTest::newRow("leading blanks go, trailing stay") << QStringList{" a ", "b "} << "a  b ";
        QTest::newRow("quotes stay") << QStringList{"\"x y.83p\""} << "\"x y.83p\"";
    }
    void TheCommandLineIsOnePath() {
        QFETCH(QStringList, args);
        QFETCH(QString, path);
        std::vector<QByteArray> storage{"lodestrum"};
        for (const QString& a : args)
            storage.push_back(a.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& s : storage)
            argv.push_back(s.data());
        QCOMPARE(
            QString::fromStdString(lodestrum::app::CommandLinePath(int(argv.size()), argv.data())),
            path);
    }

    void WithoutADriverTheDialogShowsAndTheExitCodeIsZero() {
        QTemporaryDir dir;
        const Result r =
            RunProgram({"ignored.83p"}, {{"LODESTRUM_PORT_DRIVER", "nosuchdriver"}}, dir.path());
        QVERIFY2(r.Finished, qPrintable(r.Stderr));
        QCOMPARE(r.ExitCode, 0);
        QVERIFY2(r.Stderr.contains("not loaded"), qPrintable(r.Stderr));
        // No window was made: it would have created the settings file.
        QVERIFY(!QFile::exists(dir.path() + "/config/Quarrendale/Lodestrum 3.0.reg"));
        // Nothing of the virtual link either: no mutex, no message endpoint.
        QVERIFY(!QFile::exists(dir.path() + "/Virtual TI.lock"));
        QVERIFY(!QFileInfo::exists(dir.path() + "/lodestrum"));
    }

    void ACommandLinePathThatDoesNotOpenIsReportedAndTheProgramCloses() {
        QTemporaryDir dir;
        const Result r = RunProgram(
            {"\"no such.83p\""},
            {{"LODESTRUM_PORT_DRIVER", "sim"}, {"LODESTRUM_SIM_DIR", dir.path()}}, dir.path());
        QVERIFY2(r.Finished, qPrintable(r.Stderr));
        QCOMPARE(r.ExitCode, 0);
        QVERIFY2(r.Stderr.contains("Unable to open file"), qPrintable(r.Stderr));
    }

    void ACommandLineSendStoresTheFileInTheSimulatedCalculator() {
        QTemporaryDir dir;
        QDir(dir.path()).mkdir("calc");
        const QString calc = dir.path() + "/calc";
        const Result r = RunProgram({LODESTRUM_EXAMPLES "/ABC.83P"},
                                    {{"LODESTRUM_PORT_DRIVER", "sim"},
                                     {"LODESTRUM_SIM_MODEL", "83"},
                                     {"LODESTRUM_SIM_DIR", calc},
                                     {"LODESTRUM_SIM_LOG", "1"}},
                                    dir.path());
        QVERIFY2(r.Finished, qPrintable(r.Stderr));
        QCOMPARE(r.ExitCode, 0);
        QVERIFY2(!r.Stderr.contains("Lodestrum Error"), qPrintable(r.Stderr));
        QTRY_VERIFY2(!QDir(calc).entryList(QDir::Files).isEmpty(), qPrintable(r.Stderr));
    }
};

int main(int argc, char** argv) {
    lodestrum::app::Application application(argc, argv);
    ProgramTests t;
    return QTest::qExec(&t, argc, argv);
}

#include "ProgramTests.moc"
