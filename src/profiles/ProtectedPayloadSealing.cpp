#include "profiles/ProtectedPayloadSealing.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>
#include <memory>

namespace {

constexpr int nonceSize = 12;
constexpr int tagSize = 16;

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX *context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

const unsigned char *bytes(QByteArrayView view)
{
    return reinterpret_cast<const unsigned char *>(view.data());
}

unsigned char *bytes(QByteArray &array)
{
    return reinterpret_cast<unsigned char *>(array.data());
}

[[noreturn]] void encryptionFailed()
{
    throw ProtectedProfilesError(ProtectedProfilesError::Case::encryptionFailed);
}

[[noreturn]] void decryptionFailed()
{
    throw ProtectedProfilesError(ProtectedProfilesError::Case::decryptionFailed);
}

// Standard alphabet with "=" padding and nothing else: no line breaks, no
// blanks, no missing padding.
std::optional<QByteArray> strictBase64Decode(const QString &text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    for (const QChar c : text) {
        if (c.unicode() > 0x7F)
            return std::nullopt;
    }
    auto result = QByteArray::fromBase64Encoding(text.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (result.decodingStatus != QByteArray::Base64DecodingStatus::Ok)
        return std::nullopt;
    return std::move(result.decoded);
}

} // namespace

QString protectedPayloadAAD(const QUuid &id, ProtectedPayloadKind kind)
{
    const QString word = kind == ProtectedPayloadKind::profile ? QStringLiteral("profile") : QStringLiteral("service");
    return QStringLiteral("velmora:protected-") + word + QStringLiteral(":v1:")
           + id.toString(QUuid::WithoutBraces).toLower();
}

ProtectedPayloadEnvelope sealProtectedPayload(QByteArrayView plaintext, const QUuid &id, ProtectedPayloadKind kind,
                                              const ProtectedPayloadCrypto &key)
{
    const QString aad = protectedPayloadAAD(id, kind);
    const QByteArray aadBytes = aad.toUtf8();
    if (plaintext.size() > INT_MAX - nonceSize - tagSize)
        encryptionFailed();
    const int plaintextSize = static_cast<int>(plaintext.size());

    // nonce | ciphertext | tag, written in place.
    QByteArray box(nonceSize + plaintextSize + tagSize, Qt::Uninitialized);
    unsigned char *nonce = bytes(box);
    unsigned char *ciphertext = nonce + nonceSize;
    unsigned char *tag = ciphertext + plaintextSize;
    if (RAND_bytes(nonce, nonceSize) != 1)
        encryptionFailed();

    const CipherContext context(EVP_CIPHER_CTX_new());
    int written = 0;
    int finalWritten = 0;
    if (!context || EVP_EncryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) != 1
        || EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, nonceSize, nullptr) != 1
        || EVP_EncryptInit_ex(context.get(), nullptr, nullptr, key.bytes(), nonce) != 1
        || EVP_EncryptUpdate(context.get(), nullptr, &written, bytes(aadBytes), static_cast<int>(aadBytes.size())) != 1
        || EVP_EncryptUpdate(context.get(), ciphertext, &written, bytes(plaintext), plaintextSize) != 1
        || EVP_EncryptFinal_ex(context.get(), ciphertext + written, &finalWritten) != 1
        || written + finalWritten != plaintextSize
        || EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, tagSize, tag) != 1) {
        encryptionFailed();
    }

    return {ProtectedPayloadEnvelope::algorithmName, ProtectedPayloadEnvelope::masterKeyAccount, aad,
            QString::fromLatin1(box.toBase64())};
}

QByteArray openProtectedPayload(const ProtectedPayloadEnvelope &envelope, const QUuid &id, ProtectedPayloadKind kind,
                                const ProtectedPayloadCrypto &key)
{
    const QString aad = protectedPayloadAAD(id, kind);
    if (envelope.algorithm != ProtectedPayloadEnvelope::algorithmName
        || envelope.keyID != ProtectedPayloadEnvelope::masterKeyAccount || envelope.aad != aad) {
        decryptionFailed();
    }
    const std::optional<QByteArray> box = strictBase64Decode(envelope.combinedSealedBox);
    if (!box || box->size() < nonceSize + tagSize || box->size() > INT_MAX)
        decryptionFailed();

    const QByteArray aadBytes = aad.toUtf8();
    const int ciphertextSize = static_cast<int>(box->size()) - nonceSize - tagSize;
    const unsigned char *nonce = bytes(*box);
    const unsigned char *ciphertext = nonce + nonceSize;
    // OpenSSL takes the expected tag through a non-const pointer but only reads it.
    QByteArray tag = box->sliced(nonceSize + ciphertextSize);

    QByteArray plaintext(ciphertextSize, Qt::Uninitialized);
    const CipherContext context(EVP_CIPHER_CTX_new());
    int written = 0;
    int finalWritten = 0;
    const bool opened =
        context && EVP_DecryptInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, nullptr, nullptr) == 1
        && EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_IVLEN, nonceSize, nullptr) == 1
        && EVP_DecryptInit_ex(context.get(), nullptr, nullptr, key.bytes(), nonce) == 1
        && EVP_DecryptUpdate(context.get(), nullptr, &written, bytes(aadBytes), static_cast<int>(aadBytes.size())) == 1
        && EVP_DecryptUpdate(context.get(), bytes(plaintext), &written, ciphertext, ciphertextSize) == 1
        && EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, tagSize, bytes(tag)) == 1
        && EVP_DecryptFinal_ex(context.get(), bytes(plaintext) + written, &finalWritten) == 1
        && written + finalWritten == ciphertextSize;
    if (!opened) {
        // Nothing of a payload that failed its tag may leave here.
        SensitiveBytes::wipe(plaintext);
        decryptionFailed();
    }
    return plaintext;
}
