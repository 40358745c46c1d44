#include "core/AccountAvatar.h"
#include "core/AccountAvatarView.h"
#include "tests/support/TestMain.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QMap>
#include <QSvgRenderer>
#include <QtTest>

namespace {

Account account(const QString& issuer, const QString& name = QString()) {
    Account a;
    a.issuer = issuer;
    a.name = name;
    return a;
}

QColor rgb(double r, double g, double b) {
    return QColor::fromRgbF(r, g, b);
}

void example(const char* row, const char* issuer, const char* name, const char* initials,
             const char* logo, const QColor& colour) {
    QTest::newRow(row) << QString::fromUtf8(issuer) << QString::fromUtf8(name)
                       << QString::fromUtf8(initials) << QString::fromUtf8(logo) << colour;
}

// The ten palette colours, by index, as a user would see them.
QColor paletteColor(int index) {
    static const QList<QColor> colours = {
        rgb(0.20, 0.45, 0.90), rgb(0.35, 0.34, 0.84), rgb(0.56, 0.27, 0.68), rgb(0.83, 0.24, 0.55),
        rgb(0.85, 0.23, 0.23), rgb(0.90, 0.49, 0.13), rgb(0.60, 0.40, 0.20), rgb(0.13, 0.55, 0.33),
        rgb(0.11, 0.53, 0.56), rgb(0.30, 0.42, 0.55)};
    return colours.at(index);
}

QImage rendered(const Account& a, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    AccountAvatar::paint(painter, QRectF(0, 0, size, size), a);
    return image;
}

bool near(QColor actual, QColor expected, int tolerance = 3) {
    return qAbs(actual.red() - expected.red()) <= tolerance &&
           qAbs(actual.green() - expected.green()) <= tolerance &&
           qAbs(actual.blue() - expected.blue()) <= tolerance;
}

// `colour` at `opacity` over white, as the tile's background shows it.
QColor overWhite(QColor colour, double opacity) {
    auto mix = [opacity](int c) { return qRound(255 * (1 - opacity) + c * opacity); };
    return QColor(mix(colour.red()), mix(colour.green()), mix(colour.blue()));
}

// The share of the pixels inside the tile that `mask` decides (fully covered
// or fully clear) where `image` shows `shape` under the mask and
// `background` elsewhere.
double shapeAgreement(const QImage& image, const QImage& mask, const QColor& shape,
                      const QColor& background) {
    int decided = 0, agreeing = 0;
    for (int y = 10; y < 90; ++y) {
        for (int x = 10; x < 90; ++x) {
            const int alpha = qAlpha(mask.pixel(x, y));
            if (alpha != 0 && alpha != 255) continue; // antialiased edge
            ++decided;
            agreeing += near(image.pixelColor(x, y), alpha == 255 ? shape : background, 4);
        }
    }
    return decided ? double(agreeing) / decided : 0;
}

QString readSource(const QString& relative) {
    QFile file(QStringLiteral(QUILLET_SOURCE_DIR "/") + relative);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The vendored logo list: asset name -> Simple Icons slug, or "-".
QMap<QString, QString> logoMap() {
    QMap<QString, QString> map;
    for (QString line : readSource("core/logos/simple-icons.map").split(u'\n')) {
        line = line.section(u'#', 0, 0).trimmed();
        const QStringList fields = line.split(u' ', Qt::SkipEmptyParts);
        if (fields.size() == 2) map.insert(fields[0], fields[1]);
    }
    return map;
}

} // namespace

class AccountAvatarTests : public QObject {
    Q_OBJECT

private slots:
    void examples_data() {
        QTest::addColumn<QString>("issuer");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("initials");
        QTest::addColumn<QString>("logo");
        QTest::addColumn<QColor>("colour");
        const QColor unchecked;
        example("known service", "GitHub", "", "G", "logo_github", rgb(0.38, 0.42, 0.48));
        // djb2("alice.example") is negative (-7389320270245225027): the index
        // comes from its magnitude (7), not from its unsigned bits (which give 9).
        example("name when no issuer", "", "alice.example", "AE", "", paletteColor(7));
        example("brand colour without logo", "Amazon Web Services", "", "AW", "",
                rgb(0.86, 0.53, 0.07));
        example("lower-cased before lookups", "AWS", "", "A", "", rgb(0.86, 0.53, 0.07));
        example("renamed logo, own colour", "Twitter", "", "T", "logo_x", rgb(0.11, 0.63, 0.95));
        example("issuer without words wins over name", "---", "Bank", "?", "", paletteColor(2));
        example("nothing at all", "", "", "?", "", paletteColor(1));
        example("punctuation and digits", "my-company 2fa", "", "MC", "", paletteColor(4));
        // Hashed as UTF-8 after lower-casing: 9 (Latin-1 bytes would give 2,
        // UTF-16 units 6, the text as typed 1), figures from a separate script.
        example("non-ASCII key", "Ünïcode ß", "", "ÜSS", "", paletteColor(9));
        example("other renames", "ProtonMail", "", "P", "logo_proton", paletteColor(2));
        example("gmail", "Gmail", "", "G", "logo_google", rgb(0.92, 0.26, 0.21));
        // Initials alone.
        example("blank issuer is not trimmed", " ", "Bank", "?", "", unchecked);
        example("two words at most", "one two three", "", "OT", "", unchecked);
        example("accent is part of the letter", "e\u0301cole normale", "", "E\u0301N", "",
                unchecked);
        example("full upper-casing", "ßeta", "", "SS", "", unchecked);
        example("no upper-case form", "𝐚lpha", "", "𝐚", "", unchecked);
    }

