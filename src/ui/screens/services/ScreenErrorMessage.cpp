#include "ui/screens/services/ScreenErrorMessage.h"

#include "platform/KeychainError.h"
#include "records/ProtectedProfilesError.h"

std::optional<QString> screenErrorMessage(const std::exception_ptr &error, KeychainErrorText keychainText)
{
    try {
        std::rethrow_exception(error);
    } catch (const KeychainError &keychainError) {
        return keychainText == KeychainErrorText::fullMessage ? keychainError.fullMessage()
                                                              : keychainError.errorDescription();
    } catch (const ProtectedProfilesError &protectedError) {
        if (protectedError.errorCase() == ProtectedProfilesError::Case::authenticationCanceled)
            return std::nullopt;
        return protectedError.errorDescription();
    } catch (const std::exception &other) {
        return QString::fromUtf8(other.what());
    } catch (...) {
        return QStringLiteral("An unknown error occurred.");
    }
}
