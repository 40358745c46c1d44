// QR codes on a real X server with two screens (tests/with-xvfb.sh with
// XVFB_SCREENS): the codes are shown by other processes, as a browser or
// another app would, and found through the scan and the add-account sheet.
#include "intake/AccountQRView.h"
#include "intake/AddAccountSheet.h"
#include "intake/QRImport.h"
#include "platform/look/FittedText.h"
#include "platform/qr/BarcodeReader.h"
#include "platform/qr/QrImage.h"
#include "tests/support/TestMain.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString alice = QStringLiteral(
    "otpauth://totp/Example:alice@example.com?secret=JBSWY3DPEHPK3PXP&issuer=Example");
const QString bob = QStringLiteral("otpauth://hotp/Shop:bob?secret=GEZDGNBVGY3TQOJQ&counter=7");

// The other program: a borderless window at (x, y) on its display showing
// one image; "ready" on standard output once it has been painted.
int runImageWindow(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label;
    label.setWindowFlag(Qt::FramelessWindowHint);
    label.setPixmap(QPixmap(QString::fromLocal8Bit(argv[2])));
    label.adjustSize();
    label.move(QString::fromLatin1(argv[3]).toInt(), QString::fromLatin1(argv[4]).toInt());
    label.show();
    QTimer::singleShot(300, [] { QTextStream(stdout) << "ready\n"; });
    return app.exec();
}

QPushButton* button(QWidget* root, const QString& text) {
    for (QPushButton* b : root->findChildren<QPushButton*>())
        if (b->text() == text && b->isVisible()) return b;
    return nullptr;
}

} // namespace

