#include "Layout.h"

#include "../platform/Translatable.h"

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
        {"lblComment", Kind::Label, TAVIK_TR("tavik::VendorComment", "Comment:"), 75, 3960, 975,
         240, 7},
        {"txtComment", Kind::TextBox, "", 75, 4185, 10245, 720, 1, vbButtonFace},
        {"lblLocation", Kind::Label, TAVIK_TR("tavik::VendorComment", "Location"), 120, 5130, 945,
         285, 12},
        {"cboLocation", Kind::ComboBox, "", 120, 5340, 2040, 315, 2, vbButtonFace},
        {"lblType", Kind::Label, TAVIK_TR("tavik::VendorComment", "Type"), 2970, 5145, 615, 255,
         10},
        {"cboType", Kind::ComboBox, "", 2970, 5340, 2040, 315, 3, vbButtonFace},
        {"chkDate(0)", Kind::CheckBox, "", 6735, 5055, 225, 270, 16},
        {"lblEffectiveDate", Kind::Label, TAVIK_TR("tavik::VendorComment", "Effective Date"), 6975,
         5100, 1110, 255, 8},
        {"DateBox(0)", Kind::DatePicker, "", 6720, 5370, 1425, 285, 14, {}, false, "MMM dd, yyyy"},
        {"chkDate(1)", Kind::CheckBox, "", 8820, 5055, 225, 285, 17},
        {"lblExpiresDate", Kind::Label, TAVIK_TR("tavik::VendorComment", "Expires Date"), 9060,
         5100, 945, 255, 9},
        {"DateBox(1)", Kind::DatePicker, "", 8820, 5370, 1425, 285, 15, {}, false, "MMM dd, yyyy"},
        {"cmdAdd", Kind::CommandButton, TAVIK_TR("tavik::VendorComment", "New Comment"), 6045, 6075,
         1215, 375, 4},
        {"cmdEdit", Kind::CommandButton, TAVIK_TR("tavik::VendorComment", "Edit"), 7605, 6075, 1215,
         375, 5},
        {"cmdDelete", Kind::CommandButton, TAVIK_TR("tavik::VendorComment", "Delete"), 9015, 6075,
         1215, 375, 6},
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
    {"lstComments", TAVIK_TR("tavik::VendorComment", "Comments"),
     TAVIK_TR("tavik::VendorComment", "The vendor's comments; the selected one is shown below"),
     ""},
    {"txtComment", TAVIK_TR("tavik::VendorComment", "Comment"),
     TAVIK_TR("tavik::VendorComment", "The text of the comment"), "lblComment"},
    {"cboLocation", TAVIK_TR("tavik::VendorComment", "Location"),
     TAVIK_TR("tavik::VendorComment", "Where the comment applies"), "lblLocation"},
    {"cboType", TAVIK_TR("tavik::VendorComment", "Type"),
     TAVIK_TR("tavik::VendorComment", "The kind of comment"), "lblType"},
    {"chkDate(0)", TAVIK_TR("tavik::VendorComment", "Effective Date"),
     TAVIK_TR("tavik::VendorComment", "Whether the comment has a date from which it applies"),
     "lblEffectiveDate"},
    {"DateBox(0)", TAVIK_TR("tavik::VendorComment", "Effective Date value"),
     TAVIK_TR("tavik::VendorComment", "The date from which the comment applies"), ""},
    {"chkDate(1)", TAVIK_TR("tavik::VendorComment", "Expires Date"),
     TAVIK_TR("tavik::VendorComment", "Whether the comment has a date on which it ends"),
     "lblExpiresDate"},
    {"DateBox(1)", TAVIK_TR("tavik::VendorComment", "Expires Date value"),
     TAVIK_TR("tavik::VendorComment", "The date on which the comment ends"), ""},
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
