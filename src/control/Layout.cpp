#include "Layout.h"

#include <stdexcept>
#include <string>

namespace tavik {

using platform::vbButtonFace;
using Kind = platform::WidgetKind;

namespace {

std::vector<platform::WidgetPlacement> placements() {
    // name, kind, caption, left, top, width, height, tab index, back colour, visible, format
    return {
        {"fraMain", Kind::Frame, "", 60, -15, 10410, 6570, 11},
        {"lstComments", Kind::ListView, "", 60, 135, 10290, 3675, 0},
        {"lblComment", Kind::Label, "Comment:", 75, 3960, 975, 240, 7},
        {"txtComment", Kind::TextBox, "", 75, 4185, 10245, 720, 1, vbButtonFace},
        {"lblLocation", Kind::Label, "Location", 120, 5130, 945, 285, 12},
        {"cboLocation", Kind::ComboBox, "", 120, 5340, 2040, 315, 2, vbButtonFace},
        {"lblType", Kind::Label, "Type", 2970, 5145, 615, 255, 10},
        {"cboType", Kind::ComboBox, "", 2970, 5340, 2040, 315, 3, vbButtonFace},
        {"chkDate(0)", Kind::CheckBox, "", 6735, 5055, 225, 270, 16},
        {"lblEffectiveDate", Kind::Label, "Effective Date", 6975, 5100, 1110, 255, 8},
        {"DateBox(0)", Kind::DatePicker, "", 6720, 5370, 1425, 285, 14, {}, false, "MMM dd, yyyy"},
        {"chkDate(1)", Kind::CheckBox, "", 8820, 5055, 225, 285, 17},
        {"lblExpiresDate", Kind::Label, "Expires Date", 9060, 5100, 945, 255, 9},
        {"DateBox(1)", Kind::DatePicker, "", 8820, 5370, 1425, 285, 15, {}, false, "MMM dd, yyyy"},
        {"cmdAdd", Kind::CommandButton, "New Comment", 6045, 6075, 1215, 375, 4},
        {"cmdEdit", Kind::CommandButton, "Edit", 7605, 6075, 1215, 375, 5},
        {"cmdDelete", Kind::CommandButton, "Delete", 9015, 6075, 1215, 375, 6},
        {"lblVersionNumber", Kind::Label, "Version No:", 105, 6210, 3600, 225, 13},
    };
}

// What a screen reader announces for each input, and the label that names it on screen. The
// buttons are announced by their captions.
struct Announcement {
    const char* widget;
    const char* name;
    const char* description;
    const char* label;
};

const Announcement announcements[] = {
    {"lstComments", "Comments", "The vendor's comments; the selected one is shown below", ""},
    {"txtComment", "Comment", "The text of the comment", "lblComment"},
    {"cboLocation", "Location", "Where the comment applies", "lblLocation"},
    {"cboType", "Type", "The kind of comment", "lblType"},
    {"chkDate(0)", "Effective Date", "Whether the comment has a date from which it applies",
     "lblEffectiveDate"},
    {"DateBox(0)", "Effective Date value", "The date from which the comment applies", ""},
    {"chkDate(1)", "Expires Date", "Whether the comment has a date on which it ends",
     "lblExpiresDate"},
    {"DateBox(1)", "Expires Date value", "The date on which the comment ends", ""},
};

platform::WidgetPlacement& placementOf(std::vector<platform::WidgetPlacement>& layout,
                                       const std::string& name) {
    for (platform::WidgetPlacement& placement : layout) {
        if (placement.name == name)
            return placement;
    }
    throw std::logic_error("The design layout has no widget " + name);
}

std::vector<platform::WidgetPlacement> announcedPlacements() {
    std::vector<platform::WidgetPlacement> layout = placements();
    for (const Announcement& announcement : announcements) {
        platform::WidgetPlacement& placement = placementOf(layout, announcement.widget);
        placement.accessibleName = announcement.name;
        placement.accessibleDescription = announcement.description;
        if (*announcement.label)
            placementOf(layout, announcement.label).labelFor = announcement.widget;
    }
    return layout;
}

} // namespace

const std::vector<platform::WidgetPlacement>& designLayout() {
    static const std::vector<platform::WidgetPlacement> layout = announcedPlacements();
    return layout;
}

} // namespace tavik
