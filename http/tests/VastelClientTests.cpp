// The client's request building, status check and decoding, against a request sender that records the built
// requests and scripts the replies.
#include <gtest/gtest.h>

#include <chrono>

#include "HttpTestSupport.h"
#include "http/MidDateFormats.h"
#include "http/VastelClientLive.h"

namespace {

using httptest::FakeRequestSender;
using httptest::run;
using vastel::HTTPMethod;
using vastel::NetworkRequest;
using vastel::VastelClientLive;
using vastel::VastelError;
using Json = platform::json::Json;

struct Greeting {
    std::string text;
    platform::Date at;
    std::optional<std::int64_t> count;
};

void to_json(Json& json, const Greeting& value) {
    json = Json::object();
    platform::json::put(json, "text", value.text);
    platform::json::put(json, "at", vastel::dateFormatter(vastel::MidDateFormats::rfc3339).string(value.at));
    platform::json::put(json, "count", value.count);
}

void from_json(const Json& json, Greeting& value) {
    value.text = platform::json::required<std::string>(json, "text");
    value.at = vastel::requiredDate(json, "at");
    value.count = platform::json::optional<std::int64_t>(json, "count");
}

// A value whose JSON encoding fails (a text that is not UTF-8).
struct Unencodable {};
void to_json(Json& json, const Unencodable&) {
    json = Json{{"bad", std::string("\xFF\xFE")}};
}

platform::Date utc(int y, unsigned m, unsigned d, int h, int min, int s, int ms) {
    using namespace std::chrono;
    return platform::Date(duration_cast<platform::Date::duration>(
        (sys_days(year(y) / month(m) / day(d)) + hours(h) + minutes(min) + seconds(s) + milliseconds(ms))
            .time_since_epoch()));
}

struct Fixture : ::testing::Test {
    std::shared_ptr<FakeRequestSender> sender = std::make_shared<FakeRequestSender>();
    VastelClientLive client(const std::string& basePath = "https://server.example/srvremotesign") {
        return VastelClientLive(vastel::APIEnvironment(basePath), sender);
    }
};

using Client = Fixture;

TEST_F(Client, JoinsBasePathAndPathAsTextAndRejectsWhatDoesNotParse) {
    struct Case {
        std::string basePath;
        std::string path;
        std::optional<std::string> url;  // nothing: badURL
    };
    const Case cases[] = {
        {"https://server.example/srvremotesign", "/auth/getMeans",
         "https://server.example/srvremotesign/auth/getMeans"},
        {"https://server.example/srvremotesign/", "/auth/getMeans",
         "https://server.example/srvremotesign//auth/getMeans"},
        {"https://server.example/srvremotesign", "", "https://server.example/srvremotesign/"},
        {"https://server.example/srvremotesign", "auth", "https://server.example/srvremotesignauth"},
        {"https://server.example", "?a=1", "https://server.example?a=1"},
        {"https://server.example:8443/p", "/x%20y", "https://server.example:8443/p/x%20y"},
        {"", "/x", std::nullopt},
        {"https://server example/", "/x", std::nullopt},
        {"https://server.example", "/a b", std::nullopt},
        {"https://server.example", "/%zz", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.basePath + " + " + c.path);
        sender->requests.clear();
        auto vastel = client(c.basePath);
        NetworkRequest<platform::Bytes> request(HTTPMethod::get, c.path);
        EXPECT_EQ(vastel.absolutePath(request), c.url);
        auto outcome = run(vastel.send(request));
        if (c.url) {
            ASSERT_TRUE(outcome.value);
            ASSERT_EQ(sender->requests.size(), 1u);
            EXPECT_EQ(sender->requests[0].url.toString(QUrl::FullyEncoded).toStdString(), *c.url);
        } else {
            auto error = outcome.errorAs<vastel::VastelError>();
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind(), VastelError::Kind::networkError);
            EXPECT_TRUE(httptest::underlying<vastel::APIError>(*error));
            EXPECT_TRUE(sender->requests.empty());
        }
    }
}

