// The unlock dialog's view, off screen: its texts and sizes, one submit per
// Return or Unlock click, Cancel by click only, the caption line, and a
// fresh empty dialog each time it is shown.

#include "X11UnlockDialog.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QTest>

namespace {

struct Recorder {
    QStringList submitted;
    int cancels = 0;
    void attach(X11UnlockDialog &dialog)
    {
        dialog.onSubmit = [this](SecretText password) {
            submitted << QString::fromUtf8(password.bytes().data(), qsizetype(password.bytes().size()));
        };
        dialog.onCancel = [this] { ++cancels; };
    }
};

QQuickItem *child(QQuickView *view, const char *name)
{
    return view->rootObject()->findChild<QQuickItem *>(QString::fromLatin1(name));
}

void typeText(QWindow *window, const QString &text)
{
    for (const QChar character : text)
        QTest::keyClick(window, character.toLatin1());
}

void click(QQuickView *view, QQuickItem *item)
{
    const QPointF centre = item->mapToScene(QPointF(item->width() / 2, item->height() / 2));
    QTest::mouseClick(view, Qt::LeftButton, {}, centre.toPoint());
}

} // namespace

class TestUnlockDialogView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void layoutAndTexts();
    void submitting_data();
    void submitting();
    void cancelOnlyByClick();
    void captionAndRefusal();
    void eachShowStartsEmpty();
};

void TestUnlockDialogView::layoutAndTexts()
{
    // Everything the view imports is installed.
    QCOMPARE(X11UnlockDialog::probe(), OptionalText());
    X11UnlockDialog dialog(nullptr);
    QVERIFY(dialog.show());
    QQuickView *view = dialog.view();
    QVERIFY(view);
    QCOMPARE(view->title(), QStringLiteral("Unlock your screen"));
    QQuickItem *field = child(view, "passwordField");
    QVERIFY(field);
    QCOMPARE(field->width(), 220.0);
    QCOMPARE(field->property("placeholderText").toString(), QStringLiteral("Password"));
    QCOMPARE(field->property("echoMode").toInt(), 2); // TextInput.Password
    QCOMPARE(child(view, "cancelButton")->property("text").toString(), QStringLiteral("Cancel"));
    QCOMPARE(child(view, "unlockButton")->property("text").toString(), QStringLiteral("Unlock"));
    // The button row spans the field's 220 px: Cancel at its left, Unlock at its right.
    const QPointF cancelLeft = child(view, "cancelButton")->mapToScene({0, 0});
    QQuickItem *unlock = child(view, "unlockButton");
    const QPointF unlockRight = unlock->mapToScene({unlock->width(), 0});
    QCOMPARE(unlockRight.x() - cancelLeft.x(), 220.0);
    QCOMPARE(field->mapToScene({0, 0}).x(), 28.0);
    QVERIFY(!child(view, "caption")->isVisible());
    bool titleFound = false;
    for (QObject *object : view->rootObject()->findChildren<QObject *>()) {
        if (object->property("text").toString() == QLatin1String("Unlock Paneveil"))
            titleFound = true;
    }
    QVERIFY(titleFound);
}

void TestUnlockDialogView::submitting_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("byButton");
    QTest::newRow("Return") << QStringLiteral("s3cret pass") << false;
    QTest::newRow("Return on an empty field") << QString() << false;
    QTest::newRow("Unlock button") << QStringLiteral("s3cret") << true;
    QTest::newRow("Unlock button on an empty field") << QString() << true;
}

void TestUnlockDialogView::submitting()
{
    QFETCH(QString, typed);
    QFETCH(bool, byButton);
    X11UnlockDialog dialog(nullptr);
    Recorder recorder;
    recorder.attach(dialog);
    QVERIFY(dialog.show());
    QQuickView *view = dialog.view();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    typeText(view, typed);
    if (byButton)
        click(view, child(view, "unlockButton"));
    else
        QTest::keyClick(view, Qt::Key_Return);
    QCOMPARE(recorder.submitted, QStringList{typed});
    QCOMPARE(recorder.cancels, 0);
    // Submitting neither clears the field nor closes anything.
    QCOMPARE(child(view, "passwordField")->property("text").toString(), typed);
    QVERIFY(dialog.view());
    // Enter on the keypad is Return too.
    QTest::keyClick(view, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(recorder.submitted.size(), 2);
}

void TestUnlockDialogView::cancelOnlyByClick()
{
    X11UnlockDialog dialog(nullptr);
    Recorder recorder;
    recorder.attach(dialog);
    QVERIFY(dialog.show());
    QQuickView *view = dialog.view();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    typeText(view, QStringLiteral("abc"));
    QTest::keyClick(view, Qt::Key_Escape);
    QCOMPARE(recorder.cancels, 0);
    click(view, child(view, "cancelButton"));
    QCOMPARE(recorder.cancels, 1);
    QVERIFY(recorder.submitted.isEmpty());
}

void TestUnlockDialogView::captionAndRefusal()
{
    X11UnlockDialog dialog(nullptr);
    QVERIFY(dialog.show());
    QQuickView *view = dialog.view();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    typeText(view, QStringLiteral("typed"));
    dialog.showMessage(QStringLiteral("Place your finger on the reader"));
    QQuickItem *caption = child(view, "caption");
    QVERIFY(caption->isVisible());
    QCOMPARE(caption->property("text").toString(), QStringLiteral("Place your finger on the reader"));
    // A module's message leaves the field alone; a refusal empties it.
    QCOMPARE(child(view, "passwordField")->property("text").toString(), QStringLiteral("typed"));
    dialog.rejectPassword(QStringLiteral("Authentication failure"));
    QCOMPARE(caption->property("text").toString(), QStringLiteral("Authentication failure"));
    QCOMPARE(child(view, "passwordField")->property("text").toString(), QString());
}

void TestUnlockDialogView::eachShowStartsEmpty()
{
    X11UnlockDialog dialog(nullptr);
    Recorder recorder;
    recorder.attach(dialog);
    QVERIFY(dialog.show());
    QPointer<QQuickView> first = dialog.view();
    QVERIFY(QTest::qWaitForWindowExposed(first));
    typeText(first, QStringLiteral("old"));
    dialog.showMessage(QStringLiteral("old message"));
    dialog.close();
    QVERIFY(!dialog.view());
    // The closed window is gone once the event loop runs.
    QTRY_VERIFY(first.isNull());

    QVERIFY(dialog.show());
    QQuickView *second = dialog.view();
    QVERIFY(QTest::qWaitForWindowExposed(second));
    QCOMPARE(child(second, "passwordField")->property("text").toString(), QString());
    QVERIFY(!child(second, "caption")->isVisible());
    QTest::keyClick(second, Qt::Key_Return);
    QCOMPARE(recorder.submitted, QStringList{QString()});
}

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    TestUnlockDialogView test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_unlockdialogview.moc"
