#include "platform/PamAuthenticator.h"

#include <pwd.h>
#include <security/pam_appl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string.h>

namespace {

constexpr const char *serviceName = "velmora";

struct Conversation {
    QByteArrayView password;
};

// Wipes and frees the replies made so far, which may hold copies of the password.
void discardReplies(pam_response *replies, int count)
{
    for (int j = 0; j < count; ++j) {
        if (replies[j].resp) {
            explicit_bzero(replies[j].resp, std::strlen(replies[j].resp));
            std::free(replies[j].resp);
        }
    }
    std::free(replies);
}

// Answers every hidden prompt with the password and shows nothing else; PAM
// frees what we hand back.
int converse(int count, const struct pam_message **messages, struct pam_response **responses, void *data)
{
    if (count <= 0 || count > PAM_MAX_NUM_MSG)
        return PAM_CONV_ERR;
    auto *conversation = static_cast<Conversation *>(data);
    auto *replies = static_cast<pam_response *>(std::calloc(static_cast<size_t>(count), sizeof(pam_response)));
    if (!replies)
        return PAM_BUF_ERR;
    for (int i = 0; i < count; ++i) {
        if (messages[i]->msg_style == PAM_PROMPT_ECHO_OFF) {
            replies[i].resp =
                strndup(conversation->password.data(), static_cast<size_t>(conversation->password.size()));
            if (!replies[i].resp) {
                discardReplies(replies, i);
                return PAM_BUF_ERR;
            }
        } else if (messages[i]->msg_style == PAM_PROMPT_ECHO_ON) {
            // Only the password is ours to give; a visible question has no answer here.
            discardReplies(replies, i);
            return PAM_CONV_ERR;
        }
    }
    *responses = replies;
    return PAM_SUCCESS;
}

} // namespace

QString PamAuthenticator::currentUserName()
{
    const passwd *entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QString();
}

bool PamAuthenticator::isAvailable()
{
    const QByteArray user = currentUserName().toLocal8Bit();
    if (user.isEmpty())
        return false;
    pam_conv conversation {converse, nullptr};
    pam_handle_t *handle = nullptr;
    const int started = pam_start(serviceName, user.constData(), &conversation, &handle);
    if (handle)
        pam_end(handle, started);
    return started == PAM_SUCCESS;
}

PamAuthenticator::Result PamAuthenticator::authenticate(const QString &userName, const SensitiveBytes &password)
{
    Conversation state {password.view()};
    pam_conv conversation {converse, &state};
    pam_handle_t *handle = nullptr;
    const QByteArray user = userName.toLocal8Bit();
    int status = pam_start(serviceName, user.constData(), &conversation, &handle);
    Result result = Result::unavailable;
    if (status == PAM_SUCCESS) {
        status = pam_authenticate(handle, PAM_SILENT | PAM_DISALLOW_NULL_AUTHTOK);
        switch (status) {
        case PAM_SUCCESS:
            result = Result::accepted;
            break;
        case PAM_AUTH_ERR:
        case PAM_USER_UNKNOWN:
        case PAM_MAXTRIES:
        case PAM_CRED_INSUFFICIENT:
            result = Result::rejected;
            break;
        default:
            result = Result::unavailable;
            break;
        }
    }
    if (handle)
        pam_end(handle, status);
    return result;
}
