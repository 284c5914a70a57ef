// Identifiers and user-defaults keys shared by the app and the helper.
// Both programs compile this one file, so a mismatch cannot happen.
#pragma once

namespace PVConstants {
inline constexpr const char appBundleID[] = "com.zelquor.Paneveil";
inline constexpr const char helperBundleID[] = "com.zelquor.Paneveil.helper";
inline constexpr const char helperPlistName[] = "com.zelquor.Paneveil.helper.plist";
inline constexpr const char helperMachServiceName[] = "com.zelquor.Paneveil.helper";
inline constexpr const char appCodeSigningRequirement[] = "identifier \"com.zelquor.Paneveil\"";
inline constexpr const char helperCodeSigningRequirement[] = "identifier \"com.zelquor.Paneveil.helper\"";
inline constexpr const char version[] = "0.1.0-dev";
} // namespace PVConstants

namespace PVDefaultsKey {
inline constexpr const char overlayAlpha[] = "overlayAlpha";
inline constexpr const char lockHotkey[] = "lockHotkey";
inline constexpr const char unlockHotkey[] = "unlockHotkey";
inline constexpr const char autoLockIdleSeconds[] = "autoLockIdleSeconds";
inline constexpr const char preventDisplaySleep[] = "preventDisplaySleep";
inline constexpr const char showStatusHUD[] = "showStatusHUD";
inline constexpr const char interceptSystemLock[] = "interceptSystemLock";
inline constexpr const char disableHotCorners[] = "disableHotCorners";
inline constexpr const char playSounds[] = "playSounds";
inline constexpr const char launchAtLogin[] = "launchAtLogin";
} // namespace PVDefaultsKey

// How the contract meets the session bus: object paths and interface names.
namespace PVBus {
inline constexpr const char helperObjectPath[] = "/com/zelquor/Paneveil/helper";
inline constexpr const char helperInterface[] = "com.zelquor.Paneveil.PaneveilHelperProtocol";
inline constexpr const char appObjectPath[] = "/com/zelquor/Paneveil/app";
inline constexpr const char appInterface[] = "com.zelquor.Paneveil.PaneveilAppProtocol";
// ELF sections that carry each executable's identity and launch definition.
inline constexpr const char infoPlistSection[] = ".info_plist";
inline constexpr const char launchdPlistSection[] = ".launchd_plist";
} // namespace PVBus
