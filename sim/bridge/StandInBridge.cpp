#include "StandInBridge.h"

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace bridge {
namespace {

using Json = nlohmann::ordered_json;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t maxRequestLength = 64u * 1024 * 1024;
constexpr const char* defaultOrigin = "https://id.quorvane-sign.com";

// --- Base64 and certificates

std::string base64(const Bytes& bytes) {
    if (bytes.empty())
        return {};
    std::string out(4 * ((bytes.size() + 2) / 3), '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                            static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::optional<Bytes> unbase64(const std::string& text) {
    if (text.empty())
        return Bytes{};
    if (text.size() % 4 != 0)
        return std::nullopt;
    Bytes out(text.size() / 4 * 3);
    int n = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                            static_cast<int>(text.size()));
    if (n < 0)
        return std::nullopt;
    std::size_t padding = (text.back() == '=') + (text.size() > 1 && text[text.size() - 2] == '=');
    out.resize(static_cast<std::size_t>(n) - padding);
    return out;
}

std::optional<Bytes> derOfPEM(const std::string& pem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())),
                                                  BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> x509(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr),
                                                     X509_free);
    if (!x509)
        return std::nullopt;
    int length = i2d_X509(x509.get(), nullptr);
    if (length <= 0)
        return std::nullopt;
    Bytes der(static_cast<std::size_t>(length));
    unsigned char* p = der.data();
    i2d_X509(x509.get(), &p);
    return der;
}

// The digests that "algo" may name.
const EVP_MD* digestOfAlgo(const std::string& algo) {
    if (algo == "SHA-1")
        return EVP_sha1();
    if (algo == "SHA-224")
        return EVP_sha224();
    if (algo == "SHA-256")
        return EVP_sha256();
    if (algo == "SHA-384")
        return EVP_sha384();
    if (algo == "SHA-512")
        return EVP_sha512();
    return nullptr;
}

std::optional<Bytes> signDigest(const std::string& keyPEM, const EVP_MD* md, const Bytes& digest) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(keyPEM.data(), static_cast<int>(keyPEM.size())), BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    if (!key)
        return std::nullopt;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr),
                                                                    EVP_PKEY_CTX_free);
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) <= 0)
        return std::nullopt;
    bool rsa = EVP_PKEY_get_base_id(key.get()) == EVP_PKEY_RSA;
    if (rsa && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) <= 0)
        return std::nullopt;
    if (EVP_PKEY_CTX_set_signature_md(ctx.get(), md) <= 0)
        return std::nullopt;
    std::size_t length = 0;
    if (EVP_PKEY_sign(ctx.get(), nullptr, &length, digest.data(), digest.size()) <= 0)
        return std::nullopt;
    Bytes signature(length);
    if (EVP_PKEY_sign(ctx.get(), signature.data(), &length, digest.data(), digest.size()) <= 0)
        return std::nullopt;
    signature.resize(length);
    return signature;
}

// --- Raw input and output

bool writeAll(int fd, const void* data, std::size_t size) {
    auto p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Appends up to `count` bytes read from fd to `out`; false when the input ended first.
bool readExactly(int fd, std::size_t count, Bytes& out) {
    std::size_t start = out.size();
    out.resize(start + count);
    std::size_t have = 0;
    while (have < count) {
        ssize_t n = ::read(fd, out.data() + start + have, count - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            out.resize(start + have);
            return false;
        }
        have += static_cast<std::size_t>(n);
    }
    return true;
}

bool writeFrame(const std::string& payload) {
    std::uint32_t length = static_cast<std::uint32_t>(payload.size());
    std::uint8_t header[4] = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                              static_cast<std::uint8_t>(length >> 16),
                              static_cast<std::uint8_t>(length >> 24)};
    return writeAll(1, header, 4) && writeAll(1, payload.data(), payload.size());
}

