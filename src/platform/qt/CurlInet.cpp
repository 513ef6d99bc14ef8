#include "CurlInet.h"
#include "../RuntimeError.h"
// placeholder: implemented by the transfer component work
namespace platform::qt {
namespace {
class NoInet : public Inet {
public:
    void Cancel() override {}
    void Execute(const std::string&, const std::string&, const std::string&,
                 const std::string&) override {
        throw RuntimeError("not implemented");
    }
    bool StillExecuting() const override { return false; }
    std::string GetChunk(int, int) override { return {}; }
    long ResponseCode() const override { return 0; }
    std::string ResponseInfo() const override { return {}; }
};
} // namespace
std::unique_ptr<Inet> createCurlInet(std::function<void(int)>) {
    return std::make_unique<NoInet>();
}
} // namespace platform::qt
