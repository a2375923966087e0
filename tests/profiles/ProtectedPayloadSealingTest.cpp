#include "profiles/EnvironmentVariable.h"
#include "profiles/ProtectedPayloadSealing.h"
#include "support/FakeProtectedKeyProvider.h"

#include <openssl/evp.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// Shaped like a profile's clear payload: the variables, secrets emptied.
struct SamplePayload {
    QList<EnvironmentVariable> variables;

    static SamplePayload fromJson(const json::Value &value)
    {
        const json::ObjectReader reader(value, "SamplePayload");
        return {reader.list("variables", EnvironmentVariable::fromJson)};
    }
    json::Value toJson(json::Allocator &allocator) const
    {
        return json::ObjectWriter(allocator)
            .set("variables",
                 json::makeList(variables, allocator,
                                [](const EnvironmentVariable &v, json::Allocator &a) { return v.toJson(a); }))
            .take();
    }
    friend bool operator==(const SamplePayload &, const SamplePayload &) = default;
};

const QUuid profileA(QStringLiteral("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0"));
const QUuid profileB(QStringLiteral("11111111-2222-3333-4444-555555555555"));

SamplePayload samplePayload()
{
    return {{{profileB, QStringLiteral("API_URL"), QStringLiteral("https://example.test/ä?q=\"1\"\n"), false},
             {profileA, QStringLiteral("TOKEN"), QString(), true}}};
}

ProtectedPayloadCrypto key()
{
    return FakeProtectedKeyProvider::sampleKey(1);
}

using Case = ProtectedProfilesError::Case;

void expectDecryptionFailed(const std::function<void()> &open)
{
    try {
        open();
        ADD_FAILURE() << "opened";
    } catch (const ProtectedProfilesError &error) {
        EXPECT_EQ(error.errorCase(), Case::decryptionFailed);
    }
}

// An AES-256-GCM decryption written here from the documented layout, so the
// box format is checked against something other than the code that made it.
std::optional<QByteArray> independentlyDecrypt(const QString &base64, const QByteArray &aad,
                                               const ProtectedPayloadCrypto &crypto)
{
    const QByteArray box = QByteArray::fromBase64(base64.toLatin1());
    const int ciphertextSize = static_cast<int>(box.size()) - 12 - 16;
    if (ciphertextSize < 0)
        return std::nullopt;
    const auto *nonce = reinterpret_cast<const unsigned char *>(box.constData());
    QByteArray tag = box.right(16);
    QByteArray plain(ciphertextSize, '\0');
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    int n = 0;
    int m = 0;
    const bool ok =
        EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, crypto.bytes(), nonce) == 1
        && EVP_DecryptUpdate(ctx.get(), nullptr, &n, reinterpret_cast<const unsigned char *>(aad.constData()),
                             static_cast<int>(aad.size()))
               == 1
        && EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char *>(plain.data()), &n, nonce + 12, ciphertextSize)
               == 1
        && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, 16, tag.data()) == 1
        && EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char *>(plain.data()) + n, &m) == 1;
    if (!ok)
        return std::nullopt;
    return plain;
}

TEST(ProtectedPayload, AssociatedDataNamesKindAndLowerCaseId)
{
    EXPECT_EQ(protectedPayloadAAD(profileA, ProtectedPayloadKind::profile),
              QStringLiteral("velmora:protected-profile:v1:0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"));
    EXPECT_EQ(protectedPayloadAAD(profileA, ProtectedPayloadKind::service),
              QStringLiteral("velmora:protected-service:v1:0f1e2d3c-4b5a-6978-8796-a5b4c3d2e1f0"));
}

TEST(ProtectedPayload, SealedEnvelopeOpensToThePayload)
{
    const ProtectedPayloadEnvelope envelope = sealProtectedProfilePayload(samplePayload(), profileA, key());
    EXPECT_EQ(envelope.algorithm, QStringLiteral("AES.GCM"));
    EXPECT_EQ(envelope.keyID, QStringLiteral("protected-profiles.master-key.v1"));
    EXPECT_EQ(envelope.aad, protectedPayloadAAD(profileA, ProtectedPayloadKind::profile));
    EXPECT_EQ(openProtectedProfilePayload<SamplePayload>(envelope, profileA, key()), samplePayload());

    const ProtectedPayloadEnvelope empty = sealProtectedPayload({}, profileA, ProtectedPayloadKind::service, key());
    EXPECT_TRUE(openProtectedPayload(empty, profileA, ProtectedPayloadKind::service, key()).isEmpty());
}

