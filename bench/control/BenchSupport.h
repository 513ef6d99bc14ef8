#pragma once

// What the control's benchmarks share: the reference server page on loopback, the control in
// a shown window, a bare libcurl client to measure the wire against, and medians.

#include "control/VendorComment.h"
#include "http/CommentServer.h"

#include <curl/curl.h>

#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QWidget;

namespace bench {

// Where the reference server keeps its database: in the temporary directory, as a user would
// run it, or in memory (/dev/shm), where a commit does not wait for the disk.
enum class Database { OnDisk, InMemory };

// The reference server page over a fresh SQLite file, in this process: vendor B1 with
// `comments` comments, and vendor S1 with ten.
class ReferenceServer {
public:
    ReferenceServer(int comments, Database database);
    ~ReferenceServer();
    ReferenceServer(const ReferenceServer&) = delete;
    ReferenceServer& operator=(const ReferenceServer&) = delete;

    std::string baseUrl() const { return server_->baseUrl(); }
    std::string pageUrl() const { return baseUrl() + "VendorCommentLOAD.asp"; }
    std::string loadUrl(const std::string& vendor) const {
        return pageUrl() + "?Vendor=" + vendor + "&SCRN=&PODate=";
    }

private:
    QTemporaryDir dir_;
    std::unique_ptr<vcserver::CommentStore> store_;
    std::unique_ptr<vcserver::CommentServer> server_;
    std::thread thread_;
};

// One server per vendor size and database for the whole run: seeding 100,000 comments
// takes a while.
ReferenceServer& sharedServer(int comments, Database database = Database::OnDisk);
void releaseServers();

// The control in a shown window, message boxes answered with OK.
struct Control {
    Control();
    QWidget* widget(const char* name);
    void load(const std::string& baseUrl, const std::string& vendor);
    void enterComment(); // New Comment, then a comment, a location and a type
    void save();         // a click on Save
    tavik::VendorComment control;
};

// One libcurl handle, kept alive between requests as any plain client would.
class BareClient {
public:
    BareClient();
    ~BareClient();
    BareClient(const BareClient&) = delete;
    BareClient& operator=(const BareClient&) = delete;
    std::string get(const std::string& url);
    std::string post(const std::string& url, const std::string& body);

private:
    std::string perform();
    CURL* curl_;
    curl_slist* headers_;
    std::string body_;
};

// The wire and the parser, the floor the control is measured against: a pugixml parse of
// the document and a read of every GRID cell into a std::string. Returns the cells read;
// `lastSequences` receives the CommentSequence of the last two rows.
std::size_t parseAndReadCells(std::string& document,
                              std::vector<std::string>* lastSequences = nullptr);

// The comment every benchmark statement inserts.
inline constexpr const char* kBenchComment = "A comment of ordinary length for the benchmark";

double median(std::vector<double> values);

inline double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Resident set and heap in use of this process, in bytes.
struct MemoryUse {
    long resident;
    long heap;
};
MemoryUse memoryUse();

// Runs in a fresh process of this binary (see main): loads vendor S1, measures, loads B1,
// measures, loads S1 again, measures, and prints the six figures and the rows of B1.
int memoryProbe(const std::string& baseUrl);

} // namespace bench
