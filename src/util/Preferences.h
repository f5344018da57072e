#pragma once

namespace larkspire {

// The keys of the user defaults, in one list.
namespace defaults {
inline constexpr const char* activationComplete = "activationComplete";
inline constexpr const char* activationStage = "activationStage";
inline constexpr const char* activationFirstThoughtId = "activationFirstThoughtId";
inline constexpr const char* installationId = "installationId";
inline constexpr const char* activeProjectId = "activeProjectId";
inline constexpr const char* screenAwareConsent = "screenAwareConsent";
inline constexpr const char* screenAwareEnabled = "screenAwareEnabled";
inline constexpr const char* screenAwarePreview = "screenAwarePreview";
// The dictation key a desktop's shortcut portal assigned, as last shown to the user.
inline constexpr const char* assignedDictationKey = "assignedDictationKey";
// The desktop portal's restore token for the keyboard session, so it asks only once.
inline constexpr const char* remoteDesktopRestoreToken = "remoteDesktopRestoreToken";
// The input device the user chose by its sound-server name; absent for the system default.
inline constexpr const char* microphoneSource = "microphoneSource";
inline constexpr const char* recordingHUDOrigin = "Vantrel.RecordingHUDOrigin";
}  // namespace defaults

// The settings panes the agent sends the user to; the desktop maps each to its own
// settings panel, or to the service's settings page where it has none.
namespace panes {
inline constexpr const char* microphone =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Microphone";
inline constexpr const char* accessibility =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";
inline constexpr const char* inputMonitoring =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_ListenEvent";
inline constexpr const char* screenRecording =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";
}  // namespace panes

}  // namespace larkspire
