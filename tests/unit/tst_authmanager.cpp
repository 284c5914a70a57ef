// AuthManager over a scripted conversation and a recording dialog: joining,
// answering exactly once, the attempt limit, cancelling and unavailability.

#include "AuthManager.h"

#include <QTest>

#include <memory>

namespace {

using Outcome = AuthConversationInterface::AttemptOutcome;

struct ConversationLog {
    int starts = 0;
    int nextAttempts = 0;
    int cancels = 0;
    QStringList passwords;
    OptionalText startFailure;
    AuthConversationInterface::Events events;
};

class FakeConversation final : public AuthConversationInterface {
public:
    explicit FakeConversation(std::shared_ptr<ConversationLog> log) : m_log(std::move(log)) {}
    OptionalText start(Events events) override
    {
        ++m_log->starts;
        m_log->events = std::move(events);
        return m_log->startFailure;
    }
    void beginNextAttempt() override { ++m_log->nextAttempts; }
    void submitPassword(SecretText password) override
    {
        m_log->passwords << QString::fromUtf8(password.bytes().data(), qsizetype(password.bytes().size()));
    }
    void cancel() override { ++m_log->cancels; }

private:
    std::shared_ptr<ConversationLog> m_log;
};

struct DialogLog {
    bool canShow = true;
    int shows = 0;
    int closes = 0;
    bool visible = false;
    QStringList messages;
    int rejections = 0;
};

class FakeDialog final : public UnlockDialogInterface {
public:
    explicit FakeDialog(std::shared_ptr<DialogLog> log) : m_log(std::move(log)) {}
    bool show() override
    {
        ++m_log->shows;
        m_log->visible = m_log->canShow;
        return m_log->canShow;
    }
    void close() override
    {
        ++m_log->closes;
        m_log->visible = false;
    }
    void showMessage(const QString &message) override { m_log->messages << message; }
    void rejectPassword(const QString &message) override
    {
        ++m_log->rejections;
        m_log->messages << message;
    }

private:
    std::shared_ptr<DialogLog> m_log;
};

struct Answer {
    int calls = 0;
    bool success = false;
    OptionalText message;
    AuthInterface::Completion completion()
    {
        return [this](bool ok, OptionalText text) {
            ++calls;
            success = ok;
            message = std::move(text);
        };
    }
};

struct Fixture {
    std::shared_ptr<ConversationLog> conversation = std::make_shared<ConversationLog>();
    std::shared_ptr<DialogLog> dialogLog = std::make_shared<DialogLog>();
    FakeDialog *dialog = nullptr;
    std::unique_ptr<AuthManager> manager;

    Fixture()
    {
        auto ownedDialog = std::make_unique<FakeDialog>(dialogLog);
        dialog = ownedDialog.get();
        manager = std::make_unique<AuthManager>(
            [log = conversation] { return std::make_unique<FakeConversation>(log); }, std::move(ownedDialog));
    }
    void attemptEnds(Outcome outcome, const QString &message = {}) { conversation->events.onAttemptEnded(outcome, message); }
};

SecretText secret(const char *text)
{
    return SecretText(std::vector<char>(text, text + qstrlen(text)));
}

} // namespace

Q_DECLARE_METATYPE(Outcome)

class TestAuthManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void attemptsDecideTheOutcome_data();
    void attemptsDecideTheOutcome();
    void evaluationsWhileTheDialogShowsJoinIt();
    void cancelAnswersOnceAndIgnoresTheLateOutcome();
    void stackThatCannotStartIsUnavailable_data();
    void stackThatCannotStartIsUnavailable();
    void noDisplayForTheDialogIsUnavailable();
    void submittedPasswordsReachTheConversation();
    void modulesTextsGoToTheCaption();
    void nextEvaluationGetsAFreshDialog();
};

