#include "platform/crypto/Crypto.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <cstring>
#include <memory>

namespace Crypto {
namespace {

// OpenSSL frees its global state from an atexit handler by default. Worker
// threads (a backup being sealed, a timeline read) may still be unwinding at
// exit: Qt's wait() returns before a thread has run its thread-local
// destructors, and a thread whose OpenSSL state is released after that
// cleanup would free into torn-down tables, or have its per-thread state
// dropped unfreed. The process is ending anyway, so the cleanup is left out;
// this runs before anything else in the program calls OpenSSL.
[[maybe_unused]] const bool openSslWithoutExitCleanup =
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;

const char* digestName(Digest digest) {
    switch (digest) {
    case Digest::sha1:
        return "SHA1";
    case Digest::sha256:
        return "SHA256";
    case Digest::sha512:
        return "SHA512";
    }
    return "SHA1";
}

const unsigned char* bytes(const QByteArray& data) {
    return reinterpret_cast<const unsigned char*>(data.constData());
}

unsigned char* bytes(QByteArray& data) { return reinterpret_cast<unsigned char*>(data.data()); }

struct MacDeleter {
    void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
    void operator()(EVP_MAC_CTX* ctx) const { EVP_MAC_CTX_free(ctx); }
};
struct CipherDeleter {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
struct KeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
    void operator()(BIGNUM* number) const { BN_clear_free(number); }
};

} // namespace

namespace {

// Fetching the HMAC implementation and setting its digest is most of the cost
// of one short MAC, and codes are recomputed for every visible account every
// second, so each thread keeps one ready context per digest and only re-keys it.
EVP_MAC_CTX* hmacContext(Digest digest) {
    struct Contexts {
        std::unique_ptr<EVP_MAC_CTX, MacDeleter> byDigest[3];
    };
    thread_local Contexts contexts;
    auto& slot = contexts.byDigest[int(digest)];
    if (!slot) {
        std::unique_ptr<EVP_MAC, MacDeleter> mac(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
        if (!mac)
            return nullptr;
        std::unique_ptr<EVP_MAC_CTX, MacDeleter> ctx(EVP_MAC_CTX_new(mac.get()));
        if (!ctx)
            return nullptr;
        OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST,
                                             const_cast<char*>(digestName(digest)), 0),
            OSSL_PARAM_construct_end(),
        };
        if (EVP_MAC_CTX_set_params(ctx.get(), params) != 1)
            return nullptr;
        slot = std::move(ctx);
    }
    return slot.get();
}

} // namespace

QByteArray hmac(Digest digest, const QByteArray& key, const QByteArray& message) {
    EVP_MAC_CTX* ctx = hmacContext(digest);
    if (!ctx)
        return {};
    // A null key pointer means "keep the previous key" to OpenSSL, so an empty
    // key is passed as a valid pointer of length zero.
    static const unsigned char emptyKey[1] = {0};
    const unsigned char* keyBytes = key.isEmpty() ? emptyKey : bytes(key);
    if (EVP_MAC_init(ctx, keyBytes, size_t(key.size()), nullptr) != 1)
        return {};
    if (EVP_MAC_update(ctx, bytes(message), size_t(message.size())) != 1)
        return {};
    QByteArray out(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    size_t length = 0;
    if (EVP_MAC_final(ctx, bytes(out), &length, size_t(out.size())) != 1)
        return {};
    out.truncate(qsizetype(length));
    return out;
}

QByteArray sha256(const QByteArray& data) {
    QByteArray out(32, Qt::Uninitialized);
    unsigned int length = 0;
    if (EVP_Digest(data.constData(), size_t(data.size()), bytes(out), &length, EVP_sha256(),
                   nullptr) != 1)
        return {};
    out.truncate(qsizetype(length));
    return out;
}

std::optional<QByteArray> randomBytes(qsizetype count) {
    if (count < 0)
        return std::nullopt;
    QByteArray out(count, Qt::Uninitialized);
    if (count > 0 && RAND_bytes(bytes(out), int(count)) != 1)
        return std::nullopt;
    return out;
}

std::optional<QByteArray> pbkdf2Sha256(const QByteArray& password, const QByteArray& salt,
                                       int iterations, int keyLength) {
    if (iterations < 1 || keyLength < 1)
        return std::nullopt;
    QByteArray out(keyLength, Qt::Uninitialized);
    if (PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()), bytes(salt),
                          int(salt.size()), iterations, EVP_sha256(), keyLength,
                          bytes(out)) != 1)
        return std::nullopt;
    return out;
}

std::optional<QByteArray> aesGcmSeal(const QByteArray& key, const QByteArray& plaintext) {
    const auto nonce = randomBytes(aesGcmNonceLength);
    if (!nonce)
        return std::nullopt;
    return aesGcmSeal(key, *nonce, plaintext);
}

std::optional<QByteArray> aesGcmSeal(const QByteArray& key, const QByteArray& nonce,
                                     const QByteArray& plaintext) {
    if (key.size() != aesGcmKeyLength || nonce.size() != aesGcmNonceLength)
        return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CipherDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!ctx ||
        EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, bytes(key), bytes(nonce)) != 1)
        return std::nullopt;
    QByteArray ciphertext(plaintext.size() + 16, Qt::Uninitialized);
    int written = 0;
    int total = 0;
    if (!plaintext.isEmpty()) {
        if (EVP_EncryptUpdate(ctx.get(), bytes(ciphertext), &written, bytes(plaintext),
                              int(plaintext.size())) != 1)
            return std::nullopt;
        total = written;
    }
    if (EVP_EncryptFinal_ex(ctx.get(), bytes(ciphertext) + total, &written) != 1)
        return std::nullopt;
    total += written;
    ciphertext.truncate(total);
    QByteArray tag(aesGcmTagLength, Qt::Uninitialized);
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, aesGcmTagLength, bytes(tag)) != 1)
        return std::nullopt;
    return nonce + ciphertext + tag;
}

