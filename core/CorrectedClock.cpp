#include "core/CorrectedClock.h"

#include "core/Json.h"
#include "core/KeychainStore.h"

#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <cmath>

namespace CorrectedClock {

namespace {

const QUrl defaultTimeReference(QStringLiteral("https://www.cloudflare.com/"));

// One lock over everything below.
QMutex lock;
State cached;
bool loaded = false;
bool loadOnlyWhenAsked = false;
QDateTime lastAttempt = State::distantPast();
std::optional<QUrl> configuredReference;
std::function<QDateTime()> deviceClock;

QDateTime deviceNow() {
    return deviceClock ? deviceClock() : QDateTime::currentDateTimeUtc();
}

// Inside the lock. The keychain is read once per process, once it could be
// read: a keyring still locked is asked again next time (the vault opening
// later loads the stored state then).
bool loadIfNeeded() {
    if (loaded)
        return true;
    std::optional<State> stored;
    if (!KeychainStore::readClockState(stored))
        return false;
    cached = stored.value_or(State());
    loaded = true;
    return true;
}

double secondsBetween(const QDateTime& from, const QDateTime& to) {
    return double(from.msecsTo(to)) / 1000.0;
}

} // namespace

QDateTime State::distantPast() { return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC); }

QJsonObject State::toJson() const {
    return QJsonObject{
        {QLatin1String("offset"), offset},
        {QLatin1String("measuredAt"), Json::fromDate(measuredAt, Json::DateForm::iso8601)},
        {QLatin1String("enabled"), enabled},
    };
}

std::optional<State> State::fromJson(const QJsonObject& object) {
    const QJsonValue offset = object.value(QLatin1String("offset"));
    const auto measuredAt =
        Json::toDate(object.value(QLatin1String("measuredAt")), Json::DateForm::iso8601);
    const QJsonValue enabled = object.value(QLatin1String("enabled"));
    if (!offset.isDouble() || !measuredAt || !enabled.isBool())
        return std::nullopt;
    return State{offset.toDouble(), *measuredAt, enabled.toBool()};
}

void load() {
    QMutexLocker locker(&lock);
    loadIfNeeded();
}

void load(const std::optional<State>& stored) {
    QMutexLocker locker(&lock);
    if (loaded)
        return;
    cached = stored.value_or(State());
    loaded = true;
}

void loadOnlyWhenNeeded() {
    QMutexLocker locker(&lock);
    loadOnlyWhenAsked = true;
}

State state() {
    QMutexLocker locker(&lock);
    if (!loadOnlyWhenAsked)
        loadIfNeeded();
    return cached;
}

double offset() {
    const State current = state();
    if (!current.enabled)
        return 0;
    const double age = secondsBetween(current.measuredAt, deviceNow());
    if (age < -maxFutureSeconds || age > maxAgeSeconds)
        return 0;
    const double size = std::fabs(current.offset);
    if (size < minOffsetSeconds || size > maxOffsetSeconds)
        return 0;
    return current.offset;
}

QDateTime now() {
    return deviceNow().addMSecs(qint64(std::llround(offset() * 1000.0)));
}

bool setEnabled(bool enabled) {
    QMutexLocker locker(&lock);
    // Unknown stored state: writing would replace it with a guess.
    if (!loadIfNeeded())
        return false;
    State copy = cached;
    copy.enabled = enabled;
    // Under the lock: a measurement stored meanwhile must not be undone by
    // this write, nor this one by it.
    if (!KeychainStore::saveClockState(copy))
        return false;
    cached = copy;
    return true;
}

bool shouldAttempt(bool force) {
    QMutexLocker locker(&lock);
    const QDateTime current = deviceNow();
    // A device clock set back makes the elapsed time negative: also too soon.
    if (!force && secondsBetween(lastAttempt, current) < throttleSeconds)
        return false;
    lastAttempt = current;
    return true;
}

void record(double difference, const QDateTime& at) {
    State copy;
    {
        QMutexLocker locker(&lock);
        const bool known = loadIfNeeded();
        cached.offset = -difference;
        cached.measuredAt = at;
        // With the stored state unknown, the measurement is used but not
        // written over it.
        if (!known)
            return;
        copy = cached;
    }
    KeychainStore::saveClockState(copy);
}

std::optional<QDateTime> parseHttpDate(const QString& text) {
    static const QRegularExpression form(QRegularExpression::anchoredPattern(QStringLiteral(
        R"((Mon|Tue|Wed|Thu|Fri|Sat|Sun), (\d{2}) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) (\d{4}) (\d{2}):(\d{2}):(\d{2}) (GMT|UTC))")));
    const auto match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    static const QStringList months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate day(match.captured(4).toInt(), int(months.indexOf(match.captured(3))) + 1,
                    match.captured(2).toInt());
    const QTime time(match.captured(5).toInt(), match.captured(6).toInt(),
                     match.captured(7).toInt());
    if (!day.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(day, time, Qt::UTC);
}

QUrl timeReferenceURL() {
    {
        QMutexLocker locker(&lock);
        if (configuredReference)
            return *configuredReference;
    }
    const QByteArray fromEnvironment = qgetenv("QUILLET_TIME_REFERENCE_URL");
    return fromEnvironment.isEmpty() ? defaultTimeReference
                                     : QUrl(QString::fromUtf8(fromEnvironment));
}

void setTimeReferenceURL(const QUrl& url) {
    QMutexLocker locker(&lock);
    configuredReference = url;
}

void sync(bool force, std::function<void()> done) {
    const auto finish = [done] {
        if (done)
            done();
    };
    if (!shouldAttempt(force))
        return finish();
    const QUrl url = timeReferenceURL();
    if (!url.isValid() || url.host().isEmpty())
        return finish();

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(requestTimeoutMs);
    auto* network = new QNetworkAccessManager;
    QNetworkReply* reply = network->head(request);
    QObject::connect(reply, &QNetworkReply::finished, network, [reply, network, finish] {
        const QDateTime localNow = deviceNow();
        // Any HTTP answer, an error page too, carries the server's clock; a
        // transport failure has no status and ends the attempt.
        if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
            const auto serverDate = parseHttpDate(QString::fromLatin1(reply->rawHeader("Date")));
            if (serverDate)
                record(secondsBetween(*serverDate, localNow), localNow);
        }
        reply->deleteLater();
        network->deleteLater();
        finish();
    });
}

void setDeviceClockForTesting(std::function<QDateTime()> clock) {
    QMutexLocker locker(&lock);
    deviceClock = std::move(clock);
}

void resetForTesting() {
    QMutexLocker locker(&lock);
    cached = State();
    loaded = false;
    loadOnlyWhenAsked = false;
    lastAttempt = State::distantPast();
    configuredReference.reset();
}

} // namespace CorrectedClock