    void examples() {
        QFETCH(QString, issuer);
        QFETCH(QString, name);
        QFETCH(QString, initials);
        QFETCH(QString, logo);
        QFETCH(QColor, colour);
        const Account a = account(issuer, name);
        QCOMPARE(AccountAvatar::initials(a), initials);
        QCOMPARE(AccountAvatar::logoAssetName(a).value_or(QString()), logo);
        if (colour.isValid()) QCOMPARE(AccountAvatar::brandColor(a).rgba(), colour.rgba());
    }

    void wordsSplitOnAnythingButLettersAndNumbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("words");
        QTest::newRow("parentheses")
            << "Amazon Web Services (AWS)" << QStringList{"Amazon", "Web", "Services", "AWS"};
        QTest::newRow("hyphen and digits")
            << "my-company 2fa" << QStringList{"my", "company", "2fa"};
        QTest::newRow("only separators") << " -- ... " << QStringList{};
        QTest::newRow("combining accent stays in its word")
            << QString::fromUtf8("cafe\u0301 bar")
            << QStringList{QString::fromUtf8("cafe\u0301"), "bar"};
        QTest::newRow("emoji separates")
            << QString::fromUtf8("key🔑chain") << QStringList{"key", "chain"};
        QTest::newRow("other scripts and numerals")
            << QString::fromUtf8("銀行・Ⅻ ٣٤")
            << QStringList{QString::fromUtf8("銀行"), QString::fromUtf8("Ⅻ"),
                           QString::fromUtf8("٣٤")};
        QTest::newRow("circled letters are alphabetic")
            << QString::fromUtf8("Ⓐⓑ-c") << QStringList{QString::fromUtf8("Ⓐⓑ"), "c"};
    }

    void wordsSplitOnAnythingButLettersAndNumbers() {
        QFETCH(QString, text);
        QFETCH(QStringList, words);
        QCOMPARE(AccountAvatar::words(text), words);
    }

    void colourFollowsTableOrderLogoFollowsWordOrder() {
        const QColor github = rgb(0.38, 0.42, 0.48);
        const Account googleFirst = account("google github");
        const Account githubFirst = account("GitHub Google");
        QCOMPARE(AccountAvatar::brandColor(googleFirst).rgba(), github.rgba());
        QCOMPARE(AccountAvatar::brandColor(githubFirst).rgba(), github.rgba());
        QCOMPARE(AccountAvatar::logoAssetName(googleFirst), std::optional<QString>("logo_google"));
        QCOMPARE(AccountAvatar::logoAssetName(githubFirst), std::optional<QString>("logo_github"));
        // Keywords match whole words only.
        QCOMPARE(AccountAvatar::logoAssetName(account("GitHubber")), std::nullopt);
        QCOMPARE(AccountAvatar::brandColor(account("Acme")).rgba(), paletteColor(9).rgba());
    }

    void tileIsTheBrandColourAtSixteenPercent() {
        const Account a = account("Acme");
        const QImage image = rendered(a, 100);
        // The corner lies outside the rounded square (radius 28).
        QCOMPARE(image.pixelColor(1, 1), QColor(Qt::white));
        QVERIFY(near(image.pixelColor(4, 50), overWhite(AccountAvatar::brandColor(a), 0.16)));
    }

