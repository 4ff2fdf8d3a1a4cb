// The framed exchange with a real bridge process: the bytes on its input, the failures of its output, and
// that no process outlives its exchange.
#include <signal.h>

#include <QElapsedTimer>
#include <fstream>
#include <functional>

#include "BridgeFixture.h"
#include "cardbridge/BridgeMessages.h"

using namespace cardtest;
using pindle::VexoConnectError;
using pindle::VexoConnectInvoker;

namespace {

const char* okAuthReply = R"({"result":"OK","correlationId":"C","operation":"AUTH","signature":"AAEC"})";

std::string exchange(const std::string& json) {
    VexoConnectInvoker invoker;
    return await(invoker.exchange(json));
}

}  // namespace

TEST(VexoConnectInvoker, WritesOneFrameAndClosesTheInputRightAfterIt) {
    Bridge bridge;
    bridge.script(Json::array({Json{{"replyText", "{}"}}}));
    bridge.install();

    // 300 bytes of JSON: the length goes out as 2C 01 00 00.
    std::string json = R"({"operation":"VERSION","padding":")";
    json += std::string(300 - json.size() - 2, 'x') + "\"}";
    ASSERT_EQ(json.size(), 300u);
    EXPECT_EQ(exchange(json), "{}");

    auto input = bridge.input(0);
    ASSERT_EQ(input.size(), 304u);
    EXPECT_EQ((platform::Bytes{input.begin(), input.begin() + 4}), (platform::Bytes{0x2C, 0x01, 0x00, 0x00}));
    EXPECT_EQ(std::string(input.begin() + 4, input.end()), json);
    EXPECT_TRUE(bridge.records().at(0).value("inputClosedAfterPayload", false));
    EXPECT_TRUE(allRunsGone(bridge));
}

