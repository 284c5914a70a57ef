// PamConversation against a real PAM stack (pam_wrapper with pam_matrix):
// right and wrong passwords, a stack that fails or cannot start, cancelling,
// and a main thread that keeps running through PAM's failure delay.

#include "PamConversation.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

using Outcome = AuthConversationInterface::AttemptOutcome;

const QString rightPassword = QStringLiteral("correct horse");

struct Recorder {
    QList<QPair<Outcome, QString>> attempts;
    QStringList messages;
    AuthConversationInterface::Events events()
    {
        AuthConversationInterface::Events events;
        events.onMessage = [this](const QString &message) { messages << message; };
        events.onAttemptEnded = [this](Outcome outcome, const QString &message) { attempts.append({outcome, message}); };
        return events;
    }
};

SecretText secret(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return SecretText(std::vector<char>(bytes.begin(), bytes.end()));
}

} // namespace

Q_DECLARE_METATYPE(Outcome)

class TestPamConversation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void attempts_data();
    void attempts();
    void stackThatCannotStart();
    void cancelEndsWithoutEvents();
    void mainThreadRunsThroughTheFailureDelay();
};

void TestPamConversation::initTestCase()
{
    if (qEnvironmentVariable("PAM_WRAPPER") != QLatin1String("1"))
        QSKIP("needs pam_wrapper preloaded (run through ctest)");
    QVERIFY(!PamConversation::currentUser().isEmpty());
    // pam_matrix's password files, one per service: "user:password:service".
    for (const auto &[suffix, service] : {std::pair{"", "paneveil-matrix"}, std::pair{"-delay", "paneveil-delay"}}) {
        QFile passdb(QStringLiteral(PANEVEIL_PAM_PASSDB) + QLatin1String(suffix));
        QVERIFY(passdb.open(QIODevice::WriteOnly | QIODevice::Truncate));
        passdb.write(QStringLiteral("%1:%2:%3\n").arg(PamConversation::currentUser(), rightPassword, QLatin1String(service)).toUtf8());
    }
}

void TestPamConversation::attempts_data()
{
    QTest::addColumn<QString>("service");
    QTest::addColumn<QStringList>("passwords");
    QTest::addColumn<QList<Outcome>>("outcomes");

    const QString matrix = QStringLiteral("paneveil-matrix");
    QTest::newRow("right") << matrix << QStringList{rightPassword} << QList<Outcome>{Outcome::Success};
    QTest::newRow("wrong, then right") << matrix << QStringList{QStringLiteral("nope"), rightPassword}
                                       << QList<Outcome>{Outcome::Rejected, Outcome::Success};
    QTest::newRow("wrong, then right after the failure delay")
        << QStringLiteral("paneveil-delay") << QStringList{QStringLiteral("nope"), rightPassword}
        << QList<Outcome>{Outcome::Rejected, Outcome::Success};
    QTest::newRow("empty") << matrix << QStringList{QString()} << QList<Outcome>{Outcome::Rejected};
    QTest::newRow("right but the account is refused")
        << QStringLiteral("paneveil-noaccount") << QStringList{rightPassword} << QList<Outcome>{Outcome::Failed};
    QTest::newRow("module missing") << QStringLiteral("paneveil-broken") << QStringList{rightPassword}
                                    << QList<Outcome>{Outcome::Failed};
}

void TestPamConversation::attempts()
{
    QFETCH(QString, service);
    QFETCH(QStringList, passwords);
    QFETCH(QList<Outcome>, outcomes);

    Recorder recorder;
    PamConversation conversation(service, PamConversation::currentUser());
    QCOMPARE(conversation.start(recorder.events()), OptionalText());
    for (int i = 0; i < passwords.size(); ++i) {
        if (i > 0)
            conversation.beginNextAttempt();
        conversation.submitPassword(secret(passwords[i]));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.attempts.size(), i + 1, 10000);
    }
    QList<Outcome> seen;
    for (const auto &[outcome, message] : recorder.attempts) {
        seen << outcome;
        // Failures carry PAM's text; success carries none.
        QCOMPARE(message.isEmpty(), outcome == Outcome::Success);
    }
    QCOMPARE(seen, outcomes);
    if (outcomes.first() == Outcome::Rejected)
        QCOMPARE(recorder.attempts.first().second, QStringLiteral("Authentication failure"));
}

