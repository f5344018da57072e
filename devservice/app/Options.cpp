#include "devservice/app/Options.h"

#include <cstdlib>
#include <stdexcept>

#include "devservice/app/Clock.h"

namespace larkspire::devservice {

std::filesystem::path defaultDataDir() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg != nullptr && *xdg == '/') {
        return std::filesystem::path(xdg) / "larkspire-devservice";
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : ".") / ".local" / "share" /
           "larkspire-devservice";
}

std::string usage() {
    return R"(Usage:
  larkspire-devservice [options]                     serve the Larkspire API on loopback
  larkspire-devservice add-user EMAIL PASSWORD [--data DIR]
                                                     create an account for password sign-in
  larkspire-devservice add-project EMAIL NAME [--data DIR]
                                                     add a project to an account

Options:
  --host HOST              address to listen on (default 127.0.0.1)
  --port PORT              port (default 3000; 0 picks a free one)
  --data DIR               data folder (default $XDG_DATA_HOME/larkspire-devservice)
  --grammar FILE.gram      JSGF grammar restricting recognition to its sentences
  --token-lifetime SECS    access-token lifetime (default 3600)
  --anon-key KEY           value expected in the "apikey" header of password sign-in
                           (default larkspire-dev-anon-key)
  --clock-offset SECS      run the service's clock this far ahead of the wall clock
  --preload                load the speech model at start instead of on first use
  --fail PATH=STATUS[xN]   answer PATH with STATUS (for the next N requests)
  --delay PATH=MS[xN]      hold requests to PATH for MS milliseconds
  --malformed PATH[=STATUS[xN]]
                           answer PATH with a truncated JSON body (status 200 by default)
  --help                   this text

At run time, from loopback only: POST /__admin/fail, DELETE /__admin/fail, POST /__admin/clock.
)";
}

std::optional<Options> parseOptions(int argc, char** argv, std::string& error) {
    Options o;
    o.dataDir = defaultDataDir();
    auto number = [&](const std::string& name, const std::string& text, double& out) {
        try {
            size_t used = 0;
            out = std::stod(text, &used);
            if (used != text.size()) {
                throw std::invalid_argument(text);
            }
            return true;
        } catch (const std::exception&) {
            error = name + " needs a number, got \"" + text + "\"";
            return false;
        }
    };
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            o.command = Options::Command::Help;
        } else if (arg == "--host") {
            if (!value(o.host)) {
                return std::nullopt;
            }
        } else if (arg == "--port") {
            double port = 0;
            if (!value(v) || !number(arg, v, port)) {
                return std::nullopt;
            }
            if (port < 0 || port > 65535 || port != static_cast<int>(port)) {
                error = "--port must be between 0 and 65535";
                return std::nullopt;
            }
            o.port = static_cast<int>(port);
        } else if (arg == "--data") {
            if (!value(v)) {
                return std::nullopt;
            }
            o.dataDir = v;
        } else if (arg == "--grammar") {
            if (!value(v)) {
                return std::nullopt;
            }
            o.grammar = std::filesystem::path(v);
        } else if (arg == "--token-lifetime") {
            if (!value(v) || !number(arg, v, o.tokenLifetime)) {
                return std::nullopt;
            }
            if (o.tokenLifetime <= 0) {
                error = "--token-lifetime must be positive";
                return std::nullopt;
            }
        } else if (arg == "--clock-offset") {
            if (!value(v) || !number(arg, v, o.clockOffset)) {
                return std::nullopt;
            }
            if (!Clock::offsetFits(o.clockOffset)) {
                error = "--clock-offset must keep the clock between 1970 and the year 10000";
                return std::nullopt;
            }
        } else if (arg == "--anon-key") {
            if (!value(o.anonKey)) {
                return std::nullopt;
            }
        } else if (arg == "--preload") {
            o.preload = true;
        } else if (arg == "--fail" || arg == "--delay") {
            if (!value(v)) {
                return std::nullopt;
            }
            auto rule = arg == "--fail" ? Faults::parseFailOption(v) : Faults::parseDelayOption(v);
            if (!rule) {
                error = arg + " expects PATH=" + (arg == "--fail" ? "STATUS" : "MS") +
                        "[xCOUNT], got \"" + v + "\"";
                return std::nullopt;
            }
            o.faults.push_back(*rule);
        } else if (arg == "--malformed") {
            if (!value(v)) {
                return std::nullopt;
            }
            auto rule = Faults::parseFailOption(v.find('=') == std::string::npos ? v + "=200" : v);
            if (!rule) {
                error = "--malformed expects PATH, got \"" + v + "\"";
                return std::nullopt;
            }
            rule->malformed = true;
            o.faults.push_back(*rule);
        } else if (arg == "add-user" && i == 1) {
            o.command = Options::Command::AddUser;
        } else if (arg == "add-project" && i == 1) {
            o.command = Options::Command::AddProject;
        } else if (arg == "serve" && i == 1) {
            o.command = Options::Command::Serve;
        } else if (!arg.empty() && arg[0] != '-' && o.command != Options::Command::Serve) {
            o.arguments.push_back(arg);
        } else {
            error = "unknown argument \"" + arg + "\"";
            return std::nullopt;
        }
    }
    if ((o.command == Options::Command::AddUser || o.command == Options::Command::AddProject) &&
        o.arguments.size() != 2) {
        error = o.command == Options::Command::AddUser ? "add-user needs EMAIL and PASSWORD"
                                                       : "add-project needs EMAIL and NAME";
        return std::nullopt;
    }
    return o;
}

}  // namespace larkspire::devservice