    void initialsAreDrawnInTheBrandColour() {
        const Account a = account("Acme Corp");
        const QImage image = rendered(a, 100);
        const QColor brand = AccountAvatar::brandColor(a);
        int brandPixels = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x)
                brandPixels += near(image.pixelColor(x, y), brand, 6);
        QVERIFY2(brandPixels > 50, qPrintable(QString::number(brandPixels)));
        // Plain initials have no ring where the logo's mark would be.
        QVERIFY(near(image.pixelColor(22, 50), overWhite(brand, 0.16)));
    }

    // Every logo the table can name is either vendored (and loads) or listed
    // as drawn without artwork; nothing vendored goes unlisted.
    void logoListMatchesTheTableAndTheResources() {
        const QMap<QString, QString> map = logoMap();
        const QStringList names = AccountAvatar::logoAssetNames();
        QCOMPARE(names.size(), 128);
        QCOMPARE(QStringList(map.keys()), names);
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            const QString resource = ":/logos/" + it.key() + ".svg";
            if (it.value() == "-") {
                QVERIFY2(!QFile::exists(resource), qPrintable(resource));
                continue;
            }
            QSvgRenderer svg(resource);
            QVERIFY2(svg.isValid() && !svg.viewBoxF().isEmpty(), qPrintable(resource));
        }
        const QStringList shipped = QDir(":/logos").entryList(QDir::Files);
        for (const QString& file : shipped)
            QVERIFY2(map.value(QFileInfo(file).completeBaseName(), "-") != "-", qPrintable(file));
        QVERIFY(shipped.contains("logo_github.svg"));
        // The licence and the brands' note travel with the artwork.
        QVERIFY(readSource("core/logos/LICENSE.md").contains("CC0 1.0 Universal"));
        QVERIFY(readSource("core/logos/DISCLAIMER.md").contains("Trademarks"));
    }

    void knownServiceWithoutArtworkGetsRingedInitials() {
        const QString asset = logoMap().key("-");
        if (asset.isEmpty()) QSKIP("every logo ships");
        const Account a = account(asset.mid(QStringLiteral("logo_").size()));
        QCOMPARE(AccountAvatar::logoAssetName(a), std::optional<QString>(asset));
        const QImage image = rendered(a, 100);
        const QColor brand = AccountAvatar::brandColor(a);
        // A ring of diameter 60 and width 4 around the centre.
        for (const QPoint p : {QPoint(21, 50), QPoint(78, 50), QPoint(50, 21), QPoint(50, 78)})
            QVERIFY2(near(image.pixelColor(p), brand, 8),
                     qPrintable(QString("%1,%2").arg(p.x()).arg(p.y())));
        QVERIFY(near(image.pixelColor(10, 50), overWhite(brand, 0.16)));
    }

    void githubIsDrawnFromItsLogoInTheBrandColour() {
        const Account a = account("GitHub");
        const QImage image = rendered(a, 100);
        const QColor brand = AccountAvatar::brandColor(a);
        const QColor background = overWhite(brand, 0.16);

        // The vendored SVG, fitted to the square inset by 24 on every side,
        // is where the avatar shows the brand colour (the file's own black
        // is ignored), and nowhere else.
        QImage mask(100, 100, QImage::Format_ARGB32_Premultiplied);
        mask.fill(Qt::transparent);
        {
            QSvgRenderer svg(QStringLiteral(QUILLET_SOURCE_DIR "/core/logos/logo_github.svg"));
            QVERIFY(svg.isValid());
            QPainter painter(&mask);
            painter.setRenderHint(QPainter::Antialiasing);
            svg.render(&painter, QRectF(24, 24, 52, 52));
        }
        QCOMPARE(shapeAgreement(image, mask, brand, background), 1.0);

        // The drawn mark of a service without artwork (a ring and letters)
        // follows the shape nowhere near as closely.
        const QString fallbackAsset = logoMap().key("-");
        if (!fallbackAsset.isEmpty()) {
            const Account other = account(fallbackAsset.mid(QStringLiteral("logo_").size()));
            const QColor otherBrand = AccountAvatar::brandColor(other);
            const double agreement = shapeAgreement(rendered(other, 100), mask, otherBrand,
                                                    overWhite(otherBrand, 0.16));
            QVERIFY2(agreement < 0.8, qPrintable(QString::number(agreement)));
        }
    }

    void viewKeepsItsSizeAndShowsTheAccount() {
        AccountAvatarView view;
        QCOMPARE(view.sizeHint(), QSize(36, 36));
        QCOMPARE(view.minimumSize(), view.maximumSize());
        view.setAccount(account("Acme"));
        const QImage image = view.grab().toImage();
        QCOMPARE(image.size(), QSize(36, 36));
        const QColor background = image.pixelColor(2, 18);
        QVERIFY(near(background, image.pixelColor(33, 18), 2)); // symmetric tile
        QVERIFY(!near(background, image.pixelColor(0, 0), 2));  // rounded corner
    }
};

QUILLET_TEST_MAIN(AccountAvatarTests)
#include "AccountAvatarTests.moc"
