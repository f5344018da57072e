#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "devservice/http/Faults.h"

namespace larkspire::devservice {

struct Options {
    enum class Command { Serve, AddUser, AddProject, Help };
    Command command = Command::Serve;

    std::string host = "127.0.0.1";
    int port = 3000;
    std::filesystem::path dataDir;
    std::optional<std::filesystem::path> grammar;
    double tokenLifetime = 3600;
    double clockOffset = 0;
    std::string anonKey = "larkspire-dev-anon-key";
    bool preload = false;
    std::vector<FaultRule> faults;

    // add-user EMAIL PASSWORD / add-project EMAIL NAME
    std::vector<std::string> arguments;
};

// Parses the command line; on a mistake returns nothing and sets `error`.
std::optional<Options> parseOptions(int argc, char** argv, std::string& error);

// $XDG_DATA_HOME/larkspire-devservice, else ~/.local/share/larkspire-devservice.
std::filesystem::path defaultDataDir();

std::string usage();

}  // namespace larkspire::devservice
