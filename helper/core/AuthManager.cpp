#include "AuthManager.h"

#include <utility>

using AttemptOutcome = AuthConversationInterface::AttemptOutcome;

AuthManager::AuthManager(AuthConversationFactory makeConversation, std::unique_ptr<UnlockDialogInterface> dialog)
    : m_makeConversation(std::move(makeConversation)), m_dialog(std::move(dialog))
{
    if (!m_dialog)
        return;
    m_dialog->onSubmit = [this](SecretText password) { onSubmit(std::move(password)); };
    m_dialog->onCancel = [this] { onCancel(); };
}

AuthManager::~AuthManager()
{
    // The helper keeps its manager for the whole run; a test that drops one
    // mid-evaluation still gets its answer rather than silence.
    if (m_pending)
        finish(false, QString::fromLatin1(canceledMessage));
}

void AuthManager::evaluate(Completion completion)
{
    if (m_pending) {
        m_pending->completions.push_back(std::move(completion));
        return;
    }
    const QString unavailable = QString::fromLatin1(unavailableMessage);
    std::unique_ptr<AuthConversationInterface> conversation = m_makeConversation ? m_makeConversation() : nullptr;
    if (!conversation || !m_dialog) {
        completion(false, unavailable);
        return;
    }

    auto pending = std::make_unique<Pending>();
    pending->conversation = std::move(conversation);
    pending->completions.push_back(std::move(completion));
    m_pending = std::move(pending);

    AuthConversationInterface::Events events;
    AuthConversationInterface *current = m_pending->conversation.get();
    // Events of a conversation that already ended are stale and dropped.
    auto isCurrent = [this, current] { return m_pending && m_pending->conversation.get() == current; };
    events.onMessage = [this, isCurrent](const QString &message) {
        if (isCurrent())
            m_dialog->showMessage(message);
    };
    events.onAttemptEnded = [this, isCurrent](AttemptOutcome outcome, const QString &message) {
        if (isCurrent())
            onAttemptEnded(outcome, message);
    };

    if (OptionalText failure = current->start(std::move(events))) {
        auto waiters = std::move(m_pending->completions);
        m_pending.reset();
        for (auto &waiter : waiters)
            waiter(false, failure->isEmpty() ? unavailable : *failure);
        return;
    }
    if (!m_dialog->show()) {
        m_pending->conversation->cancel();
        auto waiters = std::move(m_pending->completions);
        m_pending.reset();
        for (auto &waiter : waiters)
            waiter(false, unavailable);
    }
}

void AuthManager::onAttemptEnded(AttemptOutcome outcome, const QString &message)
{
    switch (outcome) {
    case AttemptOutcome::Success:
        finish(true, std::nullopt);
        return;
    case AttemptOutcome::Rejected:
        if (++m_pending->failedAttempts >= maximumAttempts) {
            finish(false, message.isEmpty() ? QString::fromLatin1(failedMessage) : message);
            return;
        }
        m_dialog->rejectPassword(message.isEmpty() ? QString::fromLatin1(failedMessage) : message);
        m_pending->conversation->beginNextAttempt();
        return;
    case AttemptOutcome::Failed:
        finish(false, message.isEmpty() ? QString::fromLatin1(failedMessage) : message);
        return;
    }
}

void AuthManager::onSubmit(SecretText password)
{
    if (m_pending)
        m_pending->conversation->submitPassword(std::move(password));
}

void AuthManager::onCancel()
{
    if (m_pending)
        finish(false, QString::fromLatin1(canceledMessage));
}

void AuthManager::finish(bool success, OptionalText message)
{
    std::unique_ptr<Pending> ended = std::move(m_pending);
    ended->conversation->cancel();
    m_dialog->close();
    // A waiter may start the next evaluation; this one is over by now.
    for (auto &completion : ended->completions)
        completion(success, message);
}
