// The settings store on Windows: what the window's QSettings keeps in the
// user's registry key, read without Qt.
#include <windows.h>

#include <gtest/gtest.h>

#include "core/settings_store.h"

namespace skarvel {
namespace {

TEST(SettingsStoreWin, ReadsTheRememberedPortFromTheUsersKey) {
    const wchar_t* key = L"Software\\Skarvel\\Skarvel\\port";
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"name");
    EXPECT_EQ(ReadSetting(kPortNameKey), "");
    const wchar_t value[] = L"COM7";
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key, L"name", REG_SZ, value, sizeof value), ERROR_SUCCESS);
    EXPECT_EQ(ReadSetting(kPortNameKey), "COM7");
    EXPECT_EQ(ReadSetting("port/other"), "");
    EXPECT_EQ(SettingsFilePath(), "");
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"name");
}

}  // namespace
}  // namespace skarvel