TEST(ProtectedPayload, EverySealTakesAFreshNonce)
{
    const ProtectedPayloadEnvelope first = sealProtectedProfilePayload(samplePayload(), profileA, key());
    const ProtectedPayloadEnvelope second = sealProtectedProfilePayload(samplePayload(), profileA, key());
    EXPECT_NE(first.combinedSealedBox, second.combinedSealedBox);
    EXPECT_NE(QByteArray::fromBase64(first.combinedSealedBox.toLatin1()).left(12),
              QByteArray::fromBase64(second.combinedSealedBox.toLatin1()).left(12));
    EXPECT_EQ(openProtectedProfilePayload<SamplePayload>(first, profileA, key()),
              openProtectedProfilePayload<SamplePayload>(second, profileA, key()));
}

TEST(ProtectedPayload, BoxIsNonceCiphertextTagOverCompactSortedJson)
{
    const ProtectedPayloadEnvelope envelope = sealProtectedProfilePayload(samplePayload(), profileA, key());
    const QByteArray expectedJson =
        R"({"variables":[{"id":"11111111-2222-3333-4444-555555555555","isSecret":false,"key":"API_URL",)"
        R"("value":"https://example.test/ä?q=\"1\"\n"},{"id":"0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0",)"
        R"("isSecret":true,"key":"TOKEN","value":""}]})";

    EXPECT_EQ(QByteArray::fromBase64(envelope.combinedSealedBox.toLatin1()).size(), 12 + expectedJson.size() + 16);
    EXPECT_EQ(envelope.combinedSealedBox.size() % 4, 0);
    EXPECT_EQ(independentlyDecrypt(envelope.combinedSealedBox, envelope.aad.toUtf8(), key()), expectedJson);
    EXPECT_FALSE(independentlyDecrypt(envelope.combinedSealedBox, envelope.aad.toUtf8(),
                                      FakeProtectedKeyProvider::sampleKey(2)));
}

TEST(ProtectedPayload, AnyTamperingFailsAsDecryptionFailed)
{
    const ProtectedPayloadEnvelope sealed = sealProtectedProfilePayload(samplePayload(), profileA, key());
    const QByteArray box = QByteArray::fromBase64(sealed.combinedSealedBox.toLatin1());
    const auto withBox = [&](const QByteArray &bytes) {
        ProtectedPayloadEnvelope changed = sealed;
        changed.combinedSealedBox = QString::fromLatin1(bytes.toBase64());
        return changed;
    };
    const auto flipped = [&](qsizetype index) {
        QByteArray bytes = box;
        bytes[index] = static_cast<char>(bytes[index] ^ 0x01);
        return withBox(bytes);
    };
    const auto edited = [&](auto edit) {
        ProtectedPayloadEnvelope changed = sealed;
        edit(changed);
        return changed;
    };
    const QString aadOfB = protectedPayloadAAD(profileB, ProtectedPayloadKind::profile);

    const struct {
        const char *what;
        ProtectedPayloadEnvelope envelope;
        QUuid id;
        ProtectedPayloadKind kind;
    } cases[] = {
        {"another record's id", sealed, profileB, ProtectedPayloadKind::profile},
        {"another kind", sealed, profileA, ProtectedPayloadKind::service},
        {"aad edited to match another record", edited([&](auto &e) { e.aad = aadOfB; }), profileB,
         ProtectedPayloadKind::profile},
        {"algorithm with a trailing blank", edited([](auto &e) { e.algorithm += QLatin1Char(' '); }), profileA,
         ProtectedPayloadKind::profile},
        {"another key version", edited([](auto &e) { e.keyID = QStringLiteral("protected-profiles.master-key.v2"); }),
         profileA, ProtectedPayloadKind::profile},
        {"27-byte box", withBox(box.left(27)), profileA, ProtectedPayloadKind::profile},
        {"empty box", withBox({}), profileA, ProtectedPayloadKind::profile},
        {"not Base64", edited([](auto &e) { e.combinedSealedBox = QStringLiteral("@@@@") + e.combinedSealedBox; }),
         profileA, ProtectedPayloadKind::profile},
        {"Base64 with a line break", edited([](auto &e) { e.combinedSealedBox.insert(8, QLatin1Char('\n')); }),
         profileA, ProtectedPayloadKind::profile},
        {"one bit flipped in the nonce", flipped(3), profileA, ProtectedPayloadKind::profile},
        {"one bit flipped in the ciphertext", flipped(20), profileA, ProtectedPayloadKind::profile},
        {"one bit flipped in the tag", flipped(box.size() - 1), profileA, ProtectedPayloadKind::profile},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        expectDecryptionFailed([&] { openProtectedPayload(c.envelope, c.id, c.kind, key()); });
        expectDecryptionFailed([&] { openProtectedPayloadRecord<SamplePayload>(c.envelope, c.id, c.kind, key()); });
    }

    SCOPED_TRACE("another key");
    expectDecryptionFailed(
        [&] { openProtectedProfilePayload<SamplePayload>(sealed, profileA, FakeProtectedKeyProvider::sampleKey(9)); });
}