TEST_F(Client, SetsMethodTimeOutBodyAndHeaderFields) {
    using Fields = std::vector<std::pair<std::string, std::string>>;
    struct Case {
        std::string name;
        HTTPMethod method;
        vastel::RequestBody body;
        vastel::HTTPHeaders headers;
        std::optional<std::string> sentBody;
        Fields fields;
    };
    const Greeting greeting{"hi/there", utc(2024, 2, 29, 13, 5, 9, 120), std::nullopt};
    const Case cases[] = {
        {"no body", HTTPMethod::get, {}, {}, std::nullopt, {}},
        {"no body, own header", HTTPMethod::delete_, {}, {{"X-A", "1"}}, std::nullopt, {{"X-A", "1"}}},
        {"text",
         HTTPMethod::post,
         std::string("h\xC3\xA9"),
         {},
         "h\xC3\xA9",
         {{"Content-Type", "application/json"}}},
        {"bytes",
         HTTPMethod::put,
         platform::Bytes{0, 1, 2},
         {},
         std::string("\0\1\2", 3),
         {{"Content-Type", "application/json"}}},
        {"JSON",
         HTTPMethod::post,
         greeting,
         {},
         R"({"text":"hi/there","at":"2024-02-29T13:05:09.120Z"})",
         {{"Content-Type", "application/json"}}},
        {"own Content-Type",
         HTTPMethod::post,
         "x",
         {{"Content-Type", "text/plain"}},
         "x",
         {{"Content-Type", "text/plain"}}},
        {"own content-type in other case",
         HTTPMethod::post,
         "x",
         {{"content-type", "text/plain"}},
         "x",
         {{"content-type", "text/plain"}}},
        {"both spellings",
         HTTPMethod::post,
         "x",
         {{"CONTENT-TYPE", "x/y"}, {"Content-Type", "a/b"}},
         "x",
         {{"Content-Type", "a/b"}}},
        {"own header keeps the default",
         HTTPMethod::post,
         "x",
         {{"Accept", "*/*"}},
         "x",
         {{"Content-Type", "application/json"}, {"Accept", "*/*"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sender->requests.clear();
        auto vastel = client();
        ASSERT_TRUE(
            run(vastel.send(NetworkRequest<platform::Bytes>(c.method, "/p", c.body, c.headers))).value);
        ASSERT_EQ(sender->requests.size(), 1u);
        const auto& sent = sender->requests[0];
        EXPECT_EQ(sent.httpMethod, vastel::rawValue(c.method));
        EXPECT_EQ(sent.timeoutInterval, std::chrono::seconds(60));
        if (c.sentBody) {
            ASSERT_TRUE(sent.httpBody);
            EXPECT_EQ(platform::toString(*sent.httpBody), *c.sentBody);
        } else {
            EXPECT_FALSE(sent.httpBody);
        }
        EXPECT_EQ(sent.allHTTPHeaderFields.fields(), c.fields);
    }
}

TEST_F(Client, AcceptsStatuses200To299AndOtherwiseCarriesBodyAndResponse) {
    const std::pair<int, bool> cases[] = {{100, false}, {199, false}, {200, true},  {204, true}, {299, true},
                                          {300, false}, {304, false}, {404, false}, {500, false}};
    for (auto [status, accepted] : cases) {
        SCOPED_TRACE(status);
        sender->answer = [status](const vastel::URLRequest& r) {
            auto result = FakeRequestSender::reply(status, "body " + std::to_string(status), r.url);
            result.response.headerFields.setValue("yes", "X-Reply");
            return result;
        };
        auto outcome = run(client().send(NetworkRequest<std::string>(HTTPMethod::get, "/s")));
        if (accepted) {
            ASSERT_TRUE(outcome.value);
            EXPECT_EQ(outcome.value->statusCode(), status);
            EXPECT_EQ(outcome.value->value, "body " + std::to_string(status));
        } else {
            auto error = outcome.errorAs<vastel::VastelError>();
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind(), VastelError::Kind::unexpectedStatusCode);
            EXPECT_EQ(platform::toString(error->body()), "body " + std::to_string(status));
            EXPECT_EQ(error->response().statusCode(), status);
            EXPECT_EQ(error->response().headerFields.value("x-reply"), "yes");
        }
    }
}

TEST_F(Client, ResponseThatIsNotHTTPIsNotCheckedAndHasStatusZero) {
    sender->answer = [](const vastel::URLRequest&) {
        vastel::RequestSenderResult result;
        result.data = platform::toBytes("plain");
        return result;
    };
    auto outcome = run(client().send(NetworkRequest<platform::Bytes>(HTTPMethod::get, "/")));
    ASSERT_TRUE(outcome.value);
    EXPECT_EQ(outcome.value->statusCode(), 0);
    EXPECT_EQ(outcome.value->data, platform::toBytes("plain"));
}

TEST_F(Client, DecodesBytesTextAndJSON) {
    auto answer = [this](std::string body) {
        sender->answer = [body](const vastel::URLRequest& r) {
            return FakeRequestSender::reply(200, body, r.url);
        };
    };
    auto vastel = client();

    answer("");
    auto bytes = run(vastel.send(NetworkRequest<platform::Bytes>(HTTPMethod::get, "/")));
    ASSERT_TRUE(bytes.value);
    EXPECT_EQ(bytes.value->value, platform::Bytes{});

    answer("caf\xC3\xA9");
    auto text = run(vastel.send(NetworkRequest<std::string>(HTTPMethod::get, "/")));
    ASSERT_TRUE(text.value);
    EXPECT_EQ(text.value->value, "caf\xC3\xA9");

    // Not UTF-8 (a lone continuation byte, an overlong slash, a surrogate): no value, and no error.
    for (std::string bad : {"\x80", "\xC0\xAF", "\xED\xA0\x80", "abc\xE2\x82"}) {
        answer(bad);
        auto invalid = run(vastel.send(NetworkRequest<std::string>(HTTPMethod::get, "/")));
        ASSERT_TRUE(invalid.value);
        EXPECT_FALSE(invalid.value->value);
        EXPECT_EQ(platform::toString(invalid.value->data), bad);
    }

    answer(R"({"text":"hi","at":"2024-02-29T13:05:09.120+01:00","count":3})");
    auto json = run(vastel.send(NetworkRequest<Greeting>(HTTPMethod::get, "/")));
    ASSERT_TRUE(json.value);
    ASSERT_TRUE(json.value->value);
    EXPECT_EQ(json.value->value->text, "hi");
    EXPECT_EQ(json.value->value->at, utc(2024, 2, 29, 12, 5, 9, 120));
    EXPECT_EQ(json.value->value->count, 3);
}

TEST_F(Client, UndecodableRepliesGiveDecodingError) {
    for (std::string body :
         {"", "{", R"({"at":"2024-02-29T13:05:09.120Z"})", R"({"text":"hi","at":"2024-02-29T13:05:09Z"})",
          R"({"text":1,"at":"2024-02-29T13:05:09.120Z"})",
          R"({"text":"hi","at":"2024-02-29T13:05:09.120Z","count":1.5})", "[]"}) {
        SCOPED_TRACE(body);
        sender->answer = [body](const vastel::URLRequest& r) {
            return FakeRequestSender::reply(200, body, r.url);
        };
        auto error =
            run(client().send(NetworkRequest<Greeting>(HTTPMethod::get, "/"))).errorAs<vastel::VastelError>();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), VastelError::Kind::decodingError);
        EXPECT_TRUE(httptest::underlying<platform::json::DecodingError>(*error));
    }
}