void TestPamConversation::stackThatCannotStart()
{
    // No service file and no "other" fallback: pam_start itself fails.
    Recorder recorder;
    PamConversation conversation(QStringLiteral("paneveil-absent"), PamConversation::currentUser());
    QCOMPARE(conversation.start(recorder.events()), OptionalText(QStringLiteral("Critical error - immediate abort")));
    // The helper's check before it blocks input sees the same.
    QCOMPARE(PamConversation::probe(QStringLiteral("paneveil-absent")),
             OptionalText(QStringLiteral("Critical error - immediate abort")));
    QCOMPARE(PamConversation::probe(QStringLiteral("paneveil-matrix")), OptionalText());
    QCOMPARE(PamConversation::probe(QStringLiteral("paneveil-matrix"), QString()), OptionalText(QStringLiteral("Auth unavailable")));
    QTest::qWait(100);
    QVERIFY(recorder.attempts.isEmpty());
}

void TestPamConversation::cancelEndsWithoutEvents()
{
    Recorder recorder;
    auto conversation = std::make_unique<PamConversation>(QStringLiteral("paneveil-matrix"), PamConversation::currentUser());
    QCOMPARE(conversation->start(recorder.events()), OptionalText());
    // The worker waits in the password prompt; cancelling must free it.
    QTest::qWait(50);
    conversation->cancel();
    conversation->submitPassword(secret(rightPassword));
    QTest::qWait(200);
    QVERIFY(recorder.attempts.isEmpty());

    // An outcome already on its way when the conversation is cancelled is dropped.
    PamConversation answered(QStringLiteral("paneveil-matrix"), PamConversation::currentUser());
    QCOMPARE(answered.start(recorder.events()), OptionalText());
    answered.submitPassword(secret(rightPassword));
    QThread::msleep(300); // the worker answers; its event waits in this thread's queue
    answered.cancel();
    QTest::qWait(100);
    QVERIFY(recorder.attempts.isEmpty());

    // Destroyed while the stack is still in its failure delay: no event, no crash.
    auto delayed = std::make_unique<PamConversation>(QStringLiteral("paneveil-delay"), PamConversation::currentUser());
    QCOMPARE(delayed->start(recorder.events()), OptionalText());
    delayed->submitPassword(secret(QStringLiteral("wrong")));
    QTest::qWait(100);
    delayed.reset();
    // Past the stack's three-second delay (randomised by up to a quarter).
    QTest::qWait(4000);
    QVERIFY(recorder.attempts.isEmpty());
}

void TestPamConversation::mainThreadRunsThroughTheFailureDelay()
{
    Recorder recorder;
    PamConversation conversation(QStringLiteral("paneveil-delay"), PamConversation::currentUser());
    QCOMPARE(conversation.start(recorder.events()), OptionalText());
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] { ++ticks; });
    ticker.start(20);
    QElapsedTimer elapsed;
    elapsed.start();
    conversation.submitPassword(secret(QStringLiteral("wrong")));
    QTRY_COMPARE_WITH_TIMEOUT(recorder.attempts.size(), 1, 10000);
    QCOMPARE(recorder.attempts.first().first, Outcome::Rejected);
    // PAM really delayed the failure, and the event loop went on meanwhile.
    QVERIFY2(elapsed.elapsed() >= 1000, qPrintable(QString::number(elapsed.elapsed())));
    QVERIFY2(ticks >= 25, qPrintable(QString::number(ticks)));
}

QTEST_GUILESS_MAIN(TestPamConversation)
#include "tst_pamconversation.moc"