// The start time of a process (in clock ticks since boot), which tells it apart from a later process that got
// the same pid; nothing when there is no such process.
std::optional<std::string> processStartTime(long pid) {
    // Plain reads: the process may exit while its file is read.
    int fd = ::open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buffer[1024];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    if (n < 0)
        return std::nullopt;
    auto end = text.rfind(')');
    if (end == std::string::npos)
        return std::nullopt;
    std::istringstream fields(text.substr(end + 1));
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22)
            return field;
    return std::nullopt;
}

// --- State next to the setup

class StateFile {
  public:
    explicit StateFile(std::string path) : path_(std::move(path)) {}

    // Runs `change` on the state under an exclusive lock and writes the result back.
    void update(const std::function<void(Json&)>& change) {
        if (path_.empty()) {
            change(memory_);
            return;
        }
        int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            std::cerr << "bridge: cannot open " << path_ << ": " << std::strerror(errno) << "\n";
            change(memory_);
            return;
        }
        while (::flock(fd, LOCK_EX) < 0 && errno == EINTR) {
        }
        std::string text;
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        Json state = Json::parse(text, nullptr, false);
        if (!state.is_object())
            state = Json::object();
        change(state);
        std::string out = state.dump(2);
        if (::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0)
            writeAll(fd, out.data(), out.size());
        ::close(fd);
    }

  private:
    std::string path_;
    Json memory_ = Json::object();
};

// --- The run

struct Run {
    Json setup = Json::object();
    Json step = Json::object();
    StateFile state{""};
    std::size_t index = 0;  // 1-based run number
    long pid = static_cast<long>(::getpid());

    void updateRecord(const std::function<void(Json&)>& change) {
        state.update([&](Json& s) {
            for (auto& record : s["records"])
                if (record.value("pid", 0L) == pid && record.value("run", std::size_t{0}) == index)
                    change(record);
        });
    }

