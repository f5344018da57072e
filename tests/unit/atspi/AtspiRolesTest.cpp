#include <gtest/gtest.h>

#include "platform/linux/atspi/AtspiRoles.h"

namespace larkspire::desktop {
namespace {

struct Case {
    AtspiRole role;
    bool singleLine;
    RoleName expected;
};

class RoleNames : public ::testing::TestWithParam<Case> {};

TEST_P(RoleNames, AtspiRolesBecomeTheRoleNamesTheWalkKnows) {
    EXPECT_EQ(roleNameOf(GetParam().role, GetParam().singleLine), GetParam().expected);
}

// The text-bearing roles of the window digest, and some that must not bear text.
INSTANTIATE_TEST_SUITE_P(
    Table, RoleNames,
    ::testing::Values(Case{ATSPI_ROLE_TEXT, false, {"AXTextArea", ""}},
                      Case{ATSPI_ROLE_TEXT, true, {"AXTextField", ""}},
                      Case{ATSPI_ROLE_ENTRY, true, {"AXTextField", ""}},
                      Case{ATSPI_ROLE_PASSWORD_TEXT, true, {"AXTextField", "AXSecureTextField"}},
                      Case{ATSPI_ROLE_LABEL, true, {"AXStaticText", ""}},
                      Case{ATSPI_ROLE_STATIC, true, {"AXStaticText", ""}},
                      Case{ATSPI_ROLE_PUSH_BUTTON, true, {"AXButton", ""}},
                      Case{ATSPI_ROLE_LINK, true, {"AXLink", ""}},
                      Case{ATSPI_ROLE_HEADING, true, {"AXHeading", ""}},
                      Case{ATSPI_ROLE_PANEL, true, {"AXGroup", ""}},
                      Case{ATSPI_ROLE_SECTION, true, {"AXGroup", ""}},
                      Case{ATSPI_ROLE_FORM, true, {"AXGroup", ""}},
                      Case{ATSPI_ROLE_FILLER, true, {"AXGroup", ""}},  // Qt's top-level widgets
                      Case{ATSPI_ROLE_LIST_ITEM, true, {"AXListItem", ""}},
                      Case{ATSPI_ROLE_TABLE_CELL, true, {"AXCell", ""}},
                      Case{ATSPI_ROLE_PARAGRAPH, true, {"AXTextArea", ""}},
                      Case{ATSPI_ROLE_CHECK_BOX, true, {"AXCheckBox", ""}},
                      Case{ATSPI_ROLE_MENU_ITEM, true, {"AXMenuItem", ""}},
                      Case{ATSPI_ROLE_FRAME, true, {"AXWindow", ""}},
                      Case{ATSPI_ROLE_INVALID, true, {"AXUnknown", ""}},
                      Case{ATSPI_ROLE_LAST_DEFINED, true, {"AXUnknown", ""}}));

}  // namespace
}  // namespace larkspire::desktop
