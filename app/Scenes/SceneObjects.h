// The three shared objects as both scenes hand them to their views.
#pragma once

#include "AppSettings.h"
#include "HelperService.h"
#include "LockState.h"

#include <QVariantMap>

inline QVariantMap sceneObjects(LockState &lockState, AppSettings &settings, HelperService &helperService)
{
    return {{QStringLiteral("lockState"), QVariant::fromValue<QObject *>(&lockState)},
            {QStringLiteral("settings"), QVariant::fromValue<QObject *>(&settings)},
            {QStringLiteral("helperService"), QVariant::fromValue<QObject *>(&helperService)}};
}
