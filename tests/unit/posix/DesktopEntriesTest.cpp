#include <gtest/gtest.h>

#include "platform/linux/posix/DesktopEntries.h"
#include "support/TempDir.h"

namespace larkspire::linux_desktop {
namespace {

TEST(DesktopEntries, TheApplicationIsNamedByItsEntryUnderAnyOfItsIds) {
    testing::TempDir home, system;
    auto entry = [](const testing::TempDir& dir, const std::string& file, const std::string& body) {
        testing::writeFile(dir.path() / file,
                           "[Desktop Entry]\n" + body + "[Desktop Action x]\nName=No\n");
    };
    entry(home, "firefox-esr.desktop", "Name=My Firefox\n");
    entry(system, "firefox-esr.desktop", "Name=Firefox ESR\n");
    entry(system, "org.xfce.mousepad.desktop", "Name=Mousepad\n");
    entry(system, "code-oss.desktop", "Name=Code - OSS\nStartupWMClass=Code\n");
    entry(system, "broken.desktop", "Exec=broken\n");
    const std::vector<std::filesystem::path> dirs{home.path(), system.path() / "none",
                                                  system.path()};
    struct Case {
        const char *windowClass, *instance, *expected;
    };
    for (const Case& c : {Case{"Firefox-esr", "Navigator", "My Firefox"},  // the personal one
                          Case{"Mousepad", "mousepad", "Mousepad"},        // reverse-DNS id
                          Case{"Code", "code", "Code - OSS"},              // StartupWMClass
                          Case{"Xterm", "broken", ""},                     // an entry without Name=
                          Case{"Gtk_target", "gtk_target", ""}}) {
        EXPECT_EQ(applicationNameOf(c.windowClass, c.instance, dirs).value_or(""), c.expected)
            << c.windowClass;
    }
}

}  // namespace
}  // namespace larkspire::linux_desktop
