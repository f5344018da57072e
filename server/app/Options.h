#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "server/engines/EngineSettings.h"
#include "server/http/Faults.h"

namespace larkspire::server {

struct Options {
    enum class Command { Serve, AddUser, AddProject, AddWord, Check, Help };
    Command command = Command::Serve;

    std::string host = "127.0.0.1";
    int port = 3000;
    std::filesystem::path dataDir;
    std::optional<std::filesystem::path> grammar;
    double tokenLifetime = 3600;
    // How long a connection may take to deliver a request's head.
    double requestDeadline = 10;
    double clockOffset = 0;
    std::string anonKey = "larkspire-dev-anon-key";
    bool preload = false;
    std::vector<FaultRule> faults;
    // The outside engines named on the command line or in the configuration file; their
    // keys come from the environment only.
    EngineSettings engines;

    // add-user EMAIL PASSWORD / add-project EMAIL NAME / add-word EMAIL WORD
    std::vector<std::string> arguments;
};

// Parses the command line over the configuration file's engine keys
// ($XDG_CONFIG_HOME/larkspire-server/config.json, or `configFile` when given) and the
// engine keys of the environment; on a mistake returns nothing and sets `error`.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error,
                                    const std::optional<std::filesystem::path>& configFile = {});

// $XDG_CONFIG_HOME/larkspire-server/config.json, else ~/.config/larkspire-server/config.json.
std::filesystem::path defaultConfigFile();

// $XDG_DATA_HOME/larkspire-server, else ~/.local/share/larkspire-server. A folder of the
// service's earlier name (larkspire-devservice) is renamed to it, so accounts and notes stay.
std::filesystem::path defaultDataDir();

std::string usage();

}  // namespace larkspire::server
