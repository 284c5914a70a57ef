// The helper's two input permissions as the lock manager reports them:
// asked of the input-grab adapter each time, never prompting.
#pragma once

#include "InputGrab.h"
#include "LockComponents.h"

#include <memory>

class InputPermissions final : public PermissionsInterface {
public:
    explicit InputPermissions(std::shared_ptr<InputGrabInterface> grab)
        : m_grab(std::move(grab))
    {
    }
    bool accessibilityTrusted() override { return m_grab->accessibilityTrusted(); }
    bool inputMonitoringTrusted() override { return m_grab->inputMonitoringTrusted(); }

private:
    const std::shared_ptr<InputGrabInterface> m_grab;
};
