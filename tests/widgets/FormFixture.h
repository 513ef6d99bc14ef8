#pragma once

#include "control/Layout.h"
#include "platform/Form.h"
#include "platform/MessageBox.h"
#include "platform/qt/QtForm.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

// Records every event the form raises, in order, as text such as "chkDate_Click(1)".
class RecordingEvents final : public tavik::platform::FormEvents {
public:
    std::vector<std::string> log;
    std::function<void(int&)> keyFilter;  // runs inside KeyPress
    std::function<void()> onCmdAdd;       // runs inside cmdAdd_Click
    std::function<void()> onListClick;    // runs inside lstComments_Click
    std::function<void()> onListDblClick; // runs inside lstComments_DblClick

    void cmdAdd_Click() override;
    void cmdEdit_Click() override { log.push_back("cmdEdit_Click"); }
    void cmdDelete_Click() override { log.push_back("cmdDelete_Click"); }
    void chkDate_Click(int Index) override;
    void txtComment_KeyPress(int& KeyAscii) override;
    void lstComments_Click() override;
    void lstComments_DblClick() override;
    void lstComments_KeyUp(int KeyCode, int Shift) override;
    void lstComments_ColumnClick(int column) override;
    void UserControl_KeyDown(int&, int) override {} // the control's tests cover Escape
    void Inet1_StateChanged(int State) override;
};

struct RecordedBox {
    std::string prompt;
    int style;
    std::string title;
    bool operator==(const RecordedBox&) const = default;
};

// A fresh form of the design layout in an active window, with message boxes recorded.
class FormTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    QWidget* real(const std::string& name) const;
    template <class T> T* real(const std::string& name) const {
        return qobject_cast<T*>(real(name));
    }

    RecordingEvents events;
    std::vector<RecordedBox> boxes;
    std::unique_ptr<tavik::platform::Form> form;
    QWidget* window = nullptr;
};
