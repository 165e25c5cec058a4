// The settings store on Unix systems: QSettings' INI file under the XDG
// configuration folder.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "core/settings_store.h"

namespace skarvel {

std::string SettingsFilePath() {
    std::string base;
    // As QStandardPaths takes it: only an absolute path counts.
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || !*home) {
            const passwd* pw = getpwuid(getuid());
            home = pw ? pw->pw_dir : nullptr;
        }
        if (!home || !*home) return std::string();
        base = std::string(home) + "/.config";
    }
    return base + "/" + kSettingsOrganization + "/" + kSettingsApplication + ".conf";
}

std::string ReadSetting(const std::string& key) {
    const std::string path = SettingsFilePath();
    if (path.empty()) return std::string();
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string();
    std::ostringstream text;
    text << in.rdbuf();
    std::string value;
    return IniValue(text.str(), key, value) ? value : std::string();
}

}  // namespace skarvel
