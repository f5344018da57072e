#include "server/app/Options.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "server/app/Clock.h"
#include "util/BoundedJson.h"

namespace larkspire::server {

namespace {

// A leap year of seconds: the longest access token the service hands out.
constexpr double kYearSeconds = 366 * 86400;

std::filesystem::path xdgFolder(const char* variable, const char* fallback) {
    const char* xdg = std::getenv(variable);
    if (xdg != nullptr && *xdg == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : ".") / fallback;
}

// The engine keys of the configuration file; a file that is not there holds none.
bool readConfigFile(const std::filesystem::path& file, std::map<std::string, std::string>& values,
                    std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return true;
    }
    std::stringstream text;
    text << in.rdbuf();
    auto json = parseBoundedJson(text.str());
    if (json.is_discarded() || !json.is_object()) {
        error = file.string() + " is not a JSON object";
        return false;
    }
    for (const auto& [key, v] : json.items()) {
        const auto& known = EngineSettings::keys();
        if (std::find(known.begin(), known.end(), key) == known.end()) {
            error = file.string() + ": unknown key \"" + key + "\"";
            return false;
        }
        if (!v.is_string() && !v.is_number()) {
            error = file.string() + ": \"" + key + "\" must be a string";
            return false;
        }
        values[key] = v.is_string() ? v.get<std::string>() : v.dump();
    }
    return true;
}

}  // namespace

std::filesystem::path defaultDataDir() {
    namespace fs = std::filesystem;
    const fs::path share = xdgFolder("XDG_DATA_HOME", ".local/share");
    const fs::path folder = share / "larkspire-server";
    const fs::path earlier = share / "larkspire-devservice";
    std::error_code ignored;
    if (!fs::exists(folder, ignored) && fs::is_directory(earlier, ignored)) {
        fs::rename(earlier, folder, ignored);
    }
    return folder;
}

std::filesystem::path defaultConfigFile() {
    return xdgFolder("XDG_CONFIG_HOME", ".config") / "larkspire-server" / "config.json";
}

std::string usage() {
    return R"(Usage:
  larkspire-server [options]                     serve the Larkspire API on loopback
  larkspire-server add-user EMAIL PASSWORD [--data DIR]
                                                     create an account for password sign-in
  larkspire-server add-project EMAIL NAME [--data DIR]
                                                     add a project to an account
  larkspire-server add-word EMAIL WORD [--data DIR]  add a word or name to an account's vocabulary
  larkspire-server --check [engine options]          ask each configured engine once

Options:
  --host HOST              address to listen on (default 127.0.0.1)
  --port PORT              port (default 3000; 0 picks a free one)
  --data DIR               data folder (default $XDG_DATA_HOME/larkspire-server)
  --grammar FILE.gram      JSGF grammar restricting recognition to its sentences
  --token-lifetime SECS    access-token lifetime (default 3600)
  --request-deadline SECS  time a client has to send a request's head (default 10)
  --anon-key KEY           value expected in the "apikey" header of password sign-in
                           (default larkspire-dev-anon-key)
  --clock-offset SECS      run the service's clock this far ahead of the wall clock
  --preload                load the speech model at start instead of on first use
  --stt-url BASE           transcribe with the OpenAI-compatible engine at BASE
                           (POST BASE/audio/transcriptions), e.g. http://127.0.0.1:8080/v1
  --stt-model NAME         its model (default whisper-1)
  --stt-language CODE      the language spoken, e.g. en (default: the engine detects it)
  --llm-url BASE           clean transcripts and write drafts with the chat model at BASE
                           (POST BASE/chat/completions), e.g. http://127.0.0.1:11434/v1
  --llm-model NAME         its model (required with --llm-url)
  --cleanup rules|model    clean transcripts by the rules even with a language model
  --tts-url BASE           read aloud with the engine at BASE (POST BASE/audio/speech)
  --tts-model NAME         its model (default tts-1)
  --tts-voice NAME         its voice (default alloy)
  --config FILE            engine options from FILE
                           (default $XDG_CONFIG_HOME/larkspire-server/config.json)
  --engine-timeout SECS    an engine that sends nothing for this long has failed (default 30)
  --fail PATH=STATUS[xN]   answer PATH with STATUS (for the next N requests)
  --delay PATH=MS[xN]      hold requests to PATH for MS milliseconds
  --malformed PATH[=STATUS[xN]]
                           answer PATH with a truncated JSON body (status 200 by default)
  --help                   this text

The engine options may sit in $XDG_CONFIG_HOME/larkspire-server/config.json as well, without
their dashes ({"stt-url": "http://127.0.0.1:8080/v1"}); the command line wins. Keys come from
the environment only: LARKSPIRE_ENGINE_KEY for every engine, or LARKSPIRE_STT_KEY,
LARKSPIRE_LLM_KEY and LARKSPIRE_TTS_KEY each, sent as "Authorization: Bearer KEY".

At run time, from loopback only: POST /__admin/fail, DELETE /__admin/fail, POST /__admin/clock.
)";
}

