// quorvane-acrobat-host: runs the PDF reader plug-in without a reader. It loads the plug-in as the reader
// does, fires the event before signing and prints what the plug-in did, the alerts it showed and how long
// each firing held the host (elapsed and processor time).
#include <chrono>
#include <iomanip>
#include <iostream>
#include <optional>
#include <string>

#include "acrobat/harness/AcrobatHost.h"

namespace {

using acrobathost::AcrobatHost;
using acrobathost::HostOptions;
using acrobathost::Stage;

constexpr int exitUsage = 64;

void usage() {
    std::cerr
        << "usage: quorvane-acrobat-host [options] PLUGIN\n"
           "Loads the plug-in (for example build/lib/VexoCertificateHelper.so) as the PDF reader does\n"
           "and fires the event before signing.\n"
           "  --handshake-version V  handshake version the host offers (default 0x20000)\n"
           "  --setup-version V      version of the setup record (default 0x20000)\n"
           "  --withhold NAME        do not offer the table NAME (repeatable), e.g. PDMetadata, DigSigHFT\n"
           "  --table NAME=V         offer the table NAME at version V\n"
           "  --no-version-report    AcroSupport cannot tell the versions of tables\n"
           "  --fire N               fire event N (repeatable; default: event 2 once)\n"
           "  --no-fire              only load\n"
           "  --trace                print every call of the plug-in into the host\n"
           "Exit status: 0 loaded and no alert, 1 an alert was shown, 2 not loaded.\n";
}

std::optional<std::uint32_t> number(const std::string& text) {
    try {
        std::size_t used = 0;
        const unsigned long value = std::stoul(text, &used, 0);
        if (used != text.size() || value > 0xFFFFFFFFul)
            return std::nullopt;
        return static_cast<std::uint32_t>(value);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

int main(int argc, char** argv) {
    HostOptions options;
    std::vector<std::int32_t> events;
    bool fire = true;
    bool trace = false;
    std::string plugin;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc)
                return std::nullopt;
            return std::string(argv[++i]);
        };
        std::optional<std::string> text;
        std::optional<std::uint32_t> parsed;
        if (argument == "--handshake-version" && (text = value()) && (parsed = number(*text))) {
            options.handshakeVersion = *parsed;
        } else if (argument == "--setup-version" && (text = value()) && (parsed = number(*text))) {
            options.setupRecordVersion = *parsed;
        } else if (argument == "--withhold" && (text = value())) {
            options.tables.erase(*text);
        } else if (argument == "--table" && (text = value()) && text->find('=') != std::string::npos &&
                   (parsed = number(text->substr(text->find('=') + 1)))) {
            options.tables[text->substr(0, text->find('='))] = *parsed;
        } else if (argument == "--no-version-report") {
            options.reportsVersions = false;
        } else if (argument == "--fire" && (text = value()) && (parsed = number(*text))) {
            events.push_back(static_cast<std::int32_t>(*parsed));
        } else if (argument == "--no-fire") {
            fire = false;
        } else if (argument == "--trace") {
            trace = true;
        } else if (argument == "--help" || argument == "-h") {
            usage();
            return 0;
        } else if (!argument.starts_with("-") && plugin.empty()) {
            plugin = argument;
        } else {
            std::cerr << "quorvane-acrobat-host: bad argument \"" << argument << "\"\n";
            usage();
            return exitUsage;
        }
    }
    if (plugin.empty()) {
        usage();
        return exitUsage;
    }
    if (events.empty())
        events.push_back(DigSigEventBeforeSigning);

    AcrobatHost host(options);
    const Stage stage = host.load(plugin);
    auto printTrace = [&, printed = std::size_t{0}]() mutable {
        const auto lines = host.trace();
        for (; trace && printed < lines.size(); ++printed)
            std::cout << "  " << lines[printed] << '\n';
    };
    printTrace();
    std::cout << describe(stage) << ": handshake version "
              << acrobathost::hexVersion(host.pluginHandshakeVersion()) << ", extension \""
              << host.extensionName() << "\", " << host.handshakeCallbacks() << " callbacks, "
              << host.registrations().size() << " observer(s)\n";
    for (const auto& alert : host.alerts())
        std::cout << "alert: " << alert << '\n';
    if (stage != Stage::loaded)
        return 2;

    bool alerted = false;
    for (std::int32_t event : fire ? events : std::vector<std::int32_t>{}) {
        std::cout << "firing event " << event << std::endl;
        const auto firing = host.fire(event);
        printTrace();
        std::cout << "event " << event << ": " << firing.observersCalled << " observer(s), held the host "
                  << std::fixed << std::setprecision(3)
                  << std::chrono::duration<double>(firing.elapsed).count() << " s, processor time "
                  << std::chrono::duration<double>(firing.processorTime).count() << " s\n";
        for (const auto& alert : firing.alerts)
            std::cout << "alert: " << alert << '\n';
        std::cout.flush();
        alerted = alerted || !firing.alerts.empty();
    }
    return alerted ? 1 : 0;
}
