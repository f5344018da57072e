#include <gtest/gtest.h>

#include "platform/linux/atspi/AtspiRoles.h"

namespace larkspire::linux_desktop {
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

// The rows with logic of their own (the single-line state, the secure subrole, roles the
// table lacks) and one looked up in the table.
INSTANTIATE_TEST_SUITE_P(
    Table, RoleNames,
    ::testing::Values(Case{ATSPI_ROLE_TEXT, false, {"AXTextArea", ""}},
                      Case{ATSPI_ROLE_TEXT, true, {"AXTextField", ""}},
                      Case{ATSPI_ROLE_PASSWORD_TEXT, true, {"AXTextField", "AXSecureTextField"}},
                      Case{ATSPI_ROLE_LABEL, true, {"AXStaticText", ""}},
                      Case{ATSPI_ROLE_INVALID, true, {"AXUnknown", ""}},
                      Case{ATSPI_ROLE_LAST_DEFINED, true, {"AXUnknown", ""}}));

}  // namespace
}  // namespace larkspire::linux_desktop
