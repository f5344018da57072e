#include "platform/linux/atspi/AtspiRoles.h"

#include <array>
#include <utility>

namespace larkspire::linux_desktop {
namespace {

// Text-bearing roles of the window digest are "AXStaticText", "AXTextArea",
// "AXTextField", "AXButton", "AXLink", "AXHeading", "AXGroup", "AXListItem" and "AXCell":
// a role mapped to one of them is read for text, every other role only for its children.
constexpr std::array<std::pair<AtspiRole, const char*>, 107> kRoles{{
    // Text that can be edited. ATSPI_ROLE_TEXT is decided by its single-line state.
    {ATSPI_ROLE_ENTRY, "AXTextField"},
    {ATSPI_ROLE_PASSWORD_TEXT, "AXTextField"},
    {ATSPI_ROLE_SPIN_BUTTON, "AXTextField"},
    {ATSPI_ROLE_EDITBAR, "AXTextField"},
    {ATSPI_ROLE_DATE_EDITOR, "AXTextField"},
    {ATSPI_ROLE_PARAGRAPH, "AXTextArea"},
    {ATSPI_ROLE_DOCUMENT_TEXT, "AXTextArea"},
    {ATSPI_ROLE_DOCUMENT_EMAIL, "AXTextArea"},
    {ATSPI_ROLE_TERMINAL, "AXTextArea"},
    {ATSPI_ROLE_LOG, "AXTextArea"},
    // Text shown to be read.
    {ATSPI_ROLE_LABEL, "AXStaticText"},
    {ATSPI_ROLE_STATIC, "AXStaticText"},
    {ATSPI_ROLE_ACCELERATOR_LABEL, "AXStaticText"},
    {ATSPI_ROLE_CAPTION, "AXStaticText"},
    {ATSPI_ROLE_DESCRIPTION_TERM, "AXStaticText"},
    {ATSPI_ROLE_DESCRIPTION_VALUE, "AXStaticText"},
    {ATSPI_ROLE_DEFINITION, "AXStaticText"},
    {ATSPI_ROLE_FOOTNOTE, "AXStaticText"},
    {ATSPI_ROLE_SUBSCRIPT, "AXStaticText"},
    {ATSPI_ROLE_SUPERSCRIPT, "AXStaticText"},
    {ATSPI_ROLE_MARK, "AXStaticText"},
    {ATSPI_ROLE_CONTENT_DELETION, "AXStaticText"},
    {ATSPI_ROLE_CONTENT_INSERTION, "AXStaticText"},
    {ATSPI_ROLE_TIMER, "AXStaticText"},
    {ATSPI_ROLE_HEADING, "AXHeading"},
    {ATSPI_ROLE_LINK, "AXLink"},
    {ATSPI_ROLE_PUSH_BUTTON, "AXButton"},
    {ATSPI_ROLE_TOGGLE_BUTTON, "AXButton"},
    {ATSPI_ROLE_PUSH_BUTTON_MENU, "AXMenuButton"},
    // Containers of content.
    {ATSPI_ROLE_PANEL, "AXGroup"},
    {ATSPI_ROLE_SECTION, "AXGroup"},
    {ATSPI_ROLE_FORM, "AXGroup"},
    {ATSPI_ROLE_FILLER, "AXGroup"},
    {ATSPI_ROLE_GROUPING, "AXGroup"},
    {ATSPI_ROLE_ARTICLE, "AXGroup"},
    {ATSPI_ROLE_BLOCK_QUOTE, "AXGroup"},
    {ATSPI_ROLE_LANDMARK, "AXGroup"},
    {ATSPI_ROLE_HEADER, "AXGroup"},
    {ATSPI_ROLE_FOOTER, "AXGroup"},
    {ATSPI_ROLE_COMMENT, "AXGroup"},
    {ATSPI_ROLE_NOTIFICATION, "AXGroup"},
    {ATSPI_ROLE_INFO_BAR, "AXGroup"},
    {ATSPI_ROLE_STATUS_BAR, "AXGroup"},
    {ATSPI_ROLE_MARQUEE, "AXGroup"},
    {ATSPI_ROLE_DESCRIPTION_LIST, "AXGroup"},
    {ATSPI_ROLE_SUGGESTION, "AXGroup"},
    {ATSPI_ROLE_PAGE, "AXGroup"},
    {ATSPI_ROLE_MATH, "AXGroup"},
    {ATSPI_ROLE_HTML_CONTAINER, "AXGroup"},
    {ATSPI_ROLE_OPTION_PANE, "AXGroup"},
    {ATSPI_ROLE_ROOT_PANE, "AXGroup"},
    {ATSPI_ROLE_LAYERED_PANE, "AXGroup"},
    {ATSPI_ROLE_GLASS_PANE, "AXGroup"},
    {ATSPI_ROLE_INTERNAL_FRAME, "AXGroup"},
    {ATSPI_ROLE_EMBEDDED, "AXGroup"},
    {ATSPI_ROLE_REDUNDANT_OBJECT, "AXGroup"},
    // Lists and tables.
    {ATSPI_ROLE_LIST_ITEM, "AXListItem"},
    {ATSPI_ROLE_TABLE_CELL, "AXCell"},
    {ATSPI_ROLE_TREE_ITEM, "AXCell"},
    {ATSPI_ROLE_COLUMN_HEADER, "AXCell"},
    {ATSPI_ROLE_ROW_HEADER, "AXCell"},
    {ATSPI_ROLE_TABLE_COLUMN_HEADER, "AXCell"},
    {ATSPI_ROLE_TABLE_ROW_HEADER, "AXCell"},
    {ATSPI_ROLE_LIST, "AXList"},
    {ATSPI_ROLE_LIST_BOX, "AXList"},
    {ATSPI_ROLE_TABLE, "AXTable"},
    {ATSPI_ROLE_TREE_TABLE, "AXTable"},
    {ATSPI_ROLE_TREE, "AXOutline"},
    {ATSPI_ROLE_TABLE_ROW, "AXRow"},
    // Controls whose text is a state, not content.
    {ATSPI_ROLE_CHECK_BOX, "AXCheckBox"},
    {ATSPI_ROLE_RADIO_BUTTON, "AXRadioButton"},
    {ATSPI_ROLE_COMBO_BOX, "AXComboBox"},
    {ATSPI_ROLE_AUTOCOMPLETE, "AXComboBox"},
    {ATSPI_ROLE_SLIDER, "AXSlider"},
    {ATSPI_ROLE_DIAL, "AXSlider"},
    {ATSPI_ROLE_SCROLL_BAR, "AXScrollBar"},
    {ATSPI_ROLE_PROGRESS_BAR, "AXProgressIndicator"},
    {ATSPI_ROLE_LEVEL_BAR, "AXLevelIndicator"},
    {ATSPI_ROLE_RATING, "AXLevelIndicator"},
    {ATSPI_ROLE_SEPARATOR, "AXSplitter"},
    {ATSPI_ROLE_PAGE_TAB, "AXRadioButton"},
    {ATSPI_ROLE_PAGE_TAB_LIST, "AXTabGroup"},
    {ATSPI_ROLE_TOOL_BAR, "AXToolbar"},
    {ATSPI_ROLE_TOOL_TIP, "AXHelpTag"},
    {ATSPI_ROLE_MENU_BAR, "AXMenuBar"},
    {ATSPI_ROLE_MENU, "AXMenu"},
    {ATSPI_ROLE_POPUP_MENU, "AXMenu"},
    {ATSPI_ROLE_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_CHECK_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_RADIO_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_TEAROFF_MENU_ITEM, "AXMenuItem"},
    {ATSPI_ROLE_SCROLL_PANE, "AXScrollArea"},
    {ATSPI_ROLE_VIEWPORT, "AXScrollArea"},
    {ATSPI_ROLE_SPLIT_PANE, "AXSplitGroup"},
    {ATSPI_ROLE_IMAGE, "AXImage"},
    {ATSPI_ROLE_ICON, "AXImage"},
    {ATSPI_ROLE_ANIMATION, "AXImage"},
    {ATSPI_ROLE_CANVAS, "AXImage"},
    {ATSPI_ROLE_DRAWING_AREA, "AXImage"},
    // Documents and windows: read for their children.
    {ATSPI_ROLE_DOCUMENT_FRAME, "AXWebArea"},
    {ATSPI_ROLE_DOCUMENT_WEB, "AXWebArea"},
    {ATSPI_ROLE_FRAME, "AXWindow"},
    {ATSPI_ROLE_WINDOW, "AXWindow"},
    {ATSPI_ROLE_DIALOG, "AXWindow"},
    {ATSPI_ROLE_ALERT, "AXWindow"},
    {ATSPI_ROLE_FILE_CHOOSER, "AXWindow"},
    {ATSPI_ROLE_APPLICATION, "AXApplication"},
}};

}  // namespace

RoleName roleNameOf(AtspiRole role, bool singleLine) {
    if (role == ATSPI_ROLE_TEXT) {
        return {singleLine ? "AXTextField" : "AXTextArea", ""};
    }
    if (role == ATSPI_ROLE_PASSWORD_TEXT) {
        return {"AXTextField", "AXSecureTextField"};
    }
    for (const auto& [atspi, name] : kRoles) {
        if (atspi == role) {
            return {name, ""};
        }
    }
    return {"AXUnknown", ""};
}

}  // namespace larkspire::linux_desktop