TEST(VexoConnectInvoker, SendsTheRequestWithBareSlashesAndDecodesTheReply) {
    Bridge bridge;
    bridge.script(Json::array({Json{{"replyText", okAuthReply}}}));
    bridge.install();

    pindle::UserCertsRequest request;
    request.correlationId = "E621E1F8-C36C-495A-93FC-0C247A3E6E5F";
    VexoConnectInvoker invoker;
    auto reply = await(invoker.invoke<pindle::SignReply>(request));
    EXPECT_EQ(reply.signature, "AAEC");

    auto input = bridge.input(0);
    std::string text(input.begin() + 4, input.end());
    EXPECT_NE(text.find(R"("origin":"https://id.quorvane-sign.com")"), std::string::npos) << text;
    EXPECT_EQ(text.find("\\/"), std::string::npos);
}

TEST(VexoConnectInvoker, TerminatesTheBridgeAfterACompleteReply) {
    Bridge bridge;
    bridge.script(Json::array({Json{{"replyText", okAuthReply}, {"hangAfterReply", true}}}));
    bridge.install();

    EXPECT_EQ(exchange("{}"), okAuthReply);
    EXPECT_TRUE(allRunsGone(bridge));
    EXPECT_TRUE(bridge.records().at(0).value("terminated", false));
}

// What the caller gets for each way a bridge can answer badly, and that the bridge is gone afterwards.
TEST(VexoConnectInvoker, TransportFailures) {
    using Case = VexoConnectError::Case;
    struct Row {
        const char* name;
        Json step;
        std::function<void(const std::exception_ptr&)> check;
        bool terminated = false;  // the bridge was still running and had to be terminated
    };
    auto is = [](Case expected) {
        return [expected](const std::exception_ptr& error) {
            try {
                std::rethrow_exception(error);
            } catch (const VexoConnectError& e) {
                EXPECT_EQ(e.kind(), expected);
            } catch (const std::exception& e) {
                ADD_FAILURE() << "unexpected error " << e.what();
            }
        };
    };
    auto isDecoderError = [](const std::exception_ptr& error) {
        try {
            std::rethrow_exception(error);
        } catch (const platform::json::DecodingError&) {
        } catch (const std::exception& e) {
            ADD_FAILURE() << "expected the decoder's own error, got " << e.what();
        }
    };
    std::vector<Row> rows = {
        {"three length bytes", {{"fault", "threeByteLength"}}, is(Case::unexpectedEOF)},
        {"10 announced, 6 sent", {{"fault", "shortPayload"}}, is(Case::unexpectedEOF)},
        {"zero length", {{"fault", "zeroLength"}}, isDecoderError},
        {"invalid UTF-8", {{"fault", "invalidUTF8"}}, is(Case::invalidReplyEncoding)},
        {"4 GiB announced", {{"fault", "hugeLength"}}, is(Case::unexpectedEOF), true},
        {"16 MiB + 1 announced",
         {{"fault", "hugeLength"}, {"length", 16 * 1024 * 1024 + 1}},
         is(Case::unexpectedEOF),
         true},
        {"exit before reading", {{"fault", "exitBeforeReading"}}, is(Case::unexpectedEOF)},
        {"lower-case operation",
         {{"replyText", R"({"result":"OK","correlationId":"C","operation":"auth"})"}},
         isDecoderError},
        {"unknown operation",
         {{"replyText", R"({"result":"OK","correlationId":"C","operation":"PING"})"}},
         isDecoderError},
        {"no correlation id", {{"replyText", R"({"result":"no_card","operation":"AUTH"})"}}, isDecoderError},
        {"not JSON", {{"replyText", "OK"}}, isDecoderError},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bridge bridge;
        bridge.script(Json::array({row.step}));
        bridge.install();
        std::exception_ptr error;
        {
            VexoConnectInvoker invoker;
            pindle::SignRequest request;
            error = testsupport::run(invoker.invoke<pindle::SignReply>(request)).error;
        }
        ASSERT_TRUE(error);
        row.check(error);
        EXPECT_TRUE(allRunsGone(bridge));
        if (row.terminated) {
            EXPECT_TRUE(bridge.records().at(0).value("terminated", false));
        }
    }
}

TEST(VexoConnectInvoker, AWriteToABridgeThatExitedIsAFailureNotASignal) {
    Bridge bridge;
    bridge.script(Json::array({Json{{"fault", "exitBeforeReading"}}}));
    bridge.install();
    // Far more than a pipe holds, so the write meets the closed pipe.
    std::string json = "\"" + std::string(4 * 1024 * 1024, 'x') + "\"";
    try {
        exchange(json);
        ADD_FAILURE() << "the exchange succeeded";
    } catch (const VexoConnectError& e) {
        EXPECT_EQ(e.kind(), VexoConnectError::Case::unexpectedEOF);
    }
    EXPECT_TRUE(allRunsGone(bridge));
}

namespace {

// Peak resident memory of this process, in bytes (reset by writing 5 to clear_refs).
std::size_t peakResidentBytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoul(line.substr(6)) * 1024;
    return 0;
}

}  // namespace

TEST(VexoConnectInvoker, OutputAfterARefusedReplyIsNotKept) {
#ifdef QUORVANE_SANITIZED
    GTEST_SKIP() << "the sanitizer holds freed memory back: the peak says nothing of what the client keeps";
#endif
    Bridge guard;  // restores the bridge location afterwards
    auto dir = testsupport::makeTempDir("flood");
    // Announces 4 GiB, ignores the terminate request and floods its output with 64 MiB.
    const auto done = dir / "done";
    testsupport::writeFile(dir / "VexoConnect_2_12",
                           "#!/bin/sh\ntrap '' TERM\ncat > /dev/null\nprintf '\\377\\377\\377\\377'\n"
                           "head -c 67108864 /dev/zero\ntouch '" +
                               done.string() + "'\nsleep 1\n");
    std::filesystem::permissions(dir / "VexoConnect_2_12", std::filesystem::perms::owner_all);
    VexoConnectInvoker::setExecutableLocationOverride(dir / "VexoConnect_2_12");

    std::ofstream("/proc/self/clear_refs") << "5";
    const std::size_t before = peakResidentBytes();
    try {
        exchange("{}");
        ADD_FAILURE() << "the exchange succeeded";
    } catch (const VexoConnectError& e) {
        EXPECT_EQ(e.kind(), VexoConnectError::Case::unexpectedEOF);
    }
    // The event loop runs freely meanwhile, as it does in the app.
    QElapsedTimer timer;
    timer.start();
    while (!std::filesystem::exists(done) && timer.elapsed() < 20000)
        QCoreApplication::processEvents();
    ASSERT_TRUE(std::filesystem::exists(done));
    EXPECT_LT(peakResidentBytes(), before + 32 * 1024 * 1024);
    EXPECT_TRUE(eventually([] { return VexoConnectInvoker::liveProcessCount() == 0; }, bridgeLimit));
}

TEST(VexoConnectInvoker, ResultCheck) {
    struct Row {
        const char* reply;
        bool ok;
        std::string result;
        std::optional<std::string> resultRaw;
    };
    std::vector<Row> rows = {
        {R"({"result":"ok","correlationId":"C","operation":"AUTH"})", true, "", std::nullopt},
        {R"({"result":"Ok","correlationId":"C","operation":"AUTH","signature":"AA=="})", true, "",
         std::nullopt},
        {R"({"result":"general_error","resultRaw":"27010","correlationId":"C","operation":"AUTH"})", false,
         "general_error", "27010"},
        {R"({"result":"no_card","correlationId":"C","operation":"AUTH"})", false, "no_card", std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.reply);
        try {
            VexoConnectInvoker::decodeReply<pindle::SignReply>(row.reply);
            EXPECT_TRUE(row.ok);
        } catch (const VexoConnectError& e) {
            EXPECT_FALSE(row.ok);
            EXPECT_EQ(e.kind(), VexoConnectError::Case::errorResponse);
            EXPECT_EQ(e.result(), row.result);
            EXPECT_EQ(e.resultRaw(), row.resultRaw);
        }
    }
}

TEST(VexoConnectInvoker, AnOKReplyMissingAFieldOfTheReplyTypeIsDecodingFailed) {
    const std::string text = R"({"result":"OK","correlationId":"C","operation":"USERCERTS"})";
    try {
        VexoConnectInvoker::decodeReply<pindle::UserCertsReply>(text);
        ADD_FAILURE() << "decoded";
    } catch (const VexoConnectError& e) {
        EXPECT_EQ(e.kind(), VexoConnectError::Case::decodingFailed);
        EXPECT_EQ(e.replyText(), text);
        EXPECT_NE(e.decodingError().find("Readers"), std::string::npos) << e.decodingError();
    }
}

TEST(VexoConnectInvoker, RequestsThatAreNotUTF8AreNotSent) {
    Bridge bridge;
    pindle::SignRequest request;
    request.pin = "\xff\xfe";
    try {
        VexoConnectInvoker invoker;
        await(invoker.invoke<pindle::SignReply>(request));
        ADD_FAILURE() << "sent";
    } catch (const VexoConnectError& e) {
        EXPECT_EQ(e.kind(), VexoConnectError::Case::encodingFailed);
    }
    EXPECT_EQ(bridge.runs(), 0u);
}

TEST(VexoConnectInvoker, MissingAndUnstartableBridgePrograms) {
    Bridge bridge;
    auto dir = testsupport::makeTempDir("programs");
    VexoConnectInvoker::setExecutableLocationOverride(dir / "VexoConnect_2_12");
    try {
        exchange("{}");
        ADD_FAILURE() << "ran";
    } catch (const VexoConnectError& e) {
        EXPECT_EQ(e.kind(), VexoConnectError::Case::executableNotFound);
    }

    // A file that is there but cannot be run: the launch error itself.
    testsupport::writeFile(dir / "VexoConnect_2_12", "not a program");
    try {
        exchange("{}");
        ADD_FAILURE() << "ran";
    } catch (const pindle::ProcessError& e) {
        EXPECT_EQ(e.kind(), pindle::ProcessError::Kind::launchFailed);
        EXPECT_STRNE(e.what(), "");
    }
    EXPECT_EQ(bridge.runs(), 0u);
}

TEST(VexoConnectInvoker, FindsTheBridgeNextToTheProgram) {
    VexoConnectInvoker::setExecutableLocationOverride(std::nullopt);
    EXPECT_EQ(VexoConnectInvoker::executableLocation(), bridgeProgram());
}

TEST(VexoConnectInvoker, ValidatesUTF8Strictly) {
    EXPECT_TRUE(pindle::isValidUTF8("plain \xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80"));
    for (const char* bad :
         {"\xc0\xaf", "\xe0\x80\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xc3", "\x80", "\xff"})
        EXPECT_FALSE(pindle::isValidUTF8(bad)) << bad;
}
