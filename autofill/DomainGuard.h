#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// Whether a host that asks for a one-time code belongs to the service that
// issued the account. Hosts are reduced to their registrable domains and
// compared; different domains that become equal once look-alike characters
// are folded together (after Punycode labels are decoded) are a spoof.
//
// Text is compared as people read it: a character is a user-perceived
// character (an extended grapheme cluster), lowercasing is Unicode's full
// default mapping, and texts are equal when they are canonically equivalent.
// Labels are separated by "." alone.

enum class DomainVerdict {
    match,      // the same registrable domain
    spoof,      // different domains that look alike
    mismatch,   // different, and not look-alikes
    unverified, // nothing to compare
};

namespace Punycode {

// Decodes one label without its "xn--" prefix (RFC 3492). The last "-" is the
// delimiter, also when it comes first; the basic part before it must be
// ASCII and the digits after it ASCII letters or digits. Nothing when the
// label is not valid: a digit run cut short, 64-bit overflow, or a result
// that is not Unicode text. Empty input decodes to empty text. The result is
// neither lowercased nor normalised.
std::optional<QString> decode(const QString& label);

// The host with every label that starts with "xn--" (in any letter case)
// decoded. A label stays as it was when it is not valid Punycode, or not
// the A-label IDNA gives what it decodes to (plain ASCII, another spelling,
// text that is no valid label); so does every label of a host over the
// name system's limits.
QString decodeHost(const QString& host);

} // namespace Punycode

namespace Confusables {

// The text lowercased, with each character that looks like a Latin letter
// (digits, Cyrillic and Greek letters, "i" and "|") replaced by that letter.
QString skeleton(const QString& text);

} // namespace Confusables

namespace DomainGuard {

// The name system's limits: a host (without a trailing ".") of at most 253
// characters, each label at most 63.
inline constexpr qsizetype maxHostLength = 253;
inline constexpr qsizetype maxLabelLength = 63;
bool withinNameLimits(QStringView host);

// Within the limits, and with no empty label; one trailing "." (the root)
// aside.
bool isServableName(QStringView host);

// Whether the text holds a character that browsers never let into a host
// name: controls, space, "#", "%", "/", ":", "<", ">", "?", "@", "[", "\",
// "]", "^", "|".
bool holdsNonHostCharacter(QStringView text);

// The host of a URL as a browser takes it, tolerant of what the path holds;
// nothing when the URL has none: a scheme other than http, https, ws, wss
// and ftp (so also "file:" and "data:"), a port that is not a number up to
// 65535, an empty host, or a host with a character no host name holds.
// Escapes in the host are decoded; its letter case is kept.
std::optional<QString> hostOfURL(const QString& url);

// Lowercased, Punycode decoded (unless over the name system's limits),
// one trailing "." and one leading "www." removed. Nothing else: no whitespace, port, user or path is removed.
QString normalize(const QString& host);

// The normalised host's last two labels, or its last three under one of the
// two-label public suffixes ("co.uk" and its like). Empty labels are dropped.
QString registrableDomain(const QString& host);

// `knownDomain` is trimmed of blanks first; the requesting host is not.
// Unverified only when the known domain names no site. A requesting host
// with no registrable domain ("", "."), over the name system's limits, with
// an empty label, or holding a character no host name holds, is never a
// match.
DomainVerdict verdict(const QString& requestHost, const QString& knownDomain);

} // namespace DomainGuard
