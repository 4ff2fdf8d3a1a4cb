#include "AppOpenMode.h"

namespace {

template <class... Handlers>
struct Overloaded : Handlers... {
    using Handlers::operator()...;
};

std::string describe(const SigningRequestType& request) {
    return std::visit(Overloaded{
                          [](const SigningRequestType::OverXPC& xpc) {
                              return std::string("overXPC(hash: ") + (xpc.hash ? "present" : "none") + ")";
                          },
                          [](const SigningRequestType::Bulk& bulk) {
                              return "bulk(" + std::to_string(bulk.request.signData.size()) +
                                     " hashes, callback: " + bulk.callbackLink + ")";
                          },
                      },
                      request.value);
}

}  // namespace

std::string AppOpenMode::description() const {
    return std::visit(Overloaded{
                          [](const GetCertificate& mode) {
                              return std::string("getCertificate(showResult: ") +
                                     (mode.showResult ? "true" : "false") + ")";
                          },
                          [](const Sign& mode) { return "sign(" + describe(mode.request) + ")"; },
                          [](const Menu&) { return std::string("menu"); },
                          [](const AccountInfo&) { return std::string("accountInfo"); },
                          [](const Settings&) { return std::string("settings"); },
                      },
                      value);
}