TEST_F(Client, BodyThatCannotBeEncodedIsANetworkErrorAndHasNoAbsolutePath) {
    auto vastel = client();
    NetworkRequest<platform::Bytes> request(HTTPMethod::post, "/p", Unencodable{});
    EXPECT_EQ(vastel.absolutePath(request), std::nullopt);
    auto error = run(vastel.send(request)).errorAs<vastel::VastelError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), VastelError::Kind::networkError);
    EXPECT_FALSE(httptest::underlying<vastel::APIError>(*error));
    EXPECT_TRUE(sender->requests.empty());
}

TEST_F(Client, TransportFailureIsANetworkErrorCarryingIt) {
    sender->answer = [](const vastel::URLRequest&) -> vastel::RequestSenderResult {
        throw vastel::TransportError(99, "connection refused");
    };
    auto error = run(client().send(NetworkRequest<platform::Bytes>(HTTPMethod::get, "/")))
                     .errorAs<vastel::VastelError>();
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), VastelError::Kind::networkError);
    auto transport = httptest::underlying<vastel::TransportError>(*error);
    ASSERT_TRUE(transport);
    EXPECT_EQ(transport->code(), 99);
    EXPECT_STREQ(error->what(), "connection refused");
}

TEST(HTTPMethod, RawValuesAreExact) {
    EXPECT_EQ(vastel::rawValue(HTTPMethod::delete_), "DELETE");
    EXPECT_EQ(vastel::rawValue(HTTPMethod::get), "GET");
    EXPECT_EQ(vastel::rawValue(HTTPMethod::post), "POST");
    EXPECT_EQ(vastel::rawValue(HTTPMethod::put), "PUT");
    for (auto method : {HTTPMethod::delete_, HTTPMethod::get, HTTPMethod::post, HTTPMethod::put})
        EXPECT_EQ(vastel::httpMethodFromRawValue(vastel::rawValue(method)), method);
    for (const char* other : {"get", "Post", "PATCH", "", "GET "})
        EXPECT_EQ(vastel::httpMethodFromRawValue(other), std::nullopt) << other;
}

