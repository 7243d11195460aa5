#pragma once
// Linux self-update internals, with the process facts they depend on passed in
// so they can be exercised with a chosen package type, AppImage and resource
// directory.
#include <curl/curl.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/os_update.h"

// Limits the handle to HTTPS with certificate checks and the chosen CA bundle.
void LinuxCurlHttpsOnly(CURL* curl);
// The first readable of CURL_CA_BUNDLE, SSL_CERT_FILE and the distributions'
// bundle files; "" leaves libcurl's default. LinuxCurlHttpsOnly asks once.
std::string LinuxChooseCaBundle();

// The installation this process runs from.
struct UpdateInstallation {
  std::string packageType;  // "appimage", "deb", "rpm" or ""
  std::string appImage;     // absolute path of the running AppImage, or ""
  std::string resourceDir;  // where the root-owned update-install lives
  std::string ownExe;       // what a package install restarts
  // Arranges the restart; ReopenAfterExit in the program.
  std::function<void(const std::string& executable)> relaunch;
};

const UpdateInstallation& ThisInstallation();

// "appimage" when appImage is given, else the first line of
// <resourceDir>/package-type when it is exactly "deb" or "rpm", else "".
std::string PackageTypeFor(const std::string& appImage, const std::string& resourceDir);
// The path in `value` made absolute and real when it names a regular file.
std::string ResolveAppImage(const char* value);

std::string StageUpdate(const UpdateInstallation& inst, const UpdateManifestInfo& info,
                        const UpdateProgressFn& progress, std::string& staged);
std::string InstallStagedUpdate(const UpdateInstallation& inst, const std::string& staged);
// Starts `pkexec <resourceDir>/update-install --wait` (pkexec from the
// system's directories, the helper only when it is root-owned); "" once it
// runs as root and waits for the staged manifest and package.
std::string AuthorizeUpdate(const UpdateInstallation& inst);
// The environment handed to the relaunched program: entries of an AppImage's
// runtime (under `appDir`) are removed.
std::vector<std::string> RelaunchEnvironment(const std::vector<std::string>& env, const std::string& appDir);
// Removes leftovers of earlier updates in `tempDir` and beside `appImage`.
void CleanupUpdateTempFilesIn(const std::string& tempDir, const std::string& appImage);
std::string SystemTempDir();
