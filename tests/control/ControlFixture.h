#pragma once

#include "TestServer.h"

#include "platform/MessageBox.h"
#include "shell/widget/VendorCommentWidget_p.h"

#include <gtest/gtest.h>

#include <QWidget>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A load document written element by element.
class LoadDocument {
public:
    LoadDocument& loc(const std::string& code, const std::string& name);
    LoadDocument& typ(const std::string& code, const std::string& name);
    LoadDocument& grid(const std::string& sequence, const std::string& type,
                       const std::string& location, const std::string& effective,
                       const std::string& expires, const std::string& comment);
    LoadDocument& raw(const std::string& xml); // anything, as it stands
    std::string str() const;

private:
    std::string body_;
};

std::string xmlEscape(const std::string& text);

using ShownBox = tavik::platform::MessageBoxRecorder::Shown;

// A fresh control, placed as a host places it (VendorCommentWidget) in a shown window, a
// loopback server answering the load document and the statements, and a recorder for
// message boxes.
class ControlTest : public ::testing::Test {
    // What the server's handlers read: declared before the server, so that they outlive its
    // handler threads.
    mutable std::mutex mutex_;
    std::string document_;
    int documentStatus_ = 200;
    bool documentsHeld_ = false;
    int loadsArrived_ = 0;
    std::condition_variable documentsReleased_;
    std::string statementAnswer_;
    int statementStatus_ = 200;

public: // open to the data tables of the tests
    void SetUp() override;
    void TearDown() override;

    // LoadData with the server's prefix and the given vendor, mode and server date.
    void load(const std::string& mode = "1", const std::string& vendor = "318",
              const std::string& serverDate = "3/23/2009");

    void setDocument(const std::string& xml, int status = 200);
    // Holds every answer to a load until released; TearDown releases them.
    void holdDocuments(bool hold);
    int loadsArrived() const; // load requests the server has begun to answer
    // What the server answers to the next statements (body, status), in order; the last
    // one stays for every later statement.
    void setStatementAnswer(const std::string& body, int status = 200);
    std::vector<TestServer::Request> requests() const { return server.requests(); }
    std::vector<std::string> statements() const; // decoded SQL of every POST
    int loadCount() const;                       // load requests (GET) so far

    tavik::platform::Form& form() { return control->form(); }
    QWidget* widget(const std::string& name);

    // A user's actions on the real widgets.
    void click(const std::string& name);
    void selectRow(int row);
    void doubleClickRow(int row);
    void keyOnList(int qtKey);
    void type(const std::string& text);
    void pick(const std::string& combo, int index);
    void setDate(int index, int year, int month, int day);

    TestServer server;
    std::unique_ptr<tavik::VendorCommentWidget> host;
    tavik::VendorComment* control = nullptr;
    QWidget* window = nullptr;
    tavik::platform::MessageBoxRecorder recorder;
    std::vector<ShownBox>& boxes = recorder.shown;
    std::deque<int>& answers = recorder.answers; // for Yes/No boxes; No when none is queued
};

// The standard document: two locations, two types, three comments.
std::string sampleDocument();
