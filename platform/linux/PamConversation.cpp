#include "PamConversation.h"

#include <QMetaObject>
#include <QPointer>

#include <security/pam_appl.h>

#include <pwd.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

using AttemptOutcome = AuthConversationInterface::AttemptOutcome;

// State the worker thread shares with the object that started it. The
// worker keeps it alive on its own, so a cancelled conversation may be
// destroyed while PAM still sleeps through its failure delay.
struct PamConversation::Shared {
    std::mutex mutex;
    std::condition_variable wake;
    std::optional<SecretText> password;
    bool cancelled = false;
    bool nextAttemptWanted = false;
    // Where events go; null once cancelled, so nothing arrives afterwards.
    QPointer<QObject> receiver;
    Events events;
    pam_handle_t *handle = nullptr;
    // The last error text a module sent during the current attempt.
    QString lastError;

    // Runs f on the receiver's thread unless the conversation has ended by
    // then; f keeps this state alive.
    template <typename F>
    void post(F f)
    {
        std::lock_guard lock(mutex);
        if (cancelled || !receiver)
            return;
        QMetaObject::invokeMethod(
            receiver.data(),
            [this, f = std::move(f)] {
                {
                    std::lock_guard stillOn(mutex);
                    if (cancelled)
                        return;
                }
                f();
            },
            Qt::QueuedConnection);
    }
};

namespace {

// Answers of PAM that mean "these credentials are wrong": the user may try again.
bool isRejection(int status)
{
    return status == PAM_AUTH_ERR || status == PAM_USER_UNKNOWN || status == PAM_CRED_ERR;
}

int converse(int count, const struct pam_message **messages, struct pam_response **responses, void *data)
{
    auto *shared = static_cast<PamConversation::Shared *>(data);
    if (count <= 0 || count > PAM_MAX_NUM_MSG)
        return PAM_CONV_ERR;
    auto *answers = static_cast<pam_response *>(std::calloc(std::size_t(count), sizeof(pam_response)));
    if (!answers)
        return PAM_BUF_ERR;
    auto fail = [&](int status) {
        for (int i = 0; i < count; ++i) {
            if (answers[i].resp) {
                explicit_bzero(answers[i].resp, std::strlen(answers[i].resp));
                std::free(answers[i].resp);
            }
        }
        std::free(answers);
        return status;
    };
    for (int i = 0; i < count; ++i) {
        const pam_message *message = messages[i];
        const QString text = QString::fromUtf8(message->msg ? message->msg : "").trimmed();
        switch (message->msg_style) {
        case PAM_PROMPT_ECHO_OFF:
        case PAM_PROMPT_ECHO_ON: {
            // The module waits for what the user submits in the dialog.
            std::unique_lock lock(shared->mutex);
            shared->wake.wait(lock, [shared] { return shared->cancelled || shared->password.has_value(); });
            if (shared->cancelled)
                return fail(PAM_CONV_ERR);
            SecretText password = std::move(*shared->password);
            shared->password.reset();
            lock.unlock();
            const std::vector<char> &bytes = password.bytes();
            char *copy = static_cast<char *>(std::malloc(bytes.size() + 1));
            if (!copy)
                return fail(PAM_BUF_ERR);
            if (!bytes.empty())
                std::memcpy(copy, bytes.data(), bytes.size());
            copy[bytes.size()] = '\0';
            // PAM owns and frees the copy; pam_unix and friends overwrite it first.
            answers[i].resp = copy;
            break;
        }
        case PAM_ERROR_MSG:
            shared->lastError = text;
            [[fallthrough]];
        case PAM_TEXT_INFO:
            if (!text.isEmpty()) {
                shared->post([shared, text] {
                    if (shared->events.onMessage)
                        shared->events.onMessage(text);
                });
            }
            break;
        default:
            return fail(PAM_CONV_ERR);
        }
    }
    *responses = answers;
    return PAM_SUCCESS;
}

void runAttempts(std::shared_ptr<PamConversation::Shared> shared)
{
    int status = PAM_SUCCESS;
    for (;;) {
        shared->lastError.clear();
        status = pam_authenticate(shared->handle, 0);
        {
            std::lock_guard lock(shared->mutex);
            if (shared->cancelled)
                break;
        }
        if (status == PAM_SUCCESS) {
            // The password was right; the account must also be allowed in now.
            status = pam_acct_mgmt(shared->handle, 0);
            if (status == PAM_SUCCESS) {
                pam_setcred(shared->handle, PAM_REFRESH_CRED);
                shared->post([shared] { shared->events.onAttemptEnded(AttemptOutcome::Success, QString()); });
            } else {
                const QString text = QString::fromUtf8(pam_strerror(shared->handle, status));
                shared->post([shared, text] { shared->events.onAttemptEnded(AttemptOutcome::Failed, text); });
            }
            break;
        }
        const QString text =
            shared->lastError.isEmpty() ? QString::fromUtf8(pam_strerror(shared->handle, status)) : shared->lastError;
        if (!isRejection(status)) {
            shared->post([shared, text] { shared->events.onAttemptEnded(AttemptOutcome::Failed, text); });
            break;
        }
        shared->post([shared, text] { shared->events.onAttemptEnded(AttemptOutcome::Rejected, text); });
        std::unique_lock lock(shared->mutex);
        shared->wake.wait(lock, [&] { return shared->cancelled || shared->nextAttemptWanted; });
        if (shared->cancelled)
            break;
        shared->nextAttemptWanted = false;
    }
    pam_end(shared->handle, status);
    shared->handle = nullptr;
}

} // namespace