    // Waits for the time (forever when negative); a terminate request on the way is recorded and ends the
    // program, after "terminateDelayMs".
    void wait(long milliseconds) {
        struct timespec deadline;
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        deadline.tv_sec += milliseconds / 1000;
        deadline.tv_nsec += (milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        for (;;) {
            struct timespec now;
            clock_gettime(CLOCK_MONOTONIC, &now);
            long remaining = (deadline.tv_sec - now.tv_sec) * 1000000000L + (deadline.tv_nsec - now.tv_nsec);
            if (milliseconds >= 0 && remaining <= 0)
                return;
            struct timespec timeout {};
            if (milliseconds < 0) {
                timeout.tv_sec = 3600;
            } else {
                timeout.tv_sec = remaining / 1000000000L;
                timeout.tv_nsec = remaining % 1000000000L;
            }
            sleepUnlessTerminated(timeout);
        }
    }

    // Waits until the file exists. A terminate request sent before the file was made is taken even when the
    // file is there at the first look.
    void waitForFile(const std::string& path) {
        for (;;) {
            std::error_code error;
            const bool there = std::filesystem::exists(path, error);
            sleepUnlessTerminated({0, there ? 0 : 10 * 1000000L});
            if (there)
                return;
        }
    }

    // Sleeps for the time, or ends the program on a terminate request, recorded (one that came before
    // included).
    void sleepUnlessTerminated(const struct timespec& timeout) {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        if (sigtimedwait(&set, nullptr, &timeout) != SIGTERM)
            return;
        updateRecord([](Json& record) { record["terminated"] = true; });
        // A bridge takes a moment to let go of the reader.
        const long delay = step.value("terminateDelayMs", setup.value("terminateDelayMs", 0L));
        struct timespec rest {
            delay / 1000, (delay % 1000) * 1000000L
        };
        while (nanosleep(&rest, &rest) < 0 && errno == EINTR) {
        }
        std::_Exit(128 + SIGTERM);
    }
};

// The state of the card in the reader with that index, made an object on first use.
Json& cardState(Json& state, const std::string& key) {
    if (!state["cards"].is_object())
        state["cards"] = Json::object();
    Json& entry = state["cards"][key];
    if (!entry.is_object())
        entry = Json::object();
    return entry;
}

Json reply(const std::string& result, const std::string& correlationId, const std::string& operation) {
    Json out = Json::object();
    out["result"] = result;
    out["correlationId"] = correlationId;
    out["operation"] = operation;
    return out;
}

// A refused request: "general_error", with what was wrong in "resultRaw".
Json refusal(const std::string& why, const std::string& correlationId, const std::string& operation) {
    Json out = reply("general_error", correlationId, operation);
    out["resultRaw"] = why;
    return out;
}

Json userCerts(Run& run, const Json& request) {
    if (request.value("keyusage", std::string()) != "DIGITALSIGNATURE")
        return refusal("unsupported keyusage", request.value("correlationId", std::string()), "USERCERTS");
    Json state;
    run.state.update([&](Json& s) { state = s; });
    Json readers = Json::array();
    const Json& configured = run.setup.value("readers", Json::array());
    for (std::size_t i = 0; i < configured.size(); ++i) {
        const Json& reader = configured[i];
        Json certificates = Json::array();
        const Json card = reader.value("card", Json());
        bool removed = cardState(state, std::to_string(i)).value("removed", false);
        if (card.is_object() && !removed) {
            for (const auto& pem : card.value("certificates", Json::array())) {
                if (auto der = derOfPEM(pem.get<std::string>()))
                    certificates.push_back(base64(*der));
            }
        }
        Json entry = Json::object();
        entry["ReaderName"] = reader.value("name", "Reader " + std::to_string(i + 1));
        entry["ReaderType"] = reader.value("type", std::string("standard"));
        entry["cardType"] = reader.value("cardType", std::string("eid"));
        entry["certificates"] = certificates;
        readers.push_back(entry);
    }
    Json out = Json::object();
    out["Readers"] = readers;
    out["result"] = "OK";
    out["correlationId"] = request.value("correlationId", std::string());
    out["operation"] = "USERCERTS";
    return out;
}

Json auth(Run& run, const Json& request) {
    const std::string correlationId = request.value("correlationId", std::string());
    auto cert = unbase64(request.value("cert", std::string()));
    auto digest = unbase64(request.value("digest", std::string()));
    if (!digest)
        return refusal("invalid digest", correlationId, "AUTH");
    const EVP_MD* md = digestOfAlgo(request.value("algo", std::string()));
    if (!md)
        return refusal("unsupported algo", correlationId, "AUTH");
    if (digest->size() != static_cast<std::size_t>(EVP_MD_get_size(md)))
        return refusal("digest length does not match algo", correlationId, "AUTH");
    // The reader holding the card.
    const Json& readers = run.setup.value("readers", Json::array());
    std::optional<std::size_t> found;
    for (std::size_t i = 0; i < readers.size() && cert && !found; ++i) {
        const Json card = readers[i].value("card", Json());
        if (!card.is_object())
            continue;
        for (const auto& pem : card.value("certificates", Json::array()))
            if (derOfPEM(pem.get<std::string>()) == cert)
                found = i;
    }
    if (!found)
        return reply("no_card", correlationId, "AUTH");
    const std::size_t index = *found;
    const Json& reader = readers[index];
    const Json& card = reader["card"];
    const bool pinpad = reader.value("type", std::string("standard")) == "pinpad";
    const std::string key = std::to_string(index);
    auto removal = [&] {
        if (!pinpad)
            return reply("no_card", correlationId, "AUTH");
        Json out = reply("general_error", correlationId, "AUTH");
        out["resultRaw"] = "2148532246";
        return out;
    };

    bool removed = false;
    run.state.update([&](Json& s) { removed = cardState(s, key).value("removed", false); });
    if (removed)
        return removal();

    std::string pin = request.value("pin", std::string());
    if (pinpad) {
        const Json keypad = reader.value("pinpad", Json::object());
        run.wait(keypad.value("delayMs", 0L));
        const std::string outcome = keypad.value("outcome", std::string("enter"));
        if (outcome == "cancel" || outcome == "timeout") {
            Json out = reply("general_error", correlationId, "AUTH");
            out["resultRaw"] = outcome == "cancel" ? "27010" : "25600";
            return out;
        }
        pin = keypad.value("pin", std::string());
    }
    if (card.value("removeDuringAuth", false)) {
        run.state.update([&](Json& s) { cardState(s, key)["removed"] = true; });
        return removal();
    }

    Json out;
    run.state.update([&](Json& s) {
        Json& entry = cardState(s, key);
        const int configuredTries = card.value("tries", 3);
        int tries = entry.value("triesLeft", configuredTries);
        bool blocked = entry.value("blocked", card.value("blocked", false)) || tries <= 0;
        if (blocked) {
            out = reply("card_blocked", correlationId, "AUTH");
        } else if (pin != card.value("pin", std::string())) {
            --tries;
            if (tries <= 0) {
                blocked = true;
                out = reply("card_blocked", correlationId, "AUTH");
            } else {
                out = reply(tries >= 3   ? "pin_3_attempts_left"
                            : tries == 2 ? "pin_2_attempts_left"
                                         : "pin_1_attempt_left",
                            correlationId, "AUTH");
            }
        } else {
            tries = card.value("maxTries", configuredTries);  // a right PIN restores the card's tries
            auto signature = signDigest(card.value("key", std::string()), md, *digest);
            if (signature) {
                out = reply("OK", correlationId, "AUTH");
                out["signature"] = base64(*signature);
            } else {
                out = reply("general_error", correlationId, "AUTH");
                out["resultRaw"] = "signing failed";
            }
        }
        entry["triesLeft"] = tries;
        entry["blocked"] = blocked;
    });
    return out;
}

void writeFault(Run& run, const std::string& fault) {
    if (fault == "threeByteLength") {
        const std::uint8_t bytes[3] = {0x10, 0, 0};
        writeAll(1, bytes, 3);
    } else if (fault == "shortPayload") {
        const std::uint8_t bytes[10] = {10, 0, 0, 0, '{', '"', 'r', '"', ':', '1'};
        writeAll(1, bytes, sizeof bytes);
    } else if (fault == "zeroLength") {
        writeFrame("");
    } else if (fault == "invalidUTF8") {
        writeFrame(std::string("{\"result\":\"OK\xff\xfe\"}"));
    } else if (fault == "hugeLength") {
        std::uint32_t length = run.step.value("length", std::uint32_t{0xFFFFFFFFu});
        std::uint8_t header[4] = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                                  static_cast<std::uint8_t>(length >> 16),
                                  static_cast<std::uint8_t>(length >> 24)};
        writeAll(1, header, 4);
        writeAll(1, "{\"result\":", 10);
        run.wait(-1);
    } else if (fault == "hang") {
        run.wait(-1);
    } else {
        std::cerr << "bridge: unknown fault " << fault << "\n";
    }
}

}  // namespace

