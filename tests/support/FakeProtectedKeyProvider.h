#pragma once

#include "profiles/ProtectedKeyProviding.h"
#include "records/ProtectedProfilesError.h"

#include <QList>
#include <QPromise>

#include <memory>
#include <optional>

// A ProtectedKeyProviding for lock-manager tests: hands out a fixed key, or
// a chosen failure, at once or, while holding, only when the test releases
// the waiting requests (to make unlocks overlap). Main thread only.
class FakeProtectedKeyProvider final : public ProtectedKeyProviding {
public:
    // A key of 32 bytes counting up from `firstByte`.
    static ProtectedPayloadCrypto sampleKey(unsigned char firstByte = 1);

    explicit FakeProtectedKeyProvider(const ProtectedPayloadCrypto &key = sampleKey());

    QFuture<ProtectedPayloadCrypto> loadOrCreateMasterKey() override;

    void setKey(const ProtectedPayloadCrypto &key) { m_key = key; }
    void failWith(const ProtectedProfilesError &error) { m_failure = error; }
    void clearFailure() { m_failure.reset(); }

    void setHolding(bool holding) { m_holding = holding; }
    int pendingCount() const { return static_cast<int>(m_pending.size()); }
    // Answers every waiting request with the current key or failure.
    void releasePending();

    int requestCount() const { return m_requests; }

private:
    void answer(QPromise<ProtectedPayloadCrypto> &promise) const;

    ProtectedPayloadCrypto m_key;
    std::optional<ProtectedProfilesError> m_failure;
    bool m_holding = false;
    int m_requests = 0;
    QList<std::shared_ptr<QPromise<ProtectedPayloadCrypto>>> m_pending;
};
