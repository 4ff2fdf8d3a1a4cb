#include "Fault.h"

namespace sim {

std::optional<Fault> parseFault(const std::string& text) {
    Fault fault;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(',', start);
        if (end == std::string::npos)
            end = text.size();
        std::string item = text.substr(start, end - start);
        std::string key = item.substr(0, item.find('='));
        std::string value = item.find('=') == std::string::npos ? "" : item.substr(item.find('=') + 1);
        try {
            if (key == "status") {
                fault.status = std::stoi(value);
                if (*fault.status < 100 || *fault.status > 599)
                    return std::nullopt;
            } else if (key == "delay") {
                fault.delayMs = std::stoi(value);
            } else if (key == "count") {
                fault.count = std::stoi(value);
            } else if (key == "drop") {
                fault.drop = true;
            } else if (key == "pass") {
                fault.passThrough = true;
            } else if (key == "raw") {
                fault.body = Fault::Body::raw;
                fault.rawBody = text.substr(start + 4);  // the rest of the text, commas included
                break;
            } else if (key == "body") {
                if (value == "malformed")
                    fault.body = Fault::Body::malformed;
                else if (value == "empty")
                    fault.body = Fault::Body::empty;
                else if (value == "error")
                    fault.body = Fault::Body::error;
                else
                    return std::nullopt;
            } else if (!key.empty()) {
                return std::nullopt;
            }
        } catch (const std::exception&) {
            return std::nullopt;
        }
        start = end + 1;
    }
    if (fault.delayMs < 0 || fault.delayMs > 600000 || fault.count < 0)
        return std::nullopt;
    return fault;
}

std::optional<Fault> faultFromJson(const Json& object) {
    Fault fault;
    try {
        if (object.contains("status"))
            fault.status = object.at("status").get<int>();
        if (object.contains("delayMs"))
            fault.delayMs = object.at("delayMs").get<int>();
        if (object.contains("count"))
            fault.count = object.at("count").get<int>();
        if (object.contains("drop"))
            fault.drop = object.at("drop").get<bool>();
        if (object.contains("passThrough"))
            fault.passThrough = object.at("passThrough").get<bool>();
        if (object.contains("rawBody")) {
            fault.body = Fault::Body::raw;
            fault.rawBody = object.at("rawBody").get<std::string>();
        } else if (object.contains("body")) {
            auto body = object.at("body").get<std::string>();
            if (body == "malformed")
                fault.body = Fault::Body::malformed;
            else if (body == "empty")
                fault.body = Fault::Body::empty;
            else if (body == "error")
                fault.body = Fault::Body::error;
            else
                return std::nullopt;
        }
    } catch (const Json::exception&) {
        return std::nullopt;
    }
    if ((fault.status && (*fault.status < 100 || *fault.status > 599)) || fault.delayMs < 0 ||
        fault.delayMs > 600000 || fault.count < 0)
        return std::nullopt;
    return fault;
}

void Fault::dropReply(httplib::Response& res) {
    res.set_header("X-Quorvane-Sim-Fault", "drop");
    res.set_content_provider(1024, "application/json",
                             [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
}

void Fault::replaceReply(httplib::Response& res) const {
    int replyStatus = status.value_or(passThrough ? res.status : 200);
    res.set_header("X-Quorvane-Sim-Fault", "reply");
    res.status = replyStatus;
    switch (body) {
        case Fault::Body::unchanged:
            if (!passThrough) {
                if (replyStatus >= 400)
                    res.set_content(text(errorBody(codeForStatus(replyStatus))), "application/json");
                else
                    res.set_content("", "application/json");
            }
            break;
        case Fault::Body::error:
            res.set_content(text(errorBody(codeForStatus(replyStatus))), "application/json");
            break;
        case Fault::Body::malformed:
            res.set_content("{\"error\": \"TRUNC", "application/json");
            break;
        case Fault::Body::empty:
            res.set_content("", "application/json");
            break;
        case Fault::Body::raw:
            res.set_content(rawBody, "application/json");
            break;
    }
}

}  // namespace sim