TEST(ProtectedPayload, Base64MustKeepItsPadding)
{
    // 12 + 1 + 16 = 29 bytes, which Base64 pads with one "=".
    const ProtectedPayloadEnvelope padded = sealProtectedPayload("x", profileA, ProtectedPayloadKind::profile, key());
    ASSERT_TRUE(padded.combinedSealedBox.endsWith(QLatin1Char('=')));
    EXPECT_EQ(openProtectedPayload(padded, profileA, ProtectedPayloadKind::profile, key()), QByteArray("x"));

    ProtectedPayloadEnvelope unpadded = padded;
    unpadded.combinedSealedBox.chop(1);
    expectDecryptionFailed([&] { openProtectedPayload(unpadded, profileA, ProtectedPayloadKind::profile, key()); });
}

TEST(ProtectedPayload, PlaintextThatIsNotThePayloadFailsAsDecryptionFailed)
{
    const ProtectedPayloadEnvelope notJson =
        sealProtectedPayload("not json", profileA, ProtectedPayloadKind::profile, key());
    expectDecryptionFailed([&] { openProtectedProfilePayload<SamplePayload>(notJson, profileA, key()); });
    const ProtectedPayloadEnvelope wrongShape =
        sealProtectedPayload(R"({"variables":[{"id":"x"}]})", profileA, ProtectedPayloadKind::profile, key());
    expectDecryptionFailed([&] { openProtectedProfilePayload<SamplePayload>(wrongShape, profileA, key()); });
}

TEST(ProtectedPayload, KeysAreExactly32Bytes)
{
    for (int size : {0, 16, 31, 33}) {
        try {
            ProtectedPayloadCrypto crypto {QByteArray(size, 'k')};
            ADD_FAILURE() << size;
        } catch (const ProtectedProfilesError &error) {
            EXPECT_EQ(error.errorCase(), Case::invalidKey);
            EXPECT_EQ(error.message(), QStringLiteral("The protected profiles encryption key is invalid."));
        }
    }
    EXPECT_EQ(ProtectedPayloadCrypto(QByteArray(32, 'k')).keyData(), QByteArrayView(QByteArray(32, 'k')));
    EXPECT_FALSE(ProtectedPayloadCrypto(QByteArray(32, 'k')) == ProtectedPayloadCrypto(QByteArray(32, 'j')));
}

TEST(ProtectedProfilesError, Messages)
{
    const struct {
        ProtectedProfilesError error;
        const char16_t *message;
    } cases[] = {
        {ProtectedProfilesError::keychainAccessDenied(-1, QString()),
         u"Velmora could not access the encryption key in the keyring (-1): Unknown keyring error)."},
        {ProtectedProfilesError::keychainAccessDenied(2, QStringLiteral("Collection is locked")),
         u"Velmora could not access the encryption key in the keyring (2): Collection is locked)."},
        {ProtectedProfilesError(Case::authenticationCanceled), u"Unlock canceled."},
        {ProtectedProfilesError(Case::authenticationUnavailable),
         u"Password authentication is not available for unlocking protected Velmora data."},
        {ProtectedProfilesError(Case::authenticationFailed), u"Velmora could not verify your identity."},
        {ProtectedProfilesError(Case::encryptionFailed), u"Velmora could not encrypt the protected data."},
        {ProtectedProfilesError(Case::decryptionFailed),
         u"Protected data could not be unlocked. The keyring key may be missing or the data may be corrupted."},
        {ProtectedProfilesError(Case::locked), u"Protected Velmora data is locked."},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.error.message(), QString::fromUtf16(c.message));
    EXPECT_NE(ProtectedProfilesError::keychainAccessDenied(1, QString()),
              ProtectedProfilesError::keychainAccessDenied(2, QString()));
}

} // namespace
