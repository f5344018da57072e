#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/linux/posix/XdgAutostart.h"
#include "support/TempDir.h"

namespace larkspire {
namespace {

using linux_desktop::XdgAutostart;

// desktop-file-validate is what desktops and lintian hold an entry to.
bool validates(const std::filesystem::path& entry) {
    const std::string command = "desktop-file-validate '" + entry.string() + "'";
    return std::system(command.c_str()) == 0;
}

TEST(XdgAutostart, WritesAValidEntryAndRemovesIt) {
    testing::TempDir config;
    for (std::string program : {"/usr/bin/larkspire", "/home/ana/my apps/lark%spire"}) {
        SCOPED_TRACE(program);
        XdgAutostart autostart(config.path(), program);
        EXPECT_FALSE(autostart.enabled());
        EXPECT_EQ(autostart.setEnabled(true), "");
        EXPECT_TRUE(autostart.enabled());
        EXPECT_EQ(autostart.entryPath(), config.path() / "autostart" / "larkspire.desktop");
        EXPECT_TRUE(validates(autostart.entryPath()));
        const std::string text = testing::readText(autostart.entryPath());
        EXPECT_NE(text.find(program[1] == 'u' ? "\nExec=/usr/bin/larkspire\n"
                                              : "\nExec=\"/home/ana/my apps/lark%%spire\"\n"),
                  std::string::npos)
            << text;
        EXPECT_EQ(autostart.setEnabled(false), "");
        EXPECT_FALSE(std::filesystem::exists(autostart.entryPath()));
        EXPECT_EQ(autostart.setEnabled(false), "");  // already off
    }
}

TEST(XdgAutostart, AnEntrySwitchedOffByTheDesktopReadsAsOff) {
    const struct {
        const char* entry;
        bool enabled;
    } cases[] = {
        {"[Desktop Entry]\nExec=larkspire\n", true},
        {"[Desktop Entry]\nExec=larkspire\nHidden=true\n", false},
        {"[Desktop Entry]\nHidden = true\n", false},
        {"[Desktop Entry]\nHidden=false\n", true},
        {"[Desktop Entry]\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=larkspire\n[Desktop Action x]\nHidden=true\n", true},
    };
    testing::TempDir config;
    XdgAutostart autostart(config.path(), "larkspire");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        testing::writeFile(autostart.entryPath(), c.entry);
        EXPECT_EQ(autostart.enabled(), c.enabled);
    }
}

TEST(XdgAutostart, AFolderThatCannotBeMadeIsReported) {
    testing::TempDir config;
    testing::writeFile(config.path() / "autostart", "a file where the folder belongs");
    XdgAutostart autostart(config.path(), "larkspire");
    const std::string failure = autostart.setEnabled(true);
    EXPECT_NE(failure.find("cannot create " + (config.path() / "autostart").string()),
              std::string::npos)
        << failure;
    EXPECT_FALSE(autostart.enabled());
}

}  // namespace
}  // namespace larkspire
