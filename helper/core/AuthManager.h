// Owner authentication: the unlock dialog over the locked screen, with the
// password checked by the system's authentication stack. One dialog at a
// time: an evaluation that starts while one is pending joins it and gets
// the same outcome, so held or repeated hot keys never stack dialogs.
#pragma once

#include "AuthAdapters.h"
#include "LockComponents.h"

#include <memory>
#include <vector>

class AuthManager final : public AuthInterface {
public:
    static constexpr int maximumAttempts = 3;
    static constexpr const char unavailableMessage[] = "Auth unavailable";
    static constexpr const char failedMessage[] = "Auth failed";
    static constexpr const char canceledMessage[] = "Canceled by user.";

    // Main thread only. The completion runs on the main thread, before
    // evaluate returns when authentication is unavailable.
    AuthManager(AuthConversationFactory makeConversation, std::unique_ptr<UnlockDialogInterface> dialog);
    ~AuthManager() override;

    void evaluate(Completion completion) override;

    bool isEvaluating() const { return m_pending != nullptr; }

private:
    struct Pending {
        std::unique_ptr<AuthConversationInterface> conversation;
        std::vector<Completion> completions;
        int failedAttempts = 0;
    };

    void onAttemptEnded(AuthConversationInterface::AttemptOutcome outcome, const QString &message);
    void onSubmit(SecretText password);
    void onCancel();
    // Closes the dialog, ends the conversation and answers every waiter once.
    void finish(bool success, OptionalText message);

    AuthConversationFactory m_makeConversation;
    std::unique_ptr<UnlockDialogInterface> m_dialog;
    std::unique_ptr<Pending> m_pending;
};
