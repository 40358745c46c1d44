#pragma once

// What the intake tests share: the export files they read, the accounts they
// expect from them, and one field-by-field comparison for all of them.
//
// The project's own samples (tests/data, written by tests/data/make_samples.py)
// are always there. The real exports of other applications are an extra
// check: the `<test>_conformance` CTest entries run the test functions named
// "conformance" with QUILLET_CONFORMANCE_DIR set to ../shared/conformance,
// and CTest reports them skipped when that folder is not beside the project.

#include "core/Account.h"
#include "core/Base32.h"
#include "platform/qr/QrImage.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QtTest>
#include <optional>
#include <stdexcept>

namespace ImportSamples {

struct Want {
    QString issuer, name, secret; // secret as Base32
    OTPType type = OTPType::totp;
    bool steam = false;
    HashAlgorithm algorithm = HashAlgorithm::sha1;
    qint64 digits = 6, period = 30;
    quint64 counter = 0;
};

inline constexpr auto totp = OTPType::totp, hotp = OTPType::hotp;
inline constexpr auto sha1 = HashAlgorithm::sha1, sha256 = HashAlgorithm::sha256,
                      sha512 = HashAlgorithm::sha512;

// The seven accounts that every exporting application was given.
inline const Want deno{"Deno", "Mason", "4SJHB4GSD43FZBAI7C2HLRJGPQ", totp, false, sha1, 6, 30, 0};
inline const Want spdx{"SPDX", "James", "5OM4WOOGPLQEF6UGN3CPEOOLWU", totp, false, sha256, 7,
                       20,     0};
inline const Want airbnb{"Airbnb", "Elijah", "7ELGJSGXNCCTV3O6LKJWYFV2RA", totp, false, sha512, 8,
                         50,       0};
inline const Want issuu{"Issuu", "James", "YOOMIXWS5GN6RTBPUFFWKTW5M4", hotp, false, sha1, 6,
                        30,      1};
inline const Want airCanada{
    "Air Canada", "Benjamin", "KUVJJOM753IHTNDSZVCNKL7GII", hotp, false, sha256, 7, 30, 50};
inline const Want wwe{"WWE", "Mason", "5VAML3X35THCEBVRLV24CGBKOY", hotp, false, sha512, 8,
                      30,    10300};
inline const Want boeing{"Boeing", "Sophia", "JRZCL47CMXVOQMNPZR2F7J4RGI", totp, true, sha1, 5,
                         30,       0};
inline const QList<Want> seven{deno, spdx, airbnb, issuu, airCanada, wwe, boeing};

// The accounts of the sample migration links (tests/data/migration/links.txt),
// in order: the format has no period and no Steam, and its name field is
// kept whole, "issuer:account" included. The sample QR code holds the first
// three in one link.
inline const QList<Want> migrationLinks{
    {"Deno", "Deno:Mason", deno.secret, totp, false, sha1, 6, 30, 0},
    {"Issuu", "Issuu:James", issuu.secret, hotp, false, sha1, 6, 30, 1},
    {"WWE", "Mason", wwe.secret, hotp, false, sha512, 8, 30, 10300},
    {"Éclair Café", "Zoë Ñúñez ¿ß?", "JHYVWMZF643IWAFQ2WOUYGZKTI", totp, false, sha256, 8, 30, 0}};

// A sample file's bytes; a missing or unreadable one throws, failing the test
// that reads it with the file's name.
inline QByteArray read(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(qPrintable(path + QStringLiteral(": ") + file.errorString()));
    return file.readAll();
}
inline QString samplePath(const QString& relative) {
    return QStringLiteral(QUILLET_SOURCE_DIR "/tests/data/") + relative;
}
inline QString sample(const QString& relative) {
    return QString::fromUtf8(read(samplePath(relative)));
}

// The folder of the real exports, or empty when this run does not check them.
inline QString conformanceDir() {
    return qEnvironmentVariable("QUILLET_CONFORMANCE_DIR");
}
inline QString conformance(const QString& relative) {
    return QString::fromUtf8(read(conformanceDir() + u'/' + relative));
}

// The links of a file of migration links, one per line; "#" starts a comment.
inline QStringList linesOfLinks(const QString& text) {
    QStringList links;
    for (const QString& line : text.split(u'\n')) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith(u'#')) links << trimmed;
    }
    return links;
}

