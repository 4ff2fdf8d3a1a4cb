#include "AppVersionsDocument.h"

#include <nlohmann/json.hpp>

namespace sim {

void serveAppVersions(Transport& transport) {
    transport.get(appVersionsPath, [](const httplib::Request&, httplib::Response& res) {
        const nlohmann::ordered_json release = {
            {"osVersion", {{"min", "0.0.0"}}},
            {"version", QUORVANE_VERSION},
            {"links", {{"default", "https://www.quorvane.example/download"}}},
        };
        const nlohmann::ordered_json document = {
            {"platforms", {{"linux", {{"components", {{"quorvane", {{"releases", {release}}}}}}}}}}};
        res.set_content(document.dump(2), "application/json");
    });
}

}  // namespace sim
