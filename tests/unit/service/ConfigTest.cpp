#include <gtest/gtest.h>

#include "service/Config.h"
#include "support/TempDir.h"

namespace larkspire {
namespace {

// Null means absent.
TEST(ConfigDecode, OnlyApiUrlOrNullsLeaveEverythingElseAbsent) {
    for (const char* text :
         {R"({"api_url":"a"})",
          R"({"api_url":"a","context_excluded_apps":null,"email":null,"fn_key":null})"}) {
        auto c = Config::decode(text);
        ASSERT_TRUE(c) << text;
        EXPECT_EQ(c->api_url, "a");
        EXPECT_FALSE(c->supabase_url || c->anon_key || c->email || c->password || c->vault_dir ||
                     c->context_excluded_apps || c->context_text_only_apps || c->fn_key)
            << text;
        EXPECT_TRUE(c->excludesContext("1Password 7"));
    }
}

TEST(ConfigDecode, AllFieldsDecodeAndUnknownKeysAreIgnored) {
    auto c = Config::decode(R"({
        "supabase_url":"https://auth.example.com","anon_key":"anon","api_url":"http://x:1/",
        "email":"a@b.c","password":" p ","vault_dir":"~/Notes",
        "context_excluded_apps":["Mail"],"context_text_only_apps":["Slack"],
        "fn_key":"KEY_RIGHTCTRL","theme":{"dark":true}})");
    ASSERT_TRUE(c);
    EXPECT_EQ(*c->supabase_url, "https://auth.example.com");
    EXPECT_EQ(*c->anon_key, "anon");
    EXPECT_EQ(c->api_url, "http://x:1/");  // used as written, trailing slash included
    EXPECT_EQ(*c->password, " p ");
    EXPECT_EQ(*c->vault_dir, "~/Notes");
    EXPECT_EQ(*c->context_excluded_apps, std::vector<std::string>{"Mail"});
    EXPECT_EQ(*c->fn_key, "KEY_RIGHTCTRL");
}

TEST(ConfigDecode, FailsWholeOnMissingApiUrlOrAnyWrongType) {
    EXPECT_FALSE(Config::decode(R"({"supabase_url":"s","email":"e","password":"p"})"));
    EXPECT_FALSE(Config::decode(R"({"api_url":3000})"));
    EXPECT_FALSE(Config::decode(R"({"api_url":null})"));
    EXPECT_FALSE(Config::decode(R"({"api_url":"a","email":7})"));
    EXPECT_FALSE(Config::decode(R"({"api_url":"a","context_excluded_apps":"Mail"})"));
    EXPECT_FALSE(Config::decode(R"({"api_url":"a","context_text_only_apps":["ok",1]})"));
    EXPECT_FALSE(Config::decode(R"({"api_url":"a","fn_key":108})"));
    EXPECT_FALSE(Config::decode(R"(["api_url"])"));
    EXPECT_FALSE(Config::decode(R"({"api_url":"a")"));
    std::string error;
    EXPECT_FALSE(Config::decode(R"({"api_url":"a","vault_dir":false})", &error));
    EXPECT_NE(error.find("vault_dir"), std::string::npos);
}

TEST(ConfigLoad, ReadsTheFileUnderHomeAndFailsQuietlyOtherwise) {
    const testing::TempDir home;
    const std::string path = Config::pathIn(home.path().string());
    EXPECT_EQ(path, (home.path() / ".vantrel/config.json").string());
    EXPECT_FALSE(Config::load(path));
    testing::writeFile(path, R"({"api_url":"http://127.0.0.1:9"})");
    auto c = Config::load(path);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->api_url, "http://127.0.0.1:9");
    testing::writeFile(path, "{not json");
    EXPECT_FALSE(Config::load(path));
}

TEST(ConfigContext, BuiltInNamesMatchCaseInsensitivelyAsSubstringsOfTheName) {
    const Config c = Config::developmentDefault();
    EXPECT_TRUE(c.excludesContext("  KEYCHAIN ACCESS\n"));
    EXPECT_FALSE(c.excludesContext("Keychain"));
    EXPECT_FALSE(c.excludesContext(""));
    EXPECT_TRUE(c.excludesContext("Bitwarden Desktop"));
    EXPECT_FALSE(c.excludesContext("Text Editor"));
    // Trimming covers every Unicode white space, not just ASCII (no-break space here).
    EXPECT_TRUE(c.excludesContext("\u00a0LastPass\u2003"));
}

TEST(ConfigContext, ExtraExclusionsFollowTheBuiltInOnes) {
    Config c = Config::developmentDefault();
    c.context_excluded_apps = std::vector<std::string>{"  Mail ", "   "};
    EXPECT_TRUE(c.excludesContext("Thunderbird Mail"));
    EXPECT_TRUE(c.excludesContext("1password"));
    EXPECT_FALSE(c.excludesContext("Firefox"));
}

TEST(ConfigContext, TextOnlyUsesOnlyItsOwnListAndBlankEntriesMatchNothing) {
    Config c = Config::developmentDefault();
    EXPECT_FALSE(c.requiresTextOnlyContext("Slack"));
    EXPECT_FALSE(c.requiresTextOnlyContext("1Password"));
    c.context_text_only_apps = std::vector<std::string>{"Slack", "  "};
    EXPECT_TRUE(c.requiresTextOnlyContext("slack"));
    EXPECT_TRUE(c.requiresTextOnlyContext("Slack Beta"));
    EXPECT_FALSE(c.requiresTextOnlyContext("Mail"));
    EXPECT_FALSE(c.requiresTextOnlyContext("   "));
}

TEST(ConfigContext, LowerCasingIsUnicodeAware) {
    Config c = Config::developmentDefault();
    c.context_text_only_apps = std::vector<std::string>{"ÉDITEUR"};
    EXPECT_TRUE(c.requiresTextOnlyContext("Mon éditeur"));
    // Decomposed e + combining acute matches the composed form.
    EXPECT_TRUE(c.requiresTextOnlyContext("Mon e\u0301diteur"));
}

}  // namespace
}  // namespace larkspire
