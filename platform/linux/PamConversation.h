// One PAM authentication of the user this process runs as, against the
// service the install puts in /etc/pam.d. pam_start runs on the calling
// thread, so a stack that cannot start is known at once; the attempts run
// on a worker thread of their own, where a module may wait (for the typed
// password, a fingerprint, or the failure delay) without stopping the main
// thread. Events are delivered on the thread that called start().
#pragma once

#include "AuthAdapters.h"

#include <QObject>

#include <memory>

class PamConversation final : public QObject, public AuthConversationInterface {
    Q_OBJECT
public:
    // The PAM service the install ships.
    static QString defaultService();
    // The login name of the process's real user.
    static QString currentUser();

    // Whether the service can start for the user at all, as the helper asks
    // before it blocks input: nothing, or PAM's reason why not.
    static OptionalText probe(const QString &service = defaultService(), const QString &user = currentUser());

    explicit PamConversation(QString service = defaultService(), QString user = currentUser());
    ~PamConversation() override;

    OptionalText start(Events events) override;
    void beginNextAttempt() override;
    void submitPassword(SecretText password) override;
    void cancel() override;

    struct Shared;

private:
    QString m_service;
    QString m_user;
    std::shared_ptr<Shared> m_shared;
};
