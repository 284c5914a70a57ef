// What the view tests share: a view loaded off screen that they read and
// click like a person, and the app's real models on fake helper, login-item
// and desktop adapters.
#pragma once

#include "AppSettings.h"
#include "FakeHelperTransport.h"
#include "FakeRegistration.h"
#include "HelperService.h"
#include "LockState.h"
#include "SceneObjects.h"

#include <QDir>
#include <QQuickItem>
#include <QQuickView>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

// Each test has its own copy, like the fakes it holds.
namespace {

// The real models on fakes, fresh for each test function: the settings on a
// store file of their own, the lock state on a fake transport, and the
// registration service on fake login items and a recording desktop.
struct ModelsOnFakes {
    // Torn down from the bottom: the lock state first, and what the
    // service points at only after the service.
    QTemporaryDir storeFolder;
    QString storePath = storeFolder.filePath(QStringLiteral("settings.ini"));
    int loginItemStatus = LoginItemServiceInterface::enabled;
    int unregisterCalls = 0;
    FakeDesktopLog desktop;
    std::unique_ptr<AppSettings> settings =
        std::make_unique<AppSettings>(std::make_unique<QSettings>(storePath, QSettings::IniFormat));
    std::unique_ptr<HelperService> helperService = fakeRegistration(&loginItemStatus, &unregisterCalls, &desktop);
    std::shared_ptr<FakeHelperTransport> transport = std::make_shared<FakeHelperTransport>();
    std::unique_ptr<LockState> lockState = std::make_unique<LockState>(transport);

    // What the app hands its views, so the tests see what a user sees.
    QVariantMap sceneObjects() const { return ::sceneObjects(*lockState, *settings, *helperService); }
};

// A view window with what the tests need to look at it and use it.
class ViewUnderTest : public QQuickView {
public:
    // Shown and exposed, sized by its content; null, with the errors
    // warned, when the view does not load.
    static std::unique_ptr<ViewUnderTest> load(const QUrl &source, const QVariantMap &objects)
    {
        auto view = std::make_unique<ViewUnderTest>();
        view->setResizeMode(QQuickView::SizeViewToRootObject);
        view->setInitialProperties(objects);
        view->setSource(source);
        if (view->status() != QQuickView::Ready) {
            for (const QQmlError &error : view->errors())
                qWarning("%s", qPrintable(error.toString()));
            return nullptr;
        }
        view->show();
        if (!QTest::qWaitForWindowExposed(view.get()))
            return nullptr;
        return view;
    }

    // Layouts are placed when the window is next drawn, and the window
    // follows its content's size a turn of the event loop later.
    QImage settle()
    {
        grabWindow();
        QCoreApplication::processEvents();
        return grabWindow();
    }

    QQuickItem *item(const char *name) const
    {
        QQuickItem *found = rootObject()->findChild<QQuickItem *>(QString::fromLatin1(name));
        if (!found)
            qWarning("no item named %s", name);
        return found;
    }
    QString text(const char *name) const { return item(name)->property("text").toString(); }
    bool shows(const char *name) const { return item(name)->isVisible(); }

    // A press and release in the middle of the item, as the mouse does it.
    void click(const char *name)
    {
        settle();
        QQuickItem *target = item(name);
        const QPointF centre = target->mapToScene(QPointF(target->width() / 2, target->height() / 2));
        QTest::mouseClick(this, Qt::LeftButton, {}, centre.toPoint());
    }

    // A press, eight moves and a release, so a slider follows the way.
    void drag(QPointF from, QPointF to)
    {
        QTest::mousePress(this, Qt::LeftButton, {}, from.toPoint());
        const int steps = 8;
        for (int step = 1; step <= steps; ++step)
            QTest::mouseMove(this, (from + (to - from) * step / steps).toPoint());
        QTest::mouseRelease(this, Qt::LeftButton, {}, to.toPoint());
    }

    static QPointF handleCentre(QQuickItem *slider)
    {
        const auto *handle = slider->property("handle").value<QQuickItem *>();
        return handle->mapToScene(QPointF(handle->width() / 2, handle->height() / 2));
    }

    // Into view-screenshots/ in the build folder, where people look for them.
    void saveScreenshot(const QString &fileName)
    {
        const QByteArray build = qgetenv("PANEVEIL_BUILD_DIR");
        const QString root = build.isEmpty() ? QDir::currentPath() : QString::fromLocal8Bit(build);
        const QString folder = root + QStringLiteral("/view-screenshots");
        QDir().mkpath(folder);
        const QString path = folder + QLatin1Char('/') + fileName + QStringLiteral(".png");
        QVERIFY2(settle().save(path), qPrintable(path));
    }

    // Nothing shown may run out of the bounds (the root item's unless
    // given) or be cut short.
    void checkEverythingInside(std::optional<QRectF> bounds = std::nullopt)
    {
        settle();
        if (!bounds)
            bounds = QRectF(0, 0, rootObject()->width(), rootObject()->height());
        const auto items = rootObject()->findChildren<QQuickItem *>();
        for (QQuickItem *child : items) {
            if (!child->isVisible() || child->width() <= 0 || child->height() <= 0)
                continue;
            const QRectF area = child->mapRectToScene(QRectF(0, 0, child->width(), child->height()));
            QVERIFY2(bounds->contains(area),
                     qPrintable(QStringLiteral("%1 \"%2\" at %3,%4 %5x%6")
                                    .arg(child->objectName(), child->property("text").toString())
                                    .arg(area.x()).arg(area.y()).arg(area.width()).arg(area.height())));
            QVERIFY2(!child->property("truncated").toBool(), qPrintable(child->property("text").toString()));
        }
    }
};

} // namespace