void TestAuthManager::attemptsDecideTheOutcome_data()
{
    QTest::addColumn<QList<Outcome>>("outcomes");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<bool>("success");
    QTest::addColumn<OptionalText>("message");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<int>("nextAttempts");

    QTest::newRow("right at once") << QList<Outcome>{Outcome::Success} << QStringList{QString()} << true
                                   << OptionalText() << QStringList{} << 0;
    QTest::newRow("wrong, then right")
        << QList<Outcome>{Outcome::Rejected, Outcome::Success}
        << QStringList{QStringLiteral("Authentication failure"), QString()} << true << OptionalText()
        << QStringList{QStringLiteral("Authentication failure")} << 1;
    QTest::newRow("wrong twice, then right")
        << QList<Outcome>{Outcome::Rejected, Outcome::Rejected, Outcome::Success}
        << QStringList{QStringLiteral("one"), QStringLiteral("two"), QString()} << true << OptionalText()
        << QStringList{QStringLiteral("one"), QStringLiteral("two")} << 2;
    QTest::newRow("third wrong ends it")
        << QList<Outcome>{Outcome::Rejected, Outcome::Rejected, Outcome::Rejected}
        << QStringList{QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")} << false
        << OptionalText(QStringLiteral("three")) << QStringList{QStringLiteral("one"), QStringLiteral("two")} << 2;
    QTest::newRow("third wrong without a text")
        << QList<Outcome>{Outcome::Rejected, Outcome::Rejected, Outcome::Rejected}
        << QStringList{QString(), QString(), QString()} << false << OptionalText(QStringLiteral("Auth failed"))
        << QStringList{QStringLiteral("Auth failed"), QStringLiteral("Auth failed")} << 2;
    QTest::newRow("stack error ends it at once")
        << QList<Outcome>{Outcome::Failed} << QStringList{QStringLiteral("Authentication service cannot retrieve authentication info")}
        << false << OptionalText(QStringLiteral("Authentication service cannot retrieve authentication info"))
        << QStringList{} << 0;
    QTest::newRow("stack error after a wrong one")
        << QList<Outcome>{Outcome::Rejected, Outcome::Failed} << QStringList{QStringLiteral("bad"), QString()} << false
        << OptionalText(QStringLiteral("Auth failed")) << QStringList{QStringLiteral("bad")} << 1;
}

void TestAuthManager::attemptsDecideTheOutcome()
{
    QFETCH(QList<Outcome>, outcomes);
    QFETCH(QStringList, texts);
    Fixture fixture;
    Answer answer;
    fixture.manager->evaluate(answer.completion());
    QCOMPARE(fixture.dialogLog->shows, 1);
    QVERIFY(fixture.dialogLog->visible);
    for (int i = 0; i < outcomes.size(); ++i) {
        QCOMPARE(answer.calls, 0);
        fixture.attemptEnds(outcomes[i], texts[i]);
    }
    QCOMPARE(answer.calls, 1);
    QTEST(answer.success, "success");
    QTEST(answer.message, "message");
    QTEST(fixture.dialogLog->messages, "captions");
    QTEST(fixture.conversation->nextAttempts, "nextAttempts");
    // Every refusal that leaves the dialog open empties its field.
    QCOMPARE(fixture.dialogLog->rejections, fixture.conversation->nextAttempts);
    QVERIFY(!fixture.dialogLog->visible);
    QVERIFY(!fixture.manager->isEvaluating());

    // Whatever the ended conversation still reports changes nothing.
    fixture.attemptEnds(Outcome::Success);
    QCOMPARE(answer.calls, 1);
}

void TestAuthManager::evaluationsWhileTheDialogShowsJoinIt()
{
    Fixture fixture;
    Answer first, second, third;
    fixture.manager->evaluate(first.completion());
    fixture.manager->evaluate(second.completion());
    fixture.attemptEnds(Outcome::Rejected, QStringLiteral("nope"));
    fixture.manager->evaluate(third.completion());
    QCOMPARE(fixture.dialogLog->shows, 1);
    QCOMPARE(fixture.conversation->starts, 1);
    QCOMPARE(first.calls + second.calls + third.calls, 0);

    fixture.attemptEnds(Outcome::Success);
    for (Answer *answer : {&first, &second, &third}) {
        QCOMPARE(answer->calls, 1);
        QVERIFY(answer->success);
        QCOMPARE(answer->message, OptionalText());
    }
    QCOMPARE(fixture.dialogLog->closes, 1);
}

void TestAuthManager::cancelAnswersOnceAndIgnoresTheLateOutcome()
{
    Fixture fixture;
    Answer first, joined;
    fixture.manager->evaluate(first.completion());
    fixture.manager->evaluate(joined.completion());
    fixture.dialog->onCancel();
    for (Answer *answer : {&first, &joined}) {
        QCOMPARE(answer->calls, 1);
        QVERIFY(!answer->success);
        QCOMPARE(answer->message, OptionalText(QStringLiteral("Canceled by user.")));
    }
    QCOMPARE(fixture.conversation->cancels, 1);
    QVERIFY(!fixture.dialogLog->visible);

    // The stack may still finish its attempt after the cancel.
    fixture.attemptEnds(Outcome::Success);
    fixture.dialog->onCancel();
    QCOMPARE(first.calls, 1);
    QCOMPARE(joined.calls, 1);
}

void TestAuthManager::stackThatCannotStartIsUnavailable_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("message");
    QTest::newRow("with the stack's text") << QStringLiteral("Critical error - immediate abort")
                                           << QStringLiteral("Critical error - immediate abort");
    QTest::newRow("without a text") << QString() << QStringLiteral("Auth unavailable");
}

