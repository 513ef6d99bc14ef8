#include "BenchSupport.h"

#include "platform/MessageBox.h"
#include "platform/qt/QtForm.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QTest>
#include <QWidget>

#include <pugixml.hpp>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <stdexcept>

using namespace tavik;

namespace bench {

ReferenceServer::ReferenceServer(int comments, Database database)
    : dir_(database == Database::InMemory && QDir("/dev/shm").exists()
               ? QString("/dev/shm/vc-bench-XXXXXX")
               : QDir::tempPath() + "/vc-bench-XXXXXX") {
    store_ = vcserver::openSqliteStore(dir_.filePath("bench.db").toStdString());
    vcserver::DemoData data;
    data.locations = {{12, "Dock 1"}, {13, "Receiving office"}};
    data.types = {{4, "General"}, {5, "Credit and terms"}};
    // Comments of ordinary length, about half of them with dates: some 380 bytes of document
    // a comment, as a real vendor's list comes to.
    const auto add = [&](const std::string& vendor, int i) {
        vcserver::DemoComment c{vendor, 4 + i % 2, 12 + i % 2, {}, {}, {}};
        if (i % 2 == 0) {
            c.effective = vcserver::CalendarDate{2009, 1 + i % 12, 1 + i % 28};
            c.expires = vcserver::CalendarDate{2010, 1 + i % 12, 1 + i % 28};
        }
        c.comment = "Comment " + std::to_string(i) + ": deliveries at the rear door before noon";
        data.comments.push_back(std::move(c));
    };
    for (int i = 0; i < comments; ++i)
        add("B1", i);
    for (int i = 0; i < 10; ++i)
        add("S1", i);
    store_->seed(data);
    server_ = std::make_unique<vcserver::CommentServer>(*store_, nullptr, 8);
    server_->bind("127.0.0.1", 0);
    thread_ = std::thread([this] { server_->run(); });
}

ReferenceServer::~ReferenceServer() {
    server_->stop();
    thread_.join();
}

namespace {
std::map<std::pair<int, Database>, std::unique_ptr<ReferenceServer>>& servers() {
    static std::map<std::pair<int, Database>, std::unique_ptr<ReferenceServer>> all;
    return all;
}
} // namespace

ReferenceServer& sharedServer(int comments, Database database) {
    auto& slot = servers()[{comments, database}];
    if (!slot)
        slot = std::make_unique<ReferenceServer>(comments, database);
    return *slot;
}

void releaseServers() {
    servers().clear();
}

Control::Control() {
    platform::setMessageBoxHandler(
        [](const std::string&, int, const std::string&) { return platform::vbOK; });
    platform::qt::widgetOf(control.form())->show();
    QApplication::processEvents();
}

QWidget* Control::widget(const char* name) {
    return platform::qt::findWidget(control.form(), name);
}

void Control::load(const std::string& baseUrl, const std::string& vendor) {
    control.LoadData(baseUrl, vendor, "1", "", "", "1/1/2020");
}

void Control::enterComment() {
    QTest::mouseClick(widget("cmdAdd"), Qt::LeftButton);
    control.form().txtComment().setText(kBenchComment);
    qobject_cast<QComboBox*>(widget("cboLocation"))->setCurrentIndex(0);
    qobject_cast<QComboBox*>(widget("cboType"))->setCurrentIndex(0);
}

void Control::save() {
    QTest::mouseClick(widget("cmdAdd"), Qt::LeftButton);
}

BareClient::BareClient()
    : curl_(curl_easy_init()),
      headers_(curl_slist_append(nullptr, "Content-Type: application/x-www-form-urlencoded")) {
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(
        curl_, CURLOPT_WRITEFUNCTION, +[](char* data, size_t size, size_t n, void* body) {
            static_cast<std::string*>(body)->append(data, size * n);
            return size * n;
        });
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, &body_);
}

BareClient::~BareClient() {
    curl_slist_free_all(headers_);
    curl_easy_cleanup(curl_);
}

std::string BareClient::get(const std::string& url) {
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, nullptr);
    return perform();
}

std::string BareClient::post(const std::string& url, const std::string& body) {
    curl_easy_setopt(curl_, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE, long(body.size()));
    curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.c_str());
    return perform();
}

std::string BareClient::perform() {
    body_.clear();
    if (curl_easy_perform(curl_) != CURLE_OK)
        throw std::runtime_error("bare request failed");
    return std::move(body_);
}

std::size_t parseAndReadCells(std::string& document, std::vector<std::string>* lastSequences) {
    pugi::xml_document doc;
    if (!doc.load_buffer_inplace(document.data(), document.size()))
        throw std::runtime_error("the load document did not parse");
    std::size_t cells = 0;
    std::string previous, last;
    for (const pugi::xml_node grid : doc.document_element().children("GRID")) {
        int position = 0;
        for (const pugi::xml_node cell : grid.children()) {
            std::string text = cell.child_value();
            if (position++ == 1)
                previous = std::exchange(last, text);
            ++cells;
        }
    }
    if (lastSequences)
        *lastSequences = {previous, last};
    return cells;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

MemoryUse memoryUse() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    const struct mallinfo2 heap = mallinfo2();
    return {resident * sysconf(_SC_PAGESIZE), long(heap.uordblks + heap.hblkhd)};
}

int memoryProbe(const std::string& baseUrl) {
    Control c;
    c.load(baseUrl, "S1");
    QApplication::processEvents();
    const MemoryUse before = memoryUse();
    c.load(baseUrl, "B1");
    QApplication::processEvents(); // the first paint, as a user would see the list
    const MemoryUse loaded = memoryUse();
    const int rows = c.control.form().lstComments().count();
    c.load(baseUrl, "S1");
    QApplication::processEvents();
    const MemoryUse after = memoryUse();
    std::printf("%ld %ld %ld %ld %ld %ld %d\n", before.resident, loaded.resident, after.resident,
                before.heap, loaded.heap, after.heap, rows);
    return 0;
}

} // namespace bench
