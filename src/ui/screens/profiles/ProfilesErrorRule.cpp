#include "ui/screens/profiles/ProfilesErrorRule.h"

#include "platform/KeychainError.h"
#include "profiles/EnvironmentProfileValidationError.h"
#include "records/FileStoreError.h"
#include "records/ProtectedProfilesError.h"

std::optional<QString> profilesErrorMessage(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const KeychainError &error) {
        return error.fullMessage();
    } catch (const ProtectedProfilesError &error) {
        if (error.errorCase() == ProtectedProfilesError::Case::authenticationCanceled)
            return std::nullopt;
        return error.message();
    } catch (const EnvironmentProfileValidationError &error) {
        return error.message();
    } catch (const FileStoreError &error) {
        return error.message();
    } catch (const std::exception &error) {
        return QString::fromLocal8Bit(error.what());
    } catch (...) {
        return QStringLiteral("The operation could not be completed.");
    }
}
