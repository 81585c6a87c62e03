#include "vellumie/installer_paths.h"

#include "base/lead_byte.h"
#include "vellumhost/host_manifest.h"

namespace vellum {

InstallerPaths installer_paths(std::string_view program_path) {
    const long separator =
        find_last_single_byte(program_path.data(), static_cast<long>(program_path.size()), '\\');
    const std::string folder(separator < 0 ? program_path : program_path.substr(0, static_cast<std::size_t>(separator)));
    return {folder + "\\tessel.dll", folder + "\\ReserveAutoGet.htm", folder + "\\ReserveAutoGetParent.htm",
            folder + "\\" + kChromeManifestFileName, folder + "\\" + kFirefoxManifestFileName};
}

}  // namespace vellum