TEST(MidDateFormats, ReadsOnlyTheExactFormat) {
    const auto formatter = vastel::dateFormatter(vastel::MidDateFormats::rfc3339);
    EXPECT_EQ(formatter.dateFormat(), "yyyy-MM-dd'T'HH:mm:ss.SSSZZZZZ");
    const std::pair<const char*, std::optional<platform::Date>> cases[] = {
        {"2024-02-29T13:05:09.120Z", utc(2024, 2, 29, 13, 5, 9, 120)},
        {"2024-02-29T13:05:09.120+01:00", utc(2024, 2, 29, 12, 5, 9, 120)},
        {"2024-01-01T00:30:00.000-05:30", utc(2024, 1, 1, 6, 0, 0, 0)},
        {"1999-12-31T23:59:59.999+00:00", utc(1999, 12, 31, 23, 59, 59, 999)},
        {"2024-02-29T13:05:09Z", std::nullopt},
        {"2024-02-29T13:05:09.12Z", std::nullopt},
        {"2024-02-29T13:05:09.1200Z", std::nullopt},
        {"2023-02-29T13:05:09.120Z", std::nullopt},
        {"2024-13-01T13:05:09.120Z", std::nullopt},
        {"2024-02-29T24:00:00.000Z", std::nullopt},
        {"2024-02-29T13:05:09.120", std::nullopt},
        {"2024-02-29T13:05:09.120+0100", std::nullopt},
        {"2024-02-29t13:05:09.120Z", std::nullopt},
        {"2024-02-29T13:05:09.120Z ", std::nullopt},
        {"", std::nullopt},
        // Beyond what the clock holds: its first or last point, never a wrapped-around date.
        {"9999-12-31T23:59:59.999Z", platform::clampedDate(std::chrono::milliseconds::max())},
        {"2262-04-12T00:00:00.000+00:00", platform::clampedDate(std::chrono::milliseconds::max())},
        {"0000-01-01T00:00:00.000Z", platform::clampedDate(std::chrono::milliseconds::min())},
        {"1677-09-21T00:00:00.000+00:00", platform::clampedDate(std::chrono::milliseconds::min())},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(formatter.date(text), expected) << text;
    EXPECT_EQ(formatter.string(utc(2024, 2, 29, 13, 5, 9, 120)), "2024-02-29T13:05:09.120Z");
    EXPECT_EQ(formatter.string(utc(1970, 1, 1, 0, 0, 0, 0) - std::chrono::milliseconds(1)),
              "1969-12-31T23:59:59.999Z");
}

}  // namespace
