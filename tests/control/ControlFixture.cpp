#include "ControlFixture.h"

#include "common/XmlText.h"
#include "platform/MessageBox.h"
#include "platform/qt/QtForm.h"
#include "shell/gestures/Gestures.h"

#include <QTest>

using namespace tavik;

std::string xmlEscape(const std::string& text) {
    std::string out;
    common::appendXmlText(out, text);
    return out;
}

LoadDocument& LoadDocument::loc(const std::string& code, const std::string& name) {
    body_ += "<LOC><Code>" + xmlEscape(code) + "</Code><Name>" + xmlEscape(name) + "</Name></LOC>";
    return *this;
}

LoadDocument& LoadDocument::typ(const std::string& code, const std::string& name) {
    body_ += "<TYP><Code>" + xmlEscape(code) + "</Code><Name>" + xmlEscape(name) + "</Name></TYP>";
    return *this;
}

LoadDocument& LoadDocument::grid(const std::string& sequence, const std::string& type,
                                 const std::string& location, const std::string& effective,
                                 const std::string& expires, const std::string& comment) {
    auto element = [](const char* name, const std::string& value) {
        return std::string("<") + name + ">" + xmlEscape(value) + "</" + name + ">";
    };
    body_ += "<GRID>" + element("VendorID", "318") + element("CommentSequence", sequence) +
             element("Type", "0") + element("TypeName", type) + element("Location", "0") +
             element("LocationName", location) + element("Effective", effective) +
             element("Expires", expires) + element("Comment", comment) + "</GRID>";
    return *this;
}

LoadDocument& LoadDocument::raw(const std::string& xml) {
    body_ += xml;
    return *this;
}

std::string LoadDocument::str() const {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><VendorComments>" + body_ +
           "</VendorComments>";
}

std::string sampleDocument() {
    return LoadDocument()
        .loc("12", "Dock 1")
        .loc("14", "Office")
        .typ("4", "General")
        .typ("5", "Shipping")
        .grid("1", "General", "Dock 1", "3/1/2009", "", "Call first")
        .grid("2", "Shipping", "Office", "", "", "Don`t ship on Fridays")
        .grid("3", "General", "Office", "4/1/2009", "12/31/2009", "Prices fixed")
        .str();
}

void ControlTest::SetUp() {
    server.http.Get("/VendorCommentLOAD.asp",
                    [this](const httplib::Request&, httplib::Response& res) {
                        std::unique_lock lock(mutex_);
                        ++loadsArrived_;
                        documentsReleased_.wait(lock, [this] { return !documentsHeld_; });
                        res.status = documentStatus_;
                        res.set_content(document_, "text/xml");
                    });
    server.http.Post("/VendorCommentLOAD.asp",
                     [this](const httplib::Request&, httplib::Response& res) {
                         std::lock_guard lock(mutex_);
                         res.status = statementStatus_;
                         res.set_content(statementAnswer_, "text/plain");
                     });
    server.start();
    setDocument(sampleDocument());

    host = std::make_unique<VendorCommentWidget>();
    control = &controlOf(*host);
    window = host.get();
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
}

void ControlTest::TearDown() {
    holdDocuments(false);
    control = nullptr;
    host.reset();
}

void ControlTest::load(const std::string& mode, const std::string& vendor,
                       const std::string& serverDate) {
    control->LoadData(server.baseUrl(), vendor, mode, "7", "03/23/2009", serverDate);
}

void ControlTest::setDocument(const std::string& xml, int status) {
    std::lock_guard lock(mutex_);
    document_ = xml;
    documentStatus_ = status;
}

void ControlTest::holdDocuments(bool hold) {
    {
        std::lock_guard lock(mutex_);
        documentsHeld_ = hold;
    }
    documentsReleased_.notify_all();
}

int ControlTest::loadsArrived() const {
    std::lock_guard lock(mutex_);
    return loadsArrived_;
}

void ControlTest::setStatementAnswer(const std::string& body, int status) {
    std::lock_guard lock(mutex_);
    statementAnswer_ = body;
    statementStatus_ = status;
}

std::vector<std::string> ControlTest::statements() const {
    std::vector<std::string> sql;
    for (const TestServer::Request& request : server.requests()) {
        if (request.method != "POST")
            continue;
        httplib::Params params;
        httplib::detail::parse_query_text(request.body, params);
        sql.push_back(params.count("SQL") ? params.find("SQL")->second : "<no SQL field>");
    }
    return sql;
}

int ControlTest::loadCount() const {
    int count = 0;
    for (const TestServer::Request& request : server.requests())
        count += request.method == "GET";
    return count;
}

QWidget* ControlTest::widget(const std::string& name) {
    return platform::qt::findWidget(control->form(), name);
}

void ControlTest::click(const std::string& name) {
    gestures::click(form(), name);
}

void ControlTest::selectRow(int row) {
    gestures::selectRow(form(), row);
}

void ControlTest::doubleClickRow(int row) {
    gestures::selectRow(form(), row, true);
}

void ControlTest::keyOnList(int qtKey) {
    gestures::pressKey(form(), Qt::Key(qtKey));
}

void ControlTest::type(const std::string& text) {
    gestures::type(form(), QString::fromStdString(text));
}

void ControlTest::pick(const std::string& combo, int index) {
    gestures::pick(form(), combo, index);
}

void ControlTest::setDate(int index, int year, int month, int day) {
    gestures::setDate(form(), "DateBox(" + std::to_string(index) + ")", QDate(year, month, day));
}