int run() {
    // A terminate request is taken only while the bridge waits, so that it can record it; a closed output is
    // an error of the write, not a signal.
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Run run;
    std::string setupPath;
    if (const char* path = std::getenv(setupVariable); path && *path) {
        setupPath = path;
        std::string text;
        if (FILE* file = std::fopen(path, "rb")) {
            char buffer[65536];
            std::size_t n;
            while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
                text.append(buffer, n);
            std::fclose(file);
        } else {
            std::cerr << "bridge: cannot read the setup " << path << "\n";
        }
        Json setup = Json::parse(text, nullptr, false);
        if (setup.is_object()) {
            run.setup = setup;
        } else {
            std::cerr << "bridge: the setup " << path << " is not a JSON object\n";
        }
        run.state = StateFile(setupPath + ".state");
    }

    run.state.update([&](Json& s) {
        run.index = s.value("runs", std::size_t{0}) + 1;
        s["runs"] = run.index;
        Json record = Json::object();
        record["run"] = run.index;
        record["pid"] = run.pid;
        record["startTime"] = processStartTime(run.pid).value_or("");
        Json overlapping = Json::array();
        for (const auto& earlier : s["records"])
            if (auto started = processStartTime(earlier.value("pid", 0L));
                started && *started == earlier.value("startTime", std::string()))
                overlapping.push_back(earlier.value("run", std::size_t{0}));
        record["overlapping"] = overlapping;
        s["records"].push_back(record);
    });
    const Json& script = run.setup.value("script", Json::array());
    if (script.is_array() && run.index <= script.size() && script[run.index - 1].is_object())
        run.step = script[run.index - 1];
    const std::string fault = run.step.value("fault", std::string());
    if (fault == "exitBeforeReading")
        return 0;

    // The request, and whether the input ends right after it.
    Bytes input;
    bool complete = readExactly(0, 4, input);
    std::uint32_t length = 0;
    if (complete) {
        length = static_cast<std::uint32_t>(input[0]) | static_cast<std::uint32_t>(input[1]) << 8 |
                 static_cast<std::uint32_t>(input[2]) << 16 | static_cast<std::uint32_t>(input[3]) << 24;
        complete = length <= maxRequestLength && readExactly(0, length, input);
    }
    bool closedAfterPayload = false;
    if (complete) {
        struct pollfd p {
            0, POLLIN, 0
        };
        if (::poll(&p, 1, 2000) > 0) {
            std::uint8_t extra;
            ssize_t n = ::read(0, &extra, 1);
            closedAfterPayload = n == 0;
            if (n > 0)
                input.push_back(extra);
        }
    }
    run.updateRecord([&](Json& record) {
        record["input"] = base64(input);
        record["inputClosedAfterPayload"] = closedAfterPayload;
    });
    run.sleepUnlessTerminated({0, 0});
    if (!complete) {
        std::cerr << "bridge: incomplete request\n";
        return 1;
    }

    if (run.step.contains("waitForFile"))
        run.waitForFile(run.step["waitForFile"].get<std::string>());
    run.wait(run.step.value("delayMs", run.setup.value("replyDelayMs", 0L)));
    if (!fault.empty()) {
        writeFault(run, fault);
        return 0;
    }
    std::string payload;
    if (run.step.contains("reply")) {
        payload = run.step["reply"].dump();
    } else if (run.step.contains("replyText")) {
        payload = run.step["replyText"].get<std::string>();
    } else {
        // Through std::map objects: ordered_json's key search would make a wide request quadratic.
        Json request =
            Json(nlohmann::json::parse(input.begin() + 4, input.begin() + 4 + length, nullptr, false));
        Json answer;
        if (!request.is_object()) {
            answer = refusal("malformed request", "", "VERSION");
        } else {
            const std::string operation = request.value("operation", std::string());
            const std::string correlationId = request.value("correlationId", std::string());
            const Json origins = run.setup.value("origins", Json::array({defaultOrigin}));
            const Json origin = request.value("origin", Json());
            bool allowed = false;
            for (const auto& entry : origins)
                allowed = allowed || entry == origin;
            if (!allowed) {
                answer = refusal("origin not allowed", correlationId,
                                 operation == "USERCERTS" || operation == "AUTH" ? operation : "VERSION");
            } else if (operation == "USERCERTS") {
                answer = userCerts(run, request);
            } else if (operation == "AUTH") {
                answer = auth(run, request);
            } else if (operation == "VERSION") {
                answer = reply("OK", correlationId, "VERSION");
                answer["version"] = "2.12";
            } else {
                answer = refusal("unsupported operation", correlationId, "VERSION");
            }
        }
        payload = answer.dump();
    }
    if (!writeFrame(payload))
        return 1;
    if (run.step.value("hangAfterReply", false))
        run.wait(-1);
    return 0;
}

}  // namespace bridge