QString PamConversation::defaultService()
{
    return QStringLiteral(PANEVEIL_PAM_SERVICE);
}

QString PamConversation::currentUser()
{
    const long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? std::size_t(size) : 16384);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return QString();
    return QString::fromLocal8Bit(found->pw_name);
}

OptionalText PamConversation::probe(const QString &service, const QString &user)
{
    if (user.isEmpty())
        return QStringLiteral("Auth unavailable");
    // No module runs before pam_authenticate, so no conversation is needed.
    pam_conv silent{[](int, const pam_message **, pam_response **, void *) { return PAM_CONV_ERR; }, nullptr};
    pam_handle_t *handle = nullptr;
    const int status = pam_start(service.toUtf8().constData(), user.toLocal8Bit().constData(), &silent, &handle);
    const QString description = QString::fromUtf8(pam_strerror(handle, status));
    if (handle)
        pam_end(handle, status);
    if (status == PAM_SUCCESS)
        return std::nullopt;
    return description.isEmpty() ? QStringLiteral("Auth unavailable") : description;
}

PamConversation::PamConversation(QString service, QString user)
    : m_service(std::move(service)), m_user(std::move(user)), m_shared(std::make_shared<Shared>())
{
}

PamConversation::~PamConversation()
{
    cancel();
}

OptionalText PamConversation::start(Events events)
{
    if (m_user.isEmpty())
        return QStringLiteral("Auth unavailable");
    m_shared->events = std::move(events);
    m_shared->receiver = this;

    pam_conv *conv = new pam_conv{&converse, m_shared.get()};
    // Kept for the handle's life: PAM keeps the pointer it is given.
    std::shared_ptr<pam_conv> conversationHolder(conv);
    const QByteArray service = m_service.toUtf8();
    const QByteArray user = m_user.toLocal8Bit();
    pam_handle_t *handle = nullptr;
    const int status = pam_start(service.constData(), user.constData(), conv, &handle);
    if (status != PAM_SUCCESS) {
        const QString description = QString::fromUtf8(pam_strerror(handle, status));
        if (handle)
            pam_end(handle, status);
        m_shared->receiver = nullptr;
        return description.isEmpty() ? QStringLiteral("Auth unavailable") : description;
    }
    m_shared->handle = handle;
    std::thread([shared = m_shared, conversationHolder] { runAttempts(shared); }).detach();
    return std::nullopt;
}

void PamConversation::beginNextAttempt()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->nextAttemptWanted = true;
    m_shared->wake.notify_all();
}

void PamConversation::submitPassword(SecretText password)
{
    std::lock_guard lock(m_shared->mutex);
    if (m_shared->cancelled)
        return;
    // A newer submit replaces one the stack has not asked for yet.
    m_shared->password = std::move(password);
    m_shared->wake.notify_all();
}

void PamConversation::cancel()
{
    std::lock_guard lock(m_shared->mutex);
    m_shared->cancelled = true;
    m_shared->receiver = nullptr;
    m_shared->password.reset();
    m_shared->wake.notify_all();
}
