#pragma once

#include <QString>

// Keyring tests share one keyring daemon per test run, and ctest runs test
// processes side by side. Holding this lock gives a test the application's
// keyring items to itself: it waits for every other holder, starts from no
// items of the application's service, and removes what the test left.
//
// Only inside the private session of scripts/with-test-session.sh; use
// `available()` to skip elsewhere, so no test writes to a real keyring.
class KeyringTestLock {
public:
    static bool available();
    static QString unavailableReason();

    KeyringTestLock();
    ~KeyringTestLock();
    KeyringTestLock(const KeyringTestLock &) = delete;
    KeyringTestLock &operator=(const KeyringTestLock &) = delete;

    // Removes every item of the application's service.
    static void removeAllItems();

private:
    int m_fd = -1;
};

// Skips the current test unless the private test keyring is there.
#define REQUIRE_PRIVATE_KEYRING()                                                                                      \
    do {                                                                                                               \
        if (!KeyringTestLock::available())                                                                             \
            GTEST_SKIP() << KeyringTestLock::unavailableReason().toStdString();                                        \
    } while (false)
