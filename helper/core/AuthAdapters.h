// The two services owner authentication stands on: a conversation with the
// system's authentication stack (PAM on Linux), and the unlock dialog that
// collects the password. Real implementations live in platform/; the core's
// tests steer fakes.
#pragma once

#include "XPCProtocol.h"

#include <QString>

#include <functional>
#include <memory>
#include <vector>

// A password on its way from the dialog to the authentication stack. The
// bytes are overwritten when the last holder lets go, and never copied.
class SecretText {
public:
    SecretText() = default;
    explicit SecretText(std::vector<char> bytes) : m_bytes(std::move(bytes)) {}
    SecretText(SecretText &&other) noexcept : m_bytes(std::move(other.m_bytes)) { other.m_bytes.clear(); }
    SecretText &operator=(SecretText &&other) noexcept
    {
        if (this != &other) {
            wipe();
            m_bytes = std::move(other.m_bytes);
            other.m_bytes.clear();
        }
        return *this;
    }
    SecretText(const SecretText &) = delete;
    SecretText &operator=(const SecretText &) = delete;
    ~SecretText() { wipe(); }

    // UTF-8, without a terminating zero.
    const std::vector<char> &bytes() const { return m_bytes; }
    bool isEmpty() const { return m_bytes.empty(); }

    void wipe()
    {
        volatile char *p = m_bytes.data();
        for (std::size_t i = 0; i < m_bytes.size(); ++i)
            p[i] = 0;
        m_bytes.clear();
    }

private:
    std::vector<char> m_bytes;
};

// One authentication of the current user, from start to end. Every event is
// delivered on the main thread; the conversation itself runs elsewhere so
// the main thread never waits for the stack (nor for its failure delay).
class AuthConversationInterface {
public:
    enum class AttemptOutcome {
        Success,  // the user is who they claim and the account may log in
        Rejected, // wrong credentials: another attempt may follow
        Failed,   // the stack ended with an error: no further attempt
    };
    struct Events {
        // A text a module wants shown (an error, or "place your finger…").
        std::function<void(const QString &message)> onMessage = [](const QString &) {};
        // The attempt ended; message is the stack's text for it (empty on success).
        std::function<void(AttemptOutcome outcome, const QString &message)> onAttemptEnded =
            [](AttemptOutcome, const QString &) {};
    };

    virtual ~AuthConversationInterface() = default;
    // Opens the stack and begins the first attempt. Returns the stack's
    // description of the failure when it cannot start (no events follow then).
    virtual OptionalText start(Events events) = 0;
    // Begins another attempt after a rejected one.
    virtual void beginNextAttempt() = 0;
    // Answers the stack's next (or pending) password prompt.
    virtual void submitPassword(SecretText password) = 0;
    // Ends the conversation; no event is delivered afterwards.
    virtual void cancel() = 0;
};

using AuthConversationFactory = std::function<std::unique_ptr<AuthConversationInterface>()>;

// The password dialog over the locked screen. Callbacks run on the main thread.
class UnlockDialogInterface {
public:
    virtual ~UnlockDialogInterface() = default;
    // Shows a fresh dialog (empty field, no caption) with the keyboard and
    // the pointer handed to it. False when no display can show it.
    virtual bool show() = 0;
    // Destroys the dialog, wiping what was typed, and gives input back to the lock.
    virtual void close() = 0;
    // The caption line under the password field.
    virtual void showMessage(const QString &message) = 0;
    // A refused password: the caption says why and the field is emptied for
    // the next try (typing on after a refusal would append to the old text).
    virtual void rejectPassword(const QString &message) = 0;

    std::function<void(SecretText password)> onSubmit = [](SecretText) {};
    std::function<void()> onCancel = [] {};
};