// Every field but the secret, which is compared apart and never printed.
inline QString describe(const QString& issuer, const QString& name, OTPType type, bool steam,
                        HashAlgorithm algorithm, qint64 digits, qint64 period, quint64 counter) {
    return QStringLiteral("%1 / %2: %3%4 %5 digits=%6 period=%7 counter=%8")
        .arg(issuer, name, toText(type), steam ? QStringLiteral(" steam") : QString(),
             toText(algorithm))
        .arg(digits)
        .arg(period)
        .arg(counter);
}

// The accounts, field by field and in order, are exactly the wanted ones, as
// new accounts with nothing else set; otherwise the running test fails, saying
// where they differ. Tests call it through COMPARE_ACCOUNTS.
inline bool matches(const QList<Account>& got, const QList<Want>& want) {
    QStringList gotFields, wantFields;
    for (const Account& a : got)
        gotFields << describe(a.issuer, a.name, a.type, a.isSteam, a.algorithm, a.digits, a.period,
                              a.counter);
    for (const Want& w : want)
        wantFields << describe(w.issuer, w.name, w.type, w.steam, w.algorithm, w.digits, w.period,
                               w.counter);
    [&] { QCOMPARE(gotFields, wantFields); }();
    if (QTest::currentTestFailed()) return false;
    for (qsizetype i = 0; i < want.size(); ++i) {
        const Account& a = got[i];
        const QString& label = wantFields[i];
        const auto secret = Base32::decode(want[i].secret);
        if (!secret || a.secret != *secret) {
            QTest::qFail(qPrintable(QStringLiteral("secret differs: ") + label), __FILE__,
                         __LINE__);
            return false;
        }
        if (a.isFavorite || !a.note.isEmpty() || a.folderID || !a.recoveryCodes.isEmpty() ||
            a.deletedAt || a.useCount != 0 || a.lastUsedAt) {
            QTest::qFail(qPrintable(QStringLiteral("more than a new account: ") + label), __FILE__,
                         __LINE__);
            return false;
        }
    }
    return true;
}

// The link of the code at `index` of a grid: the account "user<index>".
inline QString gridLink(int index) {
    return QStringLiteral("otpauth://totp/Grid:user%1@example.com?secret=JBSWY3DPEHPK3PXP"
                          "&issuer=Grid")
        .arg(index);
}

// A grid of QR codes as an export page or a screenshot of several shows
// them: gridLink(0), gridLink(1)... row by row, modules of `module` pixels,
// `gap` modules of white between the codes and around them.
inline QImage qrGrid(int columns, int rows, int module, int gap = 2) {
    const int side = QrImage::make(gridLink(0).toUtf8(), module).width();
    const int cell = side + gap * module;
    QImage image(columns * cell + gap * module, rows * cell + gap * module, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    for (int i = 0; i < columns * rows; ++i)
        painter.drawImage(gap * module + (i % columns) * cell, gap * module + (i / columns) * cell,
                          QrImage::make(gridLink(i).toUtf8(), module));
    return image;
}

// The texts that Debian's zbarimg reads in the image file, sorted: another
// reader's word on what the picture holds. Nothing when it is not installed.
inline std::optional<QStringList> zbarimgReads(const QString& path) {
    const QString zbarimg = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
    if (zbarimg.isEmpty())
        return std::nullopt;
    QProcess process;
    process.start(zbarimg, {QStringLiteral("--quiet"), QStringLiteral("--raw"),
                            QStringLiteral("-Sdisable"), QStringLiteral("-Sqrcode.enable"), path});
    if (!process.waitForFinished(60000))
        return QStringList();
    QStringList texts = QString::fromUtf8(process.readAllStandardOutput())
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    texts.sort();
    return texts;
}

} // namespace ImportSamples

#define COMPARE_ACCOUNTS(got, ...)                                                                 \
    do {                                                                                           \
        if (!ImportSamples::matches(got, __VA_ARGS__)) return;                                     \
    } while (false)