std::optional<QByteArray> aesGcmOpen(const QByteArray& key, const QByteArray& combined) {
    if (combined.size() < aesGcmNonceLength + aesGcmTagLength)
        return std::nullopt;
    return aesGcmOpen(key, combined.first(aesGcmNonceLength),
                      combined.sliced(aesGcmNonceLength,
                                      combined.size() - aesGcmNonceLength - aesGcmTagLength),
                      combined.last(aesGcmTagLength));
}

std::optional<QByteArray> aesGcmOpen(const QByteArray& key, const QByteArray& nonce,
                                     const QByteArray& ciphertext, const QByteArray& tag) {
    if (key.size() != aesGcmKeyLength || nonce.size() != aesGcmNonceLength ||
        tag.size() != aesGcmTagLength)
        return std::nullopt;
    std::unique_ptr<EVP_CIPHER_CTX, CipherDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!ctx ||
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, bytes(key), bytes(nonce)) != 1)
        return std::nullopt;
    QByteArray plaintext(ciphertext.size() + 16, Qt::Uninitialized);
    int written = 0;
    int total = 0;
    if (!ciphertext.isEmpty()) {
        if (EVP_DecryptUpdate(ctx.get(), bytes(plaintext), &written, bytes(ciphertext),
                              int(ciphertext.size())) != 1)
            return std::nullopt;
        total = written;
    }
    QByteArray tagCopy = tag;
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, aesGcmTagLength, bytes(tagCopy)) != 1)
        return std::nullopt;
    if (EVP_DecryptFinal_ex(ctx.get(), bytes(plaintext) + total, &written) != 1)
        return std::nullopt;
    total += written;
    plaintext.truncate(total);
    return plaintext;
}

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, KeyDeleter>;

// The order n of the P-256 group: a private scalar lies in [1, n - 1].
constexpr unsigned char p256Order[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xBC, 0xE6, 0xFA, 0xAD, 0xA7, 0x17, 0x9E, 0x84, 0xF3, 0xB9, 0xCA, 0xC2, 0xFC, 0x63, 0x25, 0x51,
};

bool isP256Scalar(const QByteArray& privateKey) {
    if (privateKey.size() != p256PrivateKeyLength)
        return false;
    const auto* scalar = bytes(privateKey);
    bool zero = true;
    for (unsigned char b : privateKey)
        zero = zero && b == 0;
    return !zero && std::memcmp(scalar, p256Order, sizeof p256Order) < 0;
}

// The key pair of a raw scalar. The library takes it as an EC private key
// structure (RFC 5915) naming the curve and derives the public point itself.
KeyPtr p256Key(const QByteArray& privateKey) {
    if (!isP256Scalar(privateKey))
        return nullptr;
    static constexpr unsigned char head[] = {0x30, 0x31, 0x02, 0x01, 0x01, 0x04, 0x20};
    // [0] { OID 1.2.840.10045.3.1.7 (prime256v1) }
    static constexpr unsigned char curve[] = {0xA0, 0x0A, 0x06, 0x08, 0x2A, 0x86,
                                              0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
    unsigned char der[sizeof head + p256PrivateKeyLength + sizeof curve];
    std::memcpy(der, head, sizeof head);
    std::memcpy(der + sizeof head, bytes(privateKey), p256PrivateKeyLength);
    std::memcpy(der + sizeof head + p256PrivateKeyLength, curve, sizeof curve);
    const unsigned char* cursor = der;
    KeyPtr key(d2i_PrivateKey(EVP_PKEY_EC, nullptr, &cursor, long(sizeof der)));
    OPENSSL_cleanse(der, sizeof der);
    return key;
}

} // namespace

std::optional<QByteArray> p256GeneratePrivateKey() {
    KeyPtr key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    if (!key)
        return std::nullopt;
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &raw) != 1)
        return std::nullopt;
    std::unique_ptr<BIGNUM, KeyDeleter> scalar(raw);
    QByteArray out(p256PrivateKeyLength, Qt::Uninitialized);
    if (BN_bn2binpad(scalar.get(), bytes(out), p256PrivateKeyLength) != p256PrivateKeyLength)
        return std::nullopt;
    return out;
}

std::optional<QByteArray> p256PublicKey(const QByteArray& privateKey) {
    const KeyPtr key = p256Key(privateKey);
    if (!key)
        return std::nullopt;
    // The uncompressed point: 0x04, then x and y.
    unsigned char point[1 + p256PublicKeyLength];
    size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point,
                                        &length) != 1 ||
        length != sizeof point || point[0] != 0x04)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(point) + 1, p256PublicKeyLength);
}

std::optional<QByteArray> p256Sign(const QByteArray& privateKey, const QByteArray& message) {
    const KeyPtr key = p256Key(privateKey);
    if (!key)
        return std::nullopt;
    std::unique_ptr<EVP_MD_CTX, KeyDeleter> ctx(EVP_MD_CTX_new());
    if (!ctx ||
        EVP_DigestSignInit_ex(ctx.get(), nullptr, "SHA256", nullptr, nullptr, key.get(), nullptr) !=
            1)
        return std::nullopt;
    size_t length = 0;
    if (EVP_DigestSign(ctx.get(), nullptr, &length, bytes(message), size_t(message.size())) != 1)
        return std::nullopt;
    QByteArray signature(qsizetype(length), Qt::Uninitialized);
    if (EVP_DigestSign(ctx.get(), bytes(signature), &length, bytes(message),
                       size_t(message.size())) != 1)
        return std::nullopt;
    signature.truncate(qsizetype(length));
    return signature;
}

} // namespace Crypto
