#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspire {

// The decoded "~/.vantrel/config.json". Field names are the file's JSON keys.
struct Config {
    std::optional<std::string> supabase_url;
    std::optional<std::string> anon_key;
    std::string api_url;
    std::optional<std::string> email;
    std::optional<std::string> password;
    std::optional<std::string> vault_dir;
    std::optional<std::vector<std::string>> context_excluded_apps;
    std::optional<std::vector<std::string>> context_text_only_apps;
    // Linux input key name ("KEY_RIGHTALT") of the key that plays the Fn role.
    std::optional<std::string> fn_key;
    // Under Wayland, the user's choice of how keys are heard ("evdev", "portal") and how
    // the paste keys are typed ("uinput", "portal"); absent means the session decides.
    std::optional<std::string> key_source;
    std::optional<std::string> paste_through;
    // Origin of the service's web application when `api_url` is not on loopback;
    // absent means the production origin.
    std::optional<std::string> web_origin;

    // The local development origin, used when no configuration can be read.
    static constexpr std::string_view developmentOrigin = "http://127.0.0.1:3000";
    static Config developmentDefault();

    // Decodes the whole record or nothing: `api_url` is required; a missing key or JSON
    // null means absent; a present key of the wrong type fails; unknown keys are ignored.
    static std::optional<Config> decode(std::string_view json, std::string* error = nullptr);
    // `home` + "/.vantrel/config.json".
    static std::string pathIn(const std::string& home);
    // Reads and decodes the file; absent on any failure. Reports nothing itself.
    static std::optional<Config> load(const std::string& path, std::string* error = nullptr);

    // True when screen-aware capture must not read the named application at all.
    bool excludesContext(std::string_view name) const;
    // True when screen-aware capture must not attach a window image for it.
    bool requiresTextOnlyContext(std::string_view name) const;

    bool operator==(const Config&) const = default;
};

}  // namespace larkspire