void TestAuthManager::stackThatCannotStartIsUnavailable()
{
    QFETCH(QString, description);
    Fixture fixture;
    fixture.conversation->startFailure = description;
    Answer answer;
    fixture.manager->evaluate(answer.completion());
    // Answered before evaluate returned, without a dialog.
    QCOMPARE(answer.calls, 1);
    QVERIFY(!answer.success);
    QTEST(*answer.message, "message");
    QCOMPARE(fixture.dialogLog->shows, 0);
    QVERIFY(!fixture.manager->isEvaluating());

    // The next evaluation tries the stack again.
    fixture.conversation->startFailure.reset();
    fixture.manager->evaluate(answer.completion());
    QCOMPARE(fixture.conversation->starts, 2);
    QCOMPARE(fixture.dialogLog->shows, 1);
}

void TestAuthManager::noDisplayForTheDialogIsUnavailable()
{
    Fixture fixture;
    fixture.dialogLog->canShow = false;
    Answer answer;
    fixture.manager->evaluate(answer.completion());
    QCOMPARE(answer.calls, 1);
    QVERIFY(!answer.success);
    QCOMPARE(answer.message, OptionalText(QStringLiteral("Auth unavailable")));
    QCOMPARE(fixture.conversation->cancels, 1);
    QVERIFY(!fixture.manager->isEvaluating());
}

void TestAuthManager::submittedPasswordsReachTheConversation()
{
    Fixture fixture;
    Answer answer;
    fixture.manager->evaluate(answer.completion());
    fixture.dialog->onSubmit(secret("hunter2"));
    fixture.dialog->onSubmit(secret(""));
    QCOMPARE(fixture.conversation->passwords, (QStringList{QStringLiteral("hunter2"), QString()}));

    fixture.attemptEnds(Outcome::Success);
    // A submit reaching a closed dialog goes nowhere.
    fixture.dialog->onSubmit(secret("late"));
    QCOMPARE(fixture.conversation->passwords.size(), 2);
}

void TestAuthManager::modulesTextsGoToTheCaption()
{
    Fixture fixture;
    Answer answer;
    fixture.manager->evaluate(answer.completion());
    fixture.conversation->events.onMessage(QStringLiteral("Place your finger on the reader"));
    QCOMPARE(fixture.dialogLog->messages, QStringList{QStringLiteral("Place your finger on the reader")});
    QCOMPARE(fixture.dialogLog->rejections, 0);
    QCOMPARE(answer.calls, 0);
}

void TestAuthManager::nextEvaluationGetsAFreshDialog()
{
    Fixture fixture;
    Answer first, second;
    fixture.manager->evaluate(first.completion());
    fixture.attemptEnds(Outcome::Rejected, QStringLiteral("bad"));
    fixture.attemptEnds(Outcome::Rejected, QStringLiteral("bad"));
    fixture.dialog->onCancel();
    // The attempt count starts again: two rejections do not end it.
    fixture.manager->evaluate(second.completion());
    QCOMPARE(fixture.dialogLog->shows, 2);
    QCOMPARE(fixture.conversation->starts, 2);
    fixture.attemptEnds(Outcome::Rejected, QStringLiteral("bad"));
    QCOMPARE(second.calls, 0);
    fixture.attemptEnds(Outcome::Success);
    QCOMPARE(second.calls, 1);
    QVERIFY(second.success);
}

QTEST_GUILESS_MAIN(TestAuthManager)
#include "tst_authmanager.moc"
