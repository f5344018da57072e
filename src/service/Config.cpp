#include "service/Config.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "util/BoundedJson.h"
#include "util/Text.h"

namespace larkspire {
namespace {

using nlohmann::json;

constexpr std::string_view kBuiltInExcluded[] = {"1password", "keychain access", "passwords",
                                                 "bitwarden", "lastpass"};

struct DecodeError {
    std::string message;
};

std::optional<std::string> optionalString(const json& root, const char* key) {
    auto it = root.find(key);
    if (it == root.end() || it->is_null()) {
        return std::nullopt;
    }
    if (!it->is_string()) {
        throw DecodeError{std::string("\"") + key + "\" must be a string"};
    }
    return it->get<std::string>();
}

std::optional<std::vector<std::string>> optionalStrings(const json& root, const char* key) {
    auto it = root.find(key);
    if (it == root.end() || it->is_null()) {
        return std::nullopt;
    }
    if (!it->is_array()) {
        throw DecodeError{std::string("\"") + key + "\" must be a list of strings"};
    }
    std::vector<std::string> out;
    for (const auto& entry : *it) {
        if (!entry.is_string()) {
            throw DecodeError{std::string("\"") + key + "\" must be a list of strings"};
        }
        out.push_back(entry.get<std::string>());
    }
    return out;
}

std::string normalized(std::string_view s) {
    return text::nfc(text::lowercased(text::trimmed(s)));
}

bool matchesAny(std::string_view name, const std::vector<std::string_view>& candidates) {
    const std::string wanted = normalized(name);
    for (std::string_view candidate : candidates) {
        const std::string c = normalized(candidate);
        if (c.empty()) {
            continue;
        }
        if (wanted == c || wanted.find(c) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

Config Config::developmentDefault() {
    Config c;
    c.api_url = std::string(developmentOrigin);
    return c;
}

std::optional<Config> Config::decode(std::string_view text, std::string* error) {
    try {
        if (!withinJsonBounds(text)) {
            throw DecodeError{"the configuration is nested too deeply"};
        }
        const json root = json::parse(text);
        if (!root.is_object()) {
            throw DecodeError{"the configuration must be a JSON object"};
        }
        auto api = root.find("api_url");
        if (api == root.end() || !api->is_string()) {
            throw DecodeError{"\"api_url\" is required and must be a string"};
        }
        Config c;
        c.api_url = api->get<std::string>();
        c.supabase_url = optionalString(root, "supabase_url");
        c.anon_key = optionalString(root, "anon_key");
        c.email = optionalString(root, "email");
        c.password = optionalString(root, "password");
        c.vault_dir = optionalString(root, "vault_dir");
        c.context_excluded_apps = optionalStrings(root, "context_excluded_apps");
        c.context_text_only_apps = optionalStrings(root, "context_text_only_apps");
        c.fn_key = optionalString(root, "fn_key");
        c.key_source = optionalString(root, "key_source");
        c.paste_through = optionalString(root, "paste_through");
        c.web_origin = optionalString(root, "web_origin");
        return c;
    } catch (const DecodeError& e) {
        if (error) {
            *error = e.message;
        }
    } catch (const json::exception& e) {
        if (error) {
            *error = e.what();
        }
    }
    return std::nullopt;
}

std::string Config::pathIn(const std::string& home) {
    return home + "/.vantrel/config.json";
}

std::optional<Config> Config::load(const std::string& path, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) {
            *error = "cannot read " + path;
        }
        return std::nullopt;
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) {
        if (error) {
            *error = "cannot read " + path;
        }
        return std::nullopt;
    }
    return decode(bytes.str(), error);
}

bool Config::excludesContext(std::string_view name) const {
    std::vector<std::string_view> candidates(std::begin(kBuiltInExcluded),
                                             std::end(kBuiltInExcluded));
    if (context_excluded_apps) {
        candidates.insert(candidates.end(), context_excluded_apps->begin(),
                          context_excluded_apps->end());
    }
    return matchesAny(name, candidates);
}

bool Config::requiresTextOnlyContext(std::string_view name) const {
    if (!context_text_only_apps) {
        return false;
    }
    return matchesAny(name, {context_text_only_apps->begin(), context_text_only_apps->end()});
}

}  // namespace larkspire