std::optional<Options> parseOptions(int argc, char** argv, std::string& error,
                                    const std::optional<std::filesystem::path>& configFile) {
    Options o;
    o.dataDir = defaultDataDir();
    // The file named by --config, or the given or default one, is read first, so that
    // the command line wins over it.
    std::filesystem::path file = configFile.value_or(defaultConfigFile());
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::string(argv[i]) == "--config") {
            file = argv[i + 1];
        }
    }
    std::map<std::string, std::string> engineValues;
    if (!readConfigFile(file, engineValues, error)) {
        return std::nullopt;
    }
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
        const auto& engineKeys = EngineSettings::keys();
        if (arg.rfind("--", 0) == 0 &&
            std::find(engineKeys.begin(), engineKeys.end(), arg.substr(2)) != engineKeys.end()) {
            if (!value(v)) {
                return std::nullopt;
            }
            engineValues[arg.substr(2)] = v;
        } else if (arg == "--help" || arg == "-h") {
            o.command = Options::Command::Help;
        } else if (arg == "--config") {
            if (!value(v)) {
                return std::nullopt;
            }
        } else if (arg == "--check") {
            o.command = Options::Command::Check;
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
            // Infinity and NaN would reach the clock arithmetic as undefined behaviour.
            if (!(o.tokenLifetime > 0 && o.tokenLifetime <= kYearSeconds)) {
                error =
                    "--token-lifetime needs a number of seconds from 1 to a year (31622400), "
                    "got \"" +
                    v + "\"";
                return std::nullopt;
            }
        } else if (arg == "--request-deadline") {
            if (!value(v) || !number(arg, v, o.requestDeadline)) {
                return std::nullopt;
            }
            if (!(o.requestDeadline >= 0.1 && o.requestDeadline <= 3600)) {
                error = "--request-deadline needs a number of seconds from 0.1 to 3600, got \"" +
                        v + "\"";
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
        } else if (arg == "add-word" && i == 1) {
            o.command = Options::Command::AddWord;
        } else if (arg == "serve" && i == 1) {
            o.command = Options::Command::Serve;
        } else if (!arg.empty() && arg[0] != '-' && o.command != Options::Command::Serve) {
            o.arguments.push_back(arg);
        } else {
            error = "unknown argument \"" + arg + "\"";
            return std::nullopt;
        }
    }
    const std::map<Options::Command, const char*> twoArguments{
        {Options::Command::AddUser, "add-user needs EMAIL and PASSWORD"},
        {Options::Command::AddProject, "add-project needs EMAIL and NAME"},
        {Options::Command::AddWord, "add-word needs EMAIL and WORD"}};
    if (auto it = twoArguments.find(o.command);
        it != twoArguments.end() && o.arguments.size() != 2) {
        error = it->second;
        return std::nullopt;
    }
    auto engines = EngineSettings::from(engineValues, std::getenv, error);
    if (!engines) {
        return std::nullopt;
    }
    o.engines = std::move(*engines);
    return o;
}

}  // namespace larkspire::server