class QRScreenX11Tests : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QList<QProcess*> m_windows;

    // Shows `message` as a QR code (4-pixel modules, white margin) on X screen
    // `screen` at (x, y), in another process.
    void showCode(const QString& message, int screen, QPoint at) {
        const QImage code = QrImage::make(message.toUtf8(), 4);
        QImage framed(code.size() + QSize(32, 32), QImage::Format_RGB32);
        framed.fill(Qt::white);
        QPainter(&framed).drawImage(16, 16, code);
        const QString path = m_dir.filePath(QStringLiteral("code%1.png").arg(m_windows.size()));
        QVERIFY(framed.save(path));
        auto* process = new QProcess(this);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        QString display = environment.value(QStringLiteral("DISPLAY"));
        display = display.left(display.indexOf(QLatin1Char('.')) < 0 ? display.size()
                                                                     : display.indexOf('.'));
        environment.insert(QStringLiteral("DISPLAY"), display + '.' + QString::number(screen));
        process->setProcessEnvironment(environment);
        process->start(QCoreApplication::applicationFilePath(),
                       {QStringLiteral("--show-image"), path, QString::number(at.x()),
                        QString::number(at.y())});
        m_windows.append(process);
        QVERIFY(process->waitForReadyRead(10000));
        QCOMPARE(process->readLine().trimmed(), QByteArray("ready"));
    }

    QRImport::ScanResult scan(QObject* context) {
        std::optional<QRImport::ScanResult> outcome;
        QRImport::scanScreen(context, [&](const QRImport::ScanResult& r) { outcome = r; });
        [&] { QTRY_VERIFY(outcome.has_value()); }();
        return outcome.value_or(QRImport::ScanResult{});
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        QVERIFY2(QGuiApplication::screens().size() >= 2, "the X server needs two screens");
    }

    void cleanup() {
        for (QProcess* process : std::as_const(m_windows)) {
            process->kill();
            process->waitForFinished();
            delete process;
        }
        m_windows.clear();
    }

    void codesOnBothScreensAreFound() {
        showCode(bob, 1, {200, 150});
        showCode(alice, 0, {700, 400});
        QObject context;
        const QRImport::ScanResult result = scan(&context);
        QVERIFY2(!result.error, qPrintable(QRImport::errorMessage(result.error)));
        QCOMPARE(result.accounts.size(), 2);
        // First screen first, whatever order the windows appeared in.
        QCOMPARE(result.accounts[0].name, QStringLiteral("alice@example.com"));
        QCOMPARE(result.accounts[1].name, QStringLiteral("bob"));
        QCOMPARE(result.accounts[1].counter, quint64(7));
    }

    void ourOwnWindowsAreNotCaptured() {
        // Our QR view is on screen, showing a code: the capture must not see
        // it, and the view must be back afterwards.
        Account account;
        account.issuer = QStringLiteral("Mine");
        account.name = QStringLiteral("me");
        account.secret = QByteArray("0123456789");
        QWidget window;
        window.resize(600, 500);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        AccountQRView view(account, &window);
        view.open();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        // The view really is readable on screen while it is shown (once drawn).
        QTRY_COMPARE(
            BarcodeReader::readQRCodes(QGuiApplication::primaryScreen()->grabWindow(0).toImage()),
            QStringList{account.otpauthURL()});

        const QRImport::ScanResult result = scan(&window);
        QVERIFY(result.error);
        QCOMPARE(QRImport::errorMessage(result.error), QStringLiteral("No QR code was found."));
        QTRY_VERIFY(view.isVisible());
        QVERIFY(window.isVisible());
        QVERIFY(view.isModal() || view.windowModality() == Qt::WindowModal);

        // A context gone before the capture ends gets nothing, and the
        // windows still come back.
        bool delivered = false;
        auto* context = new QObject;
        QRImport::scanScreen(context, [&](const QRImport::ScanResult&) { delivered = true; });
        QVERIFY(!view.isVisible());
        delete context;
        QTRY_VERIFY(view.isVisible());
        QTest::qWait(300);
        QVERIFY(!delivered);
    }

    void qrViewScansBackToTheLink() {
        Account account;
        account.issuer = QStringLiteral("Ex & Co");
        account.name = QStringLiteral("a very long name that does not fit on one line of the "
                                      "sheet at all@example.com");
        account.secret = QByteArray(40, '\x33');
        account.algorithm = HashAlgorithm::sha256;
        account.digits = 8;
        AccountQRView view(account);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.width(), 360);
        QCOMPARE(BarcodeReader::readQRCodes(view.grab().toImage()),
                 QStringList{account.otpauthURL()});
        // The label is cut to one line with "…", not wrapped; its text, its
        // tooltip and what a screen reader hears stay whole.
        bool foundLabel = false;
        for (QLabel* child : view.findChildren<QLabel*>())
            if (auto* label = dynamic_cast<Style::ElidedLabel*>(child);
                label && label->shownText().endsWith(QStringLiteral("…"))) {
                foundLabel = true;
                QVERIFY(!label->shownText().contains(QLatin1Char('\n')));
                QCOMPARE(label->text(), account.displayLabel());
                QCOMPARE(label->toolTip(), account.displayLabel());
            }
        QVERIFY(foundLabel);
        if (qEnvironmentVariableIsSet("QUILLET_ARTIFACTS"))
            view.grab().save(qEnvironmentVariable("QUILLET_ARTIFACTS") + "/qr-view.png");
        QTest::keyClick(&view, Qt::Key_Return);
        QVERIFY(!view.isVisible());
        QCOMPARE(view.result(), int(QDialog::Accepted));
    }

    void sheetScansTheScreen() {
        // The code lies under where the sheet opens: only hiding our windows
        // lets the scan see it.
        showCode(alice, 0, {300, 250});
        QWidget window;
        window.setGeometry(100, 100, 900, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QList<QList<Account>> handed;
        auto* sheet = new AddAccountSheet(
            [&](const QList<Account>& accounts) { handed.append(accounts); }, &window);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        const QPointer<AddAccountSheet> alive(sheet);
        sheet->open();
        QVERIFY(QTest::qWaitForWindowExposed(sheet));
        QPushButton* scan = button(sheet, QStringLiteral("Scan"));
        QVERIFY(scan);
        QTest::mouseClick(scan, Qt::LeftButton);
        QTRY_COMPARE(handed.size(), 1);
        QCOMPARE(handed[0].size(), 1);
        QCOMPARE(handed[0][0].issuer, QStringLiteral("Example"));
        QTRY_VERIFY(alive.isNull()); // the sheet closed itself
        QVERIFY(window.isVisible());
    }
};

int main(int argc, char** argv) {
    if (argc == 5 && qstrcmp(argv[1], "--show-image") == 0) return runImageWindow(argc, argv);
    QApplication app(argc, argv);
    TestSupport::Guarded<QRScreenX11Tests> tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "QRScreenX11Tests.moc"
