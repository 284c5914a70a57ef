// The settings window: 460 × 420, fixed. Opening it while it shows brings
// it forward; closing it drops its content, so the next opening starts
// again on the first tab with the current settings.
#pragma once

#include <QObject>
#include <QVariantMap>

#include <memory>

class AppSettings;
class HelperService;
class LockState;
class QQuickView;

class SettingsScene : public QObject {
    Q_OBJECT

public:
    static constexpr int width = 460;
    static constexpr int height = 420;

    SettingsScene(LockState &lockState, AppSettings &settings, HelperService &helperService,
                  QObject *parent = nullptr);
    ~SettingsScene() override;

    void open();
    bool isOpen() const;

private:
    // What the view is given each time it is made.
    const QVariantMap m_viewObjects;
    std::unique_ptr<QQuickView> m_window;
};
