// How the browsers find vellumhost.exe: a manifest file beside it, named in
// the per-user registry key of each browser. vellumie.exe writes both; the
// extension (browser/) asks for the host by kNativeHostName, and only the
// extension's fixed ids may start it.
//
// Pure; any thread.
#pragma once

#include <string>
#include <string_view>

namespace vellum {

inline constexpr char kNativeHostName[] = "marlow.vellumhost";
inline constexpr char kNativeHostFileName[] = "vellumhost.exe";
// Chrome and Edge derive it from the "key" of browser/manifest.json.
inline constexpr char kChromeExtensionId[] = "eelnffiffmknaahhhgdckbdfmkbcdddo";
// browser_specific_settings.gecko.id of browser/manifest.json.
inline constexpr char kFirefoxExtensionId[] = "reserve@vellum.invalid";

// Chrome and Edge read one manifest form (allowed_origins), Firefox another
// (allowed_extensions).
inline constexpr char kChromeManifestFileName[] = "vellumhost-chrome.json";
inline constexpr char kFirefoxManifestFileName[] = "vellumhost-firefox.json";

// Under HKEY_CURRENT_USER; each key's default value is the manifest's full path.
inline constexpr char kChromeHostKeyPath[] = "Software\\Google\\Chrome\\NativeMessagingHosts\\marlow.vellumhost";
inline constexpr char kEdgeHostKeyPath[] = "Software\\Microsoft\\Edge\\NativeMessagingHosts\\marlow.vellumhost";
inline constexpr char kFirefoxHostKeyPath[] = "Software\\Mozilla\\NativeMessagingHosts\\marlow.vellumhost";

// The manifests' texts. The host's path is relative, which both browser
// families take as beside the manifest: the text is the same wherever the
// program was installed, and no folder name has to be put in UTF-8.
std::string chrome_host_manifest();
std::string firefox_host_manifest();

}  // namespace vellum
