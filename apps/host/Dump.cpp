#include "Dump.h"

#include "common/JsonWriter.h"

#include "control/VendorComment.h"
#include "platform/MousePointer.h"

using namespace tavik;
using common::JsonWriter;

namespace {

void writeState(JsonWriter& json, const VendorComment::State& s) {
    json.beginObject();
    json.key("mstrAction").value(s.mstrAction);
    json.key("mintMode").value(int(s.mintMode));
    json.key("mstrVendorID").value(s.mstrVendorID);
    json.key("mstrEffective").value(s.mstrEffective);
    json.key("mstrExpires").value(s.mstrExpires);
    json.key("mstrSequence").value(s.mstrSequence);
    json.key("mstrServerName").value(s.mstrServerName);
    json.key("mblnDeleting").value(s.mblnDeleting);
    json.key("mstrServerDate").value(s.mstrServerDate);
    json.key("mstrSCRN").value(s.mstrSCRN);
    json.key("mstrPODate").value(s.mstrPODate);
    json.endObject();
}

void writeButton(JsonWriter& json, const char* name, const platform::CommandButton& button) {
    json.key(name).beginObject();
    json.key("caption").value(button.caption());
    json.key("enabled").value(button.enabled());
    json.endObject();
}

void writeCombo(JsonWriter& json, const char* name, const platform::ComboBox& combo) {
    json.key(name).beginObject();
    json.key("entries").beginArray();
    for (int i = 0; i < combo.listCount(); ++i) {
        json.beginObject();
        json.key("text").value(combo.list(i));
        json.key("itemData").value(int(combo.itemData(i)));
        json.endObject();
    }
    json.endArray();
    json.key("listIndex").value(combo.listIndex());
    json.key("locked").value(combo.locked());
    json.key("backColor").value(static_cast<long long>(combo.backColor()));
    json.endObject();
}

void writeList(JsonWriter& json, const platform::ListView& list) {
    json.key("lstComments").beginObject();
    json.key("columns").beginArray();
    for (int c = 0; c < list.columnCount(); ++c) {
        json.beginObject();
        json.key("text").value(list.columnText(c));
        json.key("width").value(list.columnWidth(c));
        json.endObject();
    }
    json.endArray();
    json.key("rows").beginArray();
    for (int row = 0; row < list.count(); ++row) {
        json.beginObject();
        json.key("text").value(list.itemText(row));
        json.key("subItems").beginArray();
        for (int sub = 1; sub <= 5; ++sub)
            json.value(list.subItem(row, sub));
        json.endArray();
        json.endObject();
    }
    json.endArray();
    json.key("selectedIndex").value(list.selectedIndex());
    json.key("enabled").value(list.enabled());
    json.key("hideSelection").value(list.hideSelection());
    json.key("backColor").value(static_cast<long long>(list.backColor()));
    json.endObject();
}

} // namespace

std::string dumpControl(VendorComment& control, const std::vector<RecordedMessageBox>& boxes) {
    platform::Form& form = control.form();
    JsonWriter json;
    json.beginObject();
    json.key("state");
    writeState(json, control.state());

    json.key("widgets").beginObject();
    writeButton(json, "cmdAdd", form.cmdAdd());
    writeButton(json, "cmdEdit", form.cmdEdit());
    writeButton(json, "cmdDelete", form.cmdDelete());

    const platform::TextBox& text = form.txtComment();
    json.key("txtComment").beginObject();
    json.key("text").value(text.text());
    json.key("locked").value(text.locked());
    json.key("backColor").value(static_cast<long long>(text.backColor()));
    json.endObject();

    writeCombo(json, "cboType", form.cboType());
    writeCombo(json, "cboLocation", form.cboLocation());

    json.key("chkDate").beginArray();
    for (int i = 0; i < 2; ++i) {
        json.beginObject();
        json.key("value").value(form.chkDate(i).value());
        json.key("enabled").value(form.chkDate(i).enabled());
        json.endObject();
    }
    json.endArray();

    json.key("DateBox").beginArray();
    for (int i = 0; i < 2; ++i) {
        const platform::DatePicker& picker = form.DateBox(i);
        json.beginObject();
        json.key("value").value(platform::isoDate(picker.value()));
        json.key("visible").value(picker.visible());
        json.key("enabled").value(picker.enabled());
        json.endObject();
    }
    json.endArray();

    writeList(json, form.lstComments());

    json.key("lblVersionNumber").beginObject();
    json.key("caption").value(form.lblVersionNumber().caption());
    json.endObject();
    json.endObject(); // widgets

    json.key("focus");
    if (const auto focus = form.focusedWidget())
        json.value(*focus);
    else
        json.null();
    json.key("mousePointer").value(platform::mousePointer());

    json.key("messageBoxes").beginArray();
    for (const RecordedMessageBox& box : boxes) {
        json.beginObject();
        json.key("prompt").value(box.prompt);
        json.key("style").value(box.style);
        json.key("title").value(box.title);
        json.endObject();
    }
    json.endArray();
    json.endObject();
    return json.str();
}
